#include "player/SPlayer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Gui.h"
#include "platform/SimulatedMediaPlayer.h"
#include "player/PlayerCommands.h"

using platform::SimulatedMediaPlayer;

namespace {

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitGuiThread();
        setenv("SINJO_MEDIA_BACKEND", "simulated", 1);
        setenv("SINJO_SIM_MEDIA_MS", "100000", 1);
        g_settings = new Settings(L"SinjoPlayerTest");
        media_ = platform::TempFolder() + L"/player-test.avi";
        FILE* f = platform::OpenFile(media_, "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    void TearDown() override {
        DestroyPlayer();
        EXPECT_EQ(g_player, nullptr);
        delete g_settings;
        g_settings = nullptr;
        unsetenv("SINJO_MEDIA_BACKEND");
        unsetenv("SINJO_SIM_MEDIA_MS");
    }

    static SimulatedMediaPlayer* Sim() {
        return g_player ? dynamic_cast<SimulatedMediaPlayer*>(g_player->Player().Control()) : nullptr;
    }
    static platform::HWND Window() { return g_player->GetSafeHwnd(); }
    static bool Visible() { return platform::IsWindowVisible(Window()); }
    // One tick of the full-screen timer, without waiting two seconds for it.
    static void Tick() { platform::SendMessage(Window(), platform::WM_TIMER, SPlayer::kFullScreenTimerId, 0); }

    // A shown player that plays the test file.
    SimulatedMediaPlayer* StartPlaying() {
        EnsurePlayer();
        g_player->PlayUrl(media_);
        SimulatedMediaPlayer* sim = Sim();
        EXPECT_NE(sim, nullptr);
        if (sim != nullptr) {
            EXPECT_EQ(sim->State(), platform::kPlayStatePlaying);
            sim->ClearCalls();
        }
        return sim;
    }

    std::wstring media_;
};

TEST_F(PlayerTest, CommandsWithoutAPlayerDoNothingAndCreateNone) {
    Jump(30);
    ChangeVolume(10);
    EXPECT_EQ(PlayPause(), platform::kMediaOk);
    EXPECT_EQ(g_player, nullptr);
}

TEST_F(PlayerTest, EnsurePlayerCreatesShowsAndReshowsTheSameWindow) {
    EXPECT_TRUE(EnsurePlayer());
    ASSERT_NE(g_player, nullptr);
    SPlayer* first = g_player;
    ASSERT_NE(Window(), nullptr);
    EXPECT_TRUE(Visible());
    EXPECT_NE(g_player->Controls(), nullptr);
    EXPECT_NE(g_player->ControlSettings(), nullptr);

    platform::ShowWindow(Window(), false);
    EnsurePlayer();
    EXPECT_EQ(g_player, first);
    EXPECT_TRUE(Visible());

    // Play and Pause need the player, so they make it when it is missing.
    DestroyPlayer();
    EXPECT_EQ(g_player, nullptr);
    EXPECT_EQ(Pause(), platform::kMediaOk);
    ASSERT_NE(g_player, nullptr);
    EXPECT_TRUE(Visible());
}

TEST_F(PlayerTest, IsPlayingNeedsAVisibleWindowAndStatePlaying) {
    SimulatedMediaPlayer* sim = StartPlaying();
    ASSERT_NE(sim, nullptr);
    EXPECT_TRUE(g_player->IsPlaying());
    platform::ShowWindow(Window(), false);
    EXPECT_EQ(sim->State(), platform::kPlayStatePlaying);
    EXPECT_FALSE(g_player->IsPlaying());
    platform::ShowWindow(Window(), true);
    sim->Transport()->Pause();
    EXPECT_FALSE(g_player->IsPlaying());
}

