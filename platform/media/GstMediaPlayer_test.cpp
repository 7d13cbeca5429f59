// The GStreamer back end against real pipelines: clips made with gst-launch, the sound written to a
// WAV file by the audio sink description, DSP plug-ins that the tests control.
#include "platform/media/GstMediaPlayer.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "platform/Tick.h"
#include "platform/media/DmoChain.h"
#include "platform/media/FakeDmo.h"
#include "platform/media/TestClips.h"

namespace platform::media {
namespace {

namespace fs = std::filesystem;
using sinjo_test::Clip;
using sinjo_test::FakeClsid;
using sinjo_test::FakeDmoConfig;
using sinjo_test::Frequency;
using sinjo_test::ReadWav;
using sinjo_test::Wav;

class GstPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGuiThread();
        RegDeleteTree(RegRoot::CurrentUser, kDspPluginsKey);
        DmoChain::ResetReportedForTests();
        dir_ = fs::path(std::getenv("TMPDIR")) / ("player-" + std::to_string(counter_++));
        fs::create_directories(dir_);
        wav_ = dir_ / "out.wav";
        UseSinks("wavenc ! filesink location=" + wav_.string(), "fakesink");
    }
    void TearDown() override {
        player_.reset();
        unsetenv("SINJO_AUDIO_SINK");
        unsetenv("SINJO_VIDEO_SINK");
    }

    static void UseSinks(const std::string& audio, const std::string& video) {
        setenv("SINJO_AUDIO_SINK", audio.c_str(), 1);
        setenv("SINJO_VIDEO_SINK", video.c_str(), 1);
    }

    void MakePlayer() {
        player_ = GstMediaPlayer::Create();
        ASSERT_NE(player_, nullptr);
        player_->SetPlayStateHandler([this](int32_t state) { states_.push_back(state); });
    }

    bool WaitForState(int32_t state, uint32_t timeoutMs = 10000) {
        return PumpMessagesUntil(
            [&] {
                int32_t now = 0;
                player_->GetPlayState(&now);
                return now == state;
            },
            timeoutMs);
    }

    void Pump(uint32_t ms) { PumpMessagesUntil([] { return false; }, ms); }

    double Position() {
        double seconds = -1;
        EXPECT_EQ(player_->Transport()->GetCurrentPosition(&seconds), kMediaOk);
        return seconds;
    }

    static int counter_;
    fs::path dir_;
    fs::path wav_;
    std::unique_ptr<MediaPlayer> player_;
    std::vector<int32_t> states_;
};
int GstPlayerTest::counter_ = 0;

TEST_F(GstPlayerTest, PlaysToTheEndThroughTheRecordedPluginsAndReportsEachState) {
    const fs::path clip = Clip("mp3");
    ASSERT_FALSE(clip.empty()) << "gst-launch could not make the clip";
    FakeDmoConfig& swap = sinjo_test::InstallFakeDmo(20);
    swap.op = FakeDmoConfig::Op::Swap;
    ASSERT_EQ(sinjo_test::RecordDspPlugin(FakeClsid(20), L"swap", 1), S_OK);
    const int inputsBefore = swap.inputs;

    MakePlayer();
    player_->Settings()->SetVolume(100);
    ASSERT_EQ(player_->PutUrl(FromUtf8(clip.string())), kMediaOk);
    EXPECT_EQ(states_, std::vector<int32_t>{kPlayStateTransitioning}) << "opening is reported at once";
    ASSERT_TRUE(WaitForState(kPlayStateStopped));
    EXPECT_EQ(states_, (std::vector<int32_t>{kPlayStateTransitioning, kPlayStatePlaying, kPlayStateStopped}));

    EXPECT_GT(swap.inputs, inputsBefore);
    EXPECT_GE(swap.timedInputs, 1) << "buffers reach the plug-in with their time stamps";
    const Wav wav = ReadWav(wav_);
    ASSERT_EQ(wav.channels, 2);
    ASSERT_GT(wav.frames(), static_cast<size_t>(wav.rate * 1.5)) << "the whole clip was played";
    const size_t from = wav.rate / 4, to = wav.frames() - wav.rate / 4;
    // The swapping plug-in sits in the path: the right tone comes out on the left and back.
    EXPECT_NEAR(Frequency(wav, 0, from, to), sinjo_test::kRightHz, 50);
    EXPECT_NEAR(Frequency(wav, 1, from, to), sinjo_test::kLeftHz, 30);
}

