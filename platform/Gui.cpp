// The GUI thread's message loop, the std-only version.
//
// Structure:
//   - GuiCore holds everything the public functions share: the window table (handle -> handler,
//     shown state, timers), one queue of posted messages, cross-thread sends and tasks, and a
//     min-heap of timer due times on the monotonic clock. All of it is guarded by GuiCore::mu_.
//     No lock is ever held while a handler or task runs, so handlers may create and destroy
//     windows, send, post and set timers freely.
//   - LoopBackend (platform/GuiLoop.h) is the part that waits for work and is woken when work
//     arrives. The std back end here is a condition variable; a desktop library registers another
//     (the GLib main context in platform/desktop) and InitGuiThread picks it when a display is
//     present. The loops below are the same for every back end.
//   - A cross-thread send is a record queued with the other work; the sender waits on the record's
//     own condition variable until the GUI thread has run the handler, or until the window is
//     destroyed (DestroyWindow fails every send still queued for it and wakes its sender).
//
// Handles are a counter cast to a pointer, so a handle is never reused while the process runs and a
// stale handle can never reach a newer window.
#include "platform/Gui.h"
#include "platform/GuiLoop.h"
#include "platform/ThreadAnnotations.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

using Clock = GuiClock;

// Timers shorter than this are raised to it, as the platform does; a 0 ms timer would otherwise
// keep the loop spinning.
constexpr uint32_t kMinimumTimerMs = 10;

// How often PumpMessagesUntil re-checks its condition while no work arrives.
constexpr auto kPumpPollInterval = std::chrono::milliseconds(5);

// The std-only backend: a flag and a condition variable. A wake that comes before the wait is
// remembered by the flag, so work queued between the loop's last look and its wait is never missed.
class StdLoopBackend final : public LoopBackend {
public:
    bool Activate(GuiWork&) override { return true; }
    void Deactivate() override {}
    void Wake() override {
        MutexLock lock(mu_);
        woken_ = true;
        cv_.notify_all();
    }
    void WaitForWork(std::optional<Clock::time_point> deadline) override {
        UniqueMutexLock lock(mu_);
        while (!woken_) {
            if (!deadline) {
                cv_.wait(lock.native());
            } else if (cv_.wait_until(lock.native(), *deadline) == std::cv_status::timeout) {
                break;
            }
        }
        woken_ = false;
    }

private:
    Mutex mu_;
    std::condition_variable cv_;
    bool woken_ GUARDED_BY(mu_) = false;
};

enum class SendState { Pending, Running, Done, Failed };

// One SendMessage from a thread other than the GUI thread. Shared by the sender (which waits) and
// the queue; state and result are guarded by GuiCore::mu_, and `finished` waits on that mutex.
struct SendRecord {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    SendState state = SendState::Pending;
    std::condition_variable finished;
};

struct QueueItem {
    enum class Kind { Post, Send, Task };
    Kind kind = Kind::Task;
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::shared_ptr<SendRecord> send;
    std::function<void()> task;
};

struct TimerSlot {
    uint32_t periodMs;
    uint64_t generation;  // which heap entries are current for this timer
};

struct WindowRecord {
    // Shared so that a handler being called survives the window's destruction during the call.
    std::shared_ptr<WindowHandler> handler;
    bool visible = false;
    bool destroying = false;  // WM_DESTROY is being delivered; cross-thread sends and posts fail
    std::unordered_map<uintptr_t, TimerSlot> timers;
};

struct TimerDue {
    Clock::time_point due;
    HWND window;
    uintptr_t id;
    uint64_t generation;
    bool operator>(const TimerDue& other) const { return due > other.due; }
};

class GuiCore final : public GuiWork {
public:
    GuiCore() {
        MutexLock lock(backendsMu_);
        BackendEntry std;
        std.name = "std";
        std.instance = std::make_unique<StdLoopBackend>();
        backend_.store(std.instance.get());
        activeBackend_ = std.name;
        backends_.push_back(std::move(std));
    }
    GuiCore(const GuiCore&) = delete;
    GuiCore& operator=(const GuiCore&) = delete;

