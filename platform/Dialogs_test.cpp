#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {
namespace {

class DialogsTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = ProfileFolder() + "/dialogs-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(EnsureFolder(dir_));
        capture_ = dir_ + "/capture.txt";
        unsetenv("SINJO_CAPTURE");
    }
    void TearDown() override {
        unsetenv("SINJO_CAPTURE");
        SetMessageBoxHook(nullptr);
        SetShellOpenHook(nullptr);
        if (oldPath_) setenv("PATH", oldPath_->c_str(), 1);
    }

    std::vector<std::string> CapturedLines() const {
        std::ifstream in(capture_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Puts a stand-in "xdg-open" with the given script body first (and alone) on $PATH.
    void InstallOpener(const std::string& body, mode_t mode = 0755) {
        const std::string bin = dir_ + "/bin";
        ASSERT_TRUE(EnsureFolder(bin));
        const std::string opener = bin + "/xdg-open";
        std::ofstream(opener) << body;
        chmod(opener.c_str(), mode);
        if (!oldPath_) oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", bin.c_str(), 1);
    }

    // Waits for the stand-in opener (a detached process) to leave its output.
    static std::string WaitForFile(const std::string& path) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(path);
            std::string text((std::istreambuf_iterator<char>(in)), {});
            if (text.find("END") != std::string::npos) return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

    std::string dir_;
    std::string capture_;
    std::optional<std::string> oldPath_;
};

TEST_F(DialogsTest, HooksReceiveTheCallsAndAnEmptyHookRestoresTheDefault) {
    std::wstring seenText, seenCaption, seenTarget;
    unsigned seenType = 0;
    SetMessageBoxHook([&](std::wstring_view text, std::wstring_view caption, unsigned type) {
        seenText = text;
        seenCaption = caption;
        seenType = type;
        return 7;
    });
    SetShellOpenHook([&](std::wstring_view target) {
        seenTarget = target;
        return false;
    });
    setenv("SINJO_CAPTURE", capture_.c_str(), 1);  // hooks take precedence over the capture file
    EXPECT_EQ(MessageBox(nullptr, L"Failed to set registry value", L"Sinjo", MB_OK | MB_ICONEXCLAMATION), 7);
    EXPECT_EQ(seenText, L"Failed to set registry value");
    EXPECT_EQ(seenCaption, L"Sinjo");
    EXPECT_EQ(seenType, MB_ICONEXCLAMATION);
    EXPECT_FALSE(ShellOpen(L"http://localhost:8080/"));
    EXPECT_EQ(seenTarget, L"http://localhost:8080/");
    EXPECT_TRUE(CapturedLines().empty());

    SetMessageBoxHook(nullptr);
    SetShellOpenHook(nullptr);
    EXPECT_EQ(MessageBox(nullptr, L"t", L"c", MB_OK), IDOK);
    EXPECT_TRUE(ShellOpen(L"x"));
    EXPECT_EQ(CapturedLines().size(), 2u);
}

TEST_F(DialogsTest, CaptureFileGetsOneLinePerCall) {
    setenv("SINJO_CAPTURE", capture_.c_str(), 1);
    EXPECT_EQ(MessageBox(nullptr, L"Failed to initialize winsock.", L"Sinjo", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(MessageBox(nullptr, L"line one\nline two\twith tab", L"", MB_OK), IDOK);
    EXPECT_EQ(MessageBox(nullptr, L"中文", L"歌", MB_OK), IDOK);
    EXPECT_TRUE(ShellOpen(L"C:\\Temp\\Sin1A2B.tmp.TXT"));
    const std::vector<std::string> expected = {
        "messagebox\tSinjo\tFailed to initialize winsock.\t48",
        "messagebox\t\tline one\\nline two\\twith tab\t0",
        "messagebox\t\xE6\xAD\x8C\t\xE4\xB8\xAD\xE6\x96\x87\t0",
        "open\tC:\\Temp\\Sin1A2B.tmp.TXT",
    };
    EXPECT_EQ(CapturedLines(), expected);
}

TEST_F(DialogsTest, CaptureLinesFromManyThreadsStayWhole) {
    setenv("SINJO_CAPTURE", capture_.c_str(), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                MessageBox(nullptr, std::wstring(200, L'a' + t), L"cap", MB_OK);
            }
        });
    }
    for (auto& th : threads) th.join();
    const auto lines = CapturedLines();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines) {
        ASSERT_EQ(line.size(), std::string("messagebox\tcap\t\t0").size() + 200) << line;
    }
}