TEST_F(GstPlayerTest, ItemsThatCannotBePlayedReportStoppedSoonAfterOpening) {
    const fs::path garbage = dir_ / "garbage.avi";
    {
        std::ofstream out(garbage, std::ios::binary);
        for (int i = 0; i < 50000; ++i) out.put(static_cast<char>((i * 7919) ^ (i >> 3)));
    }
    const fs::path empty = dir_ / "empty.mp3";
    std::ofstream(empty).close();
    const fs::path truncated = dir_ / "truncated.avi";
    {
        const fs::path avi = Clip("avi");
        ASSERT_FALSE(avi.empty());
        std::ifstream in(avi, std::ios::binary);
        std::string head(400, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream(truncated, std::ios::binary) << head;
    }
    MakePlayer();
    ::testing::internal::CaptureStderr();
    for (const std::wstring& url : {FromUtf8((dir_ / "missing.mp3").string()), std::wstring(),
                                    FromUtf8(garbage.string()), FromUtf8(empty.string()), FromUtf8(dir_.string()),
                                    FromUtf8(truncated.string())}) {
        states_.clear();
        const uint32_t start = GetTickCount();
        ASSERT_EQ(player_->PutUrl(url), kMediaOk);
        EXPECT_EQ(states_, std::vector<int32_t>{kPlayStateTransitioning}) << "never stopped from inside PutUrl";
        ASSERT_TRUE(WaitForState(kPlayStateStopped, 15000)) << ToUtf8(url);
        EXPECT_GE(GetTickCount() - start, GstMediaPlayer::kFailedItemDelayMs - 20) << ToUtf8(url);
        EXPECT_EQ(states_.back(), kPlayStateStopped);
        // Play on an item that cannot be played does nothing.
        player_->Transport()->Play();
        Pump(50);
        int32_t state = 0;
        player_->GetPlayState(&state);
        EXPECT_EQ(state, kPlayStateStopped) << ToUtf8(url);
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot play \"" + (dir_ / "missing.mp3").string() + "\""), std::string::npos) << err;
}

TEST_F(GstPlayerTest, PauseHoldsThePositionAndSeekingMovesItOrEndsTheItem) {
    const fs::path clip = Clip("mp3", 4);
    ASSERT_FALSE(clip.empty());
    UseSinks("fakesink sync=true", "fakesink");  // real time, so positions mean something
    FakeDmoConfig& plugin = sinjo_test::InstallFakeDmo(21);
    ASSERT_EQ(sinjo_test::RecordDspPlugin(FakeClsid(21), L"watcher", 1), S_OK);
    MakePlayer();
    player_->PutUrl(FromUtf8(clip.string()));
    ASSERT_TRUE(WaitForState(kPlayStatePlaying));
    Pump(400);
    const int flushesBeforeSeek = plugin.flushes;
    ASSERT_EQ(player_->Transport()->Pause(), kMediaOk);
    int32_t state = 0;
    player_->GetPlayState(&state);
    EXPECT_EQ(state, kPlayStatePaused);
    Pump(100);
    const double paused = Position();
    EXPECT_GT(paused, 0.2);
    Pump(400);
    EXPECT_NEAR(Position(), paused, 0.05) << "time does not run while paused";

    ASSERT_EQ(player_->Transport()->SetCurrentPosition(2.5), kMediaOk);
    Pump(200);
    EXPECT_NEAR(Position(), 2.5, 0.15) << "seeking while paused";
    EXPECT_GT(plugin.flushes, flushesBeforeSeek) << "a seek drops what the plug-ins hold";
    ASSERT_EQ(player_->Transport()->Play(), kMediaOk);
    ASSERT_TRUE(WaitForState(kPlayStatePlaying));
    Pump(300);
    EXPECT_GT(Position(), 2.6);
    ASSERT_EQ(player_->Transport()->SetCurrentPosition(-30), kMediaOk);
    Pump(200);
    EXPECT_LT(Position(), 0.5) << "a negative position counts as the start";

    states_.clear();
    ASSERT_EQ(player_->Transport()->SetCurrentPosition(30), kMediaOk);
    EXPECT_EQ(states_, std::vector<int32_t>{kPlayStateStopped}) << "a position past the end ends the item";
    // Play after the end starts the item again.
    player_->Transport()->Play();
    ASSERT_TRUE(WaitForState(kPlayStatePlaying));
    EXPECT_LT(Position(), 1.0);
    player_->Transport()->Stop();
    EXPECT_EQ(states_.back(), kPlayStateStopped);
}