    // --- loop back ends ---
    bool Register(std::string_view name, bool desktop, LoopBackendFactory factory) {
        MutexLock lock(backendsMu_);
        if (factory == nullptr || name.empty() || FindBackendLocked(name) != nullptr) {
            return false;
        }
        BackendEntry entry;
        entry.name = std::string(name);
        entry.desktop = desktop;
        entry.factory = factory;
        backends_.push_back(std::move(entry));
        return true;
    }

    std::vector<std::string> BackendNames(bool desktopOnly) {
        MutexLock lock(backendsMu_);
        std::vector<std::string> names;
        for (const BackendEntry& entry : backends_) {
            if (!desktopOnly || entry.desktop) {
                names.push_back(entry.name);
            }
        }
        return names;
    }

    // GUI thread. The back end is created on first use and never destroyed (see backends_).
    bool SelectBackend(std::string_view name) {
        LoopBackend* next = nullptr;
        std::string nextName;
        {
            MutexLock lock(backendsMu_);
            BackendEntry* entry = FindBackendLocked(name);
            if (entry == nullptr) {
                return false;
            }
            if (!entry->instance) {
                entry->instance = entry->factory();
                if (!entry->instance) {
                    return false;
                }
            }
            next = entry->instance.get();
            nextName = entry->name;
        }
        LoopBackend* previous = backend_.load();
        if (next == previous) {
            return true;
        }
        // Activation may start a toolkit, which runs its own code; no lock is held meanwhile.
        if (!next->Activate(*this)) {
            return false;
        }
        previous->Deactivate();
        backend_.store(next);
        {
            MutexLock lock(backendsMu_);
            activeBackend_ = nextName;
        }
        next->Wake();  // work queued while the previous back end was active
        return true;
    }

    std::string ActiveBackendName() {
        MutexLock lock(backendsMu_);
        return activeBackend_;
    }

    // True only for the first caller: the GUI thread's loop is chosen once, by the first InitGuiThread.
    bool TakeDefaultBackendChoice() { return !backendChosen_.exchange(true); }

    // --- GuiWork, for the back ends ---
    std::optional<Clock::time_point> NextWorkDue() override {
        {
            MutexLock lock(mu_);
            if (!queue_.empty()) {
                return Clock::time_point::min();
            }
        }
        return NextTimerDue();
    }
    void RunDueWork() override {
        static const std::function<bool()> never = [] { return false; };
        RunPass(never);
    }

    // --- GUI thread identity ---
    void MarkGuiThread() { guiThread_.store(std::this_thread::get_id()); }
    bool OnGuiThread() const { return guiThread_.load() == std::this_thread::get_id(); }
    // A program or test that never called InitGuiThread gets the first thread that creates a
    // window or runs the loop as its GUI thread, instead of sends that wait forever.
    void AdoptGuiThreadIfUnset() {
        std::thread::id none;
        guiThread_.compare_exchange_strong(none, std::this_thread::get_id());
    }

