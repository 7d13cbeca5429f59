#include "platform/Dialogs.h"
#include "platform/DialogsBackend.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

extern char** environ;

namespace platform {
namespace {

// The hooks tests install. Guarded by g_hookLock; a hook is copied out and called without the
// lock held, so a hook may itself show a message box or replace the hooks.
std::mutex g_hookLock;
MessageBoxHook g_messageBoxHook;
ShellOpenHook g_shellOpenHook;

// The desktop's message box, when a desktop library registered one.
std::atomic<MessageBoxPresenter> g_presenter{nullptr};

std::string CaptureFile() {
    const char* path = std::getenv("SINJO_CAPTURE");
    return path != nullptr ? std::string(path) : std::string();
}

// A capture field on one line: line breaks and tabs are written as "\n", "\r" and "\t".
std::string CaptureField(std::wstring_view text) {
    std::string out;
    for (char c : ToUtf8(text)) {
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c; break;
        }
    }
    return out;
}

// Writes all of `data` to `fd`; true when every byte went out.
bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Appends one line to the capture file. O_APPEND and a single write keep lines from several
// threads and processes whole.
bool AppendCaptureLine(const std::string& file, const std::string& line) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, line);
    close(fd);
    return ok;
}

void PrintToStderr(std::wstring_view text, std::wstring_view caption) {
    std::string line;
    if (!caption.empty()) line = ToUtf8(caption) + ": ";
    line += ToUtf8(text);
    line += '\n';
    WriteAll(STDERR_FILENO, line);
}

// A web address or other URI ("http://...", "mailto:...") rather than path text. A single letter
// before the colon is a drive ("C:\..."), not a scheme.
bool LooksLikeUri(std::wstring_view target) {
    const size_t colon = target.find(L':');
    if (colon == std::wstring_view::npos || colon < 2) return false;
    for (size_t i = 0; i < colon; ++i) {
        const wchar_t c = target[i];
        const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
        const bool other = (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
        if (!letter && !(i > 0 && other)) return false;
    }
    return true;
}

// The full path of `program` found through $PATH, or empty.
std::string FindInPath(const std::string& program) {
    const char* pathEnv = std::getenv("PATH");
    const std::string path = pathEnv != nullptr ? pathEnv : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string dir = path.substr(start, end - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

// Everything between fork and exec is async-signal-safe: the child of a threaded process may not
// allocate or take locks.
[[noreturn]] void ExecDetached(const char* program, char* const argv[], int devNull, int reportFd) {
    // Signals blocked or ignored here (the GUI thread blocks SIGINT and SIGTERM, the web server may
    // ignore SIGPIPE) would otherwise stay so in the browser.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaction(sig, &dfl, nullptr);

    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    // Sockets and files of ours must not live on in the opened program (a listening socket would
    // keep the port taken): mark every other descriptor close-on-exec. The report pipe already is.
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0)
#endif
    {
        const long max = sysconf(_SC_OPEN_MAX);
        for (int fd = 3; fd < (max > 0 && max < 65536 ? max : 65536); ++fd) {
            if (fd != reportFd) fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    execve(program, argv, environ);
    const int error = errno;
    ssize_t ignored = write(reportFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Starts `program target` in its own session, detached by a double fork: the intermediate child
// exits at once and is reaped here, so no zombie remains, and the program is adopted by init.
// A close-on-exec pipe tells whether the exec itself worked.
bool SpawnDetached(const std::string& program, const std::string& target) {
    std::string arg0 = program;
    std::string arg1 = target;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) return false;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        close(devNull);
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) ExecDetached(program.c_str(), argv, devNull, report[1]);
        if (grandchild < 0) {
            const int error = errno;
            ssize_t ignored = write(report[1], &error, sizeof error);
            (void)ignored;
        }
        _exit(0);
    }
    close(report[1]);
    close(devNull);
    if (child < 0) {
        close(report[0]);
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // EOF without data: the exec succeeded (the pipe closed with it).
    int error = 0;
    ssize_t n;
    do {
        n = read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    return n == 0;
}

}  // namespace

int MessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, unsigned type) {
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        hook = g_messageBoxHook;
    }
    if (hook) return hook(text, caption, type);

    const std::string capture = CaptureFile();
    if (!capture.empty()) {
        const std::string line = "messagebox\t" + CaptureField(caption) + "\t" + CaptureField(text) + "\t" +
                                 std::to_string(type) + "\n";
        if (AppendCaptureLine(capture, line)) return IDOK;
        // The capture file cannot be written: show the text rather than lose it.
    }

    // On a desktop, a dialog; headless, or when no desktop runs, the text goes to standard error.
    if (!IsHeadless()) {
        if (const MessageBoxPresenter presenter = g_presenter.load()) {
            if (const std::optional<int> pressed = presenter(owner, text, caption, type)) return *pressed;
        }
    }
    PrintToStderr(text, caption);
    return IDOK;
}

void SetMessageBoxPresenter(MessageBoxPresenter presenter) { g_presenter.store(presenter); }

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_messageBoxHook = std::move(hook);
}

bool ShellOpen(std::wstring_view target) {
    ShellOpenHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        hook = g_shellOpenHook;
    }
    if (hook) return hook(target);

    const std::string capture = CaptureFile();
    if (!capture.empty()) return AppendCaptureLine(capture, "open\t" + CaptureField(target) + "\n");

    if (target.empty()) return false;
    const std::string program = FindInPath("xdg-open");
    if (program.empty()) return false;
    // Path text goes to the opener as a native path; addresses pass as they are.
    const std::string argument = LooksLikeUri(target) ? ToUtf8(target) : NativePath(target);
    return SpawnDetached(program, argument);
}

void SetShellOpenHook(ShellOpenHook hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_shellOpenHook = std::move(hook);
}

}  // namespace platform
