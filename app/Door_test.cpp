// Door, member by member, through the invoke path every caller uses (InvokeByName / InvokeById with typed
// arguments), on a small catalogue played by the simulated media back end.
#include "app/Door.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/SinjoDlg.h"
#include "app/SinjoModule.h"
#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/LanAddress.h"
#include "platform/Gui.h"
#include "platform/Registry.h"
#include "player/PlayerCommands.h"
#include "protocol/ChannelHandoff.h"
#include "resources/SinjoGuids.h"
#include "resources/SinjoTypeLib.h"

namespace {

using platform::DISPATCH_METHOD;
using platform::DISPATCH_PROPERTYGET;
using platform::DISPATCH_PROPERTYPUT;
using platform::HRESULT;
using platform::InvokeResult;
using platform::S_OK;
using platform::Variant;

constexpr platform::WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;  // as script calls "door.Name(...)"

Variant L(int32_t v) { return Variant::Long(v); }
Variant S(const wchar_t* v) { return Variant::Bstr(v); }

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class DoorTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitGuiThread();
        setenv("SINJO_MEDIA_BACKEND", "simulated", 1);
        static int serial = 0;
        root_ = platform::ToUtf8(platform::TempFolder()) + "/door" + std::to_string(++serial);
        platform::EnsureFolder(root_ + "/index");
        platform::EnsureFolder(root_ + "/mtv");
        platform::EnsureFolder(root_ + "/user/Beyond-Sea");
        WriteFile(root_ + "/index/singer.csv", "id,name,x,category,region\n1,Alpha,x,1,1\n");
        std::string songs = "no,title,a,b,artist,c,d,e,f,channel,g,h,i,path\n";
        for (int i = 0; i < 8; ++i) {
            songs += std::to_string(i) + ",Song" + std::to_string(i) + ",a,b,1,c,d,e,f," + std::to_string(i % 4) +
                     ",g,h,i,\\mtv\\s" + std::to_string(i) + ".AVI\n";
            WriteFile(root_ + "/mtv/s" + std::to_string(i) + ".AVI", "");
        }
        WriteFile(root_ + "/index/Songs.csv", songs);
        WriteFile(root_ + "/user/Beyond-Sea/One.mp3", "");
        WriteFile(root_ + "/user/Beyond-Sea/Two.mp3", "");

        g_settings = new Settings(L"SinjoDoorTest");
        g_settings->Load();  // the defaults, and the media file types of user folders
        g_settings->Set(L"setting:MtvIndexDir", platform::FromUtf8(root_ + "/index"));
        g_settings->Set(L"setting:MtvRootDir", platform::FromUtf8(root_ + "/mtv"));
        g_settings->Set(L"setting:UserMtvRootDir", platform::FromUtf8(root_ + "/user"));
        g_songMan = new SongMan();
        ASSERT_TRUE(g_songMan->Reload());
        g_mainDlg = new SinjoDlg();
        ASSERT_TRUE(g_mainDlg->Create());
        platform::SetMessageBoxHook([this](std::wstring_view text, std::wstring_view caption, unsigned type) {
            boxes_.push_back(std::wstring(caption) + L"|" + std::wstring(text) + L"|" + std::to_wstring(type));
            return platform::IDOK;
        });
        platform::SetShellOpenHook([this](std::wstring_view target) {
            opened_.emplace_back(target);
            return true;
        });
        door_ = Door::Create();
    }

    void TearDown() override {
        door_.Reset();
        platform::SetMessageBoxHook(nullptr);
        platform::SetShellOpenHook(nullptr);
        delete g_mainDlg;  // its player goes with it
        g_mainDlg = nullptr;
        delete g_songMan;
        g_songMan = nullptr;
        delete g_settings;
        g_settings = nullptr;
        unsetenv("SINJO_MEDIA_BACKEND");
    }

    InvokeResult Call(const wchar_t* member, platform::WORD flags, std::vector<Variant> args = {}) {
        return platform::InvokeByName(*door_.Get(), member, flags, args);
    }
    // The value of a call that must succeed.
    Variant Value(const wchar_t* member, std::vector<Variant> args = {}) {
        const InvokeResult r = Call(member, kCall, std::move(args));
        EXPECT_EQ(r.hr, S_OK) << platform::ToUtf8(member);
        return r.value;
    }
    static std::vector<int> Queue() {
        std::vector<int> ids;
        for (Song* s : g_songMan->queue) ids.push_back(s->id);
        return ids;
    }

    std::string root_;
    platform::ComPtr<Door> door_;
    std::vector<std::wstring> boxes_;
    std::vector<std::wstring> opened_;
};