    // --- windows ---
    HWND Create(WindowHandler handler) {
        MutexLock lock(mu_);
        HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(++lastHandle_));
        WindowRecord& record = windows_[window];
        record.handler = std::make_shared<WindowHandler>(std::move(handler));
        return window;
    }

    bool Destroy(HWND window) {
        {
            MutexLock lock(mu_);
            auto it = windows_.find(window);
            if (it == windows_.end() || it->second.destroying) {
                return false;
            }
            it->second.destroying = true;
            it->second.timers.clear();
            // Queued work for the window can never be delivered: fail its waiting senders now
            // rather than when the loop reaches them, and drop its posted messages.
            auto dead = std::remove_if(queue_.begin(), queue_.end(), [window](const QueueItem& item) {
                return item.kind != QueueItem::Kind::Task && item.window == window;
            });
            for (auto item = dead; item != queue_.end(); ++item) {
                if (item->send) {
                    FailLocked(*item->send);
                }
            }
            queue_.erase(dead, queue_.end());
        }
        CallHandler(window, WM_DESTROY, 0, 0);
        MutexLock lock(mu_);
        windows_.erase(window);
        return true;
    }

    bool Exists(HWND window) {
        MutexLock lock(mu_);
        return windows_.count(window) != 0;
    }

    bool Show(HWND window, bool show) {
        {
            MutexLock lock(mu_);
            auto it = windows_.find(window);
            if (it == windows_.end()) {
                return false;
            }
            if (it->second.visible == show) {
                return true;
            }
            it->second.visible = show;
        }
        CallHandler(window, WM_SHOWWINDOW, show ? 1 : 0, 0);
        return true;
    }

    bool Visible(HWND window) {
        MutexLock lock(mu_);
        auto it = windows_.find(window);
        return it != windows_.end() && it->second.visible;
    }

    // Calls the window's handler on this thread, without the lock. Empty when there is no window.
    std::optional<LRESULT> CallHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        std::shared_ptr<WindowHandler> handler;
        {
            MutexLock lock(mu_);
            auto it = windows_.find(window);
            if (it == windows_.end()) {
                return std::nullopt;
            }
            handler = it->second.handler;
        }
        return *handler ? (*handler)(window, message, wParam, lParam) : 0;
    }

    // --- messages ---
    bool SendFromOtherThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
        auto record = std::make_shared<SendRecord>();
        record->window = window;
        record->message = message;
        record->wParam = wParam;
        record->lParam = lParam;
        {
            MutexLock lock(mu_);
            auto it = windows_.find(window);
            if (it == windows_.end() || it->second.destroying) {
                return false;
            }
            QueueItem item;
            item.kind = QueueItem::Kind::Send;
            item.window = window;
            item.send = record;
            queue_.push_back(std::move(item));
        }
        Backend().Wake();
        UniqueMutexLock lock(mu_);
        while (record->state != SendState::Done && record->state != SendState::Failed) {
            record->finished.wait(lock.native());
        }
        if (record->state != SendState::Done) {
            return false;
        }
        if (result != nullptr) {
            *result = record->result;
        }
        return true;
    }

    bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        {
            MutexLock lock(mu_);
            auto it = windows_.find(window);
            if (it == windows_.end() || it->second.destroying) {
                return false;
            }
            QueueItem item;
            item.kind = QueueItem::Kind::Post;
            item.window = window;
            item.message = message;
            item.wParam = wParam;
            item.lParam = lParam;
            queue_.push_back(std::move(item));
        }
        Backend().Wake();
        return true;
    }

    bool Enqueue(std::function<void()> task) {
        if (!task) {
            return false;
        }
        {
            MutexLock lock(mu_);
            QueueItem item;
            item.kind = QueueItem::Kind::Task;
            item.task = std::move(task);
            queue_.push_back(std::move(item));
        }
        Backend().Wake();
        return true;
    }

    // --- timers ---
    bool StartTimer(HWND window, uintptr_t id, uint32_t periodMs) {
        {
            MutexLock lock(mu_);
            auto it = windows_.find(window);
            if (it == windows_.end() || it->second.destroying) {
                return false;
            }
            periodMs = std::max(periodMs, kMinimumTimerMs);
            // Setting an existing timer again restarts it with the new period; its old heap
            // entries become stale through the new generation.
            const uint64_t generation = ++lastTimerGeneration_;
            it->second.timers[id] = TimerSlot{periodMs, generation};
            timers_.push(TimerDue{Clock::now() + std::chrono::milliseconds(periodMs), window, id, generation});
        }
        Backend().Wake();  // the loop may be waiting for a later deadline
        return true;
    }

    bool StopTimer(HWND window, uintptr_t id) {
        MutexLock lock(mu_);
        auto it = windows_.find(window);
        return it != windows_.end() && it->second.timers.erase(id) != 0;
    }

    // --- the loop ---
    void RequestQuit(int code) {
        {
            MutexLock lock(mu_);
            quitCode_ = code;
            quitPending_ = true;
        }
        Backend().Wake();
    }

    // Takes a pending quit request once the queue is empty, so that everything posted before the
    // quit is still handled (as the platform's loop does); its code goes to *code.
    bool TakeQuitIfIdle(int* code) {
        MutexLock lock(mu_);
        if (!quitPending_ || !queue_.empty()) {
            return false;
        }
        quitPending_ = false;
        *code = quitCode_;
        return true;
    }

    bool QuitPending() {
        MutexLock lock(mu_);
        return quitPending_;
    }

    // One pass of work: the queue items present when it begins (later ones wait for the next pass,
    // so a busy sender cannot starve timers), then each due timer once. Stops early as soon as
    // stop() is true.
    void RunPass(const std::function<bool()>& stop) {
        size_t count;
        {
            MutexLock lock(mu_);
            count = queue_.size();
        }
        for (size_t i = 0; i < count; ++i) {
            QueueItem item;
            {
                MutexLock lock(mu_);
                if (queue_.empty()) {
                    break;
                }
                item = std::move(queue_.front());
                queue_.pop_front();
            }
            Dispatch(item);
            if (stop()) {
                return;
            }
        }
        const Clock::time_point now = Clock::now();
        for (;;) {
            TimerDue fire;
            {
                MutexLock lock(mu_);
                const TimerSlot* slot = TopLiveTimerLocked();
                if (slot == nullptr || timers_.top().due > now) {
                    break;
                }
                fire = timers_.top();
                timers_.pop();
                // Next due time keeps the rhythm, but a loop that fell behind does not get a
                // burst of catch-up ticks.
                Clock::time_point next = fire.due + std::chrono::milliseconds(slot->periodMs);
                if (next <= now) {
                    next = now + std::chrono::milliseconds(slot->periodMs);
                }
                timers_.push(TimerDue{next, fire.window, fire.id, fire.generation});
            }
            CallHandler(fire.window, WM_TIMER, fire.id, 0);
            if (stop()) {
                return;
            }
        }
    }

    std::optional<Clock::time_point> NextTimerDue() {
        MutexLock lock(mu_);
        if (TopLiveTimerLocked() == nullptr) {
            return std::nullopt;
        }
        return timers_.top().due;
    }

    LoopBackend& Backend() { return *backend_.load(); }

