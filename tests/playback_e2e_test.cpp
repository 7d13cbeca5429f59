// Real playback end to end: the channel-selecting plug-in module registered with the registration
// tool, clips in every default format, GStreamer writing what reaches the sink to a WAV file.
//
// First the media control in this process with the real plug-in (exact channel checks and how soon a
// change is heard), then the whole program driven over its web interface (queue, formats, bad files,
// channel choice, pause and jump).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Gui.h"
#include "platform/Registry.h"
#include "platform/Tick.h"
#include "platform/media/GstMediaPlayer.h"
#include "platform/media/TestClips.h"
#include "tests/support/SinjoProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;
using sinjo_test::Clip;
using sinjo_test::Frequency;
using sinjo_test::ReadWav;
using sinjo_test::Wav;

const std::string kBin = SINJO_BIN_DIR;
constexpr const wchar_t* kSourceKey = L"Software\\Nadusoft\\Sinjo\\Plugin";

int RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Registers SinjoPlugin.so in the profile folder `home` (empty: this process's own).
bool RegisterPlugin(const std::string& home = std::string()) {
    const std::string env = home.empty() ? std::string() : "SINJO_HOME='" + home + "' ";
    return RunCommand(env + "'" + kBin + "/sinjo-regsvr' '" + kBin + "/SinjoPlugin.so' > /dev/null 2>&1") == 0;
}

// What a stretch of output carries.
enum class Heard { Both, Left, Right, Other };

const char* Name(Heard heard) {
    switch (heard) {
    case Heard::Both: return "both";
    case Heard::Left: return "left";
    case Heard::Right: return "right";
    default: return "other";
    }
}

Heard Classify(const Wav& wav, size_t from, size_t to) {
    const double left = Frequency(wav, 0, from, to);
    const double right = Frequency(wav, 1, from, to);
    auto near = [](double hz, double want) { return std::abs(hz - want) < want * 0.1; };
    if (sinjo_test::ChannelsIdentical(wav, from, to)) {
        if (near(left, sinjo_test::kLeftHz)) return Heard::Left;
        if (near(left, sinjo_test::kRightHz)) return Heard::Right;
        return Heard::Other;
    }
    return near(left, sinjo_test::kLeftHz) && near(right, sinjo_test::kRightHz) ? Heard::Both : Heard::Other;
}

// The output in 100 ms windows, runs of the same kind collapsed, runs shorter than `minWindows` dropped.
std::vector<Heard> Story(const Wav& wav, int minWindows) {
    std::vector<Heard> story;
    const size_t window = static_cast<size_t>(wav.rate / 10);
    Heard current = Heard::Other;
    int run = 0;
    auto close = [&] {
        if (run >= minWindows && (story.empty() || story.back() != current)) story.push_back(current);
    };
    for (size_t f = 0; window > 0 && f + window <= wav.frames(); f += window) {
        const Heard heard = Classify(wav, f, f + window);
        if (heard == current) {
            ++run;
        } else {
            close();
            current = heard;
            run = 1;
        }
    }
    close();
    return story;
}

std::string Describe(const std::vector<Heard>& story) {
    std::string text;
    for (Heard h : story) text += std::string(text.empty() ? "" : ",") + Name(h);
    return text;
}

// --- the media control in this process, with the real plug-in -------------------------------------

class RealPluginPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGuiThread();
        ASSERT_TRUE(RegisterPlugin()) << "sinjo-regsvr could not register SinjoPlugin.so";
        wav_ = fs::path(std::getenv("TMPDIR")) / ("out-" + std::to_string(counter_++) + ".wav");
        setenv("SINJO_VIDEO_SINK", "fakesink", 1);
    }
    void TearDown() override {
        player_.reset();
        unsetenv("SINJO_AUDIO_SINK");
        unsetenv("SINJO_VIDEO_SINK");
    }

    void Play(const fs::path& clip) {
        player_ = media::GstMediaPlayer::Create();
        ASSERT_NE(player_, nullptr);
        player_->Settings()->SetVolume(100);
        player_->PutUrl(FromUtf8(clip.string()));
    }

    bool WaitForState(int32_t state, uint32_t timeoutMs = 15000) {
        return PumpMessagesUntil(
            [&] {
                int32_t now = 0;
                player_->GetPlayState(&now);
                return now == state;
            },
            timeoutMs);
    }

    static int counter_;
    fs::path wav_;
    std::unique_ptr<MediaPlayer> player_;
};
int RealPluginPlaybackTest::counter_ = 0;

