#include "platform/desktop/XErrors.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace platform::desktop {

bool KeepXErrorsFromEndingTheProgram() {
#ifdef GDK_WINDOWING_X11
    static bool installed = false;  // GUI thread only
    if (installed) return true;
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
    // Never popped: it covers every request from here on, so an error no inner trap expects is
    // recorded in it rather than ending the process.
    gdk_x11_display_error_trap_push(display);
    installed = true;
    return true;
#else
    return false;
#endif
}

}  // namespace platform::desktop
