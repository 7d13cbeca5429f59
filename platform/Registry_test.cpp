#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

const wchar_t kKey[] = L"Software\\Nadusoft\\Sinjo\\Options";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Replaces a file the way another program would: a new file renamed over the old one.
void WriteFile(const std::string& path, const std::string& bytes) {
    const std::string tmp = path + ".test-tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    fs::rename(tmp, path);
}

std::wstring QueryText(RegRoot root, std::wstring_view key, std::wstring_view name) {
    RegValue v;
    if (RegQueryValue(root, key, name, &v) != ERROR_SUCCESS) return L"<missing>";
    return v.type == REG_SZ ? v.text : L"<not a string>";
}

std::vector<std::wstring> ValueNames(RegRoot root, std::wstring_view key) {
    std::vector<std::wstring> names;
    for (const RegValue& v : RegEnumValues(root, key)) names.push_back(v.name);
    return names;
}

// Every test gets its own profile folder, so hives, locks and .bad copies never leak between tests.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("SINJO_HOME");
        ASSERT_NE(base, nullptr);
        m_oldHome = base;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_home = m_oldHome + "/reg-" + info->name();
        fs::create_directories(m_home);
        setenv("SINJO_HOME", m_home.c_str(), 1);
        m_user = RegHivePath(RegRoot::CurrentUser);
    }
    void TearDown() override { setenv("SINJO_HOME", m_oldHome.c_str(), 1); }

    std::string m_oldHome;
    std::string m_home;
    std::string m_user;
};

TEST_F(RegistryTest, HivesLiveInTheProfileFolderAndTheFolderIsCreatedOnFirstWrite) {
    const std::string deeper = m_home + "/not/yet/there";
    setenv("SINJO_HOME", deeper.c_str(), 1);
    EXPECT_EQ(RegHivePath(RegRoot::CurrentUser), deeper + "/user.reg");
    EXPECT_EQ(RegHivePath(RegRoot::ClassesRoot), deeper + "/classes.reg");
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, L"A"));
    EXPECT_FALSE(fs::exists(deeper));  // reading creates nothing

    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"A", L"x", L"1"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(RegRoot::ClassesRoot, L"CLSID", L"", L"c"), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(deeper + "/user.reg"), "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n");
    EXPECT_EQ(ReadFile(deeper + "/classes.reg"), "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID]\n@=\"c\"\n");
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"CLSID", L""), L"<missing>");  // roots are separate
}

TEST_F(RegistryTest, WrittenTextMatchesTheFormatAndReadsBackFromAFreshFile) {
    struct Case {
        std::wstring name;
        std::wstring text;
        std::string line;  // the line expected in the file
    };
    const Case cases[] = {
        {L"setting:WebServerPort", L"8080", "\"setting:WebServerPort\"=\"8080\""},
        {L"path", L"C:\\Mtv\\", "\"path\"=\"C:\\\\Mtv\\\\\""},
        {L"quote \"q\"", L"say \"hi\"", "\"quote \\\"q\\\"\"=\"say \\\"hi\\\"\""},
        {L"", L"default", "@=\"default\""},
        {L"@", L"not the default", "\"@\"=\"not the default\""},
        {L"歌手", L"周杰伦 – 晴天", "\"歌手\"=\"周杰伦 – 晴天\""},
        {L"lines", L"a\nb\r\nc", "\"lines\"=\"a\\nb\\r\\nc\""},
        {L"empty", L"", "\"empty\"=\"\""},
        {L"emoji", L"\U0001F3A4", "\"emoji\"=\"\xF0\x9F\x8E\xA4\""},
    };
    std::string expected = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Nadusoft]\n"
                           "\n[HKEY_CURRENT_USER\\Software\\Nadusoft\\Sinjo]\n\n"
                           "[HKEY_CURRENT_USER\\Software\\Nadusoft\\Sinjo\\Options]\n";
    for (const Case& c : cases) {
        ASSERT_EQ(RegSetString(RegRoot::CurrentUser, kKey, c.name, c.text), ERROR_SUCCESS);
        expected += c.line + "\n";
    }
    ASSERT_EQ(RegSetDword(RegRoot::CurrentUser, kKey, L"AudioSource", 0xABCD0001u), ERROR_SUCCESS);
    expected += "\"AudioSource\"=dword:abcd0001\n";
    const std::string written = ReadFile(m_user);
    EXPECT_EQ(written, expected);

    // Parse the same text from a file this process has never seen (new inode, cache must not help).
    fs::remove(m_user);
    WriteFile(m_user, written);
    for (const Case& c : cases) EXPECT_EQ(QueryText(RegRoot::CurrentUser, kKey, c.name), c.text);
    RegValue v;
    ASSERT_EQ(RegQueryValue(RegRoot::CurrentUser, kKey, L"audiosource", &v), ERROR_SUCCESS);
    EXPECT_EQ(v.type, REG_DWORD);
    EXPECT_EQ(v.dword, 0xABCD0001u);
    EXPECT_EQ(v.name, L"AudioSource");

    // Rewriting what was read changes nothing.
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"Other", L"x", L"y"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTree(RegRoot::CurrentUser, L"Other"), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(m_user), expected);
}

