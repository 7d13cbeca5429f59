#include "library/FileEnumerater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder below the test process's TMPDIR.
fs::path MakeTempDir() {
    std::string pattern = (fs::path(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") / "walkXXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    return fs::path(pattern);
}

void Touch(const fs::path& path, const std::string& content = "x") {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << content;
}

std::wstring W(const fs::path& p) { return platform::FromUtf8(p.string()); }

struct Visit {
    std::wstring path;
    uint32_t size;
    uint32_t attributes;
    uint64_t write_time;
};

class Recorder final : public nutl::FileEnumerater<std::wstring> {
public:
    void OnEnterDirectory(const std::wstring& dir) override { entered.push_back(dir); }
    void OnFile(const std::wstring& path, uint32_t size, uint32_t attributes, uint64_t, uint64_t,
                uint64_t write_time) override {
        files.push_back({path, size, attributes, write_time});
        if (stop_after > 0 && files.size() >= stop_after) stop = true;
    }
    std::vector<std::wstring> Paths() const {
        std::vector<std::wstring> out;
        for (const Visit& v : files) out.push_back(v.path);
        std::sort(out.begin(), out.end());
        return out;
    }

    std::vector<std::wstring> entered;
    std::vector<Visit> files;
    size_t stop_after = 0;
};

std::vector<std::wstring> Walk(const std::vector<std::wstring>& rootList, bool recursive = true) {
    std::vector<std::wstring> roots = rootList;
    Recorder r;
    r.roots = &roots;
    r.recursive = recursive;
    r.Run();
    return r.Paths();
}

TEST(FileEnumeraterTest, JoinPath) {
    struct Case {
        const wchar_t* first;
        const wchar_t* second;
        const wchar_t* joined;
    } cases[] = {
        {L"", L"b", L"b"},          {L"a", L"", L"a"},           {L"a", L"b", L"a\\b"},
        {L"a\\", L"b", L"a\\b"},    {L"a", L"\\b", L"a\\b"},     {L"a\\", L"\\b", L"a\\\\b"},
        {L"/x/", L"b", L"/x/b"},    {L"C:\\Mtv", L"a.avi", L"C:\\Mtv\\a.avi"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nutl::FileEnumerater<std::wstring>::JoinPath(c.first, c.second), c.joined)
            << c.first << " + " << c.second;
    }
}

TEST(FileEnumeraterTest, WalksTreeAndReportsFileDetails) {
    const fs::path dir = MakeTempDir();
    Touch(dir / "a.mp3", "12345");
    Touch(dir / "sub" / "b.avi");
    Touch(dir / "sub" / "deeper" / ".hidden.wmv");
    fs::create_directories(dir / "empty");
    // A known modification time, to see that the write time (not another time) reaches the hook.
    const std::string a = (dir / "a.mp3").string();
    struct timespec times[2] = {{1000000000, 0}, {1500000000, 250}};
    ASSERT_EQ(utimensat(AT_FDCWD, a.c_str(), times, 0), 0);

    std::vector<std::wstring> roots{W(dir)};
    Recorder r;
    r.roots = &roots;
    r.Run();

    EXPECT_EQ(r.Paths(), (std::vector<std::wstring>{W(dir) + L"\\a.mp3",
                                                    W(dir) + L"\\sub\\b.avi",
                                                    W(dir) + L"\\sub\\deeper\\.hidden.wmv"}));
    auto it = std::find_if(r.files.begin(), r.files.end(),
                           [&](const Visit& v) { return v.path == W(dir) + L"\\a.mp3"; });
    ASSERT_NE(it, r.files.end());
    EXPECT_EQ(it->size, 5u);
    EXPECT_EQ(it->write_time, platform::FileTimeFromUnixNanos(1500000000LL * 1000000000LL + 250));
    EXPECT_EQ(it->attributes & platform::FILE_ATTRIBUTE_DIRECTORY, 0u);
    // Every directory is entered once, the empty one included.
    EXPECT_EQ(r.entered.size(), 4u);
    fs::remove_all(dir);
}

TEST(FileEnumeraterTest, RootForms) {
    const fs::path dir = MakeTempDir();
    Touch(dir / "x" / "a.mp3");
    Touch(dir / "x" / "s" / "b.mp3");
    Touch(dir / "single.avi");

    // A trailing separator on the root gives the same paths below it.
    EXPECT_EQ(Walk({W(dir / "x") + L"\\"}), Walk({W(dir / "x")}));
    // A POSIX root with a trailing slash gives no doubled separator and names the same files.
    std::vector<std::string> slashRoot, plainRoot;
    for (const std::wstring& p : Walk({W(dir / "x") + L"/"})) slashRoot.push_back(platform::NativePath(p));
    for (const std::wstring& p : Walk({W(dir / "x")})) plainRoot.push_back(platform::NativePath(p));
    EXPECT_EQ(slashRoot, plainRoot);
    EXPECT_EQ(slashRoot.front(), (dir / "x" / "a.mp3").string());

    // A root that is a file is reported once under the root text itself.
    EXPECT_EQ(Walk({W(dir / "single.avi")}), std::vector<std::wstring>{W(dir / "single.avi")});

    // Without recursion, only the root's own files.
    EXPECT_EQ(Walk({W(dir / "x")}, false), std::vector<std::wstring>{W(dir / "x") + L"\\a.mp3"});

    // Missing and empty roots are skipped; the others are still walked, in list order.
    std::vector<std::wstring> roots{W(dir / "missing"), L"", W(dir / "single.avi"), W(dir / "x")};
    Recorder r;
    r.roots = &roots;
    r.recursive = false;
    r.Run();
    ASSERT_EQ(r.files.size(), 2u);
    EXPECT_EQ(r.files[0].path, W(dir / "single.avi"));
    EXPECT_EQ(r.files[1].path, W(dir / "x") + L"\\a.mp3");
    fs::remove_all(dir);
}

TEST(FileEnumeraterTest, EmptyDirectoryAndFailedListing) {
    const fs::path dir = MakeTempDir();
    Recorder r;
    EXPECT_TRUE(r.EnumDirectory(W(dir)));
    EXPECT_TRUE(r.files.empty());
    EXPECT_FALSE(r.EnumDirectory(W(dir / "nothing-here")));
    // The same walker can list the same folder again in a new walk.
    EXPECT_TRUE(r.EnumDirectory(W(dir)));
    fs::remove_all(dir);
}

TEST(FileEnumeraterTest, StopFlagEndsTheWalk) {
    const fs::path dir = MakeTempDir();
    for (int i = 0; i < 5; ++i) Touch(dir / ("f" + std::to_string(i)));
    Touch(dir / "second" / "g");
    std::vector<std::wstring> roots{W(dir), W(dir / "second")};
    Recorder r;
    r.roots = &roots;
    r.stop_after = 2;
    r.Run();
    EXPECT_EQ(r.files.size(), 2u);
    fs::remove_all(dir);
}

TEST(FileEnumeraterTest, LinkLoopsEndAndLinkedFoldersCountOnce) {
    const fs::path dir = MakeTempDir();
    Touch(dir / "root" / "a" / "song.mp3");
    Touch(dir / "elsewhere" / "linked.mp3");
    fs::create_directory_symlink("..", dir / "root" / "a" / "up");          // loop back to root
    fs::create_directory_symlink(".", dir / "root" / "self");               // loop onto itself
    fs::create_directory_symlink(dir / "elsewhere", dir / "root" / "l1");  // two ways into one folder
    fs::create_directory_symlink(dir / "elsewhere", dir / "root" / "a" / "l2");
    fs::create_symlink(dir / "gone", dir / "root" / "dangling.mp3");

    std::vector<std::wstring> roots{W(dir / "root")};
    Recorder r;
    r.roots = &roots;
    r.Run();  // must end
    int song = 0;
    int linked = 0;
    for (const Visit& v : r.files) {
        if (v.path.ends_with(L"song.mp3")) ++song;
        if (v.path.ends_with(L"linked.mp3")) ++linked;
    }
    EXPECT_EQ(song, 1);
    EXPECT_EQ(linked, 1);

    // A second walk by the same object sees everything again.
    r.files.clear();
    r.Run();
    EXPECT_GE(r.files.size(), 2u);
    fs::remove_all(dir);
}

TEST(FileEnumeraterTest, UnreadableFolderIsSkipped) {
    const fs::path dir = MakeTempDir();
    Touch(dir / "ok.mp3");
    Touch(dir / "locked" / "hidden.mp3");
    const std::string locked = (dir / "locked").string();
    platform::SetAccessHook([&](const std::string& native) { return native != locked; });
    EXPECT_EQ(Walk({W(dir)}), std::vector<std::wstring>{W(dir) + L"\\ok.mp3"});
    platform::SetAccessHook(nullptr);
    fs::remove_all(dir);
}

// Names on disk may hold a backslash, which path text reads as a separator: joined as they are, a folder
// named "..\x" would take the walk out of the folder it was asked to walk. Such names are passed over.
TEST(FileEnumeraterTest, NamesWithBackslashesNeverLeadOutOfTheFolder) {
    const fs::path dir = MakeTempDir();
    Touch(dir / "outside.mp3");
    Touch(dir / "other" / "elsewhere.mp3");
    Touch(dir / "user" / "mine.mp3");
    Touch(dir / "user" / "..\\outside.mp3");                   // a file whose name climbs out
    fs::create_directory(dir / "user" / "..\\other");          // a folder whose name climbs out
    EXPECT_EQ(Walk({W(dir / "user")}), std::vector<std::wstring>{W(dir / "user") + L"\\mine.mp3"});
    fs::remove_all(dir);
}

TEST(FindFilesTest, RecordsPathsAndWriteTimes) {
    const fs::path dir = MakeTempDir();
    Touch(dir / "one.avi");
    Touch(dir / "sub" / "two.avi");
    const std::string one = (dir / "one.avi").string();
    struct timespec times[2] = {{0, UTIME_OMIT}, {1234567890, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, one.c_str(), times, 0), 0);

    std::vector<FoundFile> flat;
    FindFiles(W(dir), false, &flat);
    ASSERT_EQ(flat.size(), 1u);
    EXPECT_EQ(flat[0].path, W(dir) + L"\\one.avi");
    EXPECT_EQ(flat[0].write_time, platform::FileTimeFromUnixNanos(1234567890LL * 1000000000LL));

    std::vector<FoundFile> deep;
    FindFiles(W(dir), true, &deep);
    EXPECT_EQ(deep.size(), 2u);

    // Without a results list the walk still runs and records nothing; FindFiles must not write anywhere.
    Touch(dir / "sub" / "three.avi");
    FindFiles(W(dir), true, nullptr);
    std::vector<FoundFile> after;
    FindFiles(W(dir), true, &after);
    EXPECT_EQ(after.size(), 3u);
    fs::remove_all(dir);
}

}  // namespace
