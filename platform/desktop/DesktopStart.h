// Inside the desktop library: starting GTK once, and the state the library's parts share.
#pragma once

namespace platform::desktop_detail {

// GUI thread: starts GTK on this thread unless it runs already (program name, termination signals,
// the keyboard and mouse filter, the message-box presenter). False when the display cannot be opened.
bool StartGtk();

// Any thread: GTK has been started.
bool GtkStarted();

// Any thread: GTK has been started and the GUI loop runs on GLib (so GTK windows get their events).
bool GtkLoopRunning();

}  // namespace platform::desktop_detail
