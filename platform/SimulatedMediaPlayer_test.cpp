#include "platform/SimulatedMediaPlayer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Gui.h"

namespace platform {
namespace {

class SimulatedMediaPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGuiThread();
        setenv("SINJO_SIM_MEDIA_MS", "60", 1);
        media_ = TempFolder() + L"/sim-media-test.avi";
        FILE* f = OpenFile(media_, "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        // Made after InitGuiThread, so that it gets its end-of-item timer.
        owned_ = std::make_unique<SimulatedMediaPlayer>();
        owned_->SetPlayStateHandler([this](int32_t s) { states_.push_back(s); });
    }
    void TearDown() override { unsetenv("SINJO_SIM_MEDIA_MS"); }

    bool PumpUntilState(int32_t state, uint32_t timeoutMs = 3000) {
        return PumpMessagesUntil([&] { return player().State() == state; }, timeoutMs);
    }

    std::wstring media_;
    std::unique_ptr<SimulatedMediaPlayer> owned_;
    SimulatedMediaPlayer& player() { return *owned_; }
    std::vector<int32_t> states_;
};

TEST_F(SimulatedMediaPlayerTest, ItemPlaysForItsLengthThenReportsStopped) {
    EXPECT_EQ(player().State(), kPlayStateUndefined);
    ASSERT_EQ(player().PutUrl(media_), kMediaOk);
    EXPECT_EQ(player().State(), kPlayStatePlaying);
    EXPECT_EQ(player().MediaDurationMs(), 60u);
    ASSERT_TRUE(PumpUntilState(kPlayStateStopped));
    EXPECT_EQ(states_, (std::vector<int32_t>{kPlayStatePlaying, kPlayStateStopped}));
    EXPECT_EQ(player().PositionSeconds(), 0.0);

    // Play after the end starts the item again from the beginning.
    ASSERT_EQ(player().Transport()->Play(), kMediaOk);
    EXPECT_EQ(player().State(), kPlayStatePlaying);
    EXPECT_LT(player().PositionSeconds(), 0.05);
}

TEST_F(SimulatedMediaPlayerTest, PausedTimeDoesNotCount) {
    player().SetPlayStateHandler(nullptr);
    setenv("SINJO_SIM_MEDIA_MS", "150", 1);
    player().PutUrl(media_);
    ASSERT_EQ(player().Transport()->Pause(), kMediaOk);
    EXPECT_EQ(player().State(), kPlayStatePaused);
    // Well past the length of the item: a paused item must not end.
    EXPECT_FALSE(PumpUntilState(kPlayStateStopped, 300));
    EXPECT_EQ(player().State(), kPlayStatePaused);
    player().Transport()->Play();
    EXPECT_EQ(player().State(), kPlayStatePlaying);
    EXPECT_TRUE(PumpUntilState(kPlayStateStopped));
}

TEST_F(SimulatedMediaPlayerTest, MissingOrEmptyMediaReportsStoppedSoonAfter) {
    for (const std::wstring& url : {TempFolder() + L"/no-such-file.avi", std::wstring()}) {
        SCOPED_TRACE(ToUtf8(url));
        states_.clear();
        player().PutUrl(url);
        // Never stopped from inside the put itself.
        EXPECT_EQ(states_, (std::vector<int32_t>{kPlayStateTransitioning}));
        player().Transport()->Play();  // nothing to play
        EXPECT_EQ(player().State(), kPlayStateTransitioning);
        ASSERT_TRUE(PumpUntilState(kPlayStateStopped));
        EXPECT_EQ(states_.back(), kPlayStateStopped);
    }
}

TEST_F(SimulatedMediaPlayerTest, PositionIsClampedAndThePastEndEndsTheItem) {
    setenv("SINJO_SIM_MEDIA_MS", "100000", 1);
    player().PutUrl(media_);
    MediaTransport* t = player().Transport();
    double pos = -1;
    ASSERT_EQ(t->SetCurrentPosition(40.0), kMediaOk);
    ASSERT_EQ(t->GetCurrentPosition(&pos), kMediaOk);
    EXPECT_NEAR(pos, 40.0, 0.5);
    t->SetCurrentPosition(-5.0);
    t->GetCurrentPosition(&pos);
    EXPECT_NEAR(pos, 0.0, 0.5);
    EXPECT_EQ(player().State(), kPlayStatePlaying);
    t->SetCurrentPosition(100.0);  // exactly the end
    EXPECT_EQ(player().State(), kPlayStateStopped);
    EXPECT_EQ(states_.back(), kPlayStateStopped);
    EXPECT_EQ(player().calls().positions, (std::vector<double>{40.0, -5.0, 100.0}));
}

TEST_F(SimulatedMediaPlayerTest, VolumeStartsAt50AndIsClamped) {
    MediaSettings* s = player().Settings();
    int32_t v = -1;
    s->GetVolume(&v);
    EXPECT_EQ(v, 50);
    const struct { int32_t set, expect; } cases[] = {{0, 0}, {100, 100}, {-7, 0}, {130, 100}, {42, 42}};
    for (const auto& c : cases) {
        s->SetVolume(c.set);
        s->GetVolume(&v);
        EXPECT_EQ(v, c.expect) << c.set;
    }
}

TEST_F(SimulatedMediaPlayerTest, FullScreenOnlyWhilePlayingAndLeftAtTheEnd) {
    EXPECT_EQ(player().PutFullScreen(true), kMediaUnexpected);
    player().PutUrl(media_);
    player().Transport()->Pause();
    EXPECT_EQ(player().PutFullScreen(true), kMediaUnexpected);
    player().Transport()->Play();
    EXPECT_EQ(player().PutFullScreen(true), kMediaOk);
    bool full = false;
    player().GetFullScreen(&full);
    EXPECT_TRUE(full);
    player().FinishNow();
    player().GetFullScreen(&full);
    EXPECT_FALSE(full);
    EXPECT_EQ(player().calls().fullScreens, (std::vector<bool>{true, true, true}));
}

TEST_F(SimulatedMediaPlayerTest, InjectedFailuresAndMissingFacets) {
    player().PutUrl(media_);
    player().SetFailure(SimulatedMediaPlayer::Operation::Pause, kMediaFail);
    EXPECT_EQ(player().Transport()->Pause(), kMediaFail);
    EXPECT_EQ(player().State(), kPlayStatePlaying);
    player().SetFailure(SimulatedMediaPlayer::Operation::Pause, kMediaOk);
    EXPECT_EQ(player().Transport()->Pause(), kMediaOk);
    EXPECT_EQ(player().calls().pause, 2);

    SimulatedMediaPlayer bare(SimulatedMediaPlayer::Options{false, false});
    EXPECT_EQ(bare.Transport(), nullptr);
    EXPECT_EQ(bare.Settings(), nullptr);
    SimulatedMediaPlayer noSettings(SimulatedMediaPlayer::Options{true, false});
    EXPECT_NE(noSettings.Transport(), nullptr);
    EXPECT_EQ(noSettings.Settings(), nullptr);
}

TEST(MediaPlayerFactory, ChoosesByEnvironmentAndFallsBackToSimulated) {
    InitGuiThread();
    struct Marked final : public MediaPlayer {
        MediaStatus PutUrl(std::wstring_view) override { return kMediaOk; }
        std::wstring Url() const override { return L"marked"; }
        MediaStatus GetPlayState(int32_t* s) override { *s = 0; return kMediaOk; }
        MediaStatus GetFullScreen(bool* f) override { *f = false; return kMediaOk; }
        MediaStatus PutFullScreen(bool) override { return kMediaOk; }
        MediaTransport* Transport() override { return nullptr; }
        MediaSettings* Settings() override { return nullptr; }
        void SetPlayStateHandler(PlayStateHandler) override {}
    };
    RegisterMediaBackend("marked-test", [] { return std::make_unique<Marked>(); });
    RegisterMediaBackend("broken-test", [] { return std::unique_ptr<MediaPlayer>(); });

    setenv("SINJO_MEDIA_BACKEND", "marked-test", 1);
    EXPECT_EQ(CreateMediaPlayer()->Url(), L"marked");
    EXPECT_EQ(ChosenMediaBackendName(), "marked-test");

    for (const char* name : {"simulated", "no-such-backend", "broken-test"}) {
        setenv("SINJO_MEDIA_BACKEND", name, 1);
        auto player = CreateMediaPlayer();
        ASSERT_NE(player, nullptr) << name;
        EXPECT_NE(dynamic_cast<SimulatedMediaPlayer*>(player.get()), nullptr) << name;
    }
    RegisterMediaBackend("marked-test", nullptr);
    EXPECT_FALSE(IsMediaBackendRegistered("marked-test"));
    unsetenv("SINJO_MEDIA_BACKEND");
}

}  // namespace
}  // namespace platform
