// Shared by the desktop tests: a fixture that runs the GUI loop on GLib under the test's virtual display,
// keys and clicks through xdotool, waits on conditions while the loop runs, a tiny HTTP server, the
// WebKit helper processes of this process, and screenshots.
//
// Every desktop test binary runs each test under tests/support/with-display.sh --wm (a private Xvfb
// with openbox), so tests may move the pointer and the focus freely. Threads: the fixture's helpers
// run on the GUI thread (the test's main thread) unless a comment says otherwise.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Gui.h"
#include "platform/GuiLoop.h"
#include "platform/ThreadAnnotations.h"

extern char** environ;

namespace platform::desktop_test {

// Runs a program to its end and returns its exit code and standard output. Its signal mask is
// cleared (the GUI thread blocks SIGINT and SIGTERM). When `pump` is set, the GUI loop keeps running
// meanwhile (call from the GUI thread): the program may wait on windows of this process.
struct ToolResult {
    int exitCode = -1;
    std::string out;
};

inline ToolResult RunTool(const std::vector<std::string>& argv, bool pump) {
    ToolResult result;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return result;
    }
    // The output is read on a thread of its own, so a chatty tool never blocks on a full pipe.
    std::future<std::string> output = std::async(std::launch::async, [fd = pipeFds[0]] {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        close(fd);
        return text;
    });
    int status = 0;
    if (pump) {
        bool exited = false;
        PumpMessagesUntil([&] { return exited || (exited = waitpid(pid, &status, WNOHANG) == pid); }, 30000);
        if (!exited) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    } else {
        waitpid(pid, &status, 0);
    }
    result.out = output.get();
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// xdotool with the given arguments; the GUI loop runs meanwhile unless called off the GUI thread.
inline ToolResult Xdo(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    return RunTool(args, IsGuiThread());
}

inline unsigned long XidOf(GtkWindow* window) {
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window));
    return gdk != nullptr ? gdk_x11_window_get_xid(gdk) : 0;
}

// The window's size as the X server has it, from xdotool getwindowgeometry --shell.
inline std::pair<int, int> XGeometry(unsigned long xid) {
    const ToolResult r = Xdo({"getwindowgeometry", "--shell", std::to_string(xid)});
    int width = 0, height = 0;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("WIDTH=", 0) == 0) width = std::stoi(line.substr(6));
        if (line.rfind("HEIGHT=", 0) == 0) height = std::stoi(line.substr(7));
    }
    return {width, height};
}

// Pumps the GUI loop until `done` or `timeoutMs`; true when done.
inline bool WaitFor(const std::function<bool()>& done, uint32_t timeoutMs = 10000) {
    return PumpMessagesUntil(done, timeoutMs);
}

// Pumps the GUI loop for `ms` whatever happens: only to let a thing that must NOT happen show itself
// (a reload, a menu) after the input that could cause it has been seen to arrive.
inline void Settle(uint32_t ms) { PumpMessagesUntil([] { return false; }, ms); }

// From a thread other than the GUI thread: runs `task` on the GUI thread and returns its result.
// Works while the GUI thread is inside a modal dialog, whose nested loop runs queued tasks. When the
// GUI thread does not run it within 10 s, the test fails and T{} is returned.
template <typename T>
T OnGui(std::function<T()> task) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    RunOnGuiThread([promise, task] { promise->set_value(task()); });
    if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the GUI thread did not run a queued task";
        return T{};
    }
    return future.get();
}

// Answers every dialog still open after `seconds`, from a GLib time-out (which runs inside any modal
// loop), so that a test whose GUI work stopped fails instead of hanging in gtk_dialog_run.
inline void CloseDialogsAfter(unsigned seconds) {
    g_timeout_add_seconds(seconds, +[](gpointer) -> gboolean {
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* item = toplevels; item != nullptr; item = item->next) {
            if (GTK_IS_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
                gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_CANCEL);
            }
        }
        g_list_free(toplevels);
        return G_SOURCE_CONTINUE;
    }, nullptr);
}

