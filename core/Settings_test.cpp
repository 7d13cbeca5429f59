#include "core/Settings.h"

#include "platform/FileSystem.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using platform::RegRoot;

std::wstring Stored(const Settings& s, const std::wstring& name) {
    platform::RegValue v;
    if (platform::RegQueryValue(RegRoot::CurrentUser, s.OptionsKey(), name, &v) != platform::ERROR_SUCCESS)
        return L"<missing>";
    return v.text;
}

// Each test has its own profile folder, so one test's saved settings never feed the next.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("SINJO_HOME");
        ASSERT_NE(base, nullptr);
        m_oldHome = base;
        const std::string home =
            m_oldHome + "/settings-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(home);
        setenv("SINJO_HOME", home.c_str(), 1);
    }
    void TearDown() override { setenv("SINJO_HOME", m_oldHome.c_str(), 1); }

    std::string m_oldHome;
};

TEST(SettingsHelpers, DirectoryPart) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Program Files\\Sinjo\\Sinjo.exe", L"C:\\Program Files\\Sinjo"},
        {L"C:\\Program Files\\Sinjo\\\\Sinjo.exe", L"C:\\Program Files\\Sinjo"},  // doubled separator
        {L"/opt/sinjo//Sinjo", L"/opt/sinjo"},
        {L"/opt/sinjo/\\Sinjo", L"/opt/sinjo"},
        {L"/work/build/bin/Sinjo", L"/work/build/bin"},
        {L"C:\\Mtv\\", L"C:\\Mtv"},
        {L"Sinjo.exe", L""},
        {L"", L""},
        {L"/Sinjo", L""},
    };
    for (const auto& [path, folder] : cases) EXPECT_EQ(GetDirectoryPart(path), folder) << path;
}

TEST(SettingsHelpers, SplitSkipsEmptyPiecesAndAppends) {
    std::vector<std::wstring> list{L"kept"};
    EXPECT_EQ(Split(L" mp3;;AVI, wmv ;dat,", L", ;", list), 5u);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"kept", L"mp3", L"AVI", L"wmv", L"dat"}));
    EXPECT_EQ(Split(L";; ,", L", ;", list), 5u);
    EXPECT_EQ(Split(L"a;b", L"", list), 6u);  // no delimiters: one piece
    EXPECT_EQ(list.back(), L"a;b");
}

TEST(SettingsHelpers, FormatIntAndProgramIdentity) {
    EXPECT_EQ(FormatInt(0), L"0");
    EXPECT_EQ(FormatInt(-8080), L"-8080");
    EXPECT_EQ(FormatInt(INT32_MIN), L"-2147483648");
    EXPECT_EQ(GetProgramPath(), platform::ProgramPath());
    EXPECT_EQ(Settings::DefaultApplicationName(), L"core_tests");
    EXPECT_EQ(Settings(L"Sinjo").OptionsKey(), L"Software\\Nadusoft\\Sinjo\\Options");
}

TEST_F(SettingsTest, GetIntReadsTheLeadingIntegerLikeAtoi) {
    const std::pair<const wchar_t*, int32_t> cases[] = {
        {L"8081abc", 8081},
        {L"abc", 0},
        {L"", 0},
        {L"  \t\n-12x", -12},
        {L"+7", 7},
        {L"- 5", 0},
        {L"007", 7},
        {L"2147483647", INT32_MAX},
        {L"-2147483648", INT32_MIN},
        {L"2147483648", INT32_MAX},  // beyond the range: clamped, never wrapped
        {L"99999999999999999999999999", INT32_MAX},
        {L"-99999999999999999999999999", INT32_MIN},
    };
    Settings s(L"IntTest");
    for (const auto& [text, expected] : cases) {
        s.Set(L"setting:Number", text);
        EXPECT_EQ(s.GetInt(L"setting:Number", 5), expected) << text;
    }
    // The port: the profile's text, or the default written as text and cached.
    ASSERT_EQ(platform::RegSetString(RegRoot::CurrentUser, s.OptionsKey(), L"setting:WebServerPort", L"8081abc"),
              platform::ERROR_SUCCESS);
    EXPECT_EQ(s.GetWebServerPort(), 8081);
    Settings fresh(L"IntTest2");
    EXPECT_EQ(fresh.GetWebServerPort(), 8080);
    EXPECT_EQ(fresh.Get(L"setting:WebServerPort", L"9"), L"8080");
}

