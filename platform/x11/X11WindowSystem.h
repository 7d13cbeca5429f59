// The X11 back end of the window-system seam (platform/WindowSystem.h), in a library of its own so
// that only the program links libX11 and libXtst (the plug-in module links platform/ but not this).
// Linking it in is enough: it registers itself as the display back end of CreateWindowSystem.
//
// What X11 offers another program, and what this does with it:
//   - Top-level windows by title: the windows the window manager lists (_NET_CLIENT_LIST), then the
//     root window's children (for a reparenting window manager, the client window inside each frame,
//     the one carrying WM_STATE). The title is _NET_WM_NAME (UTF-8), else WM_NAME.
//   - Foreground: with a window manager that supports it, a _NET_ACTIVE_WINDOW request (as a pager
//     makes it, for a person's explicit action) and the root's _NET_ACTIVE_WINDOW to read it back;
//     without one, raise and input focus, and the top-level window holding the focus.
//   - Inside a window: its subwindows, depth-first, bottom of the stack first (the order they were
//     made in, unless restacked); class name from WM_CLASS, text from the title properties. X windows
//     carry no control ids (GetDlgCtrlID is 0) and have no synchronous window messages (SendMessage
//     delivers nothing and returns 0), so the controls of a program written for another platform are
//     out of reach.
//   - Input through the XTest extension: pointer motion (absolute coordinates turned back into pixels
//     of the default screen), buttons (left 1, right 3, middle 2) and keys (virtual keys mapped to key
//     symbols of the current keyboard map). Input from other clients may interleave with a batch.
//     Without XTest no input is accepted.
//   - Screen size: the default screen's.
// Windows that vanish while they are looked at give empty answers; their X errors are swallowed for
// this back end's own connection and passed on to whoever handled errors before for any other.
//
// Threads: each object owns its own display connection and is used by one thread at a time.
#pragma once

#include <memory>

#include "platform/WindowSystem.h"

namespace platform::winsys {

// Connects to `displayName` (null: $DISPLAY); null when that display cannot be opened.
std::unique_ptr<WindowSystem> ConnectX11WindowSystem(const char* displayName = nullptr);

}  // namespace platform::winsys
