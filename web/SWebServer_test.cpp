// The dispatcher in-process, on a real loopback socket: busy counting during shutdown, commands when the
// main window is gone, commands that carry song ids beyond 16 bits, the settings a phone may change, the
// empty answer without a catalogue, and the web-directory name check.
#include "web/SWebServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Gui.h"
#include "protocol/Commands.h"
#include "tests/support/SinjoProcess.h"

namespace {

using e2e::HttpClient;

// Stands in for the main window: a window on this (the GUI) thread that hands WM_SONGMAN_COMMAND to the
// catalogue, published where the web server looks for it.
class CommandWindow {
public:
    CommandWindow()
        : hwnd_(platform::CreateWindowHandle(
              [](platform::HWND, platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
                  if (message != WM_SONGMAN_COMMAND || g_songMan == nullptr) return platform::LRESULT{0};
                  return static_cast<platform::LRESULT>(g_songMan->Control(static_cast<int>(wParam), lParam));
              })) {
        g_mainWindow = hwnd_;
    }
    ~CommandWindow() {
        g_mainWindow = nullptr;
        if (platform::IsWindow(hwnd_)) platform::DestroyWindow(hwnd_);
    }
    void Destroy() { platform::DestroyWindow(hwnd_); }

private:
    platform::HWND hwnd_;
};

// Sends a request from a worker and runs the GUI thread (this one) until the answer is back.
std::string GetPumping(uint16_t port, const std::string& target) {
    auto reply = std::async(std::launch::async, [&] { return HttpClient(port).Get(target).body; });
    EXPECT_TRUE(platform::PumpMessagesUntil(
        [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    return reply.get();
}

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
        g_mainWindow = nullptr;
        g_songMan = nullptr;
        g_settings = nullptr;
    }

    std::unique_ptr<Settings> settings_;
    std::unique_ptr<SongMan> songMan_;
    std::unique_ptr<SWebServer> server_;
    uint16_t port_ = 0;
};

TEST_F(SWebServerTest, StopWaitsForARequestInProgress) {
    std::unique_lock<platform::RecursiveMutex> hold(songMan_->lock);
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
    CommandWindow window;
    window.Destroy();  // the window is gone while its handle is still published, as during shutdown
    HttpClient client(port_);
    const auto start = std::chrono::steady_clock::now();
    const e2e::HttpReply reply = client.Get("/control?act=next", 3000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(reply.body, "OK");
}

TEST_F(SWebServerTest, CommandRunsOnTheGuiThreadBeforeOkGoesOut) {
    CommandWindow window;
    ASSERT_FALSE(songMan_->random_play);
    // The GUI thread (this one) runs the command while the worker waits for it.
    EXPECT_EQ(GetPumping(port_, "/control?act=random_play"), "OK");
    EXPECT_TRUE(songMan_->random_play);
}

TEST_F(SWebServerTest, QueueCommandsCarrySongIdsBeyondSixteenBits) {
    // A catalogue of more than 65,536 songs; the queue holds two songs with large ids behind the one playing.
    constexpr int32_t kSongs = 70'000;
    for (int32_t id = 0; id < kSongs; ++id) {
        Song* song = new Song();
        song->id = id;
        songMan_->songs.push_back(song);
    }
    auto queueIds = [&] {
        std::vector<int32_t> ids;
        for (const Song* song : songMan_->queue) ids.push_back(song->id);
        return ids;
    };
    songMan_->queue = {songMan_->songs[0], songMan_->songs[65'537], songMan_->songs[69'999]};
    CommandWindow window;
    GetPumping(port_, "/control?act=queue_up&param=2&param2=69999");
    EXPECT_EQ(queueIds(), (std::vector<int32_t>{0, 69'999, 65'537}));
    GetPumping(port_, "/control?act=queue_front&param=2&param2=65537");
    EXPECT_EQ(queueIds(), (std::vector<int32_t>{0, 65'537, 69'999}));
    // An id that only agrees in its low 16 bits is another song: nothing moves.
    GetPumping(port_, "/control?act=queue_remove&param=2&param2=4463");  // 69999 - 65536
    EXPECT_EQ(queueIds(), (std::vector<int32_t>{0, 65'537, 69'999}));
    GetPumping(port_, "/control?act=queue_remove&param=2&param2=69999");
    EXPECT_EQ(queueIds(), (std::vector<int32_t>{0, 65'537}));
    songMan_->queue.clear();
}

TEST_F(SWebServerTest, APhoneMayChangePreferencesOnly) {
    CommandWindow window;
    struct Case {
        const char* param;    // the set_setting text, URL-encoded as a link would carry it
        const wchar_t* key;   // where it would land
        const wchar_t* value;
        bool stored;
    };
    const Case cases[] = {
        {"pref:FullScreen=true", L"pref:FullScreen", L"true", true},
        {"PREF:Theme=dark", L"PREF:Theme", L"dark", true},
        {"setting:MtvIndexDir=/", L"setting:MtvIndexDir", L"/", false},
        {"setting:UserMtvRootDir=%2F", L"setting:UserMtvRootDir", L"/", false},
        {"SETTING:WebServerPort=1", L"SETTING:WebServerPort", L"1", false},
        {"perf:LoadArtists=0", L"perf:LoadArtists", L"0", false},
        {"pre:x=1", L"pre:x", L"1", false},
        {"%20pref:x=1", L" pref:x", L"1", false},
    };
    for (const Case& c : cases) {
        const std::wstring before = settings_->Get(c.key, L"before");
        EXPECT_EQ(GetPumping(port_, std::string("/control?act=set_setting&param=") + c.param), "OK") << c.param;
        EXPECT_EQ(settings_->Get(c.key, nullptr), c.stored ? std::wstring(c.value) : before) << c.param;
    }
    EXPECT_EQ(settings_->Get(L"pref:FullScreen", nullptr), L"true");
    EXPECT_TRUE(IsWebWritableSetting(L"pref:"));
    EXPECT_FALSE(IsWebWritableSetting(L"pref"));
}

TEST_F(SWebServerTest, NoCatalogueGivesAnEmptyResponse) {
    g_songMan = nullptr;
    HttpClient client(port_);
    EXPECT_EQ(client.Get("/").raw, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: text/plain\r\n\r\n");
}

// Files of the web directory go out unaltered with their content type; one that vanishes between the look
// and the read is an internal error, and one that cannot be read at all is not there.
TEST_F(SWebServerTest, WebDirectoryFilesTheirTypesAndReadFailures) {
    const std::string folder = platform::NativePath(settings_->GetHtmlPath(L"web"));
    ASSERT_TRUE(platform::EnsureFolder(folder));
    const std::string name = "probe" + std::to_string(getpid());
    const std::string png(std::string("\x89PNG\r\n\x1a\n\0\0", 10) + "pixels");
    e2e::WriteFile(folder + "/" + name + ".png", png);
    e2e::WriteFile(folder + "/" + name + ".css", "body{}");
    HttpClient client(port_);

    e2e::HttpReply reply = client.Get("/" + name + ".png");
    EXPECT_NE(reply.headers.find("Content-Type: image/png\r\n"), std::string::npos) << reply.headers;
    EXPECT_EQ(reply.body, png);
    reply = client.Get("/" + name + ".css");
    EXPECT_NE(reply.headers.find("Content-Type: text/css; charset=gb2312\r\n"), std::string::npos) << reply.headers;
    EXPECT_EQ(reply.body, "body{}");

    // Readable when looked at, gone when read.
    const std::string css = folder + "/" + name + ".css";
    e2e::WriteFile(css, "body{color:red}");  // changed, so it is read again
    std::atomic<int> looks{0};
    platform::SetAccessHook([&](const std::string& native) { return native != css || looks++ == 0; });
    EXPECT_EQ(client.Get("/" + name + ".css").body, "INTERNAL ERROR");
    // Never readable: as if it were not there.
    platform::SetAccessHook([&](const std::string& native) { return native != css; });
    EXPECT_EQ(client.Get("/" + name + ".css").body, "FILE NOT FOUND");
    platform::SetAccessHook(nullptr);
    std::remove((folder + "/" + name + ".png").c_str());
    std::remove(css.c_str());
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