TEST_F(SettingsTest, TheFirstReaderFixesTheValue) {
    Settings s(L"FirstReader");
    EXPECT_EQ(s.Get(L"setting:Missing", L"A"), L"A");
    EXPECT_EQ(s.Get(L"setting:Missing", L"B"), L"A");
    EXPECT_EQ(s.Get(L"setting:NoDefault", nullptr), L"");
    EXPECT_EQ(s.Get(L"setting:NoDefault", L"late"), L"");

    // A profile value beats the default; a later change in the profile is not seen for a cached key.
    ASSERT_EQ(platform::RegSetString(RegRoot::CurrentUser, s.OptionsKey(), L"setting:Stored", L"profile"),
              platform::ERROR_SUCCESS);
    EXPECT_EQ(s.Get(L"setting:Stored", L"default"), L"profile");
    ASSERT_EQ(platform::RegSetString(RegRoot::CurrentUser, s.OptionsKey(), L"setting:Stored", L"changed"),
              platform::ERROR_SUCCESS);
    EXPECT_EQ(s.Get(L"setting:Stored", L"default"), L"profile");

    // A value that is not a string cannot be read as one: the default is taken.
    ASSERT_EQ(platform::RegSetDword(RegRoot::CurrentUser, s.OptionsKey(), L"setting:Dword", 3),
              platform::ERROR_SUCCESS);
    EXPECT_EQ(s.Get(L"setting:Dword", L"def"), L"def");

    // Set replaces whatever was read.
    s.Set(L"setting:Missing", L"C");
    EXPECT_EQ(s.Get(L"setting:Missing", L"A"), L"C");
}

