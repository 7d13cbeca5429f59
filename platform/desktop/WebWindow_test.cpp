// The browser window as a person and a page would use it: a local page with a text field, a link and
// a frame from another origin (a small HTTP server), driven with xdotool keys, clicks and window sizes
// on the test's own virtual display.
#include "platform/desktop/WebWindow.h"

#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/DesktopTestSupport.h"
#include "platform/desktop/InputFilter.h"
#include "platform/desktop/ScriptText.h"

namespace platform {
namespace {

using namespace desktop_test;
using Clock = std::chrono::steady_clock;

constexpr char kUserScript[] =
    "window.testExternal = { call: function (member, args) {"
    "  return window.webkit.messageHandlers.test.postMessage([member, args || []]); } };";

constexpr char kFramePage[] = R"(<!doctype html>
<html><head><meta charset="utf-8"></head>
<body style="background:#dde7f3;font:15px sans-serif;margin:12px">
<p>Remote frame (another origin)</p>
<script>
var seen = 0;
window.addEventListener('message', function () { seen++; });
function reportFromFrame(tag) { return testExternal.call('report', [tag, location.href, seen]); }
testExternal.call('frame-ready', [location.href]).then(function (reply) { return testExternal.call('frame-got', [reply]); });
</script></body></html>)";

// The main page: a load counter kept for the session (a reload counts up), a form, a link, a button,
// a frame from the HTTP server and one from the page itself with an awkward name.
std::string MainPage(const std::string& frameUrl) {
    return R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Web window test</title>
<style>
body { font: 16px sans-serif; margin: 24px; background: #f6f3ec; color: #1d1d1d; }
.row { margin: 14px 0; }
iframe { width: 460px; height: 120px; border: 2px solid #4a5a8a; }
</style></head>
<body>
<h1>Web window test</h1>
<div class="row">Loads this session: <b id="loads"></b></div>
<form id="form" class="row"><input id="field" autocomplete="off" placeholder="type, then Enter">
<button type="submit">Search</button> Submitted: <b id="submits">0</b></form>
<div class="row"><a id="next" href="second.htm">Second page</a>
<button id="clicker" type="button">Count clicks</button> <b id="clicks">0</b></div>
<iframe name="remote" id="remote-frame" src=")" + frameUrl + R"("></iframe>
<iframe name="q&quot;u'o\te &#228;" id="odd-frame" srcdoc="<p>Frame with an odd name</p>"></iframe>
<script>
var state = { submits: 0, keys: [], middle: 0, menus: 0, clicks: 0 };
sessionStorage.loads = String((Number(sessionStorage.loads) || 0) + 1);
document.getElementById('loads').textContent = sessionStorage.loads;
document.getElementById('form').addEventListener('submit', function (e) {
  e.preventDefault(); state.submits++; document.getElementById('submits').textContent = state.submits; });
document.addEventListener('keydown', function (e) { state.keys.push(e.key); }, true);
document.addEventListener('mousedown', function (e) { if (e.button === 1) state.middle++; }, true);
document.addEventListener('contextmenu', function () { state.menus++; }, true);
document.getElementById('clicker').addEventListener('click', function () {
  state.clicks++; document.getElementById('clicks').textContent = state.clicks; });
</script></body></html>)";
}

constexpr char kSecondPage[] = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Second page</title></head>
<body style="font:16px sans-serif;margin:24px"><h1>Second page</h1>
<script>var state = { keys: [] }; document.addEventListener('keydown', function (e) { state.keys.push(e.key); }, true);</script>
</body></html>)";

struct Message {
    std::string member;
    std::string json;
    bool onGuiThread;
};

std::string MemberOf(const std::string& json) {
    std::smatch m;
    static const std::regex member("^\\[\"([^\"]*)\"");
    return std::regex_search(json, m, member) ? m[1].str() : std::string();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class WebWindowTest : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        server_ = std::make_unique<TinyHttpServer>(std::map<std::string, TinyHttpServer::Answer>{
            {"/frame.htm", {200, kFramePage}},
            {"/error.htm", {500, "<html><body>SERVER ERROR BODY</body></html>"}},
        });
        folder_ = std::string(std::getenv("SINJO_TEST_TMP")) + "/pages";
        std::filesystem::create_directories(folder_);
        WriteFile(folder_ + "/index.htm", MainPage(server_->Url("/frame.htm")));
        WriteFile(folder_ + "/second.htm", kSecondPage);
        pageUri_ = "file://" + folder_ + "/index.htm";

        WebWindowOptions options;
        options.title = L"Web window test";
        options.width = 1000;
        options.height = 700;
        options.minWidth = 900;
        options.minHeight = 600;
        options.messageHandlerName = "test";
        options.userScript = kUserScript;
        rssBeforeKb_ = OwnRssKb();
        created_ = Clock::now();
        window_ = WebWindow::Create(options);
        ASSERT_NE(window_, nullptr);
        window_->SetMessageHandler([this](std::string_view json) { return OnMessage(std::string(json)); });
        window_->SetNavigationErrorHandler([this](const NavigationError& error) {
            errors_.push_back(error);
            return cancelErrors_;
        });
        window_->SetCloseHandler([this] { ++closes_; });
        window_->SetLoadFinishedHandler([this](std::string_view uri) {
            ++loadsFinished_;
            lastLoaded_ = std::string(uri);
            if (firstLoad_ == Clock::time_point{}) firstLoad_ = Clock::now();
        });
    }