TEST_F(RegistryTest, NamesIgnoreLetterCaseAndKeepTheFirstSpelling) {
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"Software\\Nadusoft", L"Name", L"a"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"SOFTWARE\\NADUSOFT\\New", L"NAME", L"b"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"software\\nadusoft", L"NAME", L"c"), ERROR_SUCCESS);
    // Beyond ASCII too.
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"Ärger", L"Ωmega", L"1"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"äRGER", L"ωMEGA", L"2"), ERROR_SUCCESS);

    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"sOfTwArE\\nAdUsOfT", L"name"), L"c");
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"ärger", L"ΩMEGA"), L"2");
    EXPECT_EQ(ValueNames(RegRoot::CurrentUser, L"Software\\Nadusoft"), std::vector<std::wstring>{L"Name"});
    EXPECT_EQ(RegEnumSubKeys(RegRoot::CurrentUser, L"software\\nadusoft"), std::vector<std::wstring>{L"New"});
    const std::string text = ReadFile(m_user);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Nadusoft\\New]\n\"NAME\"=\"b\"\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Ärger]\n\"Ωmega\"=\"2\"\n"), std::string::npos);
    EXPECT_EQ(text.find("SOFTWARE"), std::string::npos);
}

TEST_F(RegistryTest, OrderOfSectionsSubkeysAndValues) {
    for (const wchar_t* key : {L"b", L"A\\c", L"a b", L"a", L"A\\B"})
        ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, key), ERROR_SUCCESS);
    for (const wchar_t* name : {L"zeta", L"alpha", L"Mid"})
        ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"b", name, L"v"), ERROR_SUCCESS);

    // A parent is followed by its whole subtree; siblings in case-insensitive order.
    EXPECT_EQ(ReadFile(m_user),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\n[HKEY_CURRENT_USER\\A\\B]\n\n[HKEY_CURRENT_USER\\A\\c]\n"
              "\n[HKEY_CURRENT_USER\\a b]\n\n[HKEY_CURRENT_USER\\b]\n\"zeta\"=\"v\"\n\"alpha\"=\"v\"\n"
              "\"Mid\"=\"v\"\n");
    EXPECT_EQ(RegEnumSubKeys(RegRoot::CurrentUser, L""), (std::vector<std::wstring>{L"A", L"a b", L"b"}));
    EXPECT_EQ(RegEnumSubKeys(RegRoot::CurrentUser, L"a"), (std::vector<std::wstring>{L"B", L"c"}));
    EXPECT_EQ(ValueNames(RegRoot::CurrentUser, L"B"), (std::vector<std::wstring>{L"zeta", L"alpha", L"Mid"}));
    EXPECT_TRUE(RegEnumSubKeys(RegRoot::CurrentUser, L"missing").empty());
    EXPECT_TRUE(RegEnumValues(RegRoot::CurrentUser, L"missing").empty());
}

