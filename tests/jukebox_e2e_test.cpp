// The real program, headless, on a free port with its own profile folder and a small collection,
// driven over real sockets.
#include <gtest/gtest.h>

#include "tests/support/SinjoProcess.h"

namespace {

using e2e::Gbk;
using e2e::HttpClient;
using e2e::Installation;

const char kTemplate[] =
    "<html>Q=<!-- #QUERY -->|A=<!-- #AUDIO_SOURCE_DISPLAY_NAME -->|P=<!-- #PARAM -->|S=<!-- #SORTBY -->|"
    "AS=<!-- #ARTIST_SORTBY -->|<!-- #ARTIST_LIST -->|<!-- #ALBUM_LIST -->|<!-- #HELP -->|<!-- #SONG_LIST -->|"
    "again:<!-- #QUERY --></html>";

class JukeboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        inst_.MakeCollection(20);
        e2e::WriteFile(inst_.webDir() / "index.htm", kTemplate);
        e2e::WriteFile(inst_.webDir() / "help.htm", "HELP TEXT");
        e2e::WriteFile(inst_.webDir() / "style.css", "body{}");
        e2e::WriteFile(inst_.root() / "bin" / "html" / "secret.txt", "SECRET");
        ASSERT_TRUE(inst_.Start()) << inst_.output();
    }

    // The queue as the "queue_list" fragment shows it: the song ids in order.
    std::vector<int> Queue(HttpClient& client) {
        const std::string list = client.Get("/queue_list").body;
        std::vector<int> ids;
        for (size_t at = list.find("<tr class="); at != std::string::npos; at = list.find("<tr class=", at + 1)) {
            const size_t end = list.find("</tr>", at);
            const std::string row = list.substr(at, end - at);
            const size_t song = row.find("Song");
            ids.push_back(song == std::string::npos ? -1 : std::atoi(row.c_str() + song + 4));
        }
        return ids;
    }

    Installation inst_;
};

TEST_F(JukeboxTest, RootAndQueryServeTheFilledPage) {
    HttpClient client(inst_.port());
    for (const char* target : {"/", "/?q=x", "/index.htm"}) {
        const e2e::HttpReply reply = client.Get(target);
        ASSERT_TRUE(reply.ok) << target;
        EXPECT_NE(reply.headers.find("Content-Type: text/html; charset=gb2312\r\n"), std::string::npos);
        EXPECT_NE(reply.headers.find("Cache-Control: no-cache\r\n"), std::string::npos);
        EXPECT_EQ(reply.body.find("<!-- #SONG_LIST -->"), std::string::npos) << target;
        EXPECT_NE(reply.body.find("<!-- #ALBUM_LIST -->"), std::string::npos);
        EXPECT_NE(reply.body.find("A=" + Gbk("伴唱") + "|"), std::string::npos);
        // The second occurrence of a marker stays.
        EXPECT_NE(reply.body.find("again:<!-- #QUERY -->"), std::string::npos);
    }
    const std::string all = client.Get("/").body;
    EXPECT_NE(all.find("QueueSong(19)"), std::string::npos);
    const std::string search = client.Get("/?q=Song1").body;
    EXPECT_NE(search.find("Q=Song1|"), std::string::npos);
    EXPECT_NE(search.find("QueueSong(13)"), std::string::npos);
    EXPECT_EQ(search.find("QueueSong(2)"), std::string::npos);
}

TEST_F(JukeboxTest, ViewsFillOnlyTheirMarker) {
    HttpClient client(inst_.port());
    const std::string album = client.Get("/index.htm?act=album").body;
    EXPECT_EQ(album.find("<!-- #ALBUM_LIST -->"), std::string::npos);
    EXPECT_NE(album.find("<!-- #SONG_LIST -->"), std::string::npos);
    EXPECT_NE(album.find("VOD (20)"), std::string::npos);

    const std::string artist = client.Get("/index.htm?act=artist&param=band").body;
    EXPECT_EQ(artist.find("<!-- #ARTIST_LIST -->"), std::string::npos);
    EXPECT_NE(artist.find("Beyond ("), std::string::npos);
    EXPECT_EQ(artist.find(Gbk("张学友") + " ("), std::string::npos);

    const std::string help = client.Get("/index.htm?act=help").body;
    EXPECT_NE(help.find("|HELP TEXT|"), std::string::npos);
}

TEST_F(JukeboxTest, RequestTextIsEscapedInThePage) {
    HttpClient client(inst_.port());
    const std::string page = client.Get("/?q=%3Cscript%3E&param=%22x%27&sortby=%3Cb%3E").body;
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("Q=&#60;script&#62;|"), std::string::npos);
    EXPECT_NE(page.find("P=&#34;x&#39;|"), std::string::npos);
    EXPECT_NE(page.find("S=&#60;b&#62;|"), std::string::npos);
}

TEST_F(JukeboxTest, ControlAnswersExactlyOk) {
    HttpClient client(inst_.port());
    const std::string ok =
        "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Length: 2\r\nContent-Type: text/plain\r\n\r\nOK";
    EXPECT_EQ(client.Get("/control?act=next").raw, ok);
    // An unknown action changes nothing and still answers OK.
    client.Get("/control?act=queue_song&param=1");
    EXPECT_EQ(client.Get("/control?act=nothing&param=5").raw, ok);
    EXPECT_EQ(Queue(client), std::vector<int>{1});
}

