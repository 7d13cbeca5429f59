// The main window of the real program on a virtual X display with a window manager, used as a host
// would: keys, clicks and window sizes through xdotool, the page's state read back through the program's
// own Door (an outside client over the local server), phones played by plain HTTP requests.
//
// Reading the page: the test leaves a script in the Door's mailbox (NextScriptToExecute); the console
// page runs it, and the script stores its answer as the setting "probe:answer", which the test reads with
// GetSetting. Screenshots go to <build>/screenshots/.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Dispatch.h"
#include "platform/LanAddress.h"
#include "platform/LocalClient.h"
#include "resources/SinjoGuids.h"
#include "tests/support/SinjoProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::Variant;

// A shell command's standard output.
std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

template <class Done>
bool Eventually(Done done, std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

fs::path ScreenshotFolder() {
    const fs::path folder = fs::path(SINJO_BIN_DIR).parent_path() / "screenshots";
    fs::create_directories(folder);
    return folder;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display (tests/support/with-display.sh)";
        inst_.MakeCollection(20);
        const char* home = std::getenv("SINJO_HOME");
        savedHome_ = home != nullptr ? home : "";
        setenv("SINJO_HOME", inst_.home().c_str(), 1);  // the Door of the program is found through the profile
    }
    void TearDown() override {
        door_.Reset();
        inst_.Stop();
        setenv("SINJO_HOME", savedHome_.c_str(), 1);
    }

    // Starts the program on the desktop and waits for its window, its Door and its page.
    void Start(bool waitForServer = true) {
        ASSERT_TRUE(inst_.Start({{"SINJO_HEADLESS", "0"}}, {}, waitForServer)) << inst_.output();
        ASSERT_TRUE(Eventually([&] { return !(window_ = Shell("xdotool search --onlyvisible --name '^Sinjobox$' | head -n1")).empty(); }, 30s))
            << "no window titled Sinjobox\n" << inst_.output();
        ASSERT_TRUE(Eventually([&] {
            return platform::ConnectLocalInstance(CLSID_Door, platform::IID_IDispatch, door_.ReleaseAndGetVoidAddress()) ==
                   platform::S_OK;
        }));
        ASSERT_EQ(Eval("PageLoads()", 30s), "1") << "the console page did not start\n" << inst_.output();
    }

    platform::InvokeResult Call(const wchar_t* member, platform::WORD flags, std::vector<Variant> args = {}) {
        return platform::InvokeByName(*door_.Get(), member, flags, args);
    }
    std::string GetText(const wchar_t* member, std::vector<Variant> args = {}) {
        const platform::InvokeResult r =
            Call(member, platform::DISPATCH_METHOD | platform::DISPATCH_PROPERTYGET, std::move(args));
        return r.hr == platform::S_OK ? platform::ToUtf8(r.value.bstrVal) : "<" + platform::DescribeHresult(r.hr) + ">";
    }
    void PutMailbox(const std::string& script) {
        ASSERT_EQ(Call(L"NextScriptToExecute", platform::DISPATCH_PROPERTYPUT, {Variant::Bstr(platform::FromUtf8(script))}).hr,
                  platform::S_OK);
    }

    // The value of `expression` in the console page, as JSON; "<timeout>" when the page did not answer.
    std::string Eval(const std::string& expression, std::chrono::milliseconds timeout = 10s) {
        const std::wstring key = L"probe:answer";
        Call(L"SetSetting", platform::DISPATCH_METHOD, {Variant::Bstr(key), Variant::Bstr(L"")});
        PutMailbox("Promise.resolve().then(function () { return (" + expression + "); }).then("
                   "function (v) { return external.SetSetting('probe:answer', '=' + JSON.stringify(v)); },"
                   "function (e) { return external.SetSetting('probe:answer', '=error ' + e); })");
        std::string answer;
        Eventually([&] { return !(answer = GetText(L"GetSetting", {Variant::Bstr(key)})).empty(); }, timeout);
        return answer.empty() ? "<timeout>" : answer.substr(1);
    }

    void Key(const std::string& keys) {
        Shell("xdotool windowactivate --sync " + window_ + "; xdotool key --clearmodifiers " + keys);
    }
    bool WindowAlive() { return !Shell("xdotool search --onlyvisible --name '^Sinjobox$'").empty() && kill(inst_.pid(), 0) == 0; }
    std::pair<int, int> Geometry() {
        const std::string shell = Shell("xdotool getwindowgeometry --shell " + window_);
        int w = 0, h = 0;
        std::sscanf(shell.c_str() + shell.find("WIDTH="), "WIDTH=%d", &w);
        std::sscanf(shell.c_str() + shell.find("HEIGHT="), "HEIGHT=%d", &h);
        return {w, h};
    }
    // The main window, or the whole screen (dialogs over the window). Taken from the screen as a person sees
    // it, then cut to the window.
    std::string Screenshot(const std::string& name, bool wholeScreen = false) {
        const std::string path = (ScreenshotFolder() / name).string();
        std::string crop;
        if (!wholeScreen) {
            const std::string shell = Shell("xdotool getwindowgeometry --shell " + window_);
            int x = 0, y = 0;
            std::sscanf(shell.c_str() + shell.find("X="), "X=%d", &x);
            std::sscanf(shell.c_str() + shell.find("Y="), "Y=%d", &y);
            const auto [w, h] = Geometry();
            crop = " -crop " + std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" +
                   std::to_string(y) + " +repage";
        }
        Shell("import -window root" + crop + " '" + path + "'");
        return path;
    }

    e2e::Installation inst_;
    std::string savedHome_;
    std::string window_;
    platform::ComPtr<platform::IDispatch> door_;
};

