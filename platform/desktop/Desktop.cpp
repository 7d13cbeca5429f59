#include "platform/desktop/Desktop.h"

#include <gtk/gtk.h>

#include <unordered_map>

#include "platform/desktop/DesktopStart.h"

namespace platform {
namespace {

// Window handle -> the GTK window showing it. GUI thread only.
std::unordered_map<HWND, GtkWindow*>& NativeWindows() {
    static auto* map = new std::unordered_map<HWND, GtkWindow*>();
    return *map;
}

void ForgetDestroyedWindow(GtkWidget* widget, gpointer) {
    auto& map = NativeWindows();
    for (auto it = map.begin(); it != map.end();) {
        it = it->second == GTK_WINDOW(widget) ? map.erase(it) : std::next(it);
    }
}

}  // namespace

bool DesktopRunning() { return desktop_detail::GtkLoopRunning() && !IsHeadless(); }

void SetNativeWindow(HWND window, GtkWindow* native) {
    auto& map = NativeWindows();
    if (native == nullptr) {
        map.erase(window);
        return;
    }
    map[window] = native;
    // Connected once per GTK window, however many handles point at it.
    if (g_signal_handler_find(native, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                              reinterpret_cast<gpointer>(&ForgetDestroyedWindow), nullptr) == 0) {
        g_signal_connect(native, "destroy", G_CALLBACK(&ForgetDestroyedWindow), nullptr);
    }
}

GtkWindow* NativeWindowOf(HWND window) {
    auto& map = NativeWindows();
    auto it = map.find(window);
    return it != map.end() ? it->second : nullptr;
}

bool SetProgramIcon(const std::string& file) {
    if (!desktop_detail::GtkStarted()) return false;
    GError* error = nullptr;
    const bool ok = gtk_window_set_default_icon_from_file(file.c_str(), &error);
    if (error != nullptr) g_error_free(error);
    return ok;
}

}  // namespace platform