TEST_F(RegistryTest, ParentsOfAHandWrittenSectionExist) {
    WriteFile(m_user, "REGEDIT4\n\n[HKEY_CURRENT_USER\\A\\B\\C]\n\"v\"=\"1\"\n");
    EXPECT_TRUE(RegKeyExists(RegRoot::CurrentUser, L"A"));
    EXPECT_TRUE(RegKeyExists(RegRoot::CurrentUser, L"a\\b"));
    EXPECT_TRUE(RegKeyExists(RegRoot::CurrentUser, L"A\\B\\C\\"));  // one trailing separator is fine
    EXPECT_TRUE(RegKeyExists(RegRoot::CurrentUser, L""));
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, L"A\\B\\C\\D"));
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, L"A\\B\\C "));
    EXPECT_EQ(RegEnumSubKeys(RegRoot::CurrentUser, L""), std::vector<std::wstring>{L"A"});
    EXPECT_EQ(RegEnumSubKeys(RegRoot::CurrentUser, L"A"), std::vector<std::wstring>{L"B"});

    // Deleting the child keeps the parents, which are real keys now.
    ASSERT_EQ(RegDeleteTree(RegRoot::CurrentUser, L"A\\B\\C"), ERROR_SUCCESS);
    EXPECT_TRUE(RegKeyExists(RegRoot::CurrentUser, L"A\\B"));
    EXPECT_EQ(ReadFile(m_user), "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\n[HKEY_CURRENT_USER\\A\\B]\n");
}

TEST_F(RegistryTest, DeleteValueAndTree) {
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"A", L"one", L"1"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"A", L"two", L"2"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"A", L"three", L"3"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"A\\B\\C", L"deep", L"d"), ERROR_SUCCESS);
    // Siblings whose names start like "A" must survive the deletion of A's tree.
    for (const wchar_t* key : {L"AB", L"A B", L"A-", L"B"})
        ASSERT_EQ(RegSetString(RegRoot::CurrentUser, key, L"keep", L"k"), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValue(RegRoot::CurrentUser, L"a", L"TWO"), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(RegRoot::CurrentUser, L"A"), (std::vector<std::wstring>{L"one", L"three"}));
    EXPECT_EQ(RegDeleteValue(RegRoot::CurrentUser, L"A", L"two"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValue(RegRoot::CurrentUser, L"Nope", L"one"), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegDeleteTree(RegRoot::CurrentUser, L"a"), ERROR_SUCCESS);
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, L"A"));
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, L"A\\B\\C"));
    for (const wchar_t* key : {L"AB", L"A B", L"A-", L"B"}) EXPECT_EQ(QueryText(RegRoot::CurrentUser, key, L"keep"), L"k") << key;
    EXPECT_EQ(RegDeleteTree(RegRoot::CurrentUser, L"A"), ERROR_FILE_NOT_FOUND);

    // The whole root: every key goes, the root stays.
    EXPECT_EQ(RegDeleteTree(RegRoot::CurrentUser, L""), ERROR_SUCCESS);
    EXPECT_TRUE(RegEnumSubKeys(RegRoot::CurrentUser, L"").empty());
    EXPECT_EQ(ReadFile(m_user), "REGEDIT4\n");
}