// From a thread other than the GUI thread: polls `condition` on the GUI thread until true.
inline bool EventuallyOnGui(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        auto promise = std::make_shared<std::promise<bool>>();
        std::future<bool> answer = promise->get_future();
        RunOnGuiThread([promise, condition] { promise->set_value(condition()); });
        if (answer.wait_until(deadline) != std::future_status::ready) return false;
        if (answer.get()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Visible normal windows of this process whose widget name is `name` (gtk_widget_set_name).
inline GtkWindow* FindWindowNamed(const char* name) {
    GtkWindow* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        GtkWidget* widget = GTK_WIDGET(item->data);
        if (gtk_widget_get_visible(widget) && g_strcmp0(gtk_widget_get_name(widget), name) == 0) {
            found = GTK_WINDOW(widget);
        }
    }
    g_list_free(toplevels);
    return found;
}

// Visible pop-up windows (menus, combo lists) of this process.
inline int VisiblePopups() {
    int count = 0;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        if (gtk_window_get_window_type(window) == GTK_WINDOW_POPUP && gtk_widget_get_mapped(GTK_WIDGET(window))) ++count;
    }
    g_list_free(toplevels);
    return count;
}

// Every widget under `root` (itself included, internal children such as a header bar's window
// buttons too) for which `match` is true, in tree order.
inline void CollectWidgets(GtkWidget* root, const std::function<bool(GtkWidget*)>& match, std::vector<GtkWidget*>* out) {
    if (match(root)) out->push_back(root);
    if (GTK_IS_CONTAINER(root)) {
        std::vector<GtkWidget*> children;
        gtk_container_forall(GTK_CONTAINER(root), +[](GtkWidget* child, gpointer list) {
            static_cast<std::vector<GtkWidget*>*>(list)->push_back(child);
        }, &children);
        for (GtkWidget* child : children) CollectWidgets(child, match, out);
    }
}

inline std::vector<GtkWidget*> WidgetsOf(GtkWindow* window, const std::function<bool(GtkWidget*)>& match) {
    std::vector<GtkWidget*> found;
    CollectWidgets(GTK_WIDGET(window), match, &found);
    // The title bar is not always among the window's children.
    GtkWidget* titlebar = gtk_window_get_titlebar(window);
    if (titlebar != nullptr && gtk_widget_get_parent(titlebar) != nullptr &&
        std::find(found.begin(), found.end(), titlebar) == found.end()) {
        std::vector<GtkWidget*> inBar;
        CollectWidgets(titlebar, match, &inBar);
        for (GtkWidget* w : inBar) {
            if (std::find(found.begin(), found.end(), w) == found.end()) found.push_back(w);
        }
    }
    return found;
}

// The centre of `widget` in screen coordinates.
inline std::pair<int, int> ScreenCentre(GtkWidget* widget) {
    GtkAllocation box;
    gtk_widget_get_allocation(widget, &box);
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(widget, top, box.width / 2, box.height / 2, &x, &y);
    int originX = 0, originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(top), &originX, &originY);
    return {originX + x, originY + y};
}

// A click with the left button (or `button`) at the centre of `widget`. GUI thread.
inline void ClickWidget(GtkWidget* widget, int button = 1) {
    const auto [x, y] = ScreenCentre(widget);
    Xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
    Xdo({"click", std::to_string(button)});
}

// The process ids and resident sizes (kB) of this process's WebKit helper processes.
struct HelperProcess {
    int pid = 0;
    std::string name;
    long rssKb = 0;
    long pssKb = 0;
};

inline std::vector<HelperProcess> WebKitHelpers() {
    std::vector<HelperProcess> helpers;
    const std::string self = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return helpers;
    while (dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid ...: comm may hold spaces, so read from the last ')'.
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string comm = line.substr(open + 1, close - open - 1);
        std::istringstream rest(line.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid != self || comm.rfind("WebKit", 0) != 0) continue;
        HelperProcess helper;
        helper.pid = std::stoi(pid);
        helper.name = comm;
        std::ifstream rollup("/proc/" + pid + "/smaps_rollup");
        while (std::getline(rollup, line)) {
            std::istringstream fields(line);
            std::string key;
            long kb = 0;
            fields >> key >> kb;
            if (key == "Rss:") helper.rssKb = kb;
            if (key == "Pss:") helper.pssKb = kb;
        }
        helpers.push_back(helper);
    }
    closedir(proc);
    return helpers;
}