TEST_F(RealPluginPlaybackTest, AudioSourceChoosesWhatBothSpeakersPlay) {
    const fs::path clip = Clip("mp3");
    ASSERT_FALSE(clip.empty()) << "gst-launch could not make the clip";
    struct Case {
        uint32_t audioSource;
        Heard heard;
    };
    for (const Case& c : {Case{1, Heard::Left}, Case{2, Heard::Right}, Case{0, Heard::Both}, Case{7, Heard::Both}}) {
        ASSERT_EQ(RegSetDword(RegRoot::CurrentUser, kSourceKey, L"AudioSource", c.audioSource), ERROR_SUCCESS);
        setenv("SINJO_AUDIO_SINK", ("wavenc ! filesink location=" + wav_.string()).c_str(), 1);
        Play(clip);
        ASSERT_TRUE(WaitForState(kPlayStateStopped)) << c.audioSource;
        const Wav wav = ReadWav(wav_);
        ASSERT_GT(wav.frames(), static_cast<size_t>(wav.rate * 1.5)) << c.audioSource;
        // Every sample of the clip, not only most of it.
        EXPECT_EQ(Classify(wav, wav.rate / 20, wav.frames() - wav.rate / 20), c.heard)
            << "AudioSource " << c.audioSource;
    }
}

TEST_F(RealPluginPlaybackTest, AChangeDuringPlaybackIsHeardWithinAFifthOfASecond) {
    const fs::path clip = Clip("mp3", 4);
    ASSERT_FALSE(clip.empty());
    ASSERT_EQ(RegSetDword(RegRoot::CurrentUser, kSourceKey, L"AudioSource", 0), ERROR_SUCCESS);
    // The sink takes the samples in real time, as a sound card would.
    setenv("SINJO_AUDIO_SINK", ("wavenc ! filesink sync=true location=" + wav_.string()).c_str(), 1);
    Play(clip);
    ASSERT_TRUE(WaitForState(kPlayStatePlaying));
    const uint32_t started = GetTickCount();
    PumpMessagesUntil([&] { return GetTickCount() - started >= 1500; }, 3000);
    const uint32_t changed = GetTickCount();
    ASSERT_EQ(RegSetDword(RegRoot::CurrentUser, kSourceKey, L"AudioSource", 1), ERROR_SUCCESS);
    ASSERT_TRUE(WaitForState(kPlayStateStopped));

    const Wav wav = ReadWav(wav_);
    ASSERT_GT(wav.frames(), static_cast<size_t>(wav.rate * 3));
    const size_t window = static_cast<size_t>(wav.rate / 50);  // 20 ms of identical channels
    size_t first = wav.frames();
    for (size_t f = 0; f + window <= wav.frames(); ++f) {
        if (sinjo_test::ChannelsIdentical(wav, f, f + window)) {
            first = f;
            break;
        }
    }
    ASSERT_LT(first, wav.frames()) << "the change never showed";
    const double heardAt = static_cast<double>(first) / wav.rate;
    const double madeAt = (changed - started) / 1000.0;
    std::printf("channel change heard %.0f ms after it was made\n", (heardAt - madeAt) * 1000);
    EXPECT_GT(heardAt, madeAt - 0.1) << "before the change was made?";
    EXPECT_LT(heardAt, madeAt + 0.25);
    EXPECT_EQ(Classify(wav, first + window, wav.frames() - wav.rate / 20), Heard::Left);
}

// --- the whole program --------------------------------------------------------------------------------

