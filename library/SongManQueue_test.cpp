// The play queue, the command interface and the audio source hand-off, on a small catalogue of empty
// media files played by the simulated media back end.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Gui.h"
#include "platform/Registry.h"
#include "platform/SimulatedMediaPlayer.h"
#include "library/AudioSource.h"
#include "player/PlayerCommands.h"
#include "player/SPlayer.h"
#include "protocol/Commands.h"

using platform::SimulatedMediaPlayer;

namespace {

constexpr int kSongs = 12;        // ids 0..11 have files
constexpr int kMissingId = 12;    // listed in the index, no file on disk
constexpr const wchar_t* kPluginKey = L"Software\\Nadusoft\\Sinjo\\Plugin";

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitGuiThread();
        setenv("SINJO_MEDIA_BACKEND", "simulated", 1);
        setenv("SINJO_SIM_MEDIA_MS", "100000", 1);
        static int serial = 0;
        root_ = platform::ToUtf8(platform::TempFolder()) + "/queue" + std::to_string(++serial);
        platform::EnsureFolder(root_ + "/index");
        platform::EnsureFolder(root_ + "/mtv");
        WriteFile(root_ + "/index/singer.csv", "id,name,x,category,region\n1,Alpha,x,1,1\n2,Beta,x,2,2\n");
        std::string songs = "no,title,a,b,artist,c,d,e,f,channel,g,h,i,path\n";
        for (int i = 0; i <= kMissingId; ++i) {
            const std::string file = "s" + std::to_string(i) + ".avi";
            // Odd songs carry the accompaniment on the left channel.
            songs += std::to_string(i) + ",Song" + std::to_string(i) + ",a,b," + (i % 2 ? "1" : "2") +
                     ",c,d,e,f," + (i % 2 ? "1" : "0") + ",g,h,i,\\mtv\\" + file + "\n";
            if (i != kMissingId) WriteFile(root_ + "/mtv/" + file, "");
        }
        WriteFile(root_ + "/index/Songs.csv", songs);

        g_settings = new Settings(L"SinjoQueueTest");
        g_settings->Set(L"setting:MtvIndexDir", platform::FromUtf8(root_ + "/index"));
        g_settings->Set(L"setting:MtvRootDir", platform::FromUtf8(root_ + "/mtv"));
        g_settings->Set(L"setting:UserMtvRootDir", L"");
        g_songMan = new SongMan();
        // As the application wires it: the end of a file advances the queue.
        SetMediaEndedHandler([] { g_songMan->Next(); });
        ASSERT_TRUE(g_songMan->Reload());
        ASSERT_EQ(g_songMan->songs.size(), static_cast<size_t>(kSongs + 1));
        platform::RegDeleteTree(platform::RegRoot::CurrentUser, kPluginKey);
    }

    void TearDown() override {
        platform::SetMessageBoxHook(nullptr);
        DestroyPlayer();
        SetMediaEndedHandler(nullptr);
        delete g_songMan;
        g_songMan = nullptr;
        delete g_settings;
        g_settings = nullptr;
        unsetenv("SINJO_SIM_MEDIA_MS");
        unsetenv("SINJO_MEDIA_BACKEND");
    }

    static std::vector<int> Queue() {
        std::vector<int> ids;
        for (int i = 0; i < g_songMan->GetQSongCount(); ++i) ids.push_back(g_songMan->GetQSong(i)->id);
        return ids;
    }
    // Fills the queue with these ids (the first starts playing).
    static void QueueIds(const std::vector<int>& ids) {
        for (int id : ids) g_songMan->QueueSong(id, false);
        ASSERT_EQ(Queue(), ids);
    }
    static SimulatedMediaPlayer* Sim() {
        return g_player ? dynamic_cast<SimulatedMediaPlayer*>(g_player->Player().Control()) : nullptr;
    }
    static std::vector<std::wstring> Played() { return Sim() ? Sim()->calls().urls : std::vector<std::wstring>(); }
    static std::wstring PathOf(int id) { return g_songMan->GetSongFilePath(g_songMan->songs[id]); }
    static std::wstring Text(const std::vector<int>& ids) {
        std::wstring t;
        for (int id : ids) t += std::to_wstring(id) + L" ";
        return t;
    }
    // The published channel, or -1 when there is none.
    static int64_t Published() {
        platform::RegValue v;
        if (platform::RegQueryValue(platform::RegRoot::CurrentUser, kPluginKey, L"AudioSource", &v) !=
            platform::ERROR_SUCCESS) {
            return -1;
        }
        EXPECT_EQ(v.type, platform::REG_DWORD);
        return v.dword;
    }
    static int Run(SongManCommand code, intptr_t arg) { return g_songMan->Control(static_cast<int>(code), arg); }

    std::string root_;
};