TEST_F(RegistryTest, BadArgumentsAreRefusedAndWriteNothing) {
    for (const wchar_t* key : {L"\\A", L"A\\\\B", L"\\", L"A\nB", L"A\\B\r"}) {
        EXPECT_EQ(RegSetString(RegRoot::CurrentUser, key, L"n", L"v"), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(RegCreateKey(RegRoot::CurrentUser, key), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(RegDeleteTree(RegRoot::CurrentUser, key), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(RegQueryValue(RegRoot::CurrentUser, key, L"n", nullptr), ERROR_INVALID_PARAMETER);
        EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, key));
    }
    EXPECT_FALSE(fs::exists(m_user));
}

TEST_F(RegistryTest, QueryValueBytesAsThePlatformHandsThemOut) {
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"K", L"s", L"A中\U0001F3A4"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"K", L"empty", L""), ERROR_SUCCESS);
    ASSERT_EQ(RegSetDword(RegRoot::CurrentUser, L"K", L"d", 0x12345678u), ERROR_SUCCESS);
    struct Case {
        const wchar_t* name;
        uint32_t type;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {L"s", REG_SZ, {0x41, 0x00, 0x2D, 0x4E, 0x3C, 0xD8, 0xA4, 0xDF, 0x00, 0x00}},
        {L"empty", REG_SZ, {0x00, 0x00}},
        {L"d", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
    };
    for (const Case& c : cases) {
        uint32_t type = REG_NONE;
        std::vector<uint8_t> data{0xEE};
        ASSERT_EQ(RegQueryValueBytes(RegRoot::CurrentUser, L"k", c.name, &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(data, c.bytes) << c.name;
    }
    uint32_t type = 99;
    EXPECT_EQ(RegQueryValueBytes(RegRoot::CurrentUser, L"K", L"none", &type, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueBytes(RegRoot::CurrentUser, L"none", L"s", &type, nullptr), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, DamagedLinesAreSkippedReportedOnceAndKeptBeforeTheFirstWrite) {
    const std::string damaged =
        "REGEDIT4\n"
        "\"orphan\"=\"before any section\"\n"
        "[HKEY_CURRENT_USER\\Good]\n"
        "\"keep\"=\"me\"\n"
        "\"unterminated\"=\"oops\n"
        "\"bin\"=hex:01,02\n"
        "\"bigdword\"=dword:123456789\n"
        "garbage line\n"
        "\"gbk\"=\"\xD6\xD0\xCE\xC4\"\n"
        "\"also\"=dword:00000007\n"
        "[HKEY_CLASSES_ROOT\\Wrong\\Hive]\n"
        "\"lost\"=\"under a bad header\"\n"
        "[HKEY_CURRENT_USER\\Unclosed\n"
        "[HKEY_CURRENT_USER\\Next]\n"
        "\"fine\"=\"too\"\n";
    WriteFile(m_user, damaged);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"Good", L"keep"), L"me");
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"Next", L"fine"), L"too");
    EXPECT_EQ(ValueNames(RegRoot::CurrentUser, L"Good"), (std::vector<std::wstring>{L"keep", L"also"}));
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, L"Wrong"));
    for (int i = 0; i < 5; ++i) RegKeyExists(RegRoot::CurrentUser, L"Good");
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("9 damaged line(s)"), std::string::npos) << report;
    EXPECT_EQ(report.find("damaged", report.find("damaged") + 1), std::string::npos) << "reported more than once";

    // Reading changes nothing on disk; the first write keeps the damaged bytes aside.
    EXPECT_FALSE(fs::exists(m_user + ".bad"));
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"Good", L"new", L"value"), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(m_user + ".bad"), damaged);
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"Good", L"keep"), L"me");
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"Next", L"fine"), L"too");
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"Good", L"newer", L"value"), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(m_user + ".bad"), damaged);  // a clean file is written without another copy

    // A second damaged version does not replace the first copy.
    const std::string damaged2 = ReadFile(m_user) + "more garbage\n";
    WriteFile(m_user, damaged2);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"Good", L"third", L"value"), ERROR_SUCCESS);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadFile(m_user + ".bad"), damaged);
    EXPECT_EQ(ReadFile(m_user + ".bad.1"), damaged2);
    EXPECT_EQ(ValueNames(RegRoot::CurrentUser, L"Good"),
              (std::vector<std::wstring>{L"keep", L"also", L"new", L"newer", L"third"}));
}

TEST_F(RegistryTest, AHiveThatCannotBeReadReadsEmptyAndIsNeverWrittenOver) {
    fs::create_directory(m_user);  // a directory where the file should be
    fs::create_directory(m_user + "/inside");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, L"A"));
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"A", L"x"), L"<missing>");
    EXPECT_EQ(RegSetString(RegRoot::CurrentUser, L"A", L"x", L"1"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTree(RegRoot::CurrentUser, L""), ERROR_ACCESS_DENIED);
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("cannot be read"), std::string::npos) << report;
    EXPECT_TRUE(fs::is_directory(m_user + "/inside"));

    // Once the obstacle is gone, writing works again.
    fs::remove_all(m_user);
    EXPECT_EQ(RegSetString(RegRoot::CurrentUser, L"A", L"x", L"1"), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"A", L"x"), L"1");

    // A profile folder that cannot be made: the write says so.
    const std::string blocked = m_home + "/file";
    std::ofstream(blocked) << "x";
    setenv("SINJO_HOME", (blocked + "/profile").c_str(), 1);
    EXPECT_EQ(RegSetString(RegRoot::CurrentUser, L"A", L"x", L"1"), ERROR_CANTWRITE);
}

