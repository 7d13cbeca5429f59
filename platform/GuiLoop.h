// The GUI loop's back ends: how the GUI thread sleeps until there is work, and which loop runs it.
//
// platform/Gui.cpp keeps everything the Gui.h functions share (window table, the queue of posts, sends
// and tasks, timers); a loop back end only decides how the GUI thread waits for work and how it is
// woken. "std" (a condition variable) is built in and serves headless runs. A desktop library adds its
// own, for instance "glib" in platform/desktop, which waits in the GLib main context so that GTK's and
// WebKit's events and ours are handled by one loop on one thread.
//
// A back end registers itself from a static initialiser of its library (RegisterLoopBackend). The
// first InitGuiThread takes the first registered desktop back end when a display is present, else
// "std"; when no desktop back end can start, the program runs headless. Tests switch explicitly with
// SelectLoopBackend. Back-end objects are created on first selection and live for the whole process,
// so a thread that has just queued work may always wake the back end it saw.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using GuiClock = std::chrono::steady_clock;  // CLOCK_MONOTONIC on Linux

// The work of the GUI thread, as a back end sees it. GUI thread only.
class GuiWork {
public:
    // When work is due: a time not after now while messages, sends or tasks are queued, else the
    // next timer's due time; empty when there is nothing queued and no timer set.
    virtual std::optional<GuiClock::time_point> NextWorkDue() = 0;
    // One pass over the work that is due (the queue as it is now, then each due timer once). Safe to
    // call re-entrantly, from a loop nested inside a handler (a modal dialog).
    virtual void RunDueWork() = 0;

protected:
    ~GuiWork() = default;
};

class LoopBackend {
public:
    virtual ~LoopBackend() = default;
    // GUI thread: become the active back end. False when it cannot run in this process (no display);
    // the previous back end then stays active.
    virtual bool Activate(GuiWork& work) = 0;
    // GUI thread: another back end takes over.
    virtual void Deactivate() = 0;
    // Any thread, after every change the loop must notice (new queue item, new timer, quit). A wake
    // that comes before the wait is not lost.
    virtual void Wake() = 0;
    // GUI thread: returns on a wake, at the deadline, or spuriously. A back end may handle its own
    // events (window-system input, redraws) while it waits.
    virtual void WaitForWork(std::optional<GuiClock::time_point> deadline) = 0;
};

using LoopBackendFactory = std::unique_ptr<LoopBackend> (*)();

// Registers a back end under `name` (any thread, usually a static initialiser). `desktop`: it needs a
// display and is preferred to "std" when one is present. False when the name is taken.
bool RegisterLoopBackend(std::string_view name, bool desktop, LoopBackendFactory factory);

// The registered names, "std" first, then in registration order.
std::vector<std::string> LoopBackendNames();

// GUI thread: makes `name` the active back end. False for an unknown name, off the GUI thread, or
// when the back end cannot start; the active one is then unchanged. Queued work and timers carry over.
bool SelectLoopBackend(std::string_view name);

// The active back end's name. Any thread.
std::string ActiveLoopBackend();

// For back ends whose libraries start threads of their own (GTK, WebKit): blocks SIGINT and SIGTERM in
// the calling thread, so that every thread it starts from now on inherits the block, and starts taking
// those signals as CloseOnTerminationSignals does. Until CloseOnTerminationSignals names a window, such
// a signal ends the process as it would by default. Call on the GUI thread before the library starts.
void ReserveTerminationSignals();

}  // namespace platform
