// Automation with real processes: registration runs of the program, the automation-server run, the normal
// run serving outside clients, and sinjoctl driving both; hostile clients against the real program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/CodePage.h"
#include "platform/Com.h"
#include "platform/Dispatch.h"
#include "platform/DispatchWire.h"
#include "platform/LocalClient.h"
#include "platform/LocalServer.h"
#include "platform/Spawn.h"
#include "tests/support/SinjoProcess.h"

namespace {

namespace fs = std::filesystem;
using e2e::HttpClient;
using e2e::Installation;

constexpr const char* kClsid = "{B672550C-254D-4B0E-9BC6-12A2DFC7B91D}";
constexpr const char* kLibid = "{16349CCE-4863-4385-A7F7-435F56F56249}";
constexpr const char* kIid = "{2BD16A50-ADC5-4A3A-A108-9DCBCC7D32C7}";
constexpr const char* kAppId = "{8F54455D-F009-4A19-B966-0F16FBF0EF79}";
constexpr const char* kMarshaler = "{00020424-0000-0000-C000-000000000046}";

using Values = std::map<std::string, std::string>;
using Hive = std::map<std::string, Values>;

// A hive file's keys (below the root, as written) and string values ("@" for the default value).
Hive ParseHive(const std::string& text) {
    Hive hive;
    Values* current = nullptr;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            std::string key = line.substr(1, line.size() - 2);
            const size_t root = key.find('\\');
            current = &hive[root == std::string::npos ? std::string() : key.substr(root + 1)];
            continue;
        }
        const size_t equals = line.find("=\"");
        if (current == nullptr || equals == std::string::npos) continue;
        std::string name = line.substr(0, equals);
        if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.size() - 2);
        std::string value;
        for (size_t i = equals + 2; i + 1 < line.size(); ++i) {
            if (line[i] == '\\' && i + 2 < line.size()) ++i;
            value += line[i];
        }
        (*current)[name] = value;
    }
    return hive;
}

// Keys of `hive` that start with one of `prefixes`.
Hive Below(const Hive& hive, std::initializer_list<std::string> prefixes) {
    Hive out;
    for (const auto& [key, values] : hive) {
        for (const std::string& p : prefixes) {
            if (key == p || key.rfind(p + "\\", 0) == 0) out[key] = values;
        }
    }
    return out;
}

struct Ran {
    int status = -1;  // exit status, or -1 when it had to be killed
    std::string out;
    std::string err;
};

class AutomationTest : public ::testing::Test {
protected:
    void SetUp() override {
        inst_.MakeCollection(20);
        savedHome_ = std::getenv("SINJO_HOME");
        // This process reaches the installation's server too (platform clients, its address).
        setenv("SINJO_HOME", inst_.home().c_str(), 1);
    }
    void TearDown() override {
        inst_.Stop();
        setenv("SINJO_HOME", savedHome_.c_str(), 1);
    }