private:
    void FailLocked(SendRecord& record) REQUIRES(mu_) {
        record.state = SendState::Failed;
        record.finished.notify_all();
    }

    // Drops stale heap entries (killed, restarted, or of a destroyed window) from the top; returns
    // the slot of the current top entry, or null when no timer is set.
    const TimerSlot* TopLiveTimerLocked() REQUIRES(mu_) {
        while (!timers_.empty()) {
            const TimerDue& top = timers_.top();
            auto window = windows_.find(top.window);
            if (window != windows_.end()) {
                auto slot = window->second.timers.find(top.id);
                if (slot != window->second.timers.end() && slot->second.generation == top.generation) {
                    return &slot->second;
                }
            }
            timers_.pop();
        }
        return nullptr;
    }

    void Dispatch(QueueItem& item) {
        switch (item.kind) {
        case QueueItem::Kind::Post:
            CallHandler(item.window, item.message, item.wParam, item.lParam);
            break;
        case QueueItem::Kind::Task:
            item.task();
            break;
        case QueueItem::Kind::Send:
            DispatchSend(*item.send);
            break;
        }
    }

    void DispatchSend(SendRecord& record) {
        std::shared_ptr<WindowHandler> handler;
        {
            MutexLock lock(mu_);
            if (record.state != SendState::Pending) {
                return;
            }
            auto it = windows_.find(record.window);
            if (it == windows_.end()) {
                FailLocked(record);
                return;
            }
            handler = it->second.handler;
            record.state = SendState::Running;
        }
        LRESULT result = 0;
        try {
            if (*handler) {
                result = (*handler)(record.window, record.message, record.wParam, record.lParam);
            }
        } catch (...) {
            // The sender must not wait forever on a handler that threw.
            MutexLock lock(mu_);
            FailLocked(record);
            throw;
        }
        MutexLock lock(mu_);
        record.result = result;
        record.state = SendState::Done;
        record.finished.notify_all();
    }

    struct BackendEntry {
        std::string name;
        bool desktop = false;
        LoopBackendFactory factory = nullptr;
        std::unique_ptr<LoopBackend> instance;  // created on first selection, kept for the process
    };

    BackendEntry* FindBackendLocked(std::string_view name) REQUIRES(backendsMu_) {
        for (BackendEntry& entry : backends_) {
            if (entry.name == name) {
                return &entry;
            }
        }
        return nullptr;
    }

    // The active back end. Written on the GUI thread only (SelectBackend); read by any thread that
    // wakes the loop. A back end it ever pointed to is never destroyed, so a thread that loaded the
    // previous one just before a switch still wakes a live object (the GUI thread looks at the queue
    // before it waits again, so that wake is not needed).
    std::atomic<LoopBackend*> backend_{nullptr};
    std::atomic<bool> backendChosen_{false};

    // The registered back ends and the active one's name, guarded by backendsMu_ (never held while a
    // back end's code runs, nor together with mu_).
    Mutex backendsMu_;
    std::vector<BackendEntry> backends_ GUARDED_BY(backendsMu_);
    std::string activeBackend_ GUARDED_BY(backendsMu_);

    std::atomic<std::thread::id> guiThread_{};

    // The window table, the work queue, the timer heap and the quit request; never held while a
    // handler, a task or a back end's code runs.
    Mutex mu_;
    std::unordered_map<HWND, WindowRecord> windows_ GUARDED_BY(mu_);
    std::deque<QueueItem> queue_ GUARDED_BY(mu_);
    std::priority_queue<TimerDue, std::vector<TimerDue>, std::greater<TimerDue>> timers_ GUARDED_BY(mu_);
    uint64_t lastHandle_ GUARDED_BY(mu_) = 0;
    uint64_t lastTimerGeneration_ GUARDED_BY(mu_) = 0;
    bool quitPending_ GUARDED_BY(mu_) = false;
    int quitCode_ GUARDED_BY(mu_) = 0;
};