    void TearDown() override {
        SetSystemKeyHook(nullptr);
        if (window_) {
            window_.reset();
            EXPECT_TRUE(NoHelpersLeft()) << "WebKit helper processes outlived the last window";
        }
        server_.reset();
    }

    ScriptReply OnMessage(const std::string& json) {
        const std::string member = MemberOf(json);
        messages_.push_back(Message{member, json, IsGuiThread()});
        if (member == "echo") return ScriptReply::Value(json);
        if (member == "fail") return ScriptReply::Error("0x80004005");
        if (member == "bad") return ScriptReply::Value("{not json");
        if (member == "nothing") return ScriptReply::Value("");
        if (member == "frame-ready") return ScriptReply::Value(R"({"hello":"frame","n":7})");
        return ScriptReply::Value("true");
    }

    // The messages of one member so far.
    std::vector<Message> MessagesOf(const std::string& member) const {
        std::vector<Message> found;
        for (const Message& m : messages_) {
            if (m.member == member) found.push_back(m);
        }
        return found;
    }

    // Shows the window, opens the main page and waits until it and its remote frame have loaded and
    // the window has the keyboard focus.
    void OpenMainPage() {
        window_->Show();
        ASSERT_TRUE(window_->OpenFile(folder_ + "/index.htm"));
        ASSERT_TRUE(WaitFor([&] { return loadsFinished_ >= 1 && !MessagesOf("frame-got").empty(); }))
            << "the page or its frame did not load";
        ASSERT_TRUE(WaitFor([&] { return gtk_window_is_active(window_->NativeWindow()); })) << "no keyboard focus";
        ASSERT_EQ(window_->CurrentUri(), pageUri_);
    }

    // Runs an async function body in the page and returns its result as JSON.
    std::string Eval(const std::string& body) {
        bool done = false;
        std::string result;
        window_->RunScript(body, [&](bool ok, std::string value) {
            result = ok ? value : "error: " + value;
            done = true;
        });
        EXPECT_TRUE(WaitFor([&] { return done; })) << body;
        return result;
    }

    bool EvalBecomes(const std::string& body, const std::string& expected, uint32_t timeoutMs = 10000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string last;
        while (Clock::now() < deadline) {
            last = Eval(body);
            if (last == expected) return true;
            Settle(20);
        }
        ADD_FAILURE() << body << " stayed " << last << ", expected " << expected;
        return false;
    }

    // Presses `keys` (xdotool names) and waits until the page's keydown log shows `marker` typed after them.
    void KeysThenMarker(const std::vector<std::string>& keys, const std::string& marker) {
        for (const std::string& key : keys) Xdo({"key", key});
        Xdo({"key", marker});
        EvalBecomes("return state.keys[state.keys.length - 1];", "\"" + marker + "\"");
    }

    unsigned long Xid() const { return XidOf(window_->NativeWindow()); }

    // Waits until the page has drawn two frames since now, so that a screenshot shows it.
    void WaitForPaint() {
        Eval("await new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))); return true;");
        Settle(150);
    }

    std::unique_ptr<TinyHttpServer> server_;
    std::string folder_;
    std::string pageUri_;
    std::unique_ptr<WebWindow> window_;
    std::vector<Message> messages_;
    std::vector<NavigationError> errors_;
    bool cancelErrors_ = true;
    int closes_ = 0;
    int loadsFinished_ = 0;
    std::string lastLoaded_;
    Clock::time_point created_;
    Clock::time_point firstLoad_;
    long rssBeforeKb_ = 0;

