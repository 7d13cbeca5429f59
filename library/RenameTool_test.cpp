#include "library/RenameTool.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"

namespace {

namespace fs = std::filesystem;

using Track = std::pair<std::wstring, std::wstring>;  // artist, title

std::vector<Track> Tracks(const Album& album) {
    std::vector<Track> out;
    for (const Song& song : album.songs) out.emplace_back(song.artist, song.name);
    return out;
}

// ---- description parser ---------------------------------------------------------------------------------

TEST(ParseAlbumDescriptionTest, TrackLines) {
    struct Case {
        const wchar_t* text;
        std::vector<Track> tracks;
    };
    const Case cases[] = {
        // The four kinds of track line: "song" key, number and colon, number and space, plain text.
        {L"artist: Band\nsong1: One\nsong: Guest: Two\n3: Three\n04 Four\nFive",
         {{L"Band", L"One"}, {L"Guest", L"Two"}, {L"Band", L"Three"}, {L"Band", L"Four"}, {L"Band", L"Five"}}},
        // A plain track before any "artist" line has no artist; the album artist applies from its line on.
        {L"Early\nartist: Late\nLater", {{L"", L"Early"}, {L"Late", L"Later"}}},
        // Two colons split at the first; the rest, trimmed, is the title.
        {L"A: B: C", {{L"A", L"B: C"}}},
        {L"song7:  A  :  B :C  ", {{L"A", L"B :C"}}},
        // A number and a space before "artist: title"; a key that is not all digits is the whole line.
        {L"01 Someone: Song", {{L"Someone", L"Song"}}},
        {L"12abc def", {{L"", L"12abc def"}}},
        {L"Artist: X", {{L"Artist", L"X"}}},  // keys are case-sensitive: a track line
        {L"songbook", {{L"", L""}}},          // key starting with "song", no value: dropped
        // An empty key counts as digits; empty titles are dropped.
        {L": Only title\n5:\nsong:   \n7: Who:\n:", {{L"", L"Only title"}}},
        // Comments only at the very start of a line; trimming is spaces, tabs, CR, LF only.
        {L"#artist: X\n #hash\n\t song2 :\tTabbed \t", {{L"", L"#hash"}, {L"", L"Tabbed"}}},
        {L"\x3000Wide", {{L"", L"\x3000Wide"}}},
        // CR, CRLF and runs of line ends all separate lines.
        {L"a\rb\r\nc\n\n\r\r\nd", {{L"", L"a"}, {L"", L"b"}, {L"", L"c"}, {L"", L"d"}}},
    };
    for (const Case& c : cases) {
        Album album;
        ASSERT_TRUE(ParseAlbumDescription(c.text, &album)) << c.text;
        std::vector<Track> expected;
        for (const Track& t : c.tracks) {
            if (!t.second.empty()) expected.push_back(t);
        }
        EXPECT_EQ(Tracks(album), expected) << c.text;
        EXPECT_EQ(album.kind, described_album);
    }
}

TEST(ParseAlbumDescriptionTest, AlbumFieldsAndBreak) {
    Album album;
    ASSERT_TRUE(ParseAlbumDescription(L"  artist :  周杰伦 \r\nalbum: 七里香\ndir: a\\b\ndir_org: o\ndir_mp3: m\n"
                                      L"ignore: true\nignore: yes\n",
                                      &album));
    EXPECT_EQ(album.artist, L"周杰伦");
    EXPECT_EQ(album.name, L"七里香");
    EXPECT_EQ(album.dir, L"a\\b");
    EXPECT_EQ(album.dir_org, L"o");
    EXPECT_EQ(album.dir_mp3, L"m");
    EXPECT_TRUE(album.ignore);  // a later value other than "true" does not clear it
    EXPECT_TRUE(album.songs.empty());

    Album other;
    ASSERT_TRUE(ParseAlbumDescription(L"ignore: True\nIgnore: true", &other));
    EXPECT_FALSE(other.ignore);

    for (const wchar_t* text : {L"break", L"One\nTwo\nbreak: now", L"break:\nOne", L"  break  \n"}) {
        Album rejected;
        EXPECT_FALSE(ParseAlbumDescription(text, &rejected)) << text;
    }
}

// ---- renaming on real files -------------------------------------------------------------------------------

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::wstring Wide(const fs::path& path) { return platform::FromUtf8(path.string()); }

// Each test works in its own album folder below TMPDIR. Every file the test makes is noted; when the test
// ends the folder must hold exactly the same multiset of contents: nothing lost, nothing overwritten,
// nothing moved out of the folder.
class RenameToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/rename-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        dir_ = root_ / "album";
        fs::create_directories(dir_);
        platform::SetShellOpenHook([this](std::wstring_view target) {
            opened_.emplace_back(target);
            return true;
        });
    }

    void TearDown() override {
        platform::SetShellOpenHook(nullptr);
        std::multiset<std::string> after;
        for (const auto& [name, content] : Files()) after.insert(content);
        EXPECT_EQ(after, before_) << "files were lost, overwritten or moved out of the album folder";
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // A track file with the given modification time in seconds.
    void AddFile(const std::string& name, const std::string& content, int64_t seconds) {
        const fs::path path = dir_ / fs::u8path(name);
        WriteBytes(path, content);
        const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        before_.insert(content);
    }

    // Name (UTF-8) to content of every file in the album folder, except those named in exempt_.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> out;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            if (!entry.is_regular_file()) continue;
            const std::string name = entry.path().filename().string();
            if (exempt_.count(name) == 0) out[name] = ReadBytes(entry.path());
        }
        return out;
    }

    std::wstring Dir() const { return Wide(dir_); }

    // Runs the folder renamer through SongMan and checks that the log came back and was shown.
    std::wstring Rename(const std::wstring& description, const std::wstring& folder) {
        opened_.clear();
        const std::wstring text = man_.RenameFolder(folder, description);
        EXPECT_EQ(opened_, std::vector<std::wstring>{man_.rename_log_path});
        EXPECT_EQ(platform::MultiByteToWide(platform::CP_GBK, ReadBytes(platform::NativePath(man_.rename_log_path))),
                  text);
        return text;
    }
    std::wstring Rename(const std::wstring& description) { return Rename(description, Dir()); }

    fs::path root_;
    fs::path dir_;
    std::set<std::string> exempt_;
    std::multiset<std::string> before_;
    std::vector<std::wstring> opened_;
    SongMan man_;
};