TEST_F(QueueTest, FirstQueuedSongStartsAtOnceLaterOnesWait) {
    g_songMan->QueueSong(3, false);
    ASSERT_NE(g_player, nullptr);
    EXPECT_TRUE(platform::IsWindowVisible(g_player->GetSafeHwnd()));
    EXPECT_EQ(Played(), std::vector<std::wstring>{PathOf(3)});
    EXPECT_EQ(g_songMan->current_song, g_songMan->songs[3]);
    g_songMan->QueueSong(4, false);
    g_songMan->QueueSong(5, true);  // plays next, before 4
    EXPECT_EQ(Queue(), (std::vector<int>{3, 5, 4}));
    EXPECT_EQ(Played().size(), 1u);
    EXPECT_EQ(g_songMan->GetQSong(-1), nullptr);
    EXPECT_EQ(g_songMan->GetQSong(3), nullptr);
}

TEST_F(QueueTest, BeginIntoAnEmptyQueueStartsTheSong) {
    g_songMan->QueueSong(2, true);
    EXPECT_EQ(Queue(), std::vector<int>{2});
    EXPECT_EQ(Played(), std::vector<std::wstring>{PathOf(2)});
}

TEST_F(QueueTest, BadIdsMissingFilesAndAFullQueueAreIgnored) {
    for (int id : {-1, kSongs + 1, kMissingId, INT32_MAX, INT32_MIN}) g_songMan->QueueSong(id, false);
    EXPECT_TRUE(Queue().empty());
    EXPECT_EQ(g_player, nullptr);  // nothing played, no player made

    for (int i = 0; i < 100; ++i) g_songMan->QueueSong(i % kSongs, false);
    EXPECT_EQ(g_songMan->GetQSongCount(), 100);
    g_songMan->QueueSong(1, false);
    g_songMan->QueueSong(1, true);
    EXPECT_EQ(g_songMan->GetQSongCount(), 100);
    EXPECT_EQ(g_songMan->GetQSong(1)->id, 1);
}

