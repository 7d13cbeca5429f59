#include "platform/Dialogs.h"
#include "platform/DialogsBackend.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/HostServices.h"
#include "platform/Spawn.h"
#include "platform/ThreadAnnotations.h"

namespace platform {
namespace {

// The hooks tests install. Guarded by g_hookLock; a hook is copied out and called without the
// lock held, so a hook may itself show a message box or replace the hooks.
Mutex g_hookLock;
MessageBoxHook g_messageBoxHook GUARDED_BY(g_hookLock);
ShellOpenHook g_shellOpenHook GUARDED_BY(g_hookLock);

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

}  // namespace

int MessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, unsigned type) {
    MessageBoxHook hook;
    {
        MutexLock lock(g_hookLock);
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
        // A plug-in module's copy of this library has no presenter of its own: it uses the program's.
        MessageBoxPresenter presenter = g_presenter.load();
        if (presenter == nullptr) {
            const HostServices* host = FindHostServices();
            presenter = host != nullptr ? host->messageBox : nullptr;
        }
        if (presenter != nullptr) {
            if (const std::optional<int> pressed = presenter(owner, text, caption, type)) return *pressed;
        }
    }
    PrintToStderr(text, caption);
    return IDOK;
}

void SetMessageBoxPresenter(MessageBoxPresenter presenter) { g_presenter.store(presenter); }

void SetMessageBoxHook(MessageBoxHook hook) {
    MutexLock lock(g_hookLock);
    g_messageBoxHook = std::move(hook);
}

bool ShellOpen(std::wstring_view target) {
    ShellOpenHook hook;
    {
        MutexLock lock(g_hookLock);
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
    return SpawnDetachedProcess(program, {argument}, nullptr) == 0;
}

void SetShellOpenHook(ShellOpenHook hook) {
    MutexLock lock(g_hookLock);
    g_shellOpenHook = std::move(hook);
}

}  // namespace platform