struct SongFile {
    int id;
    std::string file;  // under mtv/clips/
    fs::path source;   // copied from here; empty: the file is not made (missing) or is made corrupt
    bool corrupt = false;
};

class JukeboxPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<SongFile> songs;
        // Song ids are the lines' places in the index, from 0.
        int id = 0;
        for (const char* ext : {"mp3", "avi", "dat", "wmv", "wma", "rmvb"}) {
            const fs::path clip = Clip(ext);
            ASSERT_FALSE(clip.empty()) << "gst-launch could not make the " << ext << " clip";
            songs.push_back({id++, std::string("Song") + std::to_string(id - 1) + "." + ext, clip});
        }
        songs.push_back({6, "Song6.mp3", fs::path()});         // missing
        songs.push_back({7, "Song7.avi", fs::path(), true});   // corrupt
        const fs::path longClip = Clip("avi", 5);
        ASSERT_FALSE(longClip.empty());
        songs.push_back({8, "Song8.avi", longClip});

        std::string index = "no,title,a,b,artist,c,d,e,f,channel,g,h,i,path\r\n";
        for (const SongFile& s : songs) {
            index += std::to_string(s.id) + ",Song" + std::to_string(s.id) + ",x,x,1,x,x,x,x,1,x,x,x,\\mtv\\clips\\" +
                     s.file + "\r\n";
            const fs::path target = inst_.root() / "mtv" / "clips" / s.file;
            fs::create_directories(target.parent_path());
            if (!s.source.empty()) {
                fs::copy_file(s.source, target);
            } else if (s.corrupt) {
                std::string junk(60000, '\0');
                for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 2654435761u) >> 13);
                e2e::WriteFile(target, junk);
            }
        }
        e2e::WriteFile(inst_.root() / "mtvindex" / "singer.csv", "id,name,py,category,region\r\n1,Tones,t,1,1\r\n");
        e2e::WriteFile(inst_.root() / "mtvindex" / "Songs.csv", index);
        inst_.SetSetting("setting:MtvIndexDir", (inst_.root() / "mtvindex").string());
        inst_.SetSetting("setting:MtvRootDir", (inst_.root() / "mtv").string());
        wav_ = inst_.root() / "out.wav";
    }

    void Start(const std::string& audioSink, const std::string& videoSink = "fakesink") {
        ASSERT_TRUE(inst_.Start({{"SINJO_MEDIA_BACKEND", "gstreamer"},
                                 {"SINJO_AUDIO_SINK", audioSink},
                                 {"SINJO_VIDEO_SINK", videoSink}}))
            << inst_.output();
        // The program reads the plug-in records when a song starts, so registering now is in time.
        ASSERT_TRUE(RegisterPlugin(inst_.home().string()));
    }

    std::vector<int> Queue(e2e::HttpClient& client) {
        const std::string list = client.Get("/queue_list").body;
        std::vector<int> ids;
        for (size_t at = list.find("<tr class="); at != std::string::npos; at = list.find("<tr class=", at + 1)) {
            const size_t end = list.find("</tr>", at);
            const std::string row = list.substr(at, end - at);
            const size_t song = row.find("Song");
            ids.push_back(song == std::string::npos ? -1 : std::atoi(row.c_str() + song + 4));
        }
        return ids;
    }

    bool WaitForQueue(e2e::HttpClient& client, const std::vector<int>& want, int timeoutMs,
                      std::vector<std::vector<int>>* seen = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::vector<int> now = Queue(client);
            if (seen != nullptr && (seen->empty() || seen->back() != now)) seen->push_back(now);
            if (now == want) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    // Waits until the sink has written sound (more than the WAV header), so that what follows is
    // timed from the start of the song. The program's first song also starts GStreamer.
    bool WaitForSound(int timeoutMs = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string bytes = e2e::ReadFile(wav_);
            const size_t data = bytes.find("data");
            if (data != std::string::npos && bytes.size() > data + 8) return true;
            Sleep(5);
        }
        return false;
    }

    e2e::Installation inst_;
    fs::path wav_;
};