TEST_F(MainWindowTest, TitleIconMinimumSizeAndThePageWithItsExternal) {
    Start();
    EXPECT_NE(Shell("xprop -id " + window_ + " _NET_WM_ICON | head -c 40"), "") << "no icon";
    EXPECT_NE(Shell("xprop -id " + window_ + " _NET_WM_ICON").find("="), std::string::npos) << "no icon";
    // Dragged smaller than 900 x 600, it stays at the minimum.
    Shell("xdotool windowsize --sync " + window_ + " 500 300");
    std::this_thread::sleep_for(500ms);
    const auto [w, h] = Geometry();
    EXPECT_GE(w, 900);
    EXPECT_GE(h, 600);

    EXPECT_EQ(Eval("document.title"), "\"Sinjobox host console\"");
    EXPECT_EQ(Eval("location.protocol"), "\"file:\"") << "opened as a file, not through the web server";
    EXPECT_EQ(Eval("external.ServeUrl"), "\"http://localhost:" + std::to_string(inst_.port()) + "\"");
    EXPECT_EQ(Eval("external.GetQSong(0, 'name').then(function () { return 'no'; }, function (e) { return e.hresult; })"),
              "2147500037") << "an empty queue rejects with E_FAIL";
    // Reading the settings for the editor fixed none of them at a value the program would not use.
    EXPECT_EQ(Eval("external.GetSetting('setting:PageSize')"), "\"200\"");
    // The remote frame shows the phone page from the jukebox's server.
    EXPECT_TRUE(Eventually([&] { return Eval("RemoteLoads()") == "1"; })) << Eval("RemoteLoads()");
    // An outside client's ExecScript runs in the named frame of the window's page; an unknown frame is no error.
    EXPECT_EQ(Call(L"ExecScript", platform::DISPATCH_METHOD,
                   {Variant::Bstr(L"nowhere"), Variant::Bstr(L"location.search = '?act=help'")}).hr,
              platform::S_OK);
    EXPECT_EQ(Call(L"ExecScript", platform::DISPATCH_METHOD,
                   {Variant::Bstr(L"remote"), Variant::Bstr(L"location.search = '?act=help'")}).hr,
              platform::S_OK);
    EXPECT_TRUE(Eventually([&] { return Eval("RemoteLoads()") == "2"; })) << "the script did not run in the frame";
    // The page in the frame reaches the window's message channel, but not the jukebox through it: its
    // message lacks the console script's key. It reports what happened through the phone's own setting link.
    ASSERT_TRUE(Eventually([&] { return Eval("RemoteLoads()") == "2"; }));
    const std::string framePage =
        "var s = document.createElement('script'); s.textContent = \""
        "function say(r) { fetch('/control?act=set_setting&param=' + encodeURIComponent('pref:frame=' + r)); }"
        "try { window.webkit.messageHandlers.sinjoExternal.postMessage(['SetSetting', 'call', 'pref:probe', 'door'])"
        ".then(function () { say('called'); }, function (e) { say('refused ' + e.message); }); }"
        "catch (e) { say('unreachable'); }\"; document.documentElement.appendChild(s);";
    ASSERT_EQ(Call(L"ExecScript", platform::DISPATCH_METHOD,
                   {Variant::Bstr(L"remote"), Variant::Bstr(platform::FromUtf8(framePage))}).hr,
              platform::S_OK);
    std::string fromFrame;
    EXPECT_TRUE(Eventually([&] { return !(fromFrame = GetText(L"GetSetting", {Variant::Bstr(L"pref:frame")})).empty(); }))
        << "the frame's script did not report";
    EXPECT_TRUE(fromFrame.rfind("refused", 0) == 0 || fromFrame == "unreachable") << fromFrame;
    EXPECT_EQ(GetText(L"GetSetting", {Variant::Bstr(L"pref:probe")}), "");
    // The join address: this PC's network address, not localhost.
    const std::string lan = platform::LanAddress();
    if (!lan.empty()) {
        const std::string url = "http://" + lan + ":" + std::to_string(inst_.port());
        EXPECT_EQ(Eval("document.getElementById('join_url').textContent"), "\"" + url + "\"");
    }
}