    static long OwnRssKb() {
        std::ifstream status("/proc/self/status");
        std::string key;
        long kb = 0;
        while (status >> key) {
            if (key == "VmRSS:") {
                status >> kb;
                return kb;
            }
        }
        return 0;
    }
};

TEST_F(WebWindowTest, ScriptMessagesRoundTripInEveryFrameOnTheGuiThread) {
    OpenMainPage();
    // The frame from the other origin called at load and got the handler's reply back.
    const auto ready = MessagesOf("frame-ready");
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_NE(ready[0].json.find(server_->Url("/frame.htm")), std::string::npos) << ready[0].json;
    const auto got = MessagesOf("frame-got");
    ASSERT_EQ(got.size(), 1u);
    // The keys of an object may come in any order.
    EXPECT_TRUE(got[0].json == R"(["frame-got",[{"hello":"frame","n":7}]])" ||
                got[0].json == R"(["frame-got",[{"n":7,"hello":"frame"}]])") << got[0].json;

    const std::pair<std::string, std::string> cases[] = {
        {"return await testExternal.call('echo', [1, 'caf\u00e9 \"q\" \\\\', true, null, {x: [2]}]);",
         R"(["echo",[1,"café \"q\" \\",true,null,{"x":[2]}]])"},
        {"try { await testExternal.call('fail'); return 'fulfilled'; } catch (e) { return 'rejected: ' + e.message; }",
         R"("rejected: 0x80004005")"},
        {"try { await testExternal.call('bad'); return 'fulfilled'; } catch (e) { return 'rejected: ' + e.message; }",
         R"("rejected: the reply is not JSON")"},
        {"return typeof (await testExternal.call('nothing'));", R"("undefined")"},
    };
    for (const auto& [body, expected] : cases) {
        EXPECT_EQ(Eval(body), expected) << body;
    }
    for (const Message& m : messages_) {
        EXPECT_TRUE(m.onGuiThread) << m.member;
    }
    // The window's title, and a normal window the task bar lists.
    EXPECT_STREQ(gtk_window_get_title(window_->NativeWindow()), "Web window test");
    const ToolResult props = RunTool({"xprop", "-id", std::to_string(Xid()), "_NET_WM_STATE", "_NET_WM_WINDOW_TYPE", "WM_NAME"}, true);
    EXPECT_EQ(props.out.find("SKIP_TASKBAR"), std::string::npos) << props.out;
    EXPECT_NE(props.out.find("_NET_WM_WINDOW_TYPE_NORMAL"), std::string::npos) << props.out;
    EXPECT_NE(props.out.find("\"Web window test\""), std::string::npos) << props.out;
}

TEST_F(WebWindowTest, ScriptLiteralsSurviveTheRoundTripThroughThePage) {
    OpenMainPage();
    const std::string samples[] = {
        "plain", "quote \" and \\ backslash", "line\nbreak\r\n\ttab", std::string("nul\0inside", 10), "\x01\x1f\x7f",
        "</script><script>alert(1)</script>", "\xe2\x80\xa8 and \xe2\x80\xa9", "\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x8e\xa4",
        "'single' `back` ${x}",
    };
    for (const std::string& sample : samples) {
        // The page's code points against ours.
        std::string expected = "[";
        for (wchar_t c : MultiByteToWide(65001, sample)) {
            if (expected.size() > 1) expected += ",";
            expected += std::to_string(static_cast<unsigned>(c));
        }
        expected += "]";
        EXPECT_EQ(Eval("return Array.from(" + ScriptStringLiteral(sample) + ", c => c.codePointAt(0));"), expected);
    }
}