struct Step {
    const wchar_t* member;
    platform::WORD flags;
    std::vector<Variant> args;
    HRESULT hr;
    Variant value;            // expected value (VT_EMPTY: none)
    std::vector<int> queue;   // the queue afterwards
};

// The queue members, in order, from an empty queue: every guard of the table, and the edge cases.
TEST_F(DoorTest, QueueMembersFollowTheTable) {
    const Step steps[] = {
        {L"GetQSongCount", kCall, {}, S_OK, L(0), {}},
        {L"GetQSong", kCall, {L(0), S(L"name")}, platform::E_FAIL, {}, {}},
        {L"QueueSong", DISPATCH_METHOD, {S(L"3"), Variant::Bool(true)}, S_OK, {}, {3}},
        {L"QueueSong", DISPATCH_METHOD, {L(5), L(0)}, S_OK, {}, {3, 5}},
        {L"QueueSong", DISPATCH_METHOD, {L(7), S(L"-1")}, S_OK, {}, {3, 7, 5}},  // any nonzero: after the playing one
        {L"QueueSong", DISPATCH_METHOD, {L(99), L(0)}, S_OK, {}, {3, 7, 5}},     // no such song: nothing happens
        {L"GetQSongCount", kCall, {}, S_OK, L(3), {3, 7, 5}},
        {L"GetQSong", kCall, {L(0), S(L"NAME")}, S_OK, S(L"Song3"), {3, 7, 5}},
        {L"GetQSong", kCall, {L(1), S(L"Id")}, S_OK, S(L"7"), {3, 7, 5}},
        {L"GetQSong", kCall, {L(1), S(L"ext")}, S_OK, S(L"avi"), {3, 7, 5}},
        {L"GetQSong", kCall, {L(0), S(L"audio_type")}, S_OK, S(L"right_karaoke"), {3, 7, 5}},
        {L"GetQSong", kCall, {L(2), S(L"album")}, S_OK, S(L"VOD"), {3, 7, 5}},
        {L"GetQSong", kCall, {L(2), S(L"artist")}, S_OK, S(L"Alpha"), {3, 7, 5}},
        {L"GetQSong", kCall, {L(0), S(L"title")}, platform::E_INVALIDARG, {}, {3, 7, 5}},
        {L"GetQSong", kCall, {L(3), S(L"name")}, platform::E_FAIL, {}, {3, 7, 5}},
        {L"GetQSong", kCall, {L(-1), S(L"name")}, platform::E_FAIL, {}, {3, 7, 5}},
        {L"MoveQSongFront", DISPATCH_METHOD, {L(0), L(3)}, S_OK, {}, {3, 7, 5}},   // the playing song stays
        {L"MoveQSongFront", DISPATCH_METHOD, {L(2), L(4)}, S_OK, {}, {3, 7, 5}},   // wrong song id
        {L"MoveQSongFront", DISPATCH_METHOD, {L(2), L(5)}, S_OK, {}, {3, 5, 7}},
        {L"MoveQSongUp", DISPATCH_METHOD, {L(1), L(5)}, S_OK, {}, {3, 5, 7}},      // not above the playing one
        {L"MoveQSongUp", DISPATCH_METHOD, {L(2), L(7)}, S_OK, {}, {3, 7, 5}},
        {L"RemoveQSong", DISPATCH_METHOD, {L(0), L(3)}, S_OK, {}, {3, 7, 5}},
        {L"RemoveQSong", DISPATCH_METHOD, {L(3), L(5)}, S_OK, {}, {3, 7, 5}},      // outside the queue
        {L"RemoveQSong", DISPATCH_METHOD, {L(2), L(5)}, S_OK, {}, {3, 7}},
        {L"Next", DISPATCH_METHOD, {}, S_OK, {}, {7}},
        {L"Pause", DISPATCH_METHOD, {}, S_OK, {}, {7}},
        {L"Play", DISPATCH_METHOD, {}, S_OK, {}, {7}},
        {L"PlayPause", DISPATCH_METHOD, {}, S_OK, {}, {7}},
        {L"Jump", DISPATCH_METHOD, {L(-30)}, S_OK, {}, {7}},
        {L"Reload", DISPATCH_METHOD, {}, S_OK, {}, {}},  // a reload empties the queue
    };
    for (const Step& s : steps) {
        const InvokeResult r = Call(s.member, s.flags, s.args);
        EXPECT_EQ(r.hr, s.hr) << platform::ToUtf8(s.member);
        EXPECT_EQ(r.value, s.value) << platform::ToUtf8(s.member);
        EXPECT_EQ(Queue(), s.queue) << platform::ToUtf8(s.member);
    }
}

