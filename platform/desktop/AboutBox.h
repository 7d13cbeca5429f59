// The About box: a small modal dialog with the program's name, version and company, and an OK button.
//
// Enter does not press OK (the input filter gives Enter to the focused widget only, and a button does
// not take Enter as a click); Escape, OK and the close box close it. The texts come from the caller.
// Threads: GUI thread only.
#pragma once

#include <string>

typedef struct _GtkWindow GtkWindow;

namespace platform {

struct AboutBoxText {
    std::wstring title;        // the dialog's title, e.g. "About Sinjobox"
    std::wstring programName;  // shown first, in bold
    std::wstring version;      // shown as given, e.g. "Version 1.0.0.2"
    std::wstring company;      // shown as given
};

// Shows the box over `parent` (may be null) with the program icon (SetProgramIcon, platform/desktop/
// Desktop.h) beside the texts, and returns when it is closed. Does nothing unless the desktop runs.
void ShowAboutBox(GtkWindow* parent, const AboutBoxText& text);

}  // namespace platform