TEST_F(PlayerTest, JumpClampsAtZeroAndMayGoPastTheEnd) {
    setenv("SINJO_SIM_MEDIA_MS", "100000", 1);
    SimulatedMediaPlayer* sim = StartPlaying();
    ASSERT_NE(sim, nullptr);
    sim->Transport()->SetCurrentPosition(10.0);
    sim->ClearCalls();
    Jump(-30);
    ASSERT_EQ(sim->calls().positions.size(), 1u);
    EXPECT_EQ(sim->calls().positions[0], 0.0);

    sim->Transport()->SetCurrentPosition(90.0);
    sim->ClearCalls();
    Jump(30);
    ASSERT_EQ(sim->calls().positions.size(), 1u);
    EXPECT_NEAR(sim->calls().positions[0], 120.0, 0.5);  // past the end: the control ends the item
    EXPECT_EQ(sim->State(), platform::kPlayStateStopped);

    // Jump never shows a hidden player.
    platform::ShowWindow(Window(), false);
    Jump(5);
    EXPECT_FALSE(Visible());

    // A position that cannot be read counts as 0.
    sim->Transport()->Play();
    sim->SetFailure(SimulatedMediaPlayer::Operation::GetPosition, platform::kMediaFail);
    sim->ClearCalls();
    Jump(7);
    EXPECT_EQ(sim->calls().positions, std::vector<double>{7.0});
}

TEST_F(PlayerTest, ChangeVolumeClampsToTheRange) {
    EnsurePlayer();
    SimulatedMediaPlayer* sim = Sim();
    ASSERT_NE(sim, nullptr);
    const struct { int start, delta, expect; } cases[] = {
        {95, 10, 100}, {5, -10, 0}, {50, 7, 57}, {0, -1, 0}, {100, 1, 100}, {40, INT_MAX, 100}, {40, INT_MIN, 0},
    };
    for (const auto& c : cases) {
        g_player->SetVolume(c.start);
        sim->ClearCalls();
        ChangeVolume(c.delta);
        ASSERT_EQ(sim->calls().volumes.size(), 1u) << c.start << " " << c.delta;
        EXPECT_EQ(sim->calls().volumes[0], c.expect) << c.start << " " << c.delta;
        EXPECT_EQ(g_player->GetVolume(), c.expect);
    }
    // An unreadable volume is not stepped from a made-up value.
    sim->SetFailure(SimulatedMediaPlayer::Operation::GetVolume, platform::kMediaFail);
    sim->ClearCalls();
    ChangeVolume(10);
    EXPECT_TRUE(sim->calls().volumes.empty());
}

TEST_F(PlayerTest, ControlWithoutFacetsMakesTransportAndVolumeCommandsHarmless) {
    platform::RegisterMediaBackend("bare-test", [] {
        return std::make_unique<SimulatedMediaPlayer>(SimulatedMediaPlayer::Options{false, false});
    });
    setenv("SINJO_MEDIA_BACKEND", "bare-test", 1);
    EnsurePlayer();
    ASSERT_NE(g_player, nullptr);
    EXPECT_EQ(g_player->Controls(), nullptr);
    EXPECT_EQ(g_player->ControlSettings(), nullptr);
    EXPECT_EQ(g_player->GetVolume(), 100);
    g_player->SetVolume(10);
    Jump(10);
    ChangeVolume(-10);
    EXPECT_EQ(Play(), platform::kMediaOk);
    EXPECT_EQ(Pause(), platform::kMediaOk);
    g_player->PlayUrl(media_);  // the control still plays what it is given
    EXPECT_TRUE(g_player->IsPlaying());
    SimulatedMediaPlayer* sim = Sim();
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->Volume(), 50);
    platform::RegisterMediaBackend("bare-test", nullptr);
}

TEST_F(PlayerTest, FullScreenIsRequestedOncePerItemOnlyWhilePlaying) {
    g_settings->Set(L"pref:FullScreen", L"TrUe");
    SimulatedMediaPlayer* sim = StartPlaying();
    ASSERT_NE(sim, nullptr);
    EXPECT_TRUE(g_player->IsFullScreenPending());
    Tick();
    EXPECT_EQ(sim->calls().fullScreens, std::vector<bool>{true});
    EXPECT_TRUE(sim->IsFullScreen());
    EXPECT_TRUE(g_player->IsFullScreenPending());  // confirmed on the next tick
    Tick();
    EXPECT_FALSE(g_player->IsFullScreenPending());
    // The user leaves full screen: not forced back during this item.
    sim->UserLeavesFullScreen();
    Tick();
    Tick();
    EXPECT_EQ(sim->calls().fullScreens.size(), 1u);
    // The next item asks again.
    g_player->PlayUrl(media_);
    Tick();
    EXPECT_EQ(sim->calls().fullScreens.size(), 2u);

    // Paused or hidden: no request.
    sim->UserLeavesFullScreen();
    g_player->PlayUrl(media_);
    sim->Transport()->Pause();
    sim->ClearCalls();
    Tick();
    sim->Transport()->Play();
    platform::ShowWindow(Window(), false);
    Tick();
    EXPECT_TRUE(sim->calls().fullScreens.empty());

    // Refused or failing full-screen calls never escape and leave the request pending.
    platform::ShowWindow(Window(), true);
    sim->SetFailure(SimulatedMediaPlayer::Operation::PutFullScreen, platform::kMediaFail);
    Tick();
    EXPECT_TRUE(g_player->IsFullScreenPending());
    sim->SetFailure(SimulatedMediaPlayer::Operation::GetFullScreen, platform::kMediaFail);
    Tick();
    EXPECT_TRUE(g_player->IsFullScreenPending());
}

