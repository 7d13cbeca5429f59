// Keeping X protocol errors from ending the jukebox.
//
// GDK ends the process on any X error that none of its error traps covers. A window of ours that
// another program destroys (a tool asking the X server to destroy it rather than asking us to close
// it) makes the next drawing into it fail with BadDrawable or BadWindow, and a party would lose its
// music over a window it can get back. The guard is one error trap that is opened at start and never
// closed: GDK then records such errors instead of exiting, while the traps GDK and GTK open for
// themselves keep working inside it (each trap covers its own range of requests).
//
// Threads: GUI thread, once GTK runs.
#pragma once

namespace platform::desktop {

// Installs the guard on GDK's default display when it is an X display; does nothing otherwise or when
// called again. True when the guard is in place.
bool KeepXErrorsFromEndingTheProgram();

}  // namespace platform::desktop