TEST_F(DoorTest, AlbumsAreReadAsText) {
    const InvokeResult count = Call(L"GetAlbumCount", kCall);
    ASSERT_EQ(count.hr, S_OK);
    ASSERT_EQ(count.value.lVal, static_cast<int32_t>(g_songMan->albums.size()));
    ASSERT_GE(count.value.lVal, 2);
    for (int32_t i = 0; i < count.value.lVal; ++i) {
        const Album* album = g_songMan->albums[i];
        // song_count is decimal text, not a number.
        EXPECT_EQ(Value(L"GetAlbum", {L(i), S(L"song_count")}), S(std::to_wstring(album->song_count).c_str()));
        EXPECT_EQ(Value(L"GetAlbum", {L(i), S(L"Name")}), S(album->name.c_str()));
        EXPECT_EQ(Value(L"GetAlbum", {L(i), S(L"ARTIST")}), S(album->artist.c_str()));
        EXPECT_EQ(Value(L"GetAlbum", {L(i), S(L"dir")}), S(album->dir.c_str()));
    }
    EXPECT_EQ(Call(L"GetAlbum", kCall, {L(count.value.lVal), S(L"name")}).hr, platform::E_FAIL);
    EXPECT_EQ(Call(L"GetAlbum", kCall, {L(-1), S(L"name")}).hr, platform::E_FAIL);
    EXPECT_EQ(Call(L"GetAlbum", kCall, {L(0), S(L"songs")}).hr, platform::E_INVALIDARG);
}

TEST_F(DoorTest, SettingsMailboxAndAudioSource) {
    // A key the profile lacks: with a default, then without, the default both times (the first read fixes it).
    EXPECT_EQ(Value(L"GetSetting", {S(L"pref:Unknown"), S(L"fallback")}), S(L"fallback"));
    EXPECT_EQ(Value(L"GetSetting", {S(L"pref:Unknown")}), S(L"fallback"));
    EXPECT_EQ(Value(L"GetSetting", {S(L"pref:Other")}), S(L""));
    EXPECT_EQ(Call(L"SetSetting", DISPATCH_METHOD, {S(L"pref:Other"), L(7)}).hr, S_OK);
    EXPECT_EQ(Value(L"getsetting", {S(L"pref:Other"), S(L"ignored")}), S(L"7"));
    // Set changes the store only; the profile sees it when the program ends.
    platform::RegValue stored;
    EXPECT_NE(platform::RegQueryValue(platform::RegRoot::CurrentUser, g_settings->OptionsKey(), L"pref:Other", &stored),
              platform::ERROR_SUCCESS);

    EXPECT_EQ(Value(L"NextScriptToExecute"), S(L""));
    EXPECT_EQ(Call(L"NextScriptToExecute", DISPATCH_PROPERTYPUT, {S(L"SetFocusOnSearch()")}).hr, S_OK);
    EXPECT_EQ(Value(L"NextScriptToExecute"), S(L"SetFocusOnSearch()"));
    EXPECT_EQ(Value(L"nextscripttoexecute"), S(L"SetFocusOnSearch()")) << "reading leaves the mailbox as it is";

    EXPECT_EQ(Value(L"AudioSource"), S(L"karaoke"));
    ASSERT_EQ(Call(L"QueueSong", DISPATCH_METHOD, {L(1), L(0)}).hr, S_OK);  // song 1: accompaniment on the left
    EXPECT_EQ(Call(L"AudioSource", DISPATCH_PROPERTYPUT, {S(L"original")}).hr, S_OK);
    EXPECT_EQ(Value(L"AudioSource"), S(L"original"));
    EXPECT_EQ(g_settings->Get(L"pref:AudioSource", nullptr), L"original");
    platform::RegValue channel;
    ASSERT_EQ(platform::RegQueryValue(platform::RegRoot::CurrentUser, kChannelHandoffKey, kChannelHandoffValue,
                                      &channel),
              platform::ERROR_SUCCESS);
    EXPECT_EQ(channel.dword, static_cast<uint32_t>(ChannelRight));
}