TEST_F(QueueTest, GuardedMovesAndRemovalsThroughTheCommandCodes) {
    constexpr SongManCommand kFront = SongManCommand::MoveQSongFront;
    constexpr SongManCommand kUp = SongManCommand::MoveQSongUp;
    constexpr SongManCommand kRemove = SongManCommand::RemoveQSong;
    const struct {
        SongManCommand code;
        int index, id;
        std::vector<int> expect;
    } cases[] = {
        {kFront, 0, 0, {0, 1, 2, 3}},   // the playing entry cannot move
        {kFront, 3, 3, {0, 3, 1, 2}},   // to position 1
        {kFront, 1, 1, {0, 1, 2, 3}},   // already there
        {kFront, 3, 2, {0, 1, 2, 3}},   // stale id
        {kFront, 4, 3, {0, 1, 2, 3}},   // past the end
        {kUp, 1, 1, {0, 1, 2, 3}},      // position 1 cannot pass the playing song
        {kUp, 0, 0, {0, 1, 2, 3}},
        {kUp, 2, 2, {0, 2, 1, 3}},
        {kUp, 3, 1, {0, 1, 2, 3}},      // stale id
        {kRemove, 0, 0, {0, 1, 2, 3}},  // the playing entry stays
        {kRemove, 2, 3, {0, 1, 2, 3}},  // another song's id
        {kRemove, 2, 2, {0, 1, 3}},
        {kRemove, 4, 0, {0, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << static_cast<int>(c.code) << " index " << c.index << " id " << c.id);
        g_songMan->queue.clear();
        for (int id : {0, 1, 2, 3}) g_songMan->queue.push_back(g_songMan->songs[id]);
        EXPECT_EQ(g_songMan->Control(static_cast<int>(c.code), PackQueuePosition(c.index, c.id)), 0);
        EXPECT_EQ(Queue(), c.expect);
    }
    // Negative indexes reach the methods only from the automation interface.
    g_songMan->MoveQSongFront(-1, 3);
    g_songMan->MoveQSongUp(-1, 3);
    g_songMan->RemoveQSong(-1, 3);
    EXPECT_EQ(Queue(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(QueueTest, NextWithOneEntryEmptiesAndWithThreeStartsTheSecond) {
    QueueIds({5});
    g_songMan->Next();
    EXPECT_TRUE(Queue().empty());
    EXPECT_EQ(Played().size(), 1u);  // nothing new started
    g_songMan->Next();               // empty: nothing
    EXPECT_TRUE(Queue().empty());

    QueueIds({6, 7, 8});
    Run(SongManCommand::Next, 0);
    EXPECT_EQ(Queue(), (std::vector<int>{7, 8}));
    EXPECT_EQ(Played().back(), PathOf(7));
    EXPECT_EQ(g_songMan->current_song, g_songMan->songs[7]);
}

TEST_F(QueueTest, RandomPlaySwitchedOnWhilePlayingWaitsForTheNextAdvance) {
    QueueIds({1});
    Run(SongManCommand::ToggleRandomPlay, 0);
    EXPECT_TRUE(g_songMan->random_play);
    EXPECT_EQ(Queue(), std::vector<int>{1});
    EXPECT_EQ(Played().size(), 1u);
    g_songMan->Next();
    // Topped up to 10, then the finished song dropped.
    EXPECT_EQ(g_songMan->GetQSongCount(), 9);
    EXPECT_EQ(Played().size(), 2u);
    for (int id : Queue()) EXPECT_TRUE(id >= 0 && id <= kMissingId);
    // A queue of 10 or more gets nothing added.
    for (int i = 0; i < 5; ++i) g_songMan->QueueSong(2, false);
    EXPECT_EQ(g_songMan->GetQSongCount(), 14);
    g_songMan->Next();
    EXPECT_EQ(g_songMan->GetQSongCount(), 13);
    g_songMan->ToggleRandomPlay();
    EXPECT_FALSE(g_songMan->random_play);
    EXPECT_EQ(g_songMan->GetQSongCount(), 13);
}

TEST_F(QueueTest, RandomPlaySwitchedOnInSilenceStartsMusic) {
    for (bool withHiddenPlayer : {false, true}) {
        SCOPED_TRACE(withHiddenPlayer);
        g_songMan->queue.clear();
        g_songMan->random_play = false;
        if (withHiddenPlayer) {
            // A hidden player counts as idle even while its control plays.
            QueueIds({4});
            platform::SendMessage(g_player->GetSafeHwnd(), platform::WM_CLOSE, 0, 0);
            Sim()->Transport()->Play();
            g_songMan->queue.clear();
        }
        g_songMan->ToggleRandomPlay();
        EXPECT_EQ(g_songMan->GetQSongCount(), 9);
        ASSERT_NE(g_player, nullptr);
        EXPECT_TRUE(g_player->IsPlaying() || Sim()->State() == platform::kPlayStateTransitioning);
    }
}

TEST_F(QueueTest, RandomPlayOnAnEmptyCatalogueAddsNothing) {
    delete g_songMan;
    g_songMan = new SongMan();  // nothing loaded
    ASSERT_TRUE(g_songMan->songs.empty());
    g_songMan->ToggleRandomPlay();
    g_songMan->Next();
    EXPECT_EQ(g_songMan->GetQSongCount(), 0);

    // The same with an index that lists no songs.
    WriteFile(root_ + "/index/Songs.csv", "header only\n");
    ASSERT_TRUE(g_songMan->Reload());
    ASSERT_TRUE(g_songMan->songs.empty());
    g_songMan->Next();
    EXPECT_EQ(g_songMan->GetQSongCount(), 0);
}

TEST_F(QueueTest, BatchTextsQueueEachIdOnceInOrder) {
    const struct {
        const wchar_t* text;
        std::vector<int> expect;
    } cases[] = {
        {L"1,2", {1, 2}},
        {L"1, 2", {1, 2}},
        {L"1,,2", {1, 2}},
        {L"  3 4,5 ", {3, 4, 5}},
        {L"\n5,\t3,\v\f\r2", {5, 3, 2}},   // white space before a number is skipped as atoi does
        {L",,6,", {6}},
        {L"7x,abc", {7, 0}},              // leading digits count; no digits is 0
        {L"-1,12,99999999999,8", {8}},    // out of range and missing file skipped, the rest kept
        {L"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        g_songMan->queue.clear();
        EXPECT_EQ(Run(SongManCommand::QueueSongs, reinterpret_cast<intptr_t>(c.text)), 0);
        EXPECT_EQ(Queue(), c.expect);
    }
}

TEST_F(QueueTest, SettingCommandSplitsAtTheFirstEquals) {
    const struct {
        const wchar_t* text;
        const wchar_t* key;
        const wchar_t* value;
    } cases[] = {
        {L"pref:FullScreen=true", L"pref:FullScreen", L"true"},
        {L"setting:A=b=c", L"setting:A", L"b=c"},
        {L"setting:Empty=", L"setting:Empty", L""},
        {L"setting:NoEquals", L"setting:NoEquals", L""},
    };
    for (const auto& c : cases) {
        Run(SongManCommand::SetSetting, reinterpret_cast<intptr_t>(c.text));
        EXPECT_EQ(g_settings->Get(c.key, L"unset"), c.value) << platform::ToUtf8(c.text);
    }
    EXPECT_EQ(g_songMan->Control(12, 0), 0);  // unknown codes do nothing
    EXPECT_EQ(g_songMan->Control(-1, 0), 0);
}

TEST_F(QueueTest, PlayerCommandCodesReachThePlayer) {
    QueueIds({1});
    SimulatedMediaPlayer* sim = Sim();
    ASSERT_NE(sim, nullptr);
    sim->Transport()->SetCurrentPosition(50.0);
    g_player->SetVolume(50);
    Run(SongManCommand::Jump, -20);
    double pos = 0;
    sim->Transport()->GetCurrentPosition(&pos);
    EXPECT_NEAR(pos, 30.0, 0.5);
    Run(SongManCommand::ChangeVolume, -15);
    EXPECT_EQ(sim->Volume(), 35);
    Run(SongManCommand::PlayPause, 0);
    EXPECT_EQ(sim->State(), platform::kPlayStatePaused);
    Run(SongManCommand::PlayPause, 0);
    EXPECT_EQ(sim->State(), platform::kPlayStatePlaying);
}

TEST_F(QueueTest, ClearQueuePausesAndEmptiesUnlessThePauseFails) {
    QueueIds({1, 2, 3});
    SimulatedMediaPlayer* sim = Sim();
    ASSERT_NE(sim, nullptr);
    sim->SetFailure(SimulatedMediaPlayer::Operation::Pause, platform::kMediaFail);
    Run(SongManCommand::ClearQueue, 0);
    EXPECT_EQ(Queue(), (std::vector<int>{1, 2, 3}));
    sim->SetFailure(SimulatedMediaPlayer::Operation::Pause, platform::kMediaOk);
    platform::ShowWindow(g_player->GetSafeHwnd(), false);
    Run(SongManCommand::ClearQueue, 0);
    EXPECT_TRUE(Queue().empty());
    EXPECT_EQ(sim->State(), platform::kPlayStatePaused);
    EXPECT_TRUE(platform::IsWindowVisible(g_player->GetSafeHwnd()));
    EXPECT_EQ(g_songMan->current_song, g_songMan->songs[1]);  // kept after clearing
}

TEST_F(QueueTest, AStoppedItemAdvancesTheQueueAPausedOneDoesNot) {
    QueueIds({1, 2, 3});
    SimulatedMediaPlayer* sim = Sim();
    ASSERT_NE(sim, nullptr);
    sim->ReportState(platform::kPlayStatePaused);
    platform::PumpMessagesUntil([] { return false; }, 50);
    EXPECT_EQ(Queue(), (std::vector<int>{1, 2, 3}));

    sim->FinishNow();
    EXPECT_EQ(Queue(), (std::vector<int>{1, 2, 3}));  // posted, not handled inside the control's call
    ASSERT_TRUE(platform::PumpMessagesUntil([] { return g_songMan->GetQSongCount() == 2; }, 2000));
    EXPECT_EQ(Played().back(), PathOf(2));

    // The stop button of the control's own transport bar reports stopped too.
    sim->Transport()->Stop();
    ASSERT_TRUE(platform::PumpMessagesUntil([] { return g_songMan->GetQSongCount() == 1; }, 2000));
    EXPECT_EQ(Played().back(), PathOf(3));

    // A natural end of the last song empties the queue and starts nothing.
    setenv("SINJO_SIM_MEDIA_MS", "30", 1);
    g_player->PlayUrl(PathOf(3));
    ASSERT_TRUE(platform::PumpMessagesUntil([] { return g_songMan->GetQSongCount() == 0; }, 3000));
    EXPECT_EQ(sim->State(), platform::kPlayStateStopped);
}

TEST_F(QueueTest, AMissingFileMovesTheQueueOn) {
    QueueIds({1, 2});
    std::remove((root_ + "/mtv/s2.avi").c_str());
    g_songMan->Next();  // s2 is gone: the control gives up and reports stopped
    ASSERT_TRUE(platform::PumpMessagesUntil([] { return g_songMan->GetQSongCount() == 0; }, 3000));
}

TEST_F(QueueTest, ChannelTableForEverySourceAndAudioType) {
    QueueIds({1});
    Song* song = g_songMan->current_song;
    ASSERT_NE(song, nullptr);
    // Song 1 is left_karaoke and the source "karaoke": its start published the left channel.
    EXPECT_EQ(Published(), 1);

    const wchar_t* sources[] = {L"karaoke", L"original", L"left", L"right", L"stereo"};
    // Columns: stereo_karaoke, left_karaoke, right_karaoke, unknown, a type outside the table.
    const int32_t types[] = {stereo_karaoke, left_karaoke, right_karaoke, unknown_audio_type, 7};
    const int64_t expect[5][5] = {
        {0, 1, 2, 1, 1},
        {0, 2, 1, 2, 2},
        {1, 1, 1, 1, 1},
        {2, 2, 2, 2, 2},
        {0, 0, 0, 0, 0},
    };
    for (int s = 0; s < 5; ++s) {
        for (int t = 0; t < 5; ++t) {
            SCOPED_TRACE(testing::Message() << platform::ToUtf8(sources[s]) << " type " << types[t]);
            song->audio_type = types[t];
            // Start from a value the table never gives, so a missed write shows.
            platform::RegSetDword(platform::RegRoot::CurrentUser, kPluginKey, L"AudioSource", 99);
            Run(SongManCommand::SetAudioSource, reinterpret_cast<intptr_t>(sources[s]));
            EXPECT_EQ(Published(), expect[s][t]);
            EXPECT_EQ(g_songMan->AudioSourceName(), sources[s]);
        }
    }
    EXPECT_EQ(ChooseChannel(-1, left_karaoke), ChannelBoth);
    EXPECT_EQ(ChooseChannel(5, left_karaoke), ChannelBoth);

    // The value as the hive file holds it.
    g_songMan->SetAudioSource(L"right");
    std::ifstream hive(platform::RegHivePath(platform::RegRoot::CurrentUser));
    std::stringstream text;
    text << hive.rdbuf();
    EXPECT_NE(text.str().find("[HKEY_CURRENT_USER\\Software\\Nadusoft\\Sinjo\\Plugin]\n\"AudioSource\"=dword:00000002"),
              std::string::npos)
        << text.str();
}

TEST_F(QueueTest, EverySongStartRepublishesForItsAudioType) {
    g_songMan->SetAudioSource(L"original");
    QueueIds({1, 2});           // 1 is left_karaoke: original is on the right
    EXPECT_EQ(Published(), 2);
    g_songMan->Next();          // 2 is right_karaoke: original is on the left
    EXPECT_EQ(Published(), 1);
    g_songMan->SetAudioSource(L"karaoke");
    EXPECT_EQ(Published(), 2);
}

TEST_F(QueueTest, NoRegistryWriteBeforeASongHasPlayed) {
    g_songMan->SetAudioSource(L"original");
    EXPECT_EQ(g_settings->Get(L"pref:AudioSource", L""), L"original");
    EXPECT_EQ(g_songMan->AudioSourceName(), L"original");
    EXPECT_FALSE(platform::RegKeyExists(platform::RegRoot::CurrentUser, kPluginKey));
    // A construction reads the choice back.
    SongMan other;
    EXPECT_EQ(other.audio_source, kAudioSourceOriginal);
}

TEST_F(QueueTest, SourceNamesAreExactAndCaseSensitive) {
    const struct {
        const wchar_t* name;
        int32_t code;
    } cases[] = {
        {L"karaoke", 0}, {L"original", 1}, {L"left", 2}, {L"right", 3}, {L"stereo", 4},
        {L"Karaoke", 0}, {L"ORIGINAL", 0}, {L"left ", 0}, {L"", 0}, {L"stereo\n", 0}, {L"mono", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SongMan::ParseAudioSource(c.name), c.code) << platform::ToUtf8(c.name);
    }
    QueueIds({1});
    g_songMan->SetAudioSource(L"right");
    g_songMan->SetAudioSource(L"ORIGINAL");
    EXPECT_EQ(g_songMan->audio_source, kAudioSourceKaraoke);
    EXPECT_EQ(g_settings->Get(L"pref:AudioSource", L""), L"ORIGINAL");  // stored as given
    EXPECT_EQ(g_songMan->AudioSourceName(), L"karaoke");
    EXPECT_EQ(g_songMan->AudioSourceDisplayName(), L"伴唱");
    EXPECT_EQ(Published(), 1);
    g_songMan->SetAudioSource(L"stereo");
    EXPECT_EQ(g_songMan->AudioSourceDisplayName(), L"立体声");
}

// A message box runs a nested loop while every phone waits for the catalogue lock, so no message may show
// while this thread holds it: starting a song (queued first, or by the advance at the end of the one before)
// publishes the channel, and a failed publication shows its message only after the lock is released.
TEST_F(QueueTest, NoMessageShowsWhileTheCatalogueLockIsHeld) {
    auto lockIsFree = [] {
        bool free = false;
        std::thread([&] {
            free = g_songMan->lock.try_lock();
            if (free) g_songMan->lock.unlock();
        }).join();
        return free;
    };
    std::vector<bool> freeAtEachBox;
    platform::SetMessageBoxHook([&](std::wstring_view, std::wstring_view, unsigned) {
        freeAtEachBox.push_back(lockIsFree());
        return platform::IDOK;
    });
    // No write can take the hive's lock, so every publication fails with a message.
    const std::string lockPath = platform::RegHivePath(platform::RegRoot::CurrentUser) + ".lock";
    std::remove(lockPath.c_str());
    ASSERT_EQ(mkdir(lockPath.c_str(), 0700), 0);
    g_songMan->QueueSong(1, false);  // starts at once
    g_songMan->QueueSong(2, false);
    Sim()->FinishNow();              // the advance starts song 2
    platform::PumpMessagesUntil([] { return g_songMan->GetQSongCount() == 1; }, 2000);
    rmdir(lockPath.c_str());
    EXPECT_EQ(freeAtEachBox, (std::vector<bool>{true, true}));
}

TEST_F(QueueTest, RegistryFailuresShowTheirMessages) {
    std::vector<std::wstring> boxes;
    platform::SetMessageBoxHook([&](std::wstring_view text, std::wstring_view, unsigned type) {
        EXPECT_EQ(type, platform::MB_OK | platform::MB_ICONEXCLAMATION);
        boxes.emplace_back(text);
        return platform::IDOK;
    });
    QueueIds({1});
    ASSERT_TRUE(boxes.empty());
    const std::string hive = platform::RegHivePath(platform::RegRoot::CurrentUser);

    // No write can even take the hive's lock: the key cannot be created.
    platform::RegDeleteTree(platform::RegRoot::CurrentUser, kPluginKey);
    const std::string lockPath = hive + ".lock";
    std::remove(lockPath.c_str());
    ASSERT_EQ(mkdir(lockPath.c_str(), 0700), 0);
    g_songMan->SetAudioSource(L"left");
    rmdir(lockPath.c_str());
    EXPECT_EQ(boxes, std::vector<std::wstring>{L"Failed to create registry key"});
    EXPECT_EQ(g_songMan->audio_source, kAudioSourceLeft);  // the choice is kept
    EXPECT_EQ(g_settings->Get(L"pref:AudioSource", L""), L"left");

    // The key exists, but the changed value cannot be written.
    boxes.clear();
    g_songMan->SetAudioSource(L"right");
    ASSERT_TRUE(boxes.empty());
    const std::string tmp = hive + ".tmp." + std::to_string(getpid());
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    if (platform::RegSetDword(platform::RegRoot::CurrentUser, L"Software\\Probe", L"x", 1) == platform::ERROR_SUCCESS) {
        rmdir(tmp.c_str());
        GTEST_SKIP() << "cannot make the hive unwritable here";
    }
    g_songMan->SetAudioSource(L"stereo");
    rmdir(tmp.c_str());
    EXPECT_EQ(boxes, std::vector<std::wstring>{L"Failed to set registry value"});
    EXPECT_EQ(Published(), 2);  // the plug-in keeps the previous value
}

// A web worker hands commands to the GUI thread with SendMessage, never holding the catalogue lock
// while it waits, while the GUI thread also advances the queue at every end of media under that lock.
TEST_F(QueueTest, WorkerCommandsAndEndOfMediaAdvancesDoNotDeadlock) {
    setenv("SINJO_SIM_MEDIA_MS", "1", 1);
    platform::HWND mainWindow = platform::CreateWindowHandle(
        [](platform::HWND, platform::UINT message, platform::WPARAM w, platform::LPARAM l) -> platform::LRESULT {
            return message == WM_SONGMAN_COMMAND ? g_songMan->Control(static_cast<int>(w), static_cast<intptr_t>(l)) : 0;
        });
    ASSERT_NE(mainWindow, nullptr);
    g_songMan->ToggleRandomPlay();  // keeps the queue full and the advances coming
    ASSERT_NE(Sim(), nullptr);

    constexpr int kRounds = 12;
    constexpr int kCommandsPerRound = 120;
    for (int round = 0; round < kRounds; ++round) {
        std::atomic<bool> done{false};
        std::atomic<int> sent{0};
        std::thread worker([&] {
            const std::wstring batch = L"1, 2,,3";
            const std::wstring setting = L"setting:DeadlockProbe=1";
            for (int i = 0; i < kCommandsPerRound; ++i) {
                int32_t count = 0;
                int32_t firstId = 0;
                {
                    // Like a page render: read the queue under the lock, then let go before sending.
                    platform::RecursiveMutexLock guard(g_songMan->lock);
                    count = g_songMan->GetQSongCount();
                    if (Song* s = g_songMan->GetQSong(count > 2 ? 2 : 0)) firstId = s->id;
                }
                const int pick = i % 9;
                SongManCommand code = SongManCommand::QueueSongs;
                intptr_t arg = 0;
                switch (pick) {
                case 0: arg = TextArgument(batch); break;
                case 1: code = SongManCommand::MoveQSongFront; arg = PackQueuePosition(2, firstId); break;
                case 2: code = SongManCommand::MoveQSongUp; arg = PackQueuePosition(2, firstId); break;
                case 3: code = SongManCommand::RemoveQSong; arg = PackQueuePosition(2, firstId); break;
                case 4: code = SongManCommand::Next; break;
                case 5: code = SongManCommand::Jump; arg = 5; break;
                case 6: code = SongManCommand::ChangeVolume; arg = -1; break;
                case 7: code = SongManCommand::SetSetting; arg = TextArgument(setting); break;
                default:  // now and then clear the queue
                    code = (i % 45 == 8) ? SongManCommand::ClearQueue : SongManCommand::Next;
                    break;
                }
                if (platform::SendMessageChecked(mainWindow, WM_SONGMAN_COMMAND, static_cast<platform::WPARAM>(code), arg,
                                                 nullptr)) {
                    ++sent;
                }
            }
            done = true;
        });
        const bool finished = platform::PumpMessagesUntil([&] { return done.load(); }, 60000);
        worker.join();
        ASSERT_TRUE(finished) << "round " << round;
        EXPECT_EQ(sent.load(), kCommandsPerRound);
        // Let some ends of media advance the queue on their own.
        platform::PumpMessagesUntil([] { return false; }, 5);
        if (g_songMan->GetQSongCount() == 0 || !g_songMan->random_play) {
            g_songMan->random_play = false;
            g_songMan->ToggleRandomPlay();
        }
    }
    EXPECT_GT(Played().size(), static_cast<size_t>(kRounds));
    platform::DestroyWindow(mainWindow);
}

}  // namespace