TEST_F(DialogsTest, WithoutCaptureTheMessageGoesToStandardError) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox(nullptr, L"Failed to create registry key", L"Sinjo", MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Sinjo: Failed to create registry key\n");

    // An unwritable capture file must not swallow the message; the open reports failure.
    setenv("SINJO_CAPTURE", (dir_ + "/missing/capture.txt").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox(nullptr, L"still shown", L"", MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "still shown\n");
    EXPECT_FALSE(ShellOpen(L"http://example.invalid/"));
}

TEST_F(DialogsTest, ShellOpenStartsTheOpenerDetachedWithCleanSignals) {
    const std::string out = dir_ + "/opened.txt";
    // The opener reads its own status with shell built-ins only: a command such as grep would be
    // started by a shell that blocks signals for a moment while it starts it, and could catch that moment.
    InstallOpener("#!/bin/sh\nPATH=/usr/bin:/bin\n{ echo \"$1\";\n"
                  "  while read -r line; do case \"$line\" in SigBlk*|SigIgn*) echo \"$line\";; esac; done < /proc/$$/status;\n"
                  "  echo END; } > '" + out + ".part'\n"
                  "mv '" + out + ".part' '" + out + "'\n");
    // The GUI thread blocks these; the opened program must not inherit that.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGINT);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    // A server ignores SIGPIPE; an ignored signal would stay ignored across exec.
    struct sigaction ignore {}, oldPipe {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &oldPipe);
    const bool started = ShellOpen(L"http://192.168.1.5:8080/index.htm?q=a b");
    sigaction(SIGPIPE, &oldPipe, nullptr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(started);
    // No child is left behind to reap: the intermediate process was waited for.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    std::istringstream lines(WaitForFile(out));
    std::string target, sigBlocked, sigIgnored;
    std::getline(lines, target);
    std::getline(lines, sigBlocked);
    std::getline(lines, sigIgnored);
    EXPECT_EQ(target, "http://192.168.1.5:8080/index.htm?q=a b");
    EXPECT_EQ(sigBlocked, "SigBlk:\t0000000000000000");
    ASSERT_EQ(sigIgnored.rfind("SigIgn:\t", 0), 0u) << sigIgnored;
    const unsigned long long ignored = std::stoull(sigIgnored.substr(8), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << sigIgnored;
}

TEST_F(DialogsTest, ShellOpenPassesPathTextAsANativePath) {
    const std::string out = dir_ + "/opened.txt";
    InstallOpener("#!/bin/sh\nPATH=/usr/bin:/bin\n{ echo \"$1\"; echo END; } > '" + out + ".part'\nmv '" + out + ".part' '" + out + "'\n");
    ASSERT_TRUE(ShellOpen(L"C:\\Temp\\Sin0001.tmp.TXT"));
    EXPECT_EQ(WaitForFile(out), ProfileFolder() + "/drives/c/Temp/Sin0001.tmp.TXT\nEND\n");
}

TEST_F(DialogsTest, ShellOpenFailsWhenTheOpenerCannotRun) {
    InstallOpener("#!/bin/sh\nexit 0\n", 0644);  // not executable: as good as missing
    EXPECT_FALSE(ShellOpen(L"http://localhost/"));
    InstallOpener("\x7f" "ELF garbage", 0755);  // executable bit, but the exec itself fails
    EXPECT_FALSE(ShellOpen(L"http://localhost/"));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    setenv("PATH", (dir_ + "/nothing-here").c_str(), 1);
    EXPECT_FALSE(ShellOpen(L"http://localhost/"));
}

}  // namespace
}  // namespace platform