TEST_F(SettingsTest, ConcurrentFirstReadersAllSeeOneValue) {
    Settings s(L"Concurrent");
    constexpr int kThreads = 8;
    std::vector<std::wstring> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&s, &seen, t] {
            const std::wstring def = L"default" + std::to_wstring(t);
            for (int i = 0; i < 50; ++i) {
                seen[t] = s.Get(L"setting:Race", def.c_str());
                s.Set(L"pref:Thread" + std::to_wstring(t), std::to_wstring(i));
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(std::set<std::wstring>(seen.begin(), seen.end()).size(), 1u);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(s.Get(L"pref:Thread" + std::to_wstring(t), nullptr), L"49");
}

TEST_F(SettingsTest, LoadSeedsDefaultsAndAFirstRunSavesThem) {
    const std::wstring programFolder = GetDirectoryPart(platform::ProgramPath());
    ASSERT_FALSE(programFolder.empty());
    {
        Settings s(L"FirstRun");
        s.Load();
        EXPECT_EQ(s.GetWebServerPort(), 8080);
        EXPECT_EQ(s.HtmlFolder(), programFolder + L"\\html");
        EXPECT_EQ(s.GetHtmlPath(L"index.htm"), programFolder + L"\\html\\index.htm");
        EXPECT_EQ(s.GetMtvIndexDir(), programFolder + L"\\mtvindex");
        EXPECT_EQ(s.GetMtvPath(L"a\\b.avi"), L"C:\\Mtv\\a\\b.avi");
        EXPECT_EQ(s.GetNaduMtvPath(L"x.mpg"), L"C:\\NaduMtv\\x.mpg");
        for (const wchar_t* ext : {L"mp3", L"avi", L"dat", L"wmv", L"wma", L"rmvb", L"RMVB"})
            EXPECT_TRUE(s.IsUserMtvExt(ext)) << ext;
        EXPECT_FALSE(s.IsUserMtvExt(L"mp4"));
        EXPECT_FALSE(s.IsUserMtvExt(L""));
        s.Save();
    }
    Settings probe(L"FirstRun");
    const std::pair<const wchar_t*, std::wstring> expected[] = {
        {L"pref:FullScreen", L"false"},
        {L"setting:MtvRootDir", L"C:\\Mtv"},
        {L"setting:NaduMtvRootDir", L"C:\\NaduMtv"},
        {L"setting:MtvIndexDir", programFolder + L"\\mtvindex"},
        {L"setting:UserMtvExt", L"mp3,avi,dat,wmv,wma,rmvb"},
        {L"setting:WebServerPort", L"8080"},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(Stored(probe, name), value) << name;
    EXPECT_EQ(platform::RegEnumValues(RegRoot::CurrentUser, probe.OptionsKey()).size(), std::size(expected));
}

TEST_F(SettingsTest, ExtensionListFromTheProfile) {
    Settings s(L"Exts");
    ASSERT_EQ(platform::RegSetString(RegRoot::CurrentUser, s.OptionsKey(), L"setting:UserMtvExt",
                                     L" mp3;;AVI, mkv"),
              platform::ERROR_SUCCESS);
    s.Load();
    for (const wchar_t* ext : {L"avi", L"AVI", L"Avi", L"mp3", L"mkv"}) EXPECT_TRUE(s.IsUserMtvExt(ext)) << ext;
    for (const wchar_t* ext : {L"wmv", L"av", L"avi ", L" mp3", L"", L"mp3;"}) EXPECT_FALSE(s.IsUserMtvExt(ext)) << ext;
    s.Load();  // loading again must not change the answers
    EXPECT_TRUE(s.IsUserMtvExt(L"mkv"));
    EXPECT_EQ(s.GetUserMtvExt(), L" mp3;;AVI, mkv");  // kept as written
}

TEST_F(SettingsTest, SaveWritesTheCacheAndANewStoreReadsIt) {
    {
        Settings s(L"RoundTrip");
        s.Set(L"pref:AudioSource", L"original");
        s.Set(L"setting:Path", L"D:\\歌曲\\\"quoted\"");
        s.Set(L"pref:Case", L"upper");
        s.Set(L"pref:case", L"lower");
        EXPECT_EQ(s.Get(L"pref:Case", nullptr), L"upper");  // two cache entries
        EXPECT_EQ(s.Get(L"pref:case", nullptr), L"lower");
        s.Save();
        s.Save();  // saving twice changes nothing
    }
    Settings again(L"RoundTrip");
    EXPECT_EQ(again.Get(L"pref:AudioSource", L"karaoke"), L"original");
    EXPECT_EQ(again.Get(L"setting:Path", nullptr), L"D:\\歌曲\\\"quoted\"");
    // Both spellings end in one profile value; the one written last ("pref:case" sorts after
    // "pref:Case") wins.
    EXPECT_EQ(again.Get(L"pref:CASE", nullptr), L"lower");
    EXPECT_EQ(platform::RegEnumValues(RegRoot::CurrentUser, again.OptionsKey()).size(), 3u);
    EXPECT_EQ(Settings(L"OtherApp").Get(L"pref:AudioSource", L"karaoke"), L"karaoke");
}

TEST_F(SettingsTest, SaveKeepsWhatAnotherProcessWroteMeanwhile) {
    Settings s(L"Shared");
    s.Load();
    s.Set(L"pref:AudioSource", L"mine");
    EXPECT_EQ(s.Get(L"pref:FullScreen", nullptr), L"false");

    // While this store runs, another process writes a setting of its own, one this store has
    // cached, and a value of another key.
    const std::wstring key = s.OptionsKey();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = platform::RegSetString(RegRoot::CurrentUser, key, L"page:Theme", L"dark") == platform::ERROR_SUCCESS;
        ok = ok && platform::RegSetString(RegRoot::CurrentUser, key, L"pref:FullScreen", L"true") ==
                       platform::ERROR_SUCCESS;
        ok = ok && platform::RegSetDword(RegRoot::CurrentUser, L"Software\\Nadusoft\\Shared\\Plugin",
                                         L"AudioSource", 2) == platform::ERROR_SUCCESS;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    s.Save();
    EXPECT_EQ(Stored(s, L"page:Theme"), L"dark");
    EXPECT_EQ(Stored(s, L"pref:AudioSource"), L"mine");
    EXPECT_EQ(Stored(s, L"pref:FullScreen"), L"false");  // cached at start-up: the store's value wins
    platform::RegValue v;
    ASSERT_EQ(platform::RegQueryValue(RegRoot::CurrentUser, L"Software\\Nadusoft\\Shared\\Plugin", L"AudioSource", &v),
              platform::ERROR_SUCCESS);
    EXPECT_EQ(v.dword, 2u);
}

TEST_F(SettingsTest, PerfTimerStoresTheElapsedMilliseconds) {
    Settings s(L"Perf");
    {
        PerfTimer timer(&s, L"perf:LoadArtists");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    const std::wstring text = s.Get(L"perf:LoadArtists", L"unset");
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_not_of(L"0123456789"), std::wstring::npos) << text;
    EXPECT_GE(s.GetInt(L"perf:LoadArtists", -1), 30);
    { PerfTimer nothing(nullptr, L"perf:None"); }  // no store: nothing happens
}

}  // namespace