TEST_F(DoorTest, ServeUrlOpenBrowserExecScriptAndTheRipper) {
    EXPECT_EQ(Value(L"ServeUrl"), S(L"http://localhost:8080")) << "no port setting: the default";
    EXPECT_EQ(Call(L"OpenBrowser", DISPATCH_METHOD).hr, S_OK);
    EXPECT_EQ(opened_, std::vector<std::wstring>{L"http://localhost:8080"});
    g_settings->Set(L"setting:WebServerPort", L"9000");
    EXPECT_EQ(Value(L"ServeUrl"), S(L"http://localhost:9000"));

    // The main window's outcome is not reported.
    EXPECT_EQ(Call(L"ExecScript", DISPATCH_METHOD, {S(L"remote"), S(L"SetFocusOnSearch()")}).hr, S_OK);
    EXPECT_EQ(g_mainDlg->ExecScript(L"remote", L"x()"), platform::E_FAIL) << "no web view, no page";

    EXPECT_EQ(Call(L"ControlImToo", DISPATCH_METHOD, {L(1), L(2)}).hr, S_OK);
    EXPECT_EQ(boxes_, std::vector<std::wstring>{L"Sinjo|Can not find the main window.|0"});
}

// The keyboard filter's Alt+letter keys: only Alt+D writes the mailbox, which the page then reads.
TEST_F(DoorTest, AltDLeavesTheSearchRequestInTheMailbox) {
    for (const unsigned key : {unsigned('E'), unsigned('0'), unsigned('d')}) {
        SinjoDlg::OnSystemKey(key);
        EXPECT_EQ(Value(L"NextScriptToExecute"), S(L"")) << key;
    }
    SinjoDlg::OnSystemKey('D');
    EXPECT_EQ(Value(L"NextScriptToExecute"), S(L"SetFocusOnSearch()"));
    // Headless, the main window is the handle alone: no page, and no Door of its own.
    EXPECT_FALSE(g_mainDlg->HasView());
    EXPECT_EQ(g_mainDlg->GetDoor(), nullptr);
}

