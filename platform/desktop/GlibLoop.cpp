// The "glib" loop back end: the GUI thread waits in GLib's default main context, the one GTK and
// WebKit use, so their events and the GUI thread's own work (platform/Gui.h) run on one loop.
//
// How the work gets run:
//   - At the top level the GUI loop (RunMessageLoop, PumpMessagesUntil in platform/Gui.cpp) runs the
//     work itself and calls WaitForWork between passes; WaitForWork is one blocking iteration of the
//     context, which also handles GTK's events.
//   - A GSource attached to the context tells the context when work is due (queued items now, else
//     the next timer), so the wait wakes up for it. When a loop nested inside a handler iterates the
//     context (a modal GTK dialog: gtk_dialog_run), the source runs the work there, so posts, sends
//     from other threads and timers go on while the dialog is up. Dispatched straight from
//     WaitForWork's own iteration it does nothing: the GUI loop runs the work right after, with its
//     own stop condition, exactly as on the std back end.
//   - Wake is g_main_context_wakeup, which a later wait still sees.
//
// Threads: everything runs on the GUI thread except Wake.
#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

#include "platform/DialogsBackend.h"
#include "platform/GuiLoop.h"
#include "platform/desktop/DesktopStart.h"
#include "platform/desktop/GtkPlayerWindow.h"
#include "platform/desktop/InputFilter.h"
#include "platform/desktop/PropertyFrame.h"
#include "platform/desktop/XErrors.h"

namespace platform {

std::optional<int> ShowGtkMessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, unsigned type);

namespace {

std::atomic<bool> g_gtkStarted{false};
std::atomic<bool> g_loopActive{false};  // the GUI loop runs on GLib, so GTK's events are handled

// Milliseconds from now until `due`, rounded up, for a GLib poll time-out.
int MillisecondsUntil(GuiClock::time_point due) {
    const GuiClock::time_point now = GuiClock::now();
    if (due <= now) return 0;  // compared first: "due now" is time_point::min(), which must not be subtracted from
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

class GlibLoopBackend;

// The source that tells the context about due work; `backend` is set at creation.
struct WorkSource {
    GSource base;
    GlibLoopBackend* backend;
};

class GlibLoopBackend final : public LoopBackend {
public:
    bool Activate(GuiWork& work) override {
        if (!desktop_detail::StartGtk()) return false;
        work_ = &work;
        static GSourceFuncs funcs = {&Prepare, &Check, &Dispatch, nullptr, nullptr, nullptr};
        source_ = g_source_new(&funcs, sizeof(WorkSource));
        reinterpret_cast<WorkSource*>(source_)->backend = this;
        g_source_set_name(source_, "GUI thread work");
        g_source_set_can_recurse(source_, TRUE);  // nested loops (modal dialogs) run the work too
        g_source_attach(source_, g_main_context_default());
        g_loopActive.store(true);
        return true;
    }

    void Deactivate() override {
        g_loopActive.store(false);
        if (source_ != nullptr) {
            g_source_destroy(source_);
            g_source_unref(source_);
            source_ = nullptr;
        }
        work_ = nullptr;
    }

    void Wake() override { g_main_context_wakeup(g_main_context_default()); }

    void WaitForWork(std::optional<GuiClock::time_point> deadline) override {
        GMainContext* context = g_main_context_default();
        // Nested waits (a handler that pumps) keep their own depth; restored on the way out.
        const int outerWaitDepth = waitDepth_;
        waitDepth_ = g_main_depth();
        GSource* timeout = nullptr;
        if (deadline) {
            const int ms = MillisecondsUntil(*deadline);
            timeout = g_timeout_source_new(static_cast<guint>(ms));
            g_source_set_callback(timeout, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
            g_source_attach(timeout, context);
        }
        g_main_context_iteration(context, TRUE);
        if (timeout != nullptr) {
            g_source_destroy(timeout);
            g_source_unref(timeout);
        }
        waitDepth_ = outerWaitDepth;
    }

private:
    static gboolean Prepare(GSource* source, gint* timeout) {
        GuiWork* work = reinterpret_cast<WorkSource*>(source)->backend->work_;
        const std::optional<GuiClock::time_point> due = work != nullptr ? work->NextWorkDue() : std::nullopt;
        if (!due) {
            *timeout = -1;
            return FALSE;
        }
        *timeout = MillisecondsUntil(*due);
        return *timeout == 0;
    }

    static gboolean Check(GSource* source) {
        GuiWork* work = reinterpret_cast<WorkSource*>(source)->backend->work_;
        const std::optional<GuiClock::time_point> due = work != nullptr ? work->NextWorkDue() : std::nullopt;
        return due && *due <= GuiClock::now();
    }

    static gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
        GlibLoopBackend* self = reinterpret_cast<WorkSource*>(source)->backend;
        // Straight from WaitForWork's iteration: the GUI loop runs the work as soon as it returns.
        const bool fromOwnWait = self->waitDepth_ >= 0 && g_main_depth() == self->waitDepth_ + 1;
        if (!fromOwnWait && self->work_ != nullptr) self->work_->RunDueWork();
        return G_SOURCE_CONTINUE;
    }

    // GUI thread only.
    GuiWork* work_ = nullptr;
    GSource* source_ = nullptr;
    int waitDepth_ = -1;  // g_main_depth() when the innermost WaitForWork began; -1 outside any
};

std::unique_ptr<LoopBackend> CreateGlibLoop() { return std::make_unique<GlibLoopBackend>(); }

// The program's name for the window system (window class, task bar grouping): the executable's name.
void NameProgram() {
    if (g_get_prgname() != nullptr) return;
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return;
    path[n] = '\0';
    const char* slash = std::strrchr(path, '/');
    g_set_prgname(slash != nullptr ? slash + 1 : path);
}

const bool g_registered = RegisterLoopBackend("glib", true, &CreateGlibLoop);

}  // namespace

namespace desktop_detail {

bool StartGtk() {
    if (g_gtkStarted.load()) return true;
    // GTK and WebKit start threads of their own; none of them may take SIGINT or SIGTERM.
    ReserveTerminationSignals();
    NameProgram();
    if (!gtk_init_check(nullptr, nullptr)) return false;
    desktop::KeepXErrorsFromEndingTheProgram();
    InstallInputFilter();
    SetMessageBoxPresenter(&ShowGtkMessageBox);
    desktop::RegisterGtkPlayerWindow();
    desktop::RegisterPropertyDialogViews();
    g_gtkStarted.store(true);
    return true;
}

bool GtkStarted() { return g_gtkStarted.load(); }

bool GtkLoopRunning() { return g_gtkStarted.load() && g_loopActive.load(); }

}  // namespace desktop_detail
}  // namespace platform

// Nothing calls into this file by name (the back end registers itself), so programs that link the
// desktop library keep it with --undefined=SinjoDesktopAnchor.
extern "C" int SinjoDesktopAnchor() { return platform::g_registered ? 1 : 0; }