TEST_F(WebWindowTest, ExecScriptRunsInTheNamedFrameOnlyAndPagesCannotForgeIt) {
    EXPECT_EQ(window_->ExecScript(L"remote", L"reportFromFrame('too early')"), E_FAIL) << "no document yet";
    OpenMainPage();

    bool found = false;
    bool answered = false;
    auto remember = [&](bool f) {
        found = f;
        answered = true;
    };
    ASSERT_EQ(window_->ExecScript(L"remote", L"reportFromFrame('exec-1')", remember), S_OK);
    ASSERT_TRUE(WaitFor([&] { return !MessagesOf("report").empty(); }));
    EXPECT_TRUE(answered && found);
    // It ran in the frame's own page (its function, its address), unseen by the frame's listeners.
    EXPECT_EQ(MessagesOf("report")[0].json, R"(["report",["exec-1",")" + server_->Url("/frame.htm") + R"(",0]])");

    answered = false;
    EXPECT_EQ(window_->ExecScript(L"nothere", L"reportFromFrame('lost')", remember), S_OK);
    ASSERT_TRUE(WaitFor([&] { return answered; }));
    EXPECT_FALSE(found);

    // A frame whose name needs escaping, from the page's own origin.
    answered = false;
    EXPECT_EQ(window_->ExecScript(L"q\"u'o\\te \u00e4", L"testExternal.call('report', ['odd', location.href, 0])", remember), S_OK);
    ASSERT_TRUE(WaitFor([&] { return MessagesOf("report").size() == 2; }));
    EXPECT_TRUE(found);
    EXPECT_EQ(MessagesOf("report")[1].json, R"(["report",["odd","about:srcdoc",0]])");

    // The page posts would-be scripts to the frame: they reach the frame's own listeners as plain
    // messages and run nothing. A real ExecScript after them still works and is still unseen.
    Eval("var w = document.getElementById('remote-frame').contentWindow;"
         "w.postMessage({script: \"reportFromFrame('forged-1')\"}, '*');"
         "w.postMessage({execKey: 'guess', script: \"reportFromFrame('forged-2')\"}, '*');"
         "return true;");
    ASSERT_EQ(window_->ExecScript(L"remote", L"reportFromFrame('after')"), S_OK);
    ASSERT_TRUE(WaitFor([&] { return MessagesOf("report").size() == 3; }));
    Settle(100);
    const auto reports = MessagesOf("report");
    ASSERT_EQ(reports.size(), 3u) << reports.back().json;
    EXPECT_EQ(reports[2].json, R"(["report",["after",")" + server_->Url("/frame.htm") + R"(",2]])");
}

TEST_F(WebWindowTest, FailedNavigationsAreReportedAndCancelledKeepingThePage) {
    OpenMainPage();
    const std::string deadUrl = "http://127.0.0.1:" + std::to_string(TinyHttpServer::UnusedPort()) + "/x.htm";
    struct Case {
        const char* what;
        std::string uri;
        bool frame;
        int status;
    };
    const Case cases[] = {
        {"main frame, 404", server_->Url("/missing.htm"), false, 404},
        {"main frame, server not running", deadUrl, false, 0},
        {"main frame, 500", server_->Url("/error.htm"), false, 500},
        {"sub-frame, 404", server_->Url("/missing.htm"), true, 404},
        {"sub-frame, server not running", deadUrl, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        errors_.clear();
        if (c.frame) {
            Eval("document.getElementById('remote-frame').src = " + ScriptStringLiteral(c.uri) + "; return true;");
        } else {
            ASSERT_TRUE(window_->OpenUri(c.uri));
        }
        ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); })) << "no error reported";
        ASSERT_EQ(errors_.size(), 1u);
        EXPECT_EQ(errors_[0].uri, c.uri);
        EXPECT_EQ(errors_[0].mainFrame, !c.frame);
        EXPECT_EQ(errors_[0].httpStatus, c.status);
        EXPECT_EQ(errors_[0].message.empty(), c.status != 0) << errors_[0].message;
        // The page stays, with no error page; a frame keeps its document.
        ASSERT_TRUE(WaitFor([&] { return window_->CurrentUri() == pageUri_; }));
        EXPECT_EQ(Eval("return document.title + ' ' + document.getElementById('loads').textContent;"),
                  "\"Web window test 1\"");
        const size_t reports = MessagesOf("report").size();
        ASSERT_EQ(window_->ExecScript(L"remote", L"reportFromFrame('still there')"), S_OK);
        ASSERT_TRUE(WaitFor([&] { return MessagesOf("report").size() == reports + 1; }));
        EXPECT_NE(MessagesOf("report").back().json.find(server_->Url("/frame.htm")), std::string::npos);
        EXPECT_EQ(errors_.size(), 1u) << "reported twice";
    }

    // Not cancelled, the server's own error page shows.
    errors_.clear();
    cancelErrors_ = false;
    ASSERT_TRUE(window_->OpenUri(server_->Url("/error.htm")));
    ASSERT_TRUE(WaitFor([&] { return lastLoaded_ == server_->Url("/error.htm"); }));
    EXPECT_EQ(Eval("return document.body.textContent;"), "\"SERVER ERROR BODY\"");
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0].httpStatus, 500);
}