TEST_F(RegistryTest, ChangesByOthersAreSeenEvenWithEqualSizeAndTime) {
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"K", L"v", L"1"), ERROR_SUCCESS);
    // An old time stamp makes the cached parse trusted, so only the stat can tell a change.
    const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, m_user.c_str(), old, 0), 0);
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"K", L"v"), L"1");
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"K", L"v"), L"1");

    // Rewritten in place: same inode, same size, time stamp put back.
    std::string text = ReadFile(m_user);
    text[text.rfind('1')] = '2';
    {
        std::fstream f(m_user, std::ios::in | std::ios::out | std::ios::binary);
        f.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    ASSERT_EQ(utimensat(AT_FDCWD, m_user.c_str(), old, 0), 0);
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"K", L"v"), L"2");

    // Replaced by another process right after our own write.
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"K", L"v", L"3"), ERROR_SUCCESS);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(RegSetString(RegRoot::CurrentUser, L"K", L"v", L"4") == ERROR_SUCCESS ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"K", L"v"), L"4");
}

TEST_F(RegistryTest, NoChangeMeansNoWrite) {
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"K", L"v", L"1"), ERROR_SUCCESS);
    struct stat before {};
    ASSERT_EQ(stat(m_user.c_str(), &before), 0);
    EXPECT_EQ(RegSetString(RegRoot::CurrentUser, L"k", L"V", L"1"), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKey(RegRoot::CurrentUser, L"K"), ERROR_SUCCESS);
    EXPECT_EQ(RegSetStrings(RegRoot::CurrentUser, L"K", {}), ERROR_SUCCESS);
    struct stat after {};
    ASSERT_EQ(stat(m_user.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(RegistryTest, SetStringsIsOneWriteAndTheLastOfCaseTwinsWins) {
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, kKey, L"pref:FullScreen", L"true"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetStrings(RegRoot::CurrentUser, kKey,
                            {{L"pref:fullscreen", L"false"}, {L"a", L"1"}, {L"A", L"2"}, {L"b", L"3"}}),
              ERROR_SUCCESS);
    const auto values = RegEnumValues(RegRoot::CurrentUser, kKey);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, L"pref:FullScreen");
    EXPECT_EQ(values[0].text, L"false");
    EXPECT_EQ(values[1].name, L"a");
    EXPECT_EQ(values[1].text, L"2");
    EXPECT_EQ(values[2].text, L"3");
}

// Writers in several processes and threads at once: no write may be lost.
TEST_F(RegistryTest, ConcurrentWritersFromManyProcessesLoseNothing) {
    constexpr int kProcesses = 4;
    constexpr int kThreads = 2;  // in this process, alongside the children
    constexpr int kValues = 200;
    ASSERT_EQ(RegSetString(RegRoot::CurrentUser, L"Shared", L"before", L"kept"), ERROR_SUCCESS);

    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(go[1]);
            char c;
            (void)!read(go[0], &c, 1);  // start together: wait until the parent closes the pipe
            int failures = 0;
            for (int i = 0; i < kValues; ++i) {
                const std::wstring name = L"p" + std::to_wstring(p) + L"_" + std::to_wstring(i);
                if (RegSetString(RegRoot::CurrentUser, L"Shared", name, name + L"=value") != ERROR_SUCCESS)
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    close(go[0]);
    std::atomic<int> threadFailures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &threadFailures] {
            for (int i = 0; i < kValues / 8; ++i) {
                const std::wstring name = L"t" + std::to_wstring(t) + L"_" + std::to_wstring(i);
                if (RegSetString(RegRoot::CurrentUser, L"Shared", name, name + L"=value") != ERROR_SUCCESS)
                    ++threadFailures;
                RegKeyExists(RegRoot::CurrentUser, L"Shared");  // readers race the writers
            }
        });
    }
    close(go[1]);
    for (auto& th : threads) th.join();
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(threadFailures.load(), 0);

    const auto values = RegEnumValues(RegRoot::CurrentUser, L"Shared");
    EXPECT_EQ(values.size(), 1u + kProcesses * kValues + kThreads * (kValues / 8));
    for (int p = 0; p < kProcesses; ++p) {
        for (int i = 0; i < kValues; ++i) {
            const std::wstring name = L"p" + std::to_wstring(p) + L"_" + std::to_wstring(i);
            ASSERT_EQ(QueryText(RegRoot::CurrentUser, L"Shared", name), name + L"=value");
        }
    }
    EXPECT_EQ(QueryText(RegRoot::CurrentUser, L"Shared", L"before"), L"kept");
    // No temporary file is left behind.
    for (const auto& entry : fs::directory_iterator(m_home))
        EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace platform