TEST_F(PlayerTest, FullScreenOnlyForTheValueTrue) {
    for (const wchar_t* value : {L"false", L"", L"yes", L"true ", L"1"}) {
        g_settings->Set(L"pref:FullScreen", value);
        SimulatedMediaPlayer* sim = StartPlaying();
        ASSERT_NE(sim, nullptr);
        Tick();
        EXPECT_TRUE(sim->calls().fullScreens.empty()) << "value \"" << platform::ToUtf8(value) << "\"";
    }
}

TEST_F(PlayerTest, TheTimerRequestsFullScreenWithinAboutTwoSeconds) {
    g_settings->Set(L"pref:FullScreen", L"true");
    SimulatedMediaPlayer* sim = StartPlaying();
    ASSERT_NE(sim, nullptr);
    EXPECT_TRUE(platform::PumpMessagesUntil([&] { return sim->IsFullScreen(); }, 3500));
}

TEST_F(PlayerTest, ClosingPausesAndHidesAndPlayPauseShowsAndResumes) {
    SimulatedMediaPlayer* sim = StartPlaying();
    ASSERT_NE(sim, nullptr);
    SPlayer* player = g_player;
    platform::SendMessage(Window(), platform::WM_CLOSE, 0, 0);
    EXPECT_EQ(g_player, player);  // hidden, not destroyed
    EXPECT_FALSE(Visible());
    EXPECT_EQ(sim->State(), platform::kPlayStatePaused);
    EXPECT_EQ(sim->Url(), media_);

    EXPECT_EQ(PlayPause(), platform::kMediaOk);
    EXPECT_TRUE(Visible());
    EXPECT_EQ(sim->State(), platform::kPlayStatePlaying);
    EXPECT_EQ(PlayPause(), platform::kMediaOk);
    EXPECT_EQ(sim->State(), platform::kPlayStatePaused);
    EXPECT_TRUE(Visible());
}

TEST_F(PlayerTest, RefusedPlayAndPauseAreReturnedAndClosingStillHides) {
    SimulatedMediaPlayer* sim = StartPlaying();
    ASSERT_NE(sim, nullptr);
    sim->SetFailure(SimulatedMediaPlayer::Operation::Pause, platform::kMediaFail);
    EXPECT_EQ(Pause(), platform::kMediaFail);
    EXPECT_EQ(PlayPause(), platform::kMediaFail);
    platform::SendMessage(Window(), platform::WM_CLOSE, 0, 0);
    EXPECT_FALSE(Visible());
    sim->SetFailure(SimulatedMediaPlayer::Operation::Play, platform::kMediaUnexpected);
    EXPECT_EQ(Play(), platform::kMediaUnexpected);
    EXPECT_TRUE(Visible());
}

TEST_F(PlayerTest, DestroyingTheWindowEmptiesTheSlot) {
    EnsurePlayer();
    ASSERT_NE(g_player, nullptr);
    platform::HWND window = Window();
    platform::DestroyWindow(window);
    EXPECT_EQ(g_player, nullptr);
    EXPECT_FALSE(platform::IsWindow(window));
    // A stop reported after the end reaches nobody; the next command makes a new player.
    EnsurePlayer();
    EXPECT_NE(g_player, nullptr);
}

}  // namespace