TEST_F(WebWindowTest, KeysAndButtonsGoWhereTheFilterSends) {
    std::vector<unsigned> systemKeys;
    SetSystemKeyHook([&](unsigned key) { systemKeys.push_back(key); });
    OpenMainPage();
    GtkWidget* native = GTK_WIDGET(window_->NativeWindow());

    // Enter in the text field submits its form and closes nothing; Backspace edits the field.
    EXPECT_EQ(Eval("document.getElementById('field').focus(); return document.activeElement.id;"), "\"field\"");
    Xdo({"type", "abc"});
    Xdo({"key", "Return"});
    EXPECT_TRUE(EvalBecomes("return state.submits;", "1"));
    Xdo({"key", "BackSpace"});
    EXPECT_TRUE(EvalBecomes("return document.getElementById('field').value;", "\"ab\""));
    // Escape closes nothing either.
    KeysThenMarker({"Escape"}, "x");
    EXPECT_EQ(closes_, 0);
    EXPECT_TRUE(gtk_widget_get_mapped(native));

    // F5 never reaches the page and reloads nothing.
    KeysThenMarker({"F5", "ctrl+F5"}, "y");
    EXPECT_EQ(Eval("return state.keys.indexOf('F5');"), "-1");
    Settle(500);
    EXPECT_EQ(loadsFinished_, 1);
    EXPECT_EQ(Eval("return document.getElementById('loads').textContent;"), "\"1\"");

    // Alt+D goes to the hook, then on as usual.
    Xdo({"key", "alt+d"});
    ASSERT_TRUE(WaitFor([&] { return !systemKeys.empty(); }));
    EXPECT_EQ(systemKeys, (std::vector<unsigned>{'D'}));

    // The middle button does nothing, on a link or anywhere; the left one works.
    Eval("document.activeElement.blur(); return true;");
    const auto linkAt = [&](const char* id) {
        const std::string box = Eval(std::string("var r = document.getElementById('") + id +
                                     "').getBoundingClientRect(); return [Math.round(r.x + r.width / 2), Math.round(r.y + r.height / 2)];");
        std::smatch m;
        static const std::regex pair("\\[(\\d+),(\\d+)\\]");
        EXPECT_TRUE(std::regex_match(box, m, pair)) << box;
        GtkWidget* view = gtk_bin_get_child(GTK_BIN(native));
        int x = 0, y = 0;
        gtk_widget_translate_coordinates(view, native, std::stoi(m[1]), std::stoi(m[2]), &x, &y);
        int ox = 0, oy = 0;
        gdk_window_get_origin(gtk_widget_get_window(native), &ox, &oy);
        return std::pair<int, int>{ox + x, oy + y};
    };
    const auto link = linkAt("next");
    Xdo({"mousemove", "--sync", std::to_string(link.first), std::to_string(link.second)});
    Xdo({"click", "2"});
    const auto clicker = linkAt("clicker");
    Xdo({"mousemove", "--sync", std::to_string(clicker.first), std::to_string(clicker.second)});
    Xdo({"click", "1"});
    EXPECT_TRUE(EvalBecomes("return state.clicks;", "1"));
    EXPECT_EQ(Eval("return state.middle;"), "0");
    EXPECT_EQ(window_->CurrentUri(), pageUri_);

    // A right click reaches the page, but no menu shows.
    Xdo({"click", "3"});
    EXPECT_TRUE(EvalBecomes("return state.menus;", "1"));
    Settle(300);
    EXPECT_EQ(VisiblePopups(), 0);

    // After going to the second page, neither Alt+Left, Backspace nor the back button returns.
    Xdo({"mousemove", "--sync", std::to_string(link.first), std::to_string(link.second)});
    Xdo({"click", "1"});
    const std::string second = "file://" + folder_ + "/second.htm";
    ASSERT_TRUE(WaitFor([&] { return lastLoaded_ == second; }));
    KeysThenMarker({"alt+Left", "BackSpace"}, "z");
    Xdo({"click", "8"});
    KeysThenMarker({"alt+Right"}, "w");
    Settle(500);
    EXPECT_EQ(window_->CurrentUri(), second);
    EXPECT_EQ(Eval("return document.title;"), "\"Second page\"");
    // Alt+Left went to the page (the focused widget), only not into history.
    EXPECT_NE(Eval("return state.keys.join(' ');").find("ArrowLeft Backspace z"), std::string::npos);
    EXPECT_EQ(closes_, 0);
}