// <build>/screenshots/<name>.png of the X window `xid`; the path, or empty when it failed.
inline std::string Screenshot(unsigned long xid, const std::string& name) {
    const std::string folder = std::string(SINJO_BIN_DIR) + "/../screenshots";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/" + name + ".png";
    const ToolResult r = RunTool({"import", "-window", std::to_string(xid), path}, IsGuiThread());
    return r.exitCode == 0 ? path : std::string();
}

// A small HTTP/1.1 server on 127.0.0.1 for pages that must come from another origin or fail with a
// status. Each connection gets one answer and is closed. Routes map a path to a status and a body;
// an unknown path is a 404. Its threads: one accepting, one per connection; the destructor ends them.
class TinyHttpServer final {
public:
    struct Answer {
        int status;
        std::string body;
    };

    explicit TinyHttpServer(std::map<std::string, Answer> routes) : routes_(std::move(routes)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        listen(listener_, 16);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }

    ~TinyHttpServer() {
        stopping_ = true;
        shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        close(listener_);
        MutexLock lock(mu_);
        for (std::thread& t : connections_) t.join();
    }

    int Port() const { return port_; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    // A port on which nothing listens (taken and given back at once).
    static int UnusedPort() {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        close(fd);
        return ntohs(address.sin_port);
    }

private:
    void AcceptLoop() {
        while (!stopping_) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (stopping_) return;
                continue;
            }
            MutexLock lock(mu_);
            connections_.emplace_back([this, fd] { Serve(fd); });
        }
    }

    void Serve(int fd) {
        std::string request;
        char buffer[2048];
        // A connection opened ahead of time and never used is closed after a while.
        pollfd p{fd, POLLIN, 0};
        while (request.find("\r\n\r\n") == std::string::npos && poll(&p, 1, 3000) > 0) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<size_t>(n));
        }
        const size_t space = request.find(' ');
        const size_t end = space == std::string::npos ? std::string::npos : request.find(' ', space + 1);
        if (end != std::string::npos) {
            const std::string path = request.substr(space + 1, end - space - 1);
            auto it = routes_.find(path);
            const Answer answer = it != routes_.end() ? it->second : Answer{404, "<html><body>NOT FOUND BODY</body></html>"};
            const std::string reply = "HTTP/1.1 " + std::to_string(answer.status) + " Answer\r\n"
                                      "Content-Type: text/html; charset=utf-8\r\n"
                                      "Content-Length: " + std::to_string(answer.body.size()) + "\r\n"
                                      "Cache-Control: no-store\r\nConnection: close\r\n\r\n" + answer.body;
            send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        close(fd);
    }

    // Constant after construction.
    const std::map<std::string, Answer> routes_;
    int listener_ = -1;
    int port_ = 0;

    std::atomic<bool> stopping_{false};
    std::thread acceptor_;                 // joined by the destructor
    Mutex mu_;
    std::vector<std::thread> connections_ GUARDED_BY(mu_);  // one per connection, joined at the end
};

// Runs a test on the GLib loop with GTK started, as the program does on a desktop: unsets
// SINJO_HEADLESS (the shared test main sets it) and selects the "glib" back end. Skipped when no
// display is named (the binary run by hand); under ctest every test has its own virtual display.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') GTEST_SKIP() << "needs a display (tests/support/with-display.sh)";
        unsetenv("SINJO_HEADLESS");
        InitGuiThread();
        ASSERT_TRUE(SelectLoopBackend("glib")) << "GTK did not start on " << display;
    }

    // Waits until none of this process's WebKit helper processes is left, after the windows that
    // needed them are gone.
    static bool NoHelpersLeft(uint32_t timeoutMs = 10000) {
        return WaitFor([] { return WebKitHelpers().empty(); }, timeoutMs);
    }
};

}  // namespace platform::desktop_test
