// The page's `external`: the messages the page posts are read exactly (or refused without a call), the
// call goes through the invoke path, and the answer settles the page's promise. The page-side script is
// run under node against a stand-in message handler where node is installed.
#include "app/PageExternal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/Door.h"
#include "platform/CodePage.h"

namespace {

using platform::HRESULT;
using platform::Variant;

// An IDispatch that records the one call it gets and answers as told.
class RecordingDispatch final : public platform::IDispatch {
public:
    HRESULT QueryInterface(platform::REFIID, void**) override { return platform::E_NOINTERFACE; }
    platform::ULONG AddRef() override { return 1; }
    platform::ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(platform::UINT* count) override {
        *count = 0;
        return platform::S_OK;
    }
    HRESULT GetTypeInfo(platform::UINT, platform::LCID, platform::ITypeInfo**) override { return platform::E_NOTIMPL; }
    HRESULT GetIDsOfNames(platform::REFIID, const std::wstring_view* names, platform::UINT, platform::LCID,
                          platform::DISPID* ids) override {
        name = std::wstring(names[0]);
        ids[0] = 7;
        return platform::S_OK;
    }
    HRESULT Invoke(platform::DISPID, platform::REFIID, platform::LCID, platform::WORD f,
                   std::span<const Variant> a, Variant* result, platform::UINT* argErr) override {
        ++calls;
        flags = f;
        args.assign(a.begin(), a.end());
        if (result != nullptr) *result = answer;
        if (argErr != nullptr) *argErr = answerArgErr;
        return answerHr;
    }

    int calls = 0;
    std::wstring name;
    platform::WORD flags = 0;
    std::vector<Variant> args;
    Variant answer;
    HRESULT answerHr = platform::S_OK;
    platform::UINT answerArgErr = 0;
};

constexpr platform::WORD kCall = platform::DISPATCH_METHOD | platform::DISPATCH_PROPERTYGET;

TEST(PageExternal, MessagesAreReadExactly) {
    const struct {
        const char* message;
        const wchar_t* name;
        platform::WORD flags;
        std::vector<Variant> args;
    } cases[] = {
        {R"(["QueueSong","call",42,true])", L"QueueSong", kCall, {Variant::Long(42), Variant::Bool(true)}},
        {R"( [ "Jump" , "call" , -10 ] )", L"Jump", kCall, {Variant::Long(-10)}},
        {R"(["AudioSource","get"])", L"AudioSource", platform::DISPATCH_PROPERTYGET, {}},
        {R"(["AudioSource","put","left"])", L"AudioSource", platform::DISPATCH_PROPERTYPUT, {Variant::Bstr(L"left")}},
        {R"(["GetSetting","call","k",null])", L"GetSetting", kCall, {Variant::Bstr(L"k"), Variant::Missing()}},
        {R"(["X","call",1.5,3000000000,-2147483648,false])", L"X", kCall,
         {Variant::Double(1.5), Variant::Double(3e9), Variant::Long(-2147483647 - 1), Variant::Bool(false)}},
        // Escapes, text beyond ASCII as UTF-8 and as \u escapes, a surrogate pair, and a lone half.
        {"[\"S\",\"call\",\"q\\\"b\\\\s\\/\\n\\t\\u00e9\xc3\xa9\\ud83c\\udfa4\xe6\xad\x8c\\udc00x\"]", L"S", kCall,
         {Variant::Bstr(L"q\"b\\s/\n\t\u00e9\u00e9\U0001F3A4\u6b4c\uFFFDx")}},
        {R"(["Play","call"])", L"Play", kCall, {}},
    };
    for (const auto& c : cases) {
        RecordingDispatch door;
        const PageReply reply = CallFromPage(door, c.message);
        EXPECT_TRUE(reply.ok) << c.message << ": " << reply.error;
        EXPECT_EQ(door.name, c.name) << c.message;
        EXPECT_EQ(door.flags, c.flags) << c.message;
        EXPECT_EQ(door.args, c.args) << c.message;
    }
}

TEST(PageExternal, MalformedMessagesCallNothing) {
    const char* bad[] = {
        "", "{}", "[]", R"(["A"])", R"([1,"call"])", R"(["A",2])", R"(["A","eat"])", R"(["A","call",[1]])",
        R"(["A","call",{}])", R"(["A","call","x")", R"(["A","call"] x)", R"(["A","call","\q"])",
        R"(["A","call",1e999])", R"(["A","call","\u12"])", R"(["A","call",undefined])", R"(["A","call",-])",
        R"(["A","call",1,])", R"(["A" "call"])", R"(["A","call",tru])",
    };
    for (const char* message : bad) {
        RecordingDispatch door;
        const PageReply reply = CallFromPage(door, message);
        EXPECT_FALSE(reply.ok) << message;
        EXPECT_EQ(reply.error.rfind("bad message from the page", 0), 0u) << message << ": " << reply.error;
        EXPECT_EQ(door.calls, 0) << message;
    }
}

TEST(PageExternal, AnswersSettleThePromise) {
    const struct {
        Variant value;
        HRESULT hr;
        platform::UINT argErr;
        bool ok;
        std::string text;  // the JSON, or the error message
    } cases[] = {
        {Variant::Bstr(L"say \"hi\"\n\u6b4c\x01"), platform::S_OK, 0, true, "\"say \\\"hi\\\"\\u000a\xe6\xad\x8c\\u0001\""},
        {Variant::Long(-7), platform::S_OK, 0, true, "-7"},
        {Variant::Bool(true), platform::S_OK, 0, true, "true"},
        {Variant::Double(0.25), platform::S_OK, 0, true, "0.25"},
        {Variant(), platform::S_OK, 0, true, ""},  // undefined
        {Variant(), platform::E_FAIL, 0, false, "0x80004005 E_FAIL"},
        {Variant(), platform::E_INVALIDARG, 0, false, "0x80070057 E_INVALIDARG"},
        {Variant(), platform::DISP_E_TYPEMISMATCH, 1, false, "0x80020005 DISP_E_TYPEMISMATCH (argument 2)"},
        {Variant(), platform::DISP_E_UNKNOWNNAME, 0, false, "0x80020006 DISP_E_UNKNOWNNAME"},
    };
    for (const auto& c : cases) {
        RecordingDispatch door;
        door.answer = c.value;
        door.answerHr = c.hr;
        door.answerArgErr = c.argErr;
        const PageReply reply = CallFromPage(door, R"(["M","call"])");
        EXPECT_EQ(reply.ok, c.ok) << c.text;
        EXPECT_EQ(c.ok ? reply.json : reply.error, c.text);
    }
}

// The window's channel is reachable from every frame: only messages carrying the page script's key call.
TEST(PageExternal, OnlyMessagesWithTheKeyCall) {
    const struct {
        const char* message;
        bool calls;
    } cases[] = {
        {R"(["k3y","M","call",1])", true},
        {R"(["M","call",1])", false},            // what a frame's page would post
        {R"(["k3yX","M","call"])", false},       // the key as the start of a longer text
        {R"(["k3","y","M","call"])", false},
        {R"(["K3Y","M","call"])", false},
        {R"(["k3y"])", false},
        {R"(["k3y",)", false},
        {R"(["","k3y","M","call"])", false},
        {R"(["k3y","M","eat"])", false},         // the rest is still checked
    };
    for (const auto& c : cases) {
        RecordingDispatch door;
        const PageReply reply = CallFromPage(door, c.message, "k3y");
        EXPECT_EQ(reply.ok, c.calls) << c.message << ": " << reply.error;
        EXPECT_EQ(door.calls, c.calls ? 1 : 0) << c.message;
    }
    RecordingDispatch door;
    EXPECT_FALSE(CallFromPage(door, R"(["","M","call"])", "").ok) << "an empty key opens nothing";
    EXPECT_EQ(door.calls, 0);
}

// The real Door through the page's path, in a run without the jukebox: what needs nothing answers, the
// rest fails as outside clients see it.
TEST(PageExternal, TheDoorAnswersThePage) {
    platform::ComPtr<Door> door = Door::Create();
    PageReply reply = CallFromPage(*door.Get(), R"(["serveurl","get"])");
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.json.rfind("\"http://localhost:", 0), 0u) << reply.json;
    reply = CallFromPage(*door.Get(), R"(["GetQrCode","call","http://192.168.1.9:8080"])");
    ASSERT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.json.substr(0, 9), "\"11111110");  // a finder pattern's top row
    reply = CallFromPage(*door.Get(), R"(["GetQSongCount","call"])");
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, "0x80004005 E_FAIL");
    reply = CallFromPage(*door.Get(), R"(["Jump","call","soon"])");
    EXPECT_EQ(reply.error, "0x80020005 DISP_E_TYPEMISMATCH (argument 1)");
    reply = CallFromPage(*door.Get(), R"(["ServeUrl","put","x"])");
    EXPECT_EQ(reply.error, "0x80020003 DISP_E_MEMBERNOTFOUND");
}