    // Runs a program with the installation's environment and waits for it.
    Ran Run(const std::string& program, const std::vector<std::string>& args, int timeoutMs = 60000) {
        const std::string outPath = (inst_.root() / "run.out").string();
        const std::string errPath = (inst_.root() / "run.err").string();
        std::vector<std::string> words{program};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        const std::string home = inst_.home().string();
        const std::string capture = (inst_.root() / "capture.txt").string();
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("SINJO_HOME", home.c_str(), 1);
            setenv("SINJO_HEADLESS", "1", 1);
            setenv("SINJO_MEDIA_BACKEND", "simulated", 1);
            setenv("SINJO_CAPTURE", capture.c_str(), 1);
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        Ran ran;
        ran.status = WaitFor(pid, timeoutMs);
        ran.out = e2e::ReadFile(outPath);
        ran.err = e2e::ReadFile(errPath);
        return ran;
    }
    Ran Sinjo(const std::vector<std::string>& args) { return Run(inst_.program().string(), args); }
    // Starts the program with the installation's environment, output to files; waitable with WaitFor.
    pid_t Launch(const std::vector<std::string>& args) {
        std::vector<std::string> words{inst_.program().string()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        const std::string home = inst_.home().string();
        const std::string log = (inst_.root() / "launched.txt").string();
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("SINJO_HOME", home.c_str(), 1);
            setenv("SINJO_HEADLESS", "1", 1);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }
    Ran Ctl(const std::vector<std::string>& args) { return Run(std::string(SINJO_BIN_DIR) + "/sinjoctl", args); }

    // The exit status, or -1 after killing a process that did not end in time.
    static int WaitFor(pid_t pid, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // Waits until `pid` (not our child) has ended.
    static bool Ended(pid_t pid, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            if (!platform::ProcessRunning(pid)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // The process that serves the profile now, from the owner lock's file; 0 when none.
    pid_t Server() const {
        const platform::LocalServerAddress a = platform::GetLocalServerAddress();
        const pid_t pid = std::atoi(e2e::ReadFile(fs::path(a.folder) / a.lockName).c_str());
        return platform::ProcessRunning(pid) ? pid : 0;
    }
    bool SocketExists() const {
        const platform::LocalServerAddress a = platform::GetLocalServerAddress();
        return fs::exists(fs::path(a.folder) / a.socketName);
    }
    Hive Classes() const { return ParseHive(e2e::ReadFile(inst_.home() / "classes.reg")); }
    std::string Capture() const { return e2e::ReadFile(inst_.root() / "capture.txt"); }

    Hive ExpectedRegistration() const {
        const std::string program = inst_.program().string();
        const std::string clsid = std::string("CLSID\\") + kClsid;
        const std::string iface = std::string("Interface\\") + kIid;
        const std::string lib = std::string("TypeLib\\") + kLibid;
        return {
            {"AppID", {}},
            {std::string("AppID\\") + kAppId, {{"@", "Sinjo"}}},
            {"AppID\\Sinjo.EXE", {{"AppID", kAppId}}},
            {"CLSID", {}},
            {clsid, {{"@", "Door Class"}, {"AppID", kAppId}}},
            {clsid + "\\LocalServer32", {{"@", "\"" + program + "\""}}},
            {clsid + "\\ProgID", {{"@", "Sinjo.Door.1"}}},
            {clsid + "\\Programmable", {}},
            {clsid + "\\TypeLib", {{"@", kLibid}}},
            {clsid + "\\VersionIndependentProgID", {{"@", "Sinjo.Door"}}},
            {"Interface", {}},
            {iface, {{"@", "IDoor"}}},
            {iface + "\\ProxyStubClsid", {{"@", kMarshaler}}},
            {iface + "\\ProxyStubClsid32", {{"@", kMarshaler}}},
            {iface + "\\TypeLib", {{"@", kLibid}, {"Version", "1.0"}}},
            {"Sinjo.Door", {{"@", "Door Class"}}},
            {"Sinjo.Door\\CLSID", {{"@", kClsid}}},
            {"Sinjo.Door\\CurVer", {{"@", "Sinjo.Door.1"}}},
            {"Sinjo.Door.1", {{"@", "Door Class"}}},
            {"Sinjo.Door.1\\CLSID", {{"@", kClsid}}},
            {"TypeLib", {}},
            {lib, {}},
            {lib + "\\1.0", {{"@", "Sinjo 1.0 Type Library"}}},
            {lib + "\\1.0\\0", {}},
            {lib + "\\1.0\\0\\win32", {{"@", program}}},
            {lib + "\\1.0\\FLAGS", {{"@", "0"}}},
            {lib + "\\1.0\\HELPDIR", {{"@", inst_.program().parent_path().string()}}},
        };
    }

    // The queue's song numbers as the phone page's "queue_list" shows them.
    std::vector<int> PhoneQueue() {
        HttpClient phone(inst_.port());
        const std::string list = phone.Get("/queue_list").body;
        std::vector<int> ids;
        for (size_t at = list.find("<tr class="); at != std::string::npos; at = list.find("<tr class=", at + 1)) {
            const std::string row = list.substr(at, list.find("</tr>", at) - at);
            const size_t song = row.find("Song");
            ids.push_back(song == std::string::npos ? -1 : std::atoi(row.c_str() + song + 4));
        }
        return ids;
    }

    Installation inst_;
    std::string savedHome_;
};

TEST_F(AutomationTest, RegisterWritesExactlyTheScriptsAndTheTypeLibraryWithoutAWindow) {
    for (const char* sw : {"/RegServer", "-regserver", "-REGISTER"}) {
        fs::remove(inst_.home() / "classes.reg");
        const auto start = std::chrono::steady_clock::now();
        const Ran ran = Sinjo({sw});
        EXPECT_EQ(ran.status, 0) << sw << ran.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << "a register run ends at once";
        EXPECT_EQ(Classes(), ExpectedRegistration()) << sw;
        EXPECT_EQ(ran.out, "") << sw;
        EXPECT_FALSE(HttpClient(inst_.port()).connected()) << "no web server in a register run";
    }
    EXPECT_FALSE(fs::exists(inst_.home() / "user.reg")) << "registration does not touch the settings";
    EXPECT_FALSE(SocketExists());
}

TEST_F(AutomationTest, UnregisterRemovesWhatTheTablesSayAndKeepsSharedKeys) {
    ASSERT_EQ(Sinjo({"-Regserver"}).status, 0);
    // Another program's entries under the shared keys.
    std::string text = e2e::ReadFile(inst_.home() / "classes.reg");
    text += "\n[HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}]\n@=\"Other Class\"\n";
    text += "\n[HKEY_CLASSES_ROOT\\AppID\\Other.EXE]\n\"AppID\"=\"{x}\"\n";
    e2e::WriteFile(inst_.home() / "classes.reg", text);

    const Ran ran = Sinjo({"/UNREGISTER", "notes.txt"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    const Hive left = Classes();
    EXPECT_EQ(Below(left, {"AppID", "CLSID", "Sinjo.Door", "Sinjo.Door.1"}),
              (Hive{{"AppID", {}},
                    {"AppID\\Other.EXE", {{"AppID", "{x}"}}},
                    {"CLSID", {}},
                    {"CLSID\\{11111111-2222-3333-4444-555555555555}", {{"@", "Other Class"}}}}));
    EXPECT_TRUE(Below(left, {std::string("TypeLib\\") + kLibid, std::string("Interface\\") + kIid}).empty());
    // Unregistering again finds nothing to remove and is no failure.
    EXPECT_EQ(Sinjo({"-Unregserver"}).status, 0);
}

TEST_F(AutomationTest, EmbeddingComesBeforeRegserverAndTheRunServesUntilItsClientIsDone) {
    const pid_t pid = Launch({"-Embedding", "-Regserver"});
    // No registration, so activation by ProgID cannot find it: reach it the way a client of this profile does.
    platform::ComPtr<platform::IDispatch> door;
    for (int i = 0; i < 2000 && !door; ++i) {
        if (platform::FAILED(platform::ConnectLocalInstance(platform::CLSID{0xB672550C, 0x254D, 0x4B0E,
                                                                            {0x9B, 0xC6, 0x12, 0xA2, 0xDF, 0xC7, 0xB9, 0x1D}},
                                                            platform::IID_IDispatch, door.ReleaseAndGetVoidAddress()))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_TRUE(door) << platform::GetLastErrorDescription();
    EXPECT_FALSE(fs::exists(inst_.home() / "classes.reg")) << "the embedding run registered nothing";
    const platform::InvokeResult url = platform::InvokeByName(*door.Get(), L"ServeUrl", platform::DISPATCH_PROPERTYGET, {});
    EXPECT_EQ(url.hr, platform::S_OK);
    EXPECT_EQ(url.value.bstrVal, L"http://localhost:8080");
    // What needs the jukebox's objects fails; nothing else exists in this run.
    for (const wchar_t* member : {L"GetQSongCount", L"Reload", L"AudioSource", L"NextScriptToExecute"}) {
        EXPECT_EQ(platform::InvokeByName(*door.Get(), member, platform::DISPATCH_METHOD | platform::DISPATCH_PROPERTYGET,
                                         {}).hr,
                  platform::E_FAIL)
            << platform::ToUtf8(member);
    }
    EXPECT_EQ(platform::InvokeByName(*door.Get(), L"ExecScript", platform::DISPATCH_METHOD,
                                     std::vector<platform::Variant>{platform::Variant::Bstr(L""),
                                                                    platform::Variant::Bstr(L"x()")}).hr,
              platform::E_FAIL);
    EXPECT_FALSE(HttpClient(inst_.port()).connected()) << "no web server in an automation run";
    door.Reset();
    EXPECT_EQ(WaitFor(pid, 20000), 0) << "the last object released ends the run, cleanly";
    EXPECT_FALSE(SocketExists());
}

TEST_F(AutomationTest, SinjoctlStartsAServerThatEndsAfterItAndWhenItsClientIsKilled) {
    ASSERT_EQ(Sinjo({"-Regserver"}).status, 0);
    Ran ran = Ctl({"ServeUrl"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, "http://localhost:8080\n");
    // The server it started ends by itself once sinjoctl has released its object.
    for (int i = 0; i < 2000 && (Server() != 0 || SocketExists()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Server(), 0);
    EXPECT_FALSE(SocketExists());

    ran = Ctl({"--list"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.out.find("SinjoLib 1.0 (Sinjo 1.0 Type Library)"), std::string::npos) << ran.out;
    EXPECT_NE(ran.out.find("  10  method  QueueSong(LONG id, VARIANT_BOOL begin)"), std::string::npos) << ran.out;
    EXPECT_NE(ran.out.find("property NextScriptToExecute"), std::string::npos);

    // A client that is killed while it holds its object: the server notices and ends.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t client = fork();
    if (client == 0) {
        close(ready[0]);
        platform::ComPtr<platform::IDispatch> door;
        platform::CLSID clsid;
        if (platform::SUCCEEDED(platform::CLSIDFromProgID(L"Sinjo.Door", &clsid)) &&
            platform::SUCCEEDED(platform::CoCreateInstance(clsid, nullptr, platform::CLSCTX_LOCAL_SERVER,
                                                           platform::IID_IDispatch, door.ReleaseAndGetVoidAddress()))) {
            const char one = 1;
            ssize_t ignored = write(ready[1], &one, 1);
            (void)ignored;
        }
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the client got no object";
    close(ready[0]);
    const pid_t server = Server();
    ASSERT_NE(server, 0);
    kill(client, SIGKILL);
    waitpid(client, nullptr, 0);
    EXPECT_TRUE(Ended(server, 20000)) << "a dead client releases its object";
}

TEST_F(AutomationTest, ANormalRunServesOutsideClientsOnItsCatalogueAndQueue) {
    ASSERT_TRUE(inst_.Start({}, {"song.avi"})) << inst_.output();  // a file name has no effect
    // Registration works while the jukebox runs.
    ASSERT_EQ(Sinjo({"-Regserver"}).status, 0);

    Ran ran = Ctl({"QueueSong", "4", "true"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(PhoneQueue(), std::vector<int>{4});
    HttpClient phone(inst_.port());
    ASSERT_EQ(phone.Get("/control?act=queue_song&param=7").body, "OK");
    ran = Ctl({"GetQSongCount"});
    EXPECT_EQ(ran.out, "2\n") << ran.err;
    EXPECT_EQ(Ctl({"GetQSong", "1", "NAME"}).out, "Song7\n");
    EXPECT_EQ(Ctl({"--id", "10", "5", "0"}).status, 0);
    EXPECT_EQ(PhoneQueue(), (std::vector<int>{4, 7, 5}));

    // The audio source: the control status and the channel the plug-in reads change.
    auto channel = [&] {
        const std::string text = e2e::ReadFile(inst_.home() / "user.reg");
        const size_t at = text.find("\"AudioSource\"=dword:");
        return at == std::string::npos ? std::string() : text.substr(at + 20, 8);
    };
    EXPECT_EQ(channel(), "00000002") << "song 4 keeps its accompaniment on the right";
    EXPECT_EQ(Ctl({"AudioSource"}).out, "karaoke\n");
    ran = Ctl({"AudioSource=original"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(Ctl({"audiosource"}).out, "original\n");
    EXPECT_NE(phone.Get("/update_control_status").body.find("getElementById('original').style.color = 'green'"),
              std::string::npos);
    EXPECT_EQ(channel(), "00000001");

    // ExecScript reaches the main window; headless there is no page, and its outcome is not reported.
    EXPECT_EQ(Ctl({"ExecScript", "remote", "SetFocusOnSearch()"}).status, 0);
    // Failures: the HRESULT in hexadecimal with its name, exit status 1; bad usage, 2.
    ran = Ctl({"QueueSong", "abc", "true"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("0x80020005 DISP_E_TYPEMISMATCH (argument 1)"), std::string::npos) << ran.err;
    ran = Ctl({"GetQSong", "9", "name"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("0x80004005 E_FAIL"), std::string::npos) << ran.err;
    ran = Ctl({"Dance"});
    EXPECT_NE(ran.err.find("0x80020006 DISP_E_UNKNOWNNAME"), std::string::npos) << ran.err;
    ran = Ctl({"QueueSong"});
    EXPECT_NE(ran.err.find("0x8002000E DISP_E_BADPARAMCOUNT"), std::string::npos) << ran.err;
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {}, {"--bogus"}, {"--id"}, {"--id", "x"}, {"=x"}, {"AudioSource=a", "b"}, {"--list", "x"}}) {
        ran = Ctl(bad);
        EXPECT_EQ(ran.status, 2);
        EXPECT_NE(ran.err.find("usage: sinjoctl"), std::string::npos) << ran.err;
    }
    EXPECT_EQ(PhoneQueue(), (std::vector<int>{4, 7, 5})) << "no failed call changed the queue";

    // The jukebox closes while a client holds its object: it ends as always, and the client hears of it.
    platform::ComPtr<platform::IDispatch> door;
    platform::CLSID clsid;
    ASSERT_EQ(platform::CLSIDFromProgID(L"Sinjo.Door", &clsid), platform::S_OK);
    ASSERT_EQ(platform::ConnectLocalInstance(clsid, platform::IID_IDispatch, door.ReleaseAndGetVoidAddress()),
              platform::S_OK);
    EXPECT_GE(inst_.Stop(), 0);
    EXPECT_TRUE(WIFEXITED(inst_.exitStatus()) && WEXITSTATUS(inst_.exitStatus()) == 0) << inst_.output();
    EXPECT_EQ(platform::InvokeById(*door.Get(), 12, platform::DISPATCH_METHOD, {}).hr, platform::RPC_E_DISCONNECTED);
    EXPECT_FALSE(SocketExists());
}

TEST_F(AutomationTest, RenamingThroughSinjoctlRenamesTheFilesAndWritesTheLog) {
    const fs::path rip = inst_.root() / "user" / "Faye-Album";
    for (const char* name : {"track01.mp3", "track02.mp3"}) {
        e2e::WriteFile(rip / name, "");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the oldest file is track 1
    }
    inst_.SetSetting("setting:UserMtvRootDir", (inst_.root() / "user").string());
    // Album renaming works below the NaduMtv root, on the folder named by the album's dir.
    const fs::path nadu = inst_.root() / "nadu";
    inst_.SetSetting("setting:NaduMtvRootDir", nadu.string());
    ASSERT_TRUE(inst_.Start()) << inst_.output();
    ASSERT_EQ(Sinjo({"-Regserver"}).status, 0);

    // RenameAlbum on the folder's catalogue album: the log names each file, and (catalogue albums list no
    // tracks) renames none.
    const Ran count = Ctl({"GetAlbumCount"});
    int album = -1;
    for (int i = 0; i < std::atoi(count.out.c_str()); ++i) {
        if (Ctl({"GetAlbum", std::to_string(i), "song_count"}).out == "2\n") album = i;
    }
    ASSERT_GE(album, 0) << "the folder is an album of the catalogue";
    std::string dir = Ctl({"GetAlbum", std::to_string(album), "dir"}).out;
    dir.pop_back();
    e2e::WriteFile(nadu / dir / "first.avi", "");
    e2e::WriteFile(nadu / dir / "second.avi", "");
    Ran ran = Ctl({"RenameAlbum", std::to_string(album), "mtv"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    std::string capture = Capture();
    ASSERT_NE(capture.rfind("open\t"), std::string::npos) << capture;
    const std::string logPath = capture.substr(capture.rfind("open\t") + 5, capture.rfind('\n') - capture.rfind("open\t") - 5);
    std::string log = e2e::ReadFile(logPath);
    EXPECT_NE(log.find("Working album: " + nadu.string() + "\\" + dir), std::string::npos) << log;
    EXPECT_NE(log.find("IGNORE: file name: "), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(nadu / dir / "first.avi"));

    ran = Ctl({"RenameFolder", rip.string(), "artist: Faye\n1 Red Beans\n2: Cold War\n"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(fs::exists(rip / "Faye-Red Beans.mp3"));
    EXPECT_TRUE(fs::exists(rip / "Faye-Cold War.mp3"));
    EXPECT_FALSE(fs::exists(rip / "track01.mp3"));
    // The log was opened again with the desktop's viewer; it says what happened.
    capture = Capture();
    EXPECT_EQ(std::count(capture.begin(), capture.end(), '\n'), 2) << "both runs showed their log: " << capture;
    log = e2e::ReadFile(logPath);
    EXPECT_NE(log.find("Working album: " + rip.string()), std::string::npos) << log;
    EXPECT_NE(log.find("SUCCESS"), std::string::npos) << log;
}

TEST_F(AutomationTest, OtherRunsLeaveTheSettingsUntouchedAndASecondJukeboxKeepsOut) {
    const std::string settings = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Nadusoft\\Sinjo\\Options]\n\"pref:Mine\"=\"1\"\n";
    e2e::WriteFile(inst_.home() / "user.reg", settings);
    struct stat before {};
    ASSERT_EQ(stat((inst_.home() / "user.reg").c_str(), &before), 0);
    EXPECT_EQ(Sinjo({"-Regserver"}).status, 0);
    EXPECT_EQ(Ctl({"ServeUrl"}).status, 0);  // an automation-server run, started and ended
    for (int i = 0; i < 2000 && Server() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Sinjo({"-Unregserver"}).status, 0);
    struct stat after {};
    ASSERT_EQ(stat((inst_.home() / "user.reg").c_str(), &after), 0);
    EXPECT_EQ(e2e::ReadFile(inst_.home() / "user.reg"), settings);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ino, before.st_ino);

    // A jukebox runs; a second start on the same profile ends at once and leaves the first one's socket.
    ASSERT_TRUE(inst_.Start()) << inst_.output();
    ASSERT_EQ(Sinjo({"-Regserver"}).status, 0);
    const pid_t first = Server();
    ASSERT_EQ(first, inst_.pid());
    const Ran second = Sinjo({});
    EXPECT_EQ(second.status, 2) << second.err;
    EXPECT_EQ(second.out + second.err, "") << "it ends silently";
    EXPECT_EQ(Server(), first);
    EXPECT_EQ(Ctl({"GetQSongCount"}).out, "0\n");
}

TEST_F(AutomationTest, HostileClientsGetClearErrorsAndTheJukeboxKeepsServing) {
    ASSERT_TRUE(inst_.Start()) << inst_.output();
    ASSERT_EQ(Sinjo({"-Regserver"}).status, 0);
    ASSERT_EQ(Ctl({"QueueSong", "3", "0"}).status, 0);
    ASSERT_EQ(Ctl({"QueueSong", "8", "0"}).status, 0);
    const platform::LocalServerAddress address = platform::GetLocalServerAddress();
    auto exchange = [&](const std::string& bytes) -> std::optional<platform::wire::Response> {
        const int fd = platform::ConnectLocalServer(address);
        if (fd < 0) return std::nullopt;
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        std::string in;
        char buffer[65536];
        ssize_t n;
        timeval wait{20, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        uint32_t length = 0;
        std::string error;
        while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            in.append(buffer, static_cast<size_t>(n));
            if (in.size() >= 4 && platform::wire::ReadFrameLength(in.substr(0, 4), &length, &error) &&
                in.size() >= 4 + length) {
                break;
            }
        }
        close(fd);
        platform::wire::Response response;
        if (in.size() < 4 || !platform::wire::DecodeResponse(std::string_view(in).substr(4, length), &response, &error)) {
            return std::nullopt;
        }
        return response;
    };
    const std::string garbage[] = {
        std::string("\x05\x00\x00\x00hello", 9),             // no such request
        "GET / HTTP/1.1\r\nHost: x\r\n\r\n",                 // the wrong protocol
        std::string("\xFF\xFF\xFF\x7F", 4),                  // a body of 2 GiB announced
        std::string("\x06\x00\x00\x00N\xFF\xFF\x00\x00\x00", 10),  // a string longer than its message
    };
    for (const std::string& bytes : garbage) {
        const std::optional<platform::wire::Response> r = exchange(bytes);
        ASSERT_TRUE(r) << "no answer to " << bytes;
        EXPECT_EQ(r->hr, platform::RPC_E_INVALID_DATAPACKET);
        EXPECT_FALSE(r->message.empty());
    }
    // A thousand connections opened and dropped, half of them halfway through a request.
    for (int i = 0; i < 1000; ++i) {
        const int fd = platform::ConnectLocalServer(address);
        ASSERT_GE(fd, 0) << i;
        if (i % 2 == 0) send(fd, "\x30\x00\x00\x00" "C", 5, MSG_NOSIGNAL);
        close(fd);
    }
    // Nothing was lost, and the jukebox still answers its phones and its automation clients.
    EXPECT_EQ(Ctl({"GetQSongCount"}).out, "2\n");
    EXPECT_EQ(PhoneQueue(), (std::vector<int>{3, 8}));
    for (int i = 0; i < 1000 && platform::LocalServerConnectionCount() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The socket's mode keeps other users out, and where it does not (root passes any mode), the peer's
// credentials do: a jukebox run by nobody refuses a client run by root.
TEST_F(AutomationTest, AnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run processes as another user";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv";
    ASSERT_EQ(Sinjo({"-Regserver"}).status, 0);
    // The installation belongs to nobody; its folders are readable on the way.
    for (fs::path p = inst_.root(); p != p.root_path(); p = p.parent_path()) {
        struct stat st {};
        if (stat(p.c_str(), &st) == 0 && (st.st_mode & 0005) != 0005) chmod(p.c_str(), st.st_mode | 0005);
    }
    for (const auto& entry : fs::recursive_directory_iterator(inst_.root())) {
        lchown(entry.path().c_str(), 65534, 65534);
    }
    lchown(inst_.root().c_str(), 65534, 65534);
    const pid_t server = fork();
    if (server == 0) {
        setenv("SINJO_HOME", inst_.home().c_str(), 1);
        setenv("SINJO_HEADLESS", "1", 1);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--",
              inst_.program().c_str(), "-Embedding", static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 2000 && !SocketExists(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(SocketExists());
    const Ran ran = Ctl({"ServeUrl"});  // this test runs as root
    kill(server, SIGTERM);
    EXPECT_EQ(WaitFor(server, 20000), 0);
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("0x80070005 E_ACCESSDENIED"), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find("serves only its own user (uid 65534)"), std::string::npos) << ran.err;
}

}  // namespace