TEST_F(WebWindowTest, MinimumSizeHoldsTheWindowResizesAndTheCloseBoxOnlyAsks) {
    OpenMainPage();
    const unsigned long xid = Xid();
    int width = 0, height = 0;
    gtk_window_get_size(window_->NativeWindow(), &width, &height);

    Xdo({"windowsize", std::to_string(xid), "400", "300"});
    WaitFor([&] {
        int w = 0, h = 0;
        gtk_window_get_size(window_->NativeWindow(), &w, &h);
        return w != width || h != height;
    }, 3000);
    WaitForPaint();
    const auto small = XGeometry(xid);
    EXPECT_GE(small.first, 900);
    EXPECT_GE(small.second, 600);
    EXPECT_LE(small.first, 910) << "the window should have shrunk to its minimum";
    EXPECT_FALSE(Screenshot(xid, "web-window-minimum").empty());

    Xdo({"windowsize", std::to_string(xid), "1300", "850"});
    ASSERT_TRUE(WaitFor([&] { return XGeometry(xid) == std::pair<int, int>{1300, 850}; }, 5000));
    WaitForPaint();
    EXPECT_FALSE(Screenshot(xid, "web-window").empty());

    // The close box of the header bar, then the window manager's close: the handler is asked, the
    // window stays.
    auto closeButtons = WidgetsOf(window_->NativeWindow(), [](GtkWidget* w) {
        return GTK_IS_BUTTON(w) && gtk_style_context_has_class(gtk_widget_get_style_context(w), "close");
    });
    ASSERT_EQ(closeButtons.size(), 1u);
    ClickWidget(closeButtons[0]);
    ASSERT_TRUE(WaitFor([&] { return closes_ == 1; }));
    Xdo({"key", "alt+F4"});
    ASSERT_TRUE(WaitFor([&] { return closes_ == 2; }));
    Settle(200);
    EXPECT_TRUE(gtk_widget_get_mapped(GTK_WIDGET(window_->NativeWindow())));
    EXPECT_EQ(RunTool({"xdotool", "search", "--onlyvisible", "--name", "^Web window test$"}, true).exitCode, 0);
}

TEST_F(WebWindowTest, FiguresStartUpTimeAndHelperMemory) {
    OpenMainPage();
    const double startMs = std::chrono::duration<double, std::milli>(firstLoad_ - created_).count();
    long rss = 0, pss = 0;
    std::string names;
    for (const HelperProcess& helper : WebKitHelpers()) {
        rss += helper.rssKb;
        pss += helper.pssKb;
        names += " " + helper.name + "(" + std::to_string(helper.pssKb / 1024) + " MiB)";
    }
    std::printf("[ figures  ] window created -> page loaded: %.0f ms\n", startMs);
    std::printf("[ figures  ] this process grew by %ld MiB (GTK was running before)\n", (OwnRssKb() - rssBeforeKb_) / 1024);
    std::printf("[ figures  ] WebKit helper processes:%s; total RSS %ld MiB, PSS %ld MiB\n", names.c_str(),
                rss / 1024, pss / 1024);
    RecordProperty("page_loaded_ms", static_cast<int>(startMs));
    RecordProperty("helpers_pss_kb", static_cast<int>(pss));
    EXPECT_FALSE(WebKitHelpers().empty());
}

class WebWindowHeadlessTest : public DesktopTest {};

TEST_F(WebWindowHeadlessTest, NoWindowWhenHeadlessOrOffTheGlibLoop) {
    setenv("SINJO_HEADLESS", "1", 1);
    EXPECT_EQ(WebWindow::Create(WebWindowOptions{}), nullptr);
    unsetenv("SINJO_HEADLESS");
    // GTK started, but the GUI loop no longer runs on GLib: a window would never get its events.
    ASSERT_TRUE(SelectLoopBackend("std"));
    EXPECT_FALSE(DesktopRunning());
    EXPECT_EQ(WebWindow::Create(WebWindowOptions{}), nullptr);
    ASSERT_TRUE(SelectLoopBackend("glib"));
    EXPECT_TRUE(DesktopRunning());
}

}  // namespace
}  // namespace platform