// Never destroyed: detached threads (the signal watcher, workers still sending at exit) may use it
// after main returns.
GuiCore& Core() {
    static GuiCore* core = new GuiCore();
    return *core;
}

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// --- termination signals ---
// The window that SIGINT/SIGTERM closes, and the window a close was already requested for.
std::atomic<HWND> g_signalTarget{nullptr};
std::once_flag g_signalWatcherStarted;

// True when a desktop back end was wanted (a display is named) but none could start: the program
// then runs headless.
std::atomic<bool> g_desktopUnavailable{false};

sigset_t TerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// The watcher thread's id, once it runs; the handler below sends it the signals other threads get.
std::atomic<pid_t> g_watcherThread{0};

// Threads we start block these signals, and the watcher takes them with sigwait. But a library may have
// started threads of its own before main (WebKit's JavaScript engine does), which do not block them; a
// signal the kernel gives to one of those comes here and is sent on to the watcher (only
// async-signal-safe calls).
extern "C" void ForwardTerminationSignal(int signal) {
    const int saved = errno;
    const pid_t watcher = g_watcherThread.load();
    if (watcher > 0) syscall(SYS_tgkill, getpid(), watcher, signal);
    errno = saved;
}

void WatchTerminationSignals(sigset_t signals, std::promise<void>* started) {
    g_watcherThread.store(static_cast<pid_t>(syscall(SYS_gettid)));
    started->set_value();
    HWND closing = nullptr;
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) {
            continue;
        }
        const HWND target = g_signalTarget.load();
        if (target == nullptr) {
            // No window takes the signal yet: end the process the way the signal would by default.
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            sigaction(signal, &dfl, nullptr);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, signal);
            pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
            raise(signal);
            continue;
        }
        if (target != closing) {
            // The first signal closes the window the same way its close box does.
            closing = target;
            PostMessage(target, WM_CLOSE, 0, 0);
            continue;
        }
        // Repeated signals while the program shuts down are absorbed: ending the process now could
        // cut a save short. A program that is truly stuck can still be killed with SIGKILL.
        static const char kNote[] = "Sinjo: already shutting down, signal ignored (SIGKILL forces an exit)\n";
        ssize_t ignored = write(STDERR_FILENO, kNote, sizeof kNote - 1);
        (void)ignored;
    }
}

// Blocks SIGINT and SIGTERM in the calling thread (threads started from it later inherit the block),
// and, once per process, starts the watcher thread that takes them and installs the handler that
// sends it those that reach other threads.
void StartSignalWatcher() {
    const sigset_t signals = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::call_once(g_signalWatcherStarted, [signals] {
        std::promise<void> started;
        std::thread(WatchTerminationSignals, signals, &started).detach();
        started.get_future().wait();
        struct sigaction action {};
        action.sa_handler = &ForwardTerminationSignal;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    });
}

// The first InitGuiThread picks the loop: a desktop back end when a display is named, else "std".
void ChooseDefaultBackend(GuiCore& core) {
    if (IsHeadless()) {
        return;
    }
    const std::vector<std::string> desktops = core.BackendNames(true);
    if (desktops.empty()) {
        return;  // no desktop library linked: the std loop, windows as handles only
    }
    for (const std::string& name : desktops) {
        if (core.SelectBackend(name)) {
            return;
        }
    }
    g_desktopUnavailable.store(true);
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "Sinjo: the display \"%s\" cannot be opened; running without windows.\n",
                 display != nullptr ? display : "");
}

}  // namespace