TEST_F(GstPlayerTest, VolumeScalesTheSamplesAndIsClamped) {
    const fs::path clip = Clip("mp3");
    ASSERT_FALSE(clip.empty());
    MakePlayer();
    double rms[2] = {0, 0};
    const int32_t volumes[2] = {100, 25};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(player_->Settings()->SetVolume(volumes[i]), kMediaOk);
        player_->PutUrl(FromUtf8(clip.string()));
        ASSERT_TRUE(WaitForState(kPlayStateStopped));
        const Wav wav = ReadWav(wav_);
        ASSERT_GT(wav.frames(), 1000u);
        rms[i] = sinjo_test::Rms(wav, 0, wav.rate / 4, wav.frames() - wav.rate / 4);
    }
    EXPECT_NEAR(rms[0] / rms[1], 4.0, 0.2);

    struct Case {
        int32_t set;
        int32_t got;
    };
    for (const Case& c : {Case{150, 100}, Case{-5, 0}, Case{37, 37}}) {
        player_->Settings()->SetVolume(c.set);
        int32_t volume = -1;
        player_->Settings()->GetVolume(&volume);
        EXPECT_EQ(volume, c.got) << c.set;
    }
}

TEST_F(GstPlayerTest, FullScreenOnlyWhilePlayingAndForgottenAtTheEnd) {
    const fs::path clip = Clip("avi");
    ASSERT_FALSE(clip.empty());
    MakePlayer();
    EXPECT_EQ(player_->PutFullScreen(true), kMediaUnexpected);
    UseSinks("fakesink sync=true", "fakesink sync=true");
    player_->PutUrl(FromUtf8(clip.string()));
    ASSERT_TRUE(WaitForState(kPlayStatePlaying));
    EXPECT_EQ(player_->PutFullScreen(true), kMediaOk);
    bool full = false;
    player_->GetFullScreen(&full);
    EXPECT_TRUE(full);
    player_->Transport()->Stop();
    player_->GetFullScreen(&full);
    EXPECT_FALSE(full);
}

// The number of threads of this process.
size_t ThreadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) ++count;
    return count;
}

TEST_F(GstPlayerTest, DestroyingTheControlWhilePlayingLeavesNothingBehind) {
    const fs::path clip = Clip("avi");
    ASSERT_FALSE(clip.empty());
    UseSinks("fakesink sync=true", "fakesink sync=true");
    // One round first, so that GStreamer's own lasting threads (its thread pools) exist before counting.
    MakePlayer();
    player_->PutUrl(FromUtf8(clip.string()));
    ASSERT_TRUE(WaitForState(kPlayStatePlaying));
    player_.reset();
    Pump(100);
    const size_t baseline = ThreadCount();
    for (int delay : {0, 5, 300}) {
        SCOPED_TRACE(delay);
        MakePlayer();
        player_->PutUrl(FromUtf8(clip.string()));
        Pump(static_cast<uint32_t>(delay));
        if (delay >= 300) {
            // On a busy machine the pipeline may start its threads well after the delay.
            bool more = false;
            for (int i = 0; i < 250 && !(more = ThreadCount() > baseline); ++i) Pump(20);
            EXPECT_TRUE(more) << "the pipeline runs on threads of its own: " << ThreadCount() << " vs " << baseline;
        }
        states_.clear();
        player_.reset();  // queued bus messages must not reach the destroyed control
        Pump(100);
        EXPECT_TRUE(states_.empty()) << "a state change reached a destroyed control";
        // The streaming threads end with the control (a few pool threads may linger briefly).
        bool back = false;
        for (int i = 0; i < 100 && !(back = ThreadCount() <= baseline); ++i) Pump(20);
        EXPECT_TRUE(back) << ThreadCount() << " threads, " << baseline << " before";
    }
}

TEST_F(GstPlayerTest, AnUnusableSinkDescriptionIsReportedAndTheDefaultUsed) {
    const fs::path clip = Clip("mp3");
    ASSERT_FALSE(clip.empty());
    UseSinks("no-such-element-xyz", "fakesink");
    ::testing::internal::CaptureStderr();
    MakePlayer();
    player_->PutUrl(FromUtf8(clip.string()));
    const bool playing = WaitForState(kPlayStatePlaying);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(playing);
    EXPECT_NE(err.find("SINJO_AUDIO_SINK=\"no-such-element-xyz\" is not a usable sink"), std::string::npos) << err;
}

}  // namespace
}  // namespace platform::media