// The page side, run by node against a stand-in handler that answers like the program.
TEST(PageExternal, ThePageScriptGivesPromisesAndProperties) {
    if (access("/usr/bin/node", X_OK) != 0) GTEST_SKIP() << "node is not installed";
    const std::string script = PageExternalScript("door", "k3y");
    const std::string harness = R"JS(
var posted = [];
var window = { webkit: { messageHandlers: { door: { postMessage: function (m) {
  posted.push(JSON.stringify(m));
  if (m[1] === 'GetQSong') return Promise.reject(new Error('0x80004005 E_FAIL'));
  return Promise.resolve(m[1] === 'GetQSongCount' ? 3 : 'value');
} } } } };
window.top = window;
var location = { protocol: 'file:' };
)JS" + script + R"JS(
var external = window.external;
var out = [];
Promise.resolve()
  .then(function () { return external.GetQSongCount(); }).then(function (n) { out.push('count ' + n); })
  .then(function () { return external.GetQSong(0, 'NAME'); })
  .then(function () { out.push('no rejection'); }, function (e) { out.push('rejected ' + e.hresult + ' ' + e.message); })
  .then(function () { return external.AudioSource; }).then(function (v) { out.push('source ' + v); })
  .then(function () { external.NextScriptToExecute = 'x()'; external.ServeUrl = 'ignored';
                      out.push('frozen ' + Object.isFrozen(external) + ' ' + typeof external.RenameFolder + ' ' +
                               typeof external.LanUrl.then); })
  .then(function () { console.log(out.concat(posted).join('\n')); });
)JS";
    const std::string path = testing::TempDir() + "external-" + std::to_string(getpid()) + ".js";
    std::ofstream(path) << harness;
    std::string output;
    if (FILE* pipe = popen(("/usr/bin/node '" + path + "' 2>&1").c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    std::remove(path.c_str());
    EXPECT_EQ(output,
              "count 3\n"
              "rejected 2147500037 0x80004005 E_FAIL\n"
              "source value\n"
              "frozen true function function\n"
              "[\"k3y\",\"GetQSongCount\",\"call\"]\n"
              "[\"k3y\",\"GetQSong\",\"call\",0,\"NAME\"]\n"
              "[\"k3y\",\"AudioSource\",\"get\"]\n"
              "[\"k3y\",\"NextScriptToExecute\",\"put\",\"x()\"]\n"
              "[\"k3y\",\"LanUrl\",\"get\"]\n");
}

}  // namespace