TEST_F(JukeboxTest, QueueCommandsChangeTheQueueList) {
    HttpClient client(inst_.port());
    EXPECT_TRUE(Queue(client).empty());
    client.Get("/control?act=queue_song&param=5");
    client.Get("/control?act=queue_song&param=6,7,,17%2019");
    EXPECT_EQ(Queue(client), (std::vector<int>{5, 6, 7, 17, 19}));

    // queue_up with param 3 and param2 17 moves song 17 from place 3 to place 2.
    client.Get("/control?act=queue_up&param=3&param2=17");
    EXPECT_EQ(Queue(client), (std::vector<int>{5, 6, 17, 7, 19}));
    // A stale pair (wrong id) changes nothing.
    client.Get("/control?act=queue_up&param=3&param2=17");
    EXPECT_EQ(Queue(client), (std::vector<int>{5, 6, 17, 7, 19}));
    client.Get("/control?act=queue_front&param=4&param2=19");
    EXPECT_EQ(Queue(client), (std::vector<int>{5, 19, 6, 17, 7}));
    client.Get("/control?act=queue_remove&param=2&param2=6");
    EXPECT_EQ(Queue(client), (std::vector<int>{5, 19, 17, 7}));
    client.Get("/control?act=next");
    EXPECT_EQ(Queue(client), (std::vector<int>{19, 17, 7}));
    client.Get("/control?act=clear_queue");
    EXPECT_TRUE(Queue(client).empty());
}

TEST_F(JukeboxTest, ControlStatusFollowsCommands) {
    HttpClient client(inst_.port());
    client.Get("/control?act=audio_source&param=left");
    client.Get("/control?act=set_setting&param=pref:FullScreen%3Dtrue");
    const e2e::HttpReply status = client.Get("/update_control_status");
    EXPECT_NE(status.headers.find("Content-Type: text/plain; charset=gb2312\r\n"), std::string::npos);
    EXPECT_NE(status.body.find("document.getElementById('left').style.color = 'green';\n"), std::string::npos);
    EXPECT_NE(status.body.find("document.getElementById('check_fullscreen').checked = true;\n"),
              std::string::npos);
    EXPECT_NE(status.body.find("'audio_source').value = '" + Gbk("左声道") + "'"), std::string::npos);
}

TEST_F(JukeboxTest, FilesAndMissingNames) {
    HttpClient client(inst_.port());
    const e2e::HttpReply css = client.Get("/style.css");
    EXPECT_EQ(css.body, "body{}");
    EXPECT_NE(css.headers.find("Content-Type: text/css; charset=gb2312\r\n"), std::string::npos);
    EXPECT_EQ(client.Get("/nothing-here.htm").body, "FILE NOT FOUND");
    // Names that leave the web directory are refused, encoded or not.
    for (const char* target : {"/../secret.txt", "/%2e%2e/secret.txt", "/..%5csecret.txt", "//etc/passwd",
                               "/C:/secret.txt", "/a/../../secret.txt"}) {
        EXPECT_EQ(client.Get(target).body, "FILE NOT FOUND") << target;
    }
}

TEST(JukeboxLifecycle, TermSavesDefaultsAndTimings) {
    Installation inst;
    inst.MakeCollection(3);
    ASSERT_TRUE(inst.Start()) << inst.output();
    {
        HttpClient client(inst.port());
        ASSERT_TRUE(client.Get("/").ok);
    }
    const int ms = inst.Stop(5000);
    ASSERT_GE(ms, 0) << "the program did not end after SIGTERM";
    EXPECT_TRUE(WIFEXITED(inst.exitStatus()) && WEXITSTATUS(inst.exitStatus()) == 0) << inst.output();
    const std::string reg = inst.userReg();
    for (const std::string& line : std::vector<std::string>{"\"pref:FullScreen\"=\"false\"", "\"setting:MtvRootDir\"=", "\"setting:NaduMtvRootDir\"=\"C:\\\\NaduMtv\"",
          "\"setting:UserMtvExt\"=\"mp3,avi,dat,wmv,wma,rmvb\"", "\"setting:WebServerPort\"=\"" + std::to_string(inst.port()) + "\"",
          "\"perf:LoadArtists\"=\"", "\"perf:LoadVodMtvIndex\"=\""}) {
        EXPECT_NE(reg.find(line), std::string::npos) << line << "\n" << reg;
    }
}

TEST(JukeboxLifecycle, EmptyProfileWritesTheDefaultFolders) {
    Installation inst;
    ASSERT_TRUE(inst.Start()) << inst.output();
    ASSERT_GE(inst.Stop(5000), 0);
    const std::string reg = inst.userReg();
    const std::string programFolder = (inst.root() / "bin").string();
    EXPECT_NE(reg.find("\"setting:MtvRootDir\"=\"C:\\\\Mtv\""), std::string::npos) << reg;
    EXPECT_NE(reg.find("\"setting:MtvIndexDir\"=\"" + programFolder + "\\\\mtvindex\""), std::string::npos) << reg;
}

}  // namespace