// The join address for phones and its QR code, added after the first release's members.
TEST_F(DoorTest, LanUrlAndItsQrCode) {
    g_settings->Set(L"setting:WebServerPort", L"9000");
    const std::string lan = platform::LanAddress();
    EXPECT_EQ(Value(L"LanUrl"), S(lan.empty() ? L"" : (L"http://" + platform::FromUtf8(lan) + L":9000").c_str()))
        << "this PC's network address and the port setting; empty without a network";
    EXPECT_EQ(Call(L"LanUrl", DISPATCH_PROPERTYPUT, {S(L"x")}).hr, platform::DISP_E_MEMBERNOTFOUND) << "read-only";

    const Variant rows = Value(L"getqrcode", {S(L"http://192.168.1.20:9000")});
    ASSERT_EQ(rows.vt, platform::VT_BSTR);
    std::vector<std::wstring> lines;
    for (size_t start = 0;;) {
        const size_t end = rows.bstrVal.find(L'\n', start);
        lines.push_back(rows.bstrVal.substr(start, end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 25u) << "24 bytes fit version 2 at level M";
    for (const std::wstring& line : lines) {
        EXPECT_EQ(line.size(), 25u);
        EXPECT_EQ(line.find_first_not_of(L"01"), std::wstring::npos);
    }
    EXPECT_EQ(Call(L"GetQrCode", kCall, {S(std::wstring(300, L'x').c_str())}).hr, platform::E_INVALIDARG) << "too long";
    EXPECT_EQ(Call(L"GetQrCode", kCall, {}).hr, platform::DISP_E_BADPARAMCOUNT);
}

TEST_F(DoorTest, RenamingForwardsFolderAndDescription) {
    const std::string album = root_ + "/rip";
    platform::EnsureFolder(album);
    WriteFile(album + "/track01.mp3", "");
    const std::wstring description = L"artist: Faye\n1 Red Beans\n";
    EXPECT_EQ(Call(L"RenameFolder", DISPATCH_METHOD, {S(platform::FromUtf8(album).c_str()), S(description.c_str())}).hr,
              S_OK);
    EXPECT_TRUE(platform::CanOpenForRead(platform::FromUtf8(album + "/Faye-Red Beans.mp3")));
    ASSERT_EQ(opened_.size(), 1u) << "the log is shown";
    // Album renaming of a catalogue album: its files are reported, none renamed (catalogue albums list no tracks).
    EXPECT_EQ(Call(L"RenameAlbum", DISPATCH_METHOD, {L(0), S(L"mtv")}).hr, S_OK);
    EXPECT_EQ(opened_.size(), 2u);
}

// Arguments through the dispatch: conversions, counts and kinds, as automation reports them.
TEST_F(DoorTest, WrongArgumentsGetTheDispatchCodes) {
    const struct {
        const wchar_t* member;
        platform::WORD flags;
        std::vector<Variant> args;
        HRESULT hr;
        platform::UINT argErr;
    } cases[] = {
        {L"QueueSong", DISPATCH_METHOD, {S(L"abc"), L(0)}, platform::DISP_E_TYPEMISMATCH, 0},
        {L"QueueSong", DISPATCH_METHOD, {L(1), S(L"maybe")}, platform::DISP_E_TYPEMISMATCH, 1},
        {L"QueueSong", DISPATCH_METHOD, {S(L"4294967296"), L(0)}, platform::DISP_E_OVERFLOW, 0},
        {L"QueueSong", DISPATCH_METHOD, {L(1)}, platform::DISP_E_BADPARAMCOUNT, 0},
        {L"GetSetting", DISPATCH_METHOD, {}, platform::DISP_E_BADPARAMCOUNT, 0},
        {L"GetSetting", DISPATCH_METHOD, {Variant::Missing()}, platform::DISP_E_PARAMNOTOPTIONAL, 0},
        {L"Pause", DISPATCH_METHOD, {L(1)}, platform::DISP_E_BADPARAMCOUNT, 0},
        {L"ServeUrl", DISPATCH_PROPERTYPUT, {S(L"http://x")}, platform::DISP_E_MEMBERNOTFOUND, 0},
        {L"AudioSource", DISPATCH_PROPERTYPUT, {}, platform::DISP_E_BADPARAMCOUNT, 0},
        {L"NoSuchMember", DISPATCH_METHOD, {}, platform::DISP_E_UNKNOWNNAME, 0},
    };
    for (const auto& c : cases) {
        const InvokeResult r = Call(c.member, c.flags, c.args);
        EXPECT_EQ(r.hr, c.hr) << platform::ToUtf8(c.member);
        if (c.hr == platform::DISP_E_TYPEMISMATCH || c.hr == platform::DISP_E_OVERFLOW) {
            EXPECT_EQ(r.argErr, c.argErr) << platform::ToUtf8(c.member);
        }
        EXPECT_EQ(r.value.vt, platform::VT_EMPTY);
    }
    EXPECT_TRUE(g_songMan->queue.empty()) << "no refused call reached the queue";
}

// The dispatch ids are part of the interface: outside clients bind by them.
TEST_F(DoorTest, DispatchIdsAreTheInterfaces) {
    const struct {
        const wchar_t* name;
        platform::DISPID id;
    } ids[] = {
        {L"ExecScript", 5},      {L"QueueSong", 10},       {L"GetQSongCount", 12},        {L"GetQSong", 13},
        {L"Pause", 16},          {L"Play", 17},            {L"Next", 18},                 {L"MoveQSongFront", 19},
        {L"GetSetting", 20},     {L"MoveQSongUp", 21},     {L"RemoveQSong", 22},          {L"SetSetting", 23},
        {L"GetAlbumCount", 24},  {L"GetAlbum", 25},        {L"RenameAlbum", 26},          {L"Reload", 27},
        {L"ControlImToo", 28},   {L"AudioSource", 29},     {L"Jump", 31},                 {L"PlayPause", 32},
        {L"OpenBrowser", 33},    {L"ServeUrl", 34},        {L"NextScriptToExecute", 35},  {L"RenameFolder", 36},
        {L"LanUrl", 37},         {L"GetQrCode", 38},
    };
    for (const auto& entry : ids) {
        platform::DISPID id = 0;
        const std::wstring_view name = entry.name;
        EXPECT_EQ(door_->GetIDsOfNames(platform::GUID_NULL, &name, 1, 0, &id), S_OK);
        EXPECT_EQ(id, entry.id) << platform::ToUtf8(entry.name);
    }
    // Slots 7 to 34 in order, and every entry of the table reaches its member (no DISP_E_MEMBERNOTFOUND).
    int16_t slot = 7;
    for (const platform::FuncDesc& f : sinjo_typelib::kIDoor.funcs) {
        EXPECT_EQ(f.vtableSlot, slot++);
        std::vector<Variant> args;
        for (const platform::ParamDesc& p : f.params) {
            if (p.IsInput() && !p.IsOptional()) args.push_back(p.vt == platform::VT_BSTR ? S(L"") : L(0));
        }
        const InvokeResult r = platform::InvokeById(*door_.Get(), f.memid, f.invkind, args);
        EXPECT_NE(r.hr, platform::DISP_E_MEMBERNOTFOUND) << platform::ToUtf8(f.name);
        EXPECT_NE(r.hr, platform::DISP_E_BADPARAMCOUNT) << platform::ToUtf8(f.name);
    }
    EXPECT_EQ(slot, 35);
    platform::IUnknown* asDoor = nullptr;
    EXPECT_EQ(door_->QueryInterface(IID_IDoor, reinterpret_cast<void**>(&asDoor)), S_OK);
    asDoor->Release();
}

// Without catalogue, settings store and main window (the automation-server run): what needs them fails with
// E_FAIL and touches nothing; what does not still answers.
TEST_F(DoorTest, WithoutTheJukeboxOnlyWhatNeedsNothingAnswers) {
    SongMan* songMan = g_songMan;
    Settings* settings = g_settings;
    SinjoDlg* dialog = g_mainDlg;
    g_songMan = nullptr;
    g_settings = nullptr;
    g_mainDlg = nullptr;
    const struct {
        const wchar_t* member;
        platform::WORD flags;
        std::vector<Variant> args;
        HRESULT hr;
    } cases[] = {
        {L"ExecScript", DISPATCH_METHOD, {S(L""), S(L"x()")}, platform::E_FAIL},
        {L"QueueSong", DISPATCH_METHOD, {L(1), L(0)}, platform::E_FAIL},
        {L"GetQSongCount", kCall, {}, platform::E_FAIL},
        {L"GetQSong", kCall, {L(0), S(L"name")}, platform::E_FAIL},
        {L"Pause", DISPATCH_METHOD, {}, platform::E_FAIL},
        {L"Play", DISPATCH_METHOD, {}, platform::E_FAIL},
        {L"Next", DISPATCH_METHOD, {}, platform::E_FAIL},
        {L"MoveQSongFront", DISPATCH_METHOD, {L(1), L(1)}, platform::E_FAIL},
        {L"GetSetting", kCall, {S(L"setting:WebServerPort")}, platform::E_FAIL},
        {L"SetSetting", DISPATCH_METHOD, {S(L"a"), S(L"b")}, platform::E_FAIL},
        {L"GetAlbumCount", kCall, {}, platform::E_FAIL},
        {L"GetAlbum", kCall, {L(0), S(L"name")}, platform::E_FAIL},
        {L"RenameAlbum", DISPATCH_METHOD, {L(0), S(L"mtv")}, platform::E_FAIL},
        {L"Reload", DISPATCH_METHOD, {}, platform::E_FAIL},
        {L"AudioSource", DISPATCH_PROPERTYGET, {}, platform::E_FAIL},
        {L"AudioSource", DISPATCH_PROPERTYPUT, {S(L"left")}, platform::E_FAIL},
        {L"Jump", DISPATCH_METHOD, {L(5)}, platform::E_FAIL},
        {L"PlayPause", DISPATCH_METHOD, {}, platform::E_FAIL},
        {L"NextScriptToExecute", DISPATCH_PROPERTYGET, {}, platform::E_FAIL},
        {L"NextScriptToExecute", DISPATCH_PROPERTYPUT, {S(L"x")}, platform::E_FAIL},
        {L"RenameFolder", DISPATCH_METHOD, {S(L"/nowhere"), S(L"")}, platform::E_FAIL},
        {L"ServeUrl", DISPATCH_PROPERTYGET, {}, S_OK},
        {L"OpenBrowser", DISPATCH_METHOD, {}, S_OK},
        {L"ControlImToo", DISPATCH_METHOD, {L(0), L(0)}, S_OK},
        {L"LanUrl", DISPATCH_PROPERTYGET, {}, S_OK},
        {L"GetQrCode", kCall, {S(L"http://192.168.1.2:8080")}, S_OK},
    };
    for (const auto& c : cases) EXPECT_EQ(Call(c.member, c.flags, c.args).hr, c.hr) << platform::ToUtf8(c.member);
    // The port comes from the profile, read without a store.
    platform::RegSetString(platform::RegRoot::CurrentUser, L"Software\\Nadusoft\\" + Settings::DefaultApplicationName() +
                                                               L"\\Options",
                           L"setting:WebServerPort", L"8123");
    EXPECT_EQ(Call(L"ServeUrl", DISPATCH_PROPERTYGET).value, S(L"http://localhost:8123"));
    g_songMan = songMan;
    g_settings = settings;
    g_mainDlg = dialog;
}

// A browser that records what the Door asks of it.
class FakeBrowser final : public platform::IWebBrowser2 {
public:
    HRESULT QueryInterface(platform::REFIID iid, void** object) override {
        if (iid == platform::IID_IUnknown || iid == platform::IID_IWebBrowser2) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return platform::E_NOINTERFACE;
    }
    platform::ULONG AddRef() override { return ++refs; }
    platform::ULONG Release() override { return --refs; }
    HRESULT Stop() override {
        ++stops;
        return S_OK;
    }
    HRESULT Advise(platform::IDispatch* s, platform::DWORD* cookie) override {
        sink = s;
        *cookie = 42;
        return S_OK;
    }
    HRESULT Unadvise(platform::DWORD cookie) override {
        if (cookie == 42) sink = nullptr;
        return S_OK;
    }
    // Delivers NavigateError as the browser does; returns the cancel flag the sink left.
    platform::VARIANT_BOOL NavigateError(Variant status) {
        platform::VARIANT_BOOL cancel = platform::VARIANT_FALSE;
        const std::vector<Variant> args = {Variant::Dispatch(nullptr), S(L"http://localhost:8080/x"), S(L"remote"),
                                           status, Variant::BoolRef(&cancel)};
        EXPECT_EQ(sink->Invoke(platform::DISPID_NAVIGATEERROR, platform::GUID_NULL, 0, DISPATCH_METHOD, args, nullptr,
                               nullptr),
                  S_OK);
        return cancel;
    }
    platform::ULONG refs = 1;
    int stops = 0;
    platform::IDispatch* sink = nullptr;
};

TEST_F(DoorTest, FailedNavigationsShowNoErrorPage) {
    FakeBrowser browser;
    ASSERT_EQ(door_->SetBrowser(&browser), S_OK);
    ASSERT_EQ(browser.sink, door_->EventSink());
    EXPECT_EQ(browser.refs, 2u);
    EXPECT_EQ(door_->SetBrowser(&browser), platform::E_FAIL) << "connected once only";

    const struct {
        Variant status;
        bool cancelled;
    } cases[] = {
        {L(200), false}, {L(404), true},        {L(-2146697211), true},  // a failure below HTTP
        {S(L"200"), false}, {Variant::Double(500), true}, {S(L"not a number"), true},
    };
    for (const auto& c : cases) {
        const int stopsBefore = browser.stops;
        EXPECT_EQ(browser.NavigateError(c.status) != platform::VARIANT_FALSE, c.cancelled);
        EXPECT_EQ(browser.stops - stopsBefore, c.cancelled ? 1 : 0);
    }
    // Other events are not the sink's.
    EXPECT_EQ(browser.sink->Invoke(250, platform::GUID_NULL, 0, DISPATCH_METHOD, {}, nullptr, nullptr),
              platform::DISP_E_MEMBERNOTFOUND);
    door_.Reset();
    EXPECT_EQ(browser.sink, nullptr) << "a Door that goes disconnects its sink";
    EXPECT_EQ(browser.refs, 1u);
}

TEST_F(DoorTest, EveryDoorHoldsTheModuleAndTheLastOneEndsAnAutomationRun) {
    CSinjoModule& module = SinjoModule();
    const platform::LONG before = module.GetLockCount();
    {
        platform::ComPtr<Door> another = Door::Create();
        EXPECT_EQ(module.GetLockCount(), before + 1);
    }
    EXPECT_EQ(module.GetLockCount(), before);
    module.SetAutomationServerRun(true);
    door_.Reset();  // the last Door: the run ends
    EXPECT_EQ(module.GetLockCount(), 0);
    EXPECT_EQ(platform::RunMessageLoop(), 0) << "the loop was asked to end";
    module.SetAutomationServerRun(false);
}

}  // namespace