TEST_F(MainWindowTest, KeysAHostPressesCloseNothingReloadNothingAndGoNowhere) {
    Start();
    ASSERT_TRUE(Eventually([&] { return Eval("RemoteLoads()") == "1"; }));

    // Alt+D leaves "SetFocusOnSearch()" in the mailbox (the page is told to leave it alone a moment).
    ASSERT_EQ(Eval("PauseMailbox(5000), true"), "true");
    Key("alt+d");
    EXPECT_TRUE(Eventually([&] { return GetText(L"NextScriptToExecute") == "SetFocusOnSearch()"; }, 3s))
        << GetText(L"NextScriptToExecute");
    // The page then runs it: the remote's search field gets the cursor; Enter there submits the search.
    ASSERT_TRUE(Eventually([&] { return GetText(L"NextScriptToExecute").empty(); }, 8s)) << "the page never took it";
    std::this_thread::sleep_for(700ms);
    Shell("xdotool type --delay 30 Song1");
    Key("Return");
    EXPECT_TRUE(Eventually([&] { return Eval("RemoteLoads()") == "2"; })) << "Enter did not submit the search";
    EXPECT_TRUE(WindowAlive()) << "Enter closed the window";

    Key("Escape");
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(WindowAlive()) << "Escape closed the window";

    Key("F5");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Eval("PageLoads()"), "1") << "F5 reloaded the page";

    Key("alt+Left");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Eval("RemoteLoads()"), "2") << "Alt+Left went back in the frame";
    EXPECT_EQ(Eval("PageLoads()"), "1");

    // Right click: no menu opens (no new window shows).
    const std::string before = Shell("xdotool search --onlyvisible --name '.*' | sort");
    Shell("xdotool mousemove --window " + window_ + " 300 300 click 3");
    std::this_thread::sleep_for(1000ms);
    EXPECT_EQ(Shell("xdotool search --onlyvisible --name '.*' | sort"), before) << "a context menu opened";
    EXPECT_TRUE(WindowAlive());
}