TEST_F(RenameToolTest, ExactLogBytesWithChineseNames) {
    dir_ = root_ / fs::u8path("专辑");
    fs::create_directories(dir_);
    AddFile("track01.avi", "one", 1'600'000'000);
    AddFile("track02.AVI", "two", 1'600'000'060);
    AddFile("稻香.mpg", "three", 1'600'000'120);

    Rename(L"artist: 周杰伦\n1: 晴天\n2 七里香\n3: 稻香");
    const std::string folder = root_.string() + "/\xD7\xA8\xBC\xAD";
    const std::string expected = "\nWorking album: " + folder + "\n" +
                                 "SUCCESS: renamed track01.avi to \xD6\xDC\xBD\xDC\xC2\xD7-\xC7\xE7\xCC\xEC.avi\n"
                                 "SUCCESS: renamed track02.AVI to \xD6\xDC\xBD\xDC\xC2\xD7-\xC6\xDF\xC0\xEF\xCF\xE3.AVI\n"
                                 "SUCCESS: renamed \xB5\xBE\xCF\xE3.mpg to \xD6\xDC\xBD\xDC\xC2\xD7-\xB5\xBE\xCF\xE3.mpg\n";
    EXPECT_EQ(ReadBytes(platform::NativePath(man_.rename_log_path)), expected);
    const std::map<std::string, std::string> files = {
        {"周杰伦-晴天.avi", "one"}, {"周杰伦-七里香.AVI", "two"}, {"周杰伦-稻香.mpg", "three"}};
    EXPECT_EQ(Files(), files);

    // The three texts without a line feed stand alone in their logs.
    EXPECT_EQ(Rename(L"One\nbreak\nTwo"), L"No album info loaded");
    EXPECT_EQ(ReadBytes(platform::NativePath(man_.rename_log_path)), "No album info loaded");
    EXPECT_EQ(Rename(L"One", L""), L"ERROR: Empty album dir.");
    EXPECT_EQ(Files(), files);
}

TEST_F(RenameToolTest, MoreFilesThanTracksIgnoresTheNewest) {
    // Created in a shuffled order so that listing order and name order both differ from age order.
    AddFile("c.avi", "third", 1'600'000'300);
    AddFile("e.avi", "newest", 1'600'000'900);
    AddFile("a.avi", "second", 1'600'000'200);
    AddFile("d.avi", "fourth", 1'600'000'400);
    AddFile("b.avi", "first", 1'600'000'100);

    const std::wstring log = Rename(L"artist: X\nsong: T1\nsong: T2\nsong: T3\nsong: T4");
    EXPECT_EQ(log, L"\nWorking album: " + Dir() +
                       L"\nWarning: different album file size and index size.\n"
                       L"SUCCESS: renamed b.avi to X-T1.avi\n"
                       L"SUCCESS: renamed a.avi to X-T2.avi\n"
                       L"SUCCESS: renamed c.avi to X-T3.avi\n"
                       L"SUCCESS: renamed d.avi to X-T4.avi\n"
                       L"IGNORE: file name: e.avi\n");
    const std::map<std::string, std::string> renamed = {{"X-T1.avi", "first"},  {"X-T2.avi", "second"},
                                                        {"X-T3.avi", "third"},  {"X-T4.avi", "fourth"},
                                                        {"e.avi", "newest"}};
    EXPECT_EQ(Files(), renamed);

    // The same run again: every file is already right and nothing changes.
    const std::wstring again = Rename(L"artist: X\nsong: T1\nsong: T2\nsong: T3\nsong: T4");
    EXPECT_EQ(again, L"\nWorking album: " + Dir() +
                         L"\nWarning: different album file size and index size.\n"
                         L"SUCCESS: renamed X-T1.avi to X-T1.avi\n"
                         L"SUCCESS: renamed X-T2.avi to X-T2.avi\n"
                         L"SUCCESS: renamed X-T3.avi to X-T3.avi\n"
                         L"SUCCESS: renamed X-T4.avi to X-T4.avi\n"
                         L"IGNORE: file name: e.avi\n");
    EXPECT_EQ(Files(), renamed);
}

TEST_F(RenameToolTest, SecondRunOnAFolderWrittenWithTrailingSeparatorChangesNothing) {
    AddFile("x.mp4", "only", 1'600'000'000);
    for (const std::wstring& folder : {Dir() + L"/", Dir() + L"\\", Dir() + L"/", Dir()}) {
        const std::wstring log = Rename(L"A: B", folder);
        EXPECT_NE(log.find(L"SUCCESS: renamed "), std::wstring::npos) << log;
        EXPECT_EQ(log.find(L"ERROR"), std::wstring::npos) << log;
        EXPECT_EQ(Files(), (std::map<std::string, std::string>{{"A-B.mp4", "only"}}));
    }
}

TEST_F(RenameToolTest, TwoTracksWithTheSameNameKeepBothFiles) {
    AddFile("1.avi", "take one", 1'600'000'000);
    AddFile("2.avi", "take two", 1'600'000'010);
    const std::wstring log = Rename(L"Singer: Song\nSinger: Song");
    EXPECT_EQ(log, L"\nWorking album: " + Dir() +
                       L"\nSUCCESS: renamed 1.avi to Singer-Song.avi\n"
                       L"ERROR: failed to rename 2.avi to Singer-Song.avi\n");
    EXPECT_EQ(Files(), (std::map<std::string, std::string>{{"Singer-Song.avi", "take one"}, {"2.avi", "take two"}}));
}

TEST_F(RenameToolTest, ANameHeldByALaterFileIsNotTakenAndASecondRunFinishes) {
    // Track 1 should become "B.avi", which is the current name of track 2 (to become "C.avi").
    AddFile("A.avi", "track 1", 1'600'000'000);
    AddFile("B.avi", "track 2", 1'600'000'010);
    EXPECT_EQ(Rename(L"B\nC"), L"\nWorking album: " + Dir() +
                                   L"\nERROR: failed to rename A.avi to B.avi\n"
                                   L"SUCCESS: renamed B.avi to C.avi\n");
    EXPECT_EQ(Files(), (std::map<std::string, std::string>{{"A.avi", "track 1"}, {"C.avi", "track 2"}}));

    // Second run: "A.avi" is now the oldest file; "C.avi" (same time as before) still the second.
    EXPECT_EQ(Rename(L"B\nC"), L"\nWorking album: " + Dir() +
                                   L"\nSUCCESS: renamed A.avi to B.avi\n"
                                   L"SUCCESS: renamed C.avi to C.avi\n");
    EXPECT_EQ(Files(), (std::map<std::string, std::string>{{"B.avi", "track 1"}, {"C.avi", "track 2"}}));
}

TEST_F(RenameToolTest, NamesThatWouldLeaveTheFolderAreRefused) {
    fs::create_directories(dir_ / "sub");
    struct Case {
        std::wstring track;
        std::wstring newName;
    };
    const std::vector<Case> cases = {
        {L"AC/DC: Thunder", L"AC/DC-Thunder.avi"},
        {L"Band: up\\down", L"Band-up\\down.avi"},
        {L"Band: ../escape", L"Band-../escape.avi"},
        {L"..: x", L"..-x.avi"},
        {L"Band: .", L"Band-..avi"},
        {L"sub/x", L"sub/x.avi"},
        {std::wstring(L"Band: a") + L'\0' + L"b", std::wstring(L"Band-a") + L'\0' + L"b.avi"},
    };
    std::wstring description;
    std::wstring expected = L"\nWorking album: " + Dir() + L"\n";
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string name = "f" + std::to_string(i) + ".avi";
        AddFile(name, "content " + std::to_string(i), 1'600'000'000 + static_cast<int64_t>(i));
        description += cases[i].track + L"\n";
        expected += L"ERROR: failed to rename " + platform::FromUtf8(name) + L" to " + cases[i].newName + L"\n";
    }
    // A good track after the bad ones is still renamed.
    AddFile("last.avi", "good", 1'600'001'000);
    description += L"Fine: Name";
    expected += L"SUCCESS: renamed last.avi to Fine-Name.avi\n";

    const std::wstring log = Rename(description);
    // The zero character cannot survive the code page round trip unchanged, so compare up to it.
    EXPECT_EQ(log.substr(0, log.find(L"f6.avi")), expected.substr(0, expected.find(L"f6.avi")));
    EXPECT_NE(log.find(L"SUCCESS: renamed last.avi to Fine-Name.avi\n"), std::wstring::npos);
    EXPECT_EQ(Files().count("Fine-Name.avi"), 1u);
    EXPECT_TRUE(fs::is_empty(dir_ / "sub"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);  // only album/
}

// A name on disk holding "\\" reads as a path that climbs out of the folder: "..\\x.avi" would move the
// neighbouring x.avi into the album. Such a file takes its track's place and is refused.
TEST_F(RenameToolTest, AFileNamedWithABackslashIsRefused) {
    WriteBytes(root_ / "x.avi", "neighbour");
    AddFile("..\\x.avi", "planted", 1'600'000'000);
    AddFile("b.avi", "second", 1'600'000'001);
    EXPECT_EQ(Rename(L"A: One\nB: Two"), L"\nWorking album: " + Dir() +
                                            L"\nERROR: failed to rename ..\\x.avi to A-One.avi\n"
                                            L"SUCCESS: renamed b.avi to B-Two.avi\n");
    EXPECT_EQ(ReadBytes(root_ / "x.avi"), "neighbour");
    EXPECT_EQ(Files().count("A-One.avi"), 0u);
    fs::remove(root_ / "x.avi");
}

TEST_F(RenameToolTest, ExtensionsTiesLongNamesAndSubfolders) {
    fs::create_directories(dir_ / "nested");
    WriteBytes(dir_ / "nested" / "inner.avi", "inner");  // not a file of this folder: never a track
    AddFile("zeta", "no extension", 1'600'000'000);
    // Three files of the same time, made in an order that differs from name order both forwards and
    // backwards, so whatever order the folder lists them in, only the name can put them in order.
    AddFile("m.avi", "tie m", 1'600'000'100);
    AddFile("z.tar.GZ", "tie z", 1'600'000'100);
    AddFile("a.mpg", "tie a", 1'600'000'100);
    AddFile("long.avi", "long", 1'600'000'200);

    const std::wstring longTitle(1100, L'x');
    const std::wstring log = Rename(L"One\nTwo\nThree\nFour\n" + longTitle);
    EXPECT_EQ(log, L"\nWorking album: " + Dir() +
                       L"\nSUCCESS: renamed zeta to One\n"
                       L"SUCCESS: renamed a.mpg to Two.mpg\n"
                       L"SUCCESS: renamed m.avi to Three.avi\n"
                       L"SUCCESS: renamed z.tar.GZ to Four.GZ\n"
                       L"ERROR: failed to rename long.avi to " + longTitle + L".avi\n");
    EXPECT_EQ(Files(), (std::map<std::string, std::string>{{"One", "no extension"},
                                                           {"Two.mpg", "tie a"},
                                                           {"Three.avi", "tie m"},
                                                           {"Four.GZ", "tie z"},
                                                           {"long.avi", "long"}}));
    EXPECT_EQ(ReadBytes(dir_ / "nested" / "inner.avi"), "inner");
}

TEST_F(RenameToolTest, MissingFolderAndFileAsFolder) {
    AddFile("song.avi", "song", 1'600'000'000);
    const std::wstring missing = Wide(root_ / "nowhere");
    EXPECT_EQ(Rename(L"A: B", missing),
              L"\nWorking album: " + missing + L"\nWarning: different album file size and index size.\n");
    // A path naming a file is not a folder holding it: nothing is listed, nothing renamed.
    const std::wstring file = Wide(dir_ / "song.avi");
    EXPECT_EQ(Rename(L"A: B", file),
              L"\nWorking album: " + file + L"\nWarning: different album file size and index size.\n");
    EXPECT_EQ(Files().count("song.avi"), 1u);
}

TEST_F(RenameToolTest, LogPathIsMadeOnceAndEveryRunEmptiesIt) {
    AddFile("a.avi", "a", 1'600'000'000);
    EXPECT_TRUE(man_.rename_log_path.empty());
    Rename(L"First: Run");
    const std::wstring path = man_.rename_log_path;
    const std::wstring temp = platform::TempFolder();
    ASSERT_EQ(path.compare(0, temp.size(), temp), 0) << platform::ToUtf8(path);
    const std::string name = platform::ToUtf8(path.substr(temp.size()));
    EXPECT_TRUE(std::regex_match(name, std::regex("/Sin[0-9A-F]{4}\\.tmp\\.TXT"))) << name;
    // The reserving ".tmp" file stays, so no other run can be handed the same name.
    EXPECT_TRUE(fs::exists(platform::NativePath(path.substr(0, path.size() - 4))));

    Rename(L"break");
    EXPECT_EQ(man_.rename_log_path, path);
    EXPECT_EQ(ReadBytes(platform::NativePath(path)), "No album info loaded");

    // Another SongMan of the same process makes its own path.
    SongMan other;
    other.RenameFolder(Dir(), L"break");
    EXPECT_NE(other.rename_log_path, path);
}

TEST_F(RenameToolTest, UnopenableLogGoesToStandardOutput) {
    AddFile("a.avi", "a", 1'600'000'000);
    man_.rename_log_path = Wide(root_ / "no-such-folder" / "log.TXT");
    opened_.clear();
    testing::internal::CaptureStdout();
    const std::wstring text = man_.RenameFolder(Dir(), L"A: B");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::wstring expected = L"\nWorking album: " + Dir() + L"\nSUCCESS: renamed a.avi to A-B.avi\n";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(out, platform::ToUtf8(expected));
    EXPECT_TRUE(opened_.empty());  // there is no file to show
}

// Something planted where the log goes that is not a plain file (here a FIFO that somebody reads) is not
// written to and does not hold the tool up; the log goes to standard output instead.
TEST_F(RenameToolTest, ALogPathThatIsNotAPlainFileIsRefused) {
    const fs::path fifo = root_ / "planted.TXT";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    man_.rename_log_path = Wide(fifo);
    opened_.clear();
    testing::internal::CaptureStdout();
    man_.RenameFolder(Dir(), L"break");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No album info loaded");
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0) << "the log was written into the FIFO";
    EXPECT_TRUE(opened_.empty());
    close(reader);
}

TEST_F(RenameToolTest, LogDoesNotFollowALinkAndIsNeverATrack) {
    // A link planted where the log goes must not make the tool empty another file.
    WriteBytes(root_ / "victim", "precious");
    const fs::path link = root_ / "planted.TXT";
    fs::create_symlink(root_ / "victim", link);
    man_.rename_log_path = Wide(link);
    testing::internal::CaptureStdout();
    man_.RenameFolder(Dir(), L"break");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No album info loaded");
    EXPECT_EQ(ReadBytes(root_ / "victim"), "precious");

    // Renaming the folder that holds the log (the temporary folder itself) leaves the log and its
    // reserving file alone.
    AddFile("track.avi", "track", 1'600'000'000);
    WriteBytes(dir_ / "Sin0001.tmp", "");
    exempt_ = {"Sin0001.tmp", "Sin0001.tmp.TXT"};
    man_.rename_log_path = Wide(dir_ / "Sin0001.tmp.TXT");
    EXPECT_EQ(Rename(L"A: B"), L"\nWorking album: " + Dir() + L"\nSUCCESS: renamed track.avi to A-B.avi\n");
    EXPECT_TRUE(fs::exists(dir_ / "Sin0001.tmp"));
}

// ---- albums of the catalogue --------------------------------------------------------------------------

class RenameAlbumTest : public RenameToolTest {
protected:
    void SetUp() override {
        RenameToolTest::SetUp();
        settings_.Set(L"setting:NaduMtvRootDir", Wide(root_));
        g_settings = &settings_;
    }
    void TearDown() override {
        g_settings = nullptr;
        RenameToolTest::TearDown();
    }

    Album* AddAlbum(int32_t kind, const std::wstring& dir) {
        auto* album = new Album;
        album->kind = kind;
        album->dir = dir;
        album->index = static_cast<int32_t>(man_.albums.size());
        man_.albums.push_back(album);
        return album;
    }

    std::string RunAlbum(int32_t index, const std::wstring& type) {
        opened_.clear();
        man_.RenameAlbum(index, type);
        EXPECT_EQ(opened_, std::vector<std::wstring>{man_.rename_log_path});
        return ReadBytes(platform::NativePath(man_.rename_log_path));
    }

    Settings settings_{L"SinjoRenameTest"};
};

TEST_F(RenameAlbumTest, CatalogueAlbumsOnlyIgnoreTheirFiles) {
    AddFile("b.avi", "b", 1'600'000'100);
    AddFile("a.avi", "a", 1'600'000'000);
    AddAlbum(folder_album, L"album");
    const std::string folder = root_.string() + "\\album";
    EXPECT_EQ(RunAlbum(0, L"mtv"), "\nWorking album: " + folder +
                                       "\nWarning: different album file size and index size.\n"
                                       "IGNORE: file name: a.avi\nIGNORE: file name: b.avi\n");

    // dir_org is empty for a catalogue album; an unknown or differently written type chooses nothing.
    for (const wchar_t* type : {L"org", L"mp3", L"MTV", L"", L"video"}) {
        EXPECT_EQ(RunAlbum(0, type), "ERROR: Directory not specified.") << platform::ToUtf8(type);
    }
    EXPECT_EQ(RunAlbum(1, L"mtv"), "");  // out of range: an empty log
    EXPECT_EQ(RunAlbum(-1, L"mtv"), "");  // no described album in the catalogue
}

TEST_F(RenameAlbumTest, DescribedAlbumsByIndexAndAll) {
    AddFile("1.avi", "one", 1'600'000'000);
    AddFile("2.avi", "two", 1'600'000'010);
    AddAlbum(folder_album, L"album");
    Album* described = AddAlbum(described_album, L"");
    ASSERT_TRUE(ParseAlbumDescription(L"artist: S\ndir_mp3: album\nFirst\nSecond", described));
    AddAlbum(index_album, L"VOD");

    const std::string folder = root_.string() + "\\album";
    EXPECT_EQ(RunAlbum(-5, L"mp3"), "\nWorking album: " + folder +
                                        "\nSUCCESS: renamed 1.avi to S-First.avi\n"
                                        "SUCCESS: renamed 2.avi to S-Second.avi\n");
    EXPECT_EQ(RunAlbum(1, L"mtv"), "ERROR: Directory not specified.");
    EXPECT_EQ(Files(), (std::map<std::string, std::string>{{"S-First.avi", "one"}, {"S-Second.avi", "two"}}));
}

}  // namespace
