#include "platform/Spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

extern char** environ;

namespace platform {
namespace {

// What the children report through the pipe: the grandchild's id, or the errno of a failure.
struct Report {
    int kind;  // kReportPid or kReportError
    int value;
};
constexpr int kReportPid = 1;
constexpr int kReportError = 2;

void Send(int fd, int kind, int value) {
    const Report report{kind, value};
    ssize_t ignored = write(fd, &report, sizeof report);  // one small write: whole or nothing
    (void)ignored;
}

[[noreturn]] void ExecChild(const char* program, char* const argv[], int devNull, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaction(sig, &dfl, nullptr);
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
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
    Send(reportFd, kReportError, errno);
    _exit(127);
}

}  // namespace

int SpawnDetachedProcess(const std::string& program, const std::vector<std::string>& args, pid_t* pid) {
    // Everything the children need is made before the fork.
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) return errno;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        close(devNull);
        return error;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) ExecChild(program.c_str(), argv.data(), devNull, report[1]);
        if (grandchild < 0) {
            Send(report[1], kReportError, errno);
        } else {
            Send(report[1], kReportPid, grandchild);
        }
        _exit(0);
    }
    const int forkError = errno;
    close(report[1]);
    close(devNull);
    if (child < 0) {
        close(report[0]);
        return forkError;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // Reports until EOF, which comes when the grandchild's exec closed the pipe (or it failed and ended).
    int error = 0;
    pid_t started = -1;
    for (;;) {
        Report r{};
        const ssize_t n = read(report[0], &r, sizeof r);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof r)) break;
        if (r.kind == kReportPid) started = r.value;
        if (r.kind == kReportError) error = r.value != 0 ? r.value : ECHILD;
    }
    close(report[0]);
    if (error == 0 && started <= 0) error = ECHILD;
    if (error == 0 && pid != nullptr) *pid = started;
    return error;
}

bool ProcessRunning(pid_t pid) {
    if (pid <= 0) return false;
    if (kill(pid, 0) != 0 && errno == ESRCH) return false;
    // Until whoever adopted it reaps it, an ended process stays as a zombie: read its state.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    if (text.empty()) return false;
    const size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return true;
    const char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

}  // namespace platform