TEST_F(MainWindowTest, TheAboutItemOpensTheAboutBoxWhichEnterDoesNotClose) {
    Start();
    // The window menu is the header bar's menu button, the leftmost of the buttons at its right end: try
    // from the title towards the right edge, so that the first button hit is the menu's (not minimize).
    const std::string geometry = Shell("xdotool getwindowgeometry --shell " + window_);
    const int w = Geometry().first;
    bool opened = false;
    for (int offset = 200; offset >= 110 && !opened; offset -= 10) {
        Shell("xdotool mousemove --window " + window_ + " " + std::to_string(w - offset) + " 20 click 1");
        std::this_thread::sleep_for(600ms);
        Shell("xdotool key Down Return");
        opened = Eventually([&] { return !Shell("xdotool search --onlyvisible --name '^About Sinjobox$'").empty(); }, 1500ms);
        if (!opened) Shell("xdotool key Escape");
    }
    ASSERT_TRUE(opened) << "no About box from the window menu\n" << geometry;
    const std::string about = Shell("xdotool search --onlyvisible --name '^About Sinjobox$' | head -n1");
    Shell("xdotool windowactivate --sync " + about + "; xdotool key Return");
    std::this_thread::sleep_for(800ms);
    EXPECT_FALSE(Shell("xdotool search --onlyvisible --name '^About Sinjobox$'").empty()) << "Enter closed the About box";
    Screenshot("about-box.png", true);
    Shell("xdotool windowactivate --sync " + about + "; xdotool key Escape");
    EXPECT_TRUE(Eventually([&] { return Shell("xdotool search --onlyvisible --name '^About Sinjobox$'").empty(); }, 3s))
        << "Escape left the About box open";
    EXPECT_TRUE(WindowAlive());
}

TEST_F(MainWindowTest, FailedNavigationsKeepThePage) {
    Start();
    ASSERT_TRUE(Eventually([&] { return Eval("RemoteLoads()") == "1"; }));
    // The main frame to a missing file: no error page, the console stays.
    PutMailbox("location.href = 'file:///nonexistent/sinjobox.htm'");
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(Eval("PageLoads() + ' ' + location.pathname.split('/').pop()"), "\"1 index.htm\"");
    // A frame to a server that is not running: the frame keeps its page (no new load of any page).
    ASSERT_EQ(Eval("document.getElementById('remote').src = 'http://127.0.0.1:9/x', true"), "true");
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(Eval("RemoteLoads()"), "1");
    EXPECT_EQ(Eval("PageLoads()"), "1");
}

TEST_F(MainWindowTest, TheHostPanelAndThePhonesShareOneQueue) {
    Start();
    e2e::HttpClient phone(inst_.port());
    ASSERT_EQ(phone.Get("/control?act=queue_song&param=3").body, "OK");
    EXPECT_TRUE(Eventually([&] { return Eval("document.getElementById('queue_count').textContent") == "\"1\""; }))
        << "the panel did not follow the phone";
    EXPECT_EQ(Eval("document.querySelector('#queue_list li .title').textContent"), "\"Song3 张学友\"");
    EXPECT_EQ(Eval("document.getElementById('now_song').textContent"), "\"Song3 张学友\"");

    // The host queues song 5 by its number from the panel; the phones see it.
    ASSERT_EQ(Eval("(function () { document.getElementById('song_number').value = '5';"
                   " document.querySelector('#add_song button[type=submit]').click(); return true; })()"),
              "true");
    EXPECT_TRUE(Eventually([&] { return phone.Get("/queue_list").body.find("Song5") != std::string::npos; }))
        << phone.Get("/queue_list").body;
    EXPECT_TRUE(Eventually([&] { return Eval("document.getElementById('queue_count').textContent") == "\"2\""; }));
    // The audio source from the panel reaches the phones' control status.
    ASSERT_EQ(Eval("(function () { document.querySelector('#sources input[value=original]').click(); return true; })()"),
              "true");
    EXPECT_TRUE(Eventually([&] {
        return phone.Get("/update_control_status").body.find("getElementById('original').style.color = 'green'") !=
               std::string::npos;
    }));
}