void InitGuiThread() {
    GuiCore& core = Core();
    core.MarkGuiThread();
    if (core.TakeDefaultBackendChoice()) {
        ChooseDefaultBackend(core);
    }
}

bool IsGuiThread() { return Core().OnGuiThread(); }

bool IsHeadless() {
    const char* headless = std::getenv("SINJO_HEADLESS");
    if (headless != nullptr && std::string_view(headless) == "1") {
        return true;
    }
    return g_desktopUnavailable.load() || (!EnvSet("DISPLAY") && !EnvSet("WAYLAND_DISPLAY"));
}

HWND CreateWindowHandle(WindowHandler handler) {
    Core().AdoptGuiThreadIfUnset();
    return Core().Create(std::move(handler));
}

bool DestroyWindow(HWND window) {
    GuiCore& core = Core();
    core.AdoptGuiThreadIfUnset();
    // Only the GUI thread may destroy: handlers run there, and a destroy from elsewhere would race
    // the handler it removes.
    if (!core.OnGuiThread()) {
        return false;
    }
    return core.Destroy(window);
}

bool IsWindow(HWND window) { return window != nullptr && Core().Exists(window); }

bool ShowWindow(HWND window, bool show) { return Core().Show(window, show); }

bool IsWindowVisible(HWND window) { return Core().Visible(window); }

bool SendMessageChecked(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    GuiCore& core = Core();
    if (core.OnGuiThread()) {
        std::optional<LRESULT> value = core.CallHandler(window, message, wParam, lParam);
        if (!value) {
            return false;
        }
        if (result != nullptr) {
            *result = *value;
        }
        return true;
    }
    return core.SendFromOtherThread(window, message, wParam, lParam, result);
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    return SendMessageChecked(window, message, wParam, lParam, &result) ? result : 0;
}

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Core().Post(window, message, wParam, lParam);
}

bool RunOnGuiThread(std::function<void()> task) { return Core().Enqueue(std::move(task)); }

bool SetTimer(HWND window, uintptr_t id, uint32_t periodMs) { return Core().StartTimer(window, id, periodMs); }

bool KillTimer(HWND window, uintptr_t id) { return Core().StopTimer(window, id); }

int RunMessageLoop() {
    GuiCore& core = Core();
    core.AdoptGuiThreadIfUnset();
    const std::function<bool()> never = [] { return false; };
    for (;;) {
        int code = 0;
        if (core.TakeQuitIfIdle(&code)) {
            return code;
        }
        core.RunPass(never);
        if (core.QuitPending()) {
            continue;  // finish what was queued before the quit, without waiting
        }
        core.Backend().WaitForWork(core.NextTimerDue());
    }
}

void PostQuitMessage(int code) { Core().RequestQuit(code); }

bool PumpMessagesUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    GuiCore& core = Core();
    core.AdoptGuiThreadIfUnset();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) {
            return true;
        }
        core.RunPass(done);
        if (done()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        // done() may turn true through another thread without any message reaching the loop, so
        // it is looked at again at least every few milliseconds.
        Clock::time_point wake = std::min(deadline, Clock::now() + kPumpPollInterval);
        if (std::optional<Clock::time_point> timer = core.NextTimerDue()) {
            wake = std::min(wake, *timer);
        }
        core.Backend().WaitForWork(wake);
    }
}

void CloseOnTerminationSignals(HWND window) {
    g_signalTarget.store(window);
    StartSignalWatcher();
}

bool RegisterLoopBackend(std::string_view name, bool desktop, LoopBackendFactory factory) {
    return Core().Register(name, desktop, factory);
}

std::vector<std::string> LoopBackendNames() { return Core().BackendNames(false); }

bool SelectLoopBackend(std::string_view name) {
    GuiCore& core = Core();
    core.AdoptGuiThreadIfUnset();
    if (!core.OnGuiThread()) {
        return false;
    }
    return core.SelectBackend(name);
}

std::string ActiveLoopBackend() { return Core().ActiveBackendName(); }

void ReserveTerminationSignals() { StartSignalWatcher(); }

}  // namespace platform
