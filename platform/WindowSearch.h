// Finding a control inside another program's window: by class name and window text, or by control
// id. Both walk the window's descendants with WindowSystem::EnumChildWindows, depth-first, and give
// the first match.
//
// Not re-entrant: the criteria and the result travel between a search and its enumeration callback
// in static storage (the callback is a plain function, as the platform's enumeration wants it). The
// two searches must therefore never run at the same time, on any threads or window systems, and a
// window system's enumeration must not start another search. In the program they run on the GUI
// thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WindowSystem.h"

namespace platform::winsys {

// Class names and window texts are read into a buffer of 260 characters, so at most this many are
// compared.
constexpr size_t kMaxComparedChars = 259;

// The first descendant of `top` whose class name equals `className` and whose window text equals
// `text`, both exactly and case-sensitively over at most kMaxComparedChars characters. A null
// criterion matches every window; an empty one matches only an empty name or text. kNoWindow when
// nothing matches.
WindowId FindDescendantByClassAndText(WindowSystem& system, WindowId top, const wchar_t* className,
                                      const wchar_t* text);

// The first descendant of `top` whose control id is `id`; kNoWindow when none has it.
WindowId FindDescendantById(WindowSystem& system, WindowId top, int32_t id);

}  // namespace platform::winsys