TEST_F(MainWindowTest, ScreenshotsWideAndAtTheMinimumWithTheJoinCodeReadable) {
    const fs::path demo = fs::path(SINJO_SOURCE_DIR) / "demo";  // what a host would see on a real collection
    inst_.SetSetting("setting:MtvIndexDir", (demo / "mtvindex").string());
    inst_.SetSetting("setting:MtvRootDir", (demo / "mtv").string());
    inst_.SetSetting("setting:UserMtvRootDir", (demo / "user").string());
    Start();
    e2e::HttpClient phone(inst_.port());
    for (int id : {3, 7, 12, 4}) ASSERT_EQ(phone.Get("/control?act=queue_song&param=" + std::to_string(id)).body, "OK");
    ASSERT_TRUE(Eventually([&] { return Eval("document.getElementById('queue_count').textContent") == "\"4\""; }));
    ASSERT_TRUE(Eventually([&] { return Eval("RemoteLoads()") == "1"; }));
    Screenshot("mainwindow-first-size.png");  // as it opens: 1280 x 800
    Shell("xdotool windowmove --sync " + window_ + " 0 0; xdotool windowsize --sync " + window_ + " 1600 1000");
    std::this_thread::sleep_for(1500ms);
    const std::string wide = Screenshot("mainwindow-wide.png");
    Shell("xdotool windowsize --sync " + window_ + " 900 600");
    std::this_thread::sleep_for(1500ms);
    Screenshot("mainwindow-900x600.png");

    // A phone's camera reads the join code off the screen.
    const std::string lan = platform::LanAddress();
    if (lan.empty()) GTEST_SKIP() << "this PC has no network address to show";
    if (access("/usr/bin/zbarimg", X_OK) != 0) GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    EXPECT_EQ(Shell("zbarimg --raw -q '" + wide + "'"), "http://" + lan + ":" + std::to_string(inst_.port()));
}

TEST_F(MainWindowTest, WithTheWebServerDownTheFrameSaysWhyAndThePanelStillWorks) {
    // Another program holds the port (bound, not listening): the jukebox cannot serve, nothing answers there.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(inst_.port()));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    Start(false);
    EXPECT_TRUE(Eventually([&] { return Eval("!document.getElementById('remote_down').hidden") == "true"; }))
        << "no message in the remote's place";
    EXPECT_EQ(Eval("document.getElementById('remote').hidden"), "true");
    EXPECT_EQ(Eval("document.getElementById('remote_url').textContent"),
              "\"http://localhost:" + std::to_string(inst_.port()) + "\"");
    // The host panel works without the web server.
    ASSERT_EQ(Eval("(function () { document.getElementById('song_number').value = '2';"
                   " document.querySelector('#add_song button[type=submit]').click(); return true; })()"),
              "true");
    EXPECT_TRUE(Eventually([&] { return Eval("document.getElementById('queue_count').textContent") == "\"1\""; }));
    EXPECT_EQ(GetText(L"GetQSong", {Variant::Long(0), Variant::Bstr(L"name")}), "Song2");
    std::this_thread::sleep_for(1000ms);
    Screenshot("mainwindow-server-down.png");
    close(holder);
}

TEST_F(MainWindowTest, TheCloseBoxEndsTheProgramAsSigtermDoes) {
    Start();
    ASSERT_EQ(Call(L"SetSetting", platform::DISPATCH_METHOD, {Variant::Bstr(L"pref:Marker"), Variant::Bstr(L"kept")}).hr,
              platform::S_OK);
    door_.Reset();
    Shell("xdotool windowactivate --sync " + window_ + "; xdotool key --clearmodifiers alt+F4");
    // Ended: a zombie waiting for its parent (Stop collects it).
    const std::string stat = "/proc/" + std::to_string(inst_.pid()) + "/stat";
    EXPECT_TRUE(Eventually([&] { return e2e::ReadFile(stat).find(") Z ") != std::string::npos; }, 15s))
        << "the program did not end";
    inst_.Stop();
    EXPECT_TRUE(WIFEXITED(inst_.exitStatus()) && WEXITSTATUS(inst_.exitStatus()) == 0) << inst_.output();
    EXPECT_NE(inst_.userReg().find("\"pref:Marker\"=\"kept\""), std::string::npos) << "settings were not saved";
}

}  // namespace
