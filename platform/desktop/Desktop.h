// The desktop: GTK on the GUI thread, and what ties window handles (platform/Gui.h) to GTK windows.
//
// Linking this library (sinjo_desktop) adds the "glib" loop back end (GlibLoop.cpp): when a display is
// present, InitGuiThread starts GTK on the GUI thread and runs the GUI loop in GLib's main context. It
// also adds the GTK message boxes (GtkMessageBox.cpp) and the keyboard and mouse filter that every GTK
// window of the process goes through (InputFilter.h). Nothing here is started without a display, so a
// headless run behaves as without this library.
//
// Threads: DesktopRunning may be called from any thread; everything else on the GUI thread only.
#pragma once

#include <string>

#include "platform/Gui.h"

typedef struct _GtkWindow GtkWindow;

namespace platform {

// True while GTK runs on the GUI thread, the GUI loop runs on GLib and the program is not headless:
// GTK windows can be made.
bool DesktopRunning();

// Ties a window handle to the GTK window that shows it, so that dialogs owned by the handle (message
// boxes) open over that window. Null removes the tie; so does the GTK window's destruction.
void SetNativeWindow(HWND window, GtkWindow* native);
// The GTK window tied to `window`, or null.
GtkWindow* NativeWindowOf(HWND window);

// The icon of every window that sets none of its own (dialogs, the About box), from an image file
// (PNG or SVG, native path). False when the file cannot be read as an image.
bool SetProgramIcon(const std::string& file);

}  // namespace platform
