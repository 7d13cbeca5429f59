// The dispatcher in-process, on a real loopback socket: busy counting during shutdown, commands when the
// main window is gone, the empty answer without a catalogue, and the web-directory name check.
#include "web/SWebServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

#include "app/Globals.h"
#include "app/Settings.h"
#include "app/SinjoDlg.h"
#include "library/SongMan.h"
#include "platform/Gui.h"
#include "tests/support/SinjoProcess.h"

namespace {

using e2e::HttpClient;

class SWebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitGuiThread();
        settings_ = std::make_unique<Settings>(L"SinjoWebTest");
        settings_->Load();
        g_settings = settings_.get();
        songMan_ = std::make_unique<SongMan>();
        g_songMan = songMan_.get();
        server_ = std::make_unique<SWebServer>();
        ASSERT_TRUE(server_->Start(0));
        port_ = server_->WaitForListening(5000);
        ASSERT_NE(port_, 0);
    }
    void TearDown() override {
        if (server_) server_->Stop(10000);
        server_.reset();
        g_mainDlg = nullptr;
        g_songMan = nullptr;
        g_settings = nullptr;
    }

    std::unique_ptr<Settings> settings_;
    std::unique_ptr<SongMan> songMan_;
    std::unique_ptr<SWebServer> server_;
    uint16_t port_ = 0;
};

TEST_F(SWebServerTest, StopWaitsForARequestInProgress) {
    std::unique_lock<std::recursive_mutex> hold(songMan_->lock);
    HttpClient client(port_);
    ASSERT_TRUE(client.SendRaw("GET /queue_list HTTP/1.1\r\n\r\n"));
    // The request is now waiting for the catalogue lock inside the dispatch, counted busy.
    for (int i = 0; i < 200 && server_->BusyCount() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(server_->BusyCount(), 2);  // the connection's worker and the dispatch

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        server_->Stop(10000);
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(stopped.load()) << "Stop returned while a request was still being handled";
    hold.unlock();
    stopper.join();
    EXPECT_TRUE(stopped.load());
    EXPECT_EQ(server_->BusyCount(), 0);
}

TEST_F(SWebServerTest, CommandWithoutMainWindowFailsAtOnceAndAnswersOk) {
    SinjoDlg dialog;
    ASSERT_TRUE(dialog.Create());
    g_mainDlg = &dialog;
    dialog.Destroy();  // the window is gone; the object is still there, as during shutdown
    HttpClient client(port_);
    const auto start = std::chrono::steady_clock::now();
    const e2e::HttpReply reply = client.Get("/control?act=next", 3000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(reply.body, "OK");
}

TEST_F(SWebServerTest, CommandRunsOnTheGuiThreadBeforeOkGoesOut) {
    SinjoDlg dialog;
    ASSERT_TRUE(dialog.Create());
    g_mainDlg = &dialog;
    ASSERT_FALSE(songMan_->random_play);
    auto reply = std::async(std::launch::async, [&] { return HttpClient(port_).Get("/control?act=random_play").body; });
    // The GUI thread (this one) runs the command while the worker waits for it.
    ASSERT_TRUE(platform::PumpMessagesUntil(
        [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    EXPECT_EQ(reply.get(), "OK");
    EXPECT_TRUE(songMan_->random_play);
}

TEST_F(SWebServerTest, NoCatalogueGivesAnEmptyResponse) {
    g_songMan = nullptr;
    HttpClient client(port_);
    EXPECT_EQ(client.Get("/").raw, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: text/plain\r\n\r\n");
}

TEST(WebNames, OnlyNamesInsideTheWebDirectory) {
    for (const char* good : {"index.htm", "style.css", "img/logo.png", "a..b.htm", "..hidden"}) {
        EXPECT_TRUE(IsSafeWebName(good)) << good;
    }
    for (const char* bad : {"", "..", "../x", "a/../../x", "a\\..\\x", "/etc/passwd", "\\x", "C:/x", "c:x", "x/.."}) {
        EXPECT_FALSE(IsSafeWebName(bad)) << bad;
    }
}

}  // namespace