TEST_F(JukeboxPlaybackTest, EveryFormatPlaysToItsEndAndBadFilesAreSkipped) {
    Start("wavenc ! filesink location=" + wav_.string());
    e2e::HttpClient client(inst_.port());
    const std::vector<int> order = {0, 6, 1, 7, 2, 3, 4, 5};
    client.Get("/control?act=queue_song&param=0,6,1,7,2,3,4,5");
    std::vector<std::vector<int>> seen;
    ASSERT_TRUE(WaitForQueue(client, {}, 30000, &seen)) << inst_.output();
    // The queue only ever lost songs from its front, one after another (a missing file may be left
    // out when it is queued).
    ASSERT_FALSE(seen.empty());
    for (const std::vector<int>& q : seen) {
        ASSERT_LE(q.size(), seen.front().size());
        EXPECT_TRUE(std::equal(q.begin(), q.end(), seen.front().end() - static_cast<long>(q.size())))
            << "out of order";
    }
    const std::string log = inst_.output();
    // The corrupt file was tried and named; the missing one may be passed over before it is tried.
    EXPECT_NE(log.find("cannot play \"" + (inst_.root() / "mtv" / "clips" / "Song7.avi").string() + "\""),
              std::string::npos)
        << log;
    for (const char* good : {"Song0.mp3", "Song1.avi", "Song2.dat", "Song3.wmv", "Song4.wma", "Song5.rmvb"}) {
        EXPECT_EQ(log.find(good), std::string::npos) << good << " did not play:\n" << log;
    }
    // The last song's sound reached the sink in full.
    const Wav wav = ReadWav(wav_);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_GT(wav.frames(), static_cast<size_t>(wav.rate * 1.8));
}

TEST_F(JukeboxPlaybackTest, ChannelChoiceFromTheWebIsHeardWhileTheSongPlays) {
    Start("wavenc ! filesink sync=true location=" + wav_.string(), "fakesink sync=true");
    e2e::HttpClient client(inst_.port());
    client.Get("/control?act=audio_source&param=stereo");
    client.Get("/control?act=queue_song&param=8");
    ASSERT_TRUE(WaitForSound()) << inst_.output();
    Sleep(1000);
    client.Get("/control?act=audio_source&param=left");
    Sleep(1200);
    client.Get("/control?act=audio_source&param=right");
    Sleep(1200);
    client.Get("/control?act=audio_source&param=stereo");
    ASSERT_TRUE(WaitForQueue(client, {}, 10000)) << inst_.output();
    const Wav wav = ReadWav(wav_);
    ASSERT_GT(wav.frames(), static_cast<size_t>(wav.rate * 4.5));
    const std::vector<Heard> story = Story(wav, 3);
    EXPECT_EQ(Describe(story), "both,left,right,both") << Describe(Story(wav, 1));
}

TEST_F(JukeboxPlaybackTest, PauseHoldsTheSoundAndAJumpPastTheEndMovesTheQueueOn) {
    Start("wavenc ! filesink sync=true buffer-mode=unbuffered location=" + wav_.string(),
          "fakesink sync=true");
    e2e::HttpClient client(inst_.port());
    client.Get("/control?act=queue_song&param=8,0");
    ASSERT_TRUE(WaitForSound()) << inst_.output();
    Sleep(800);
    client.Get("/control?act=play_pause");
    Sleep(300);
    const auto pausedSize = fs::file_size(wav_);
    Sleep(600);
    EXPECT_EQ(fs::file_size(wav_), pausedSize) << "no sound reaches the sink while paused";
    EXPECT_EQ(Queue(client), (std::vector<int>{8, 0}));
    client.Get("/control?act=play_pause");
    Sleep(500);
    EXPECT_GT(fs::file_size(wav_), pausedSize + 44100) << "playing again";
    client.Get("/control?act=jump&param=30");
    EXPECT_TRUE(WaitForQueue(client, {0}, 2000)) << "the song ended at once and the next one started";
}

}  // namespace
