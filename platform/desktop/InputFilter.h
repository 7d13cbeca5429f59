// The keyboard and mouse filter of every GTK window of the GUI thread.
//
// Every input event of the process's GTK windows (a browser window, the player window, dialogs, GTK's
// own windows) comes here before any widget sees it, the way a message loop looks at each message
// before it is dispatched:
//
//   | Event (press)                          | Action                                                    |
//   |----------------------------------------|-----------------------------------------------------------|
//   | Enter, Backspace (without Alt)         | to the focused widget only: the window's own handling      |
//   |                                        | (default button, accelerators) never sees them, so Enter   |
//   |                                        | reaches a page's text field and closes no dialog, and a     |
//   |                                        | focused button does not take Enter as a click              |
//   | F5 (without Alt)                       | dropped: a page cannot be reloaded                         |
//   | Alt+Left, Alt+Right                    | to the focused widget only: no move through history        |
//   | Alt+letter or digit                    | the system-key hook gets the virtual-key code ('A'..'Z',   |
//   |                                        | '0'..'9'), then the normal handling                        |
//   | middle button (press and release)      | dropped                                                    |
//   | back and forward mouse buttons (8, 9)  | dropped: no move through history by mouse either           |
//   | anything else, and every event of a    | the normal handling                                        |
//   | pop-up (an open menu, a combo list)    |                                                            |
//
// "To the focused widget only" drops the event when the window has no focused widget.
// Threads: GUI thread only.
#pragma once

#include <functional>

namespace platform {

enum class InputAction {
    Normal,              // handled as GTK would without the filter
    ToFocusedWidget,     // given to the focused widget of the event's window and nothing else
    Drop,                // nobody sees it
    SystemKeyThenNormal, // the system-key hook, then the normal handling
};

struct InputEvent {
    enum class Kind { KeyDown, KeyUp, ButtonDown, ButtonUp, Other };  // not KeyPress etc.: X11 headers define those
    Kind kind = Kind::Other;
    unsigned keyval = 0;  // GDK key value (key events)
    bool alt = false;
    bool control = false;
    unsigned button = 0;  // mouse button number (button events)
};

// The filter's decision for one event (the table above).
InputAction ClassifyInput(const InputEvent& event);

// 'A'..'Z' for letters (either case), '0'..'9' for digits, else 0.
unsigned VirtualKeyOf(unsigned keyval);

// Called on the GUI thread for every Alt+letter or Alt+digit key press, with the virtual-key code,
// before the key is handled normally. An empty hook removes it.
using SystemKeyHook = std::function<void(unsigned virtualKey)>;
void SetSystemKeyHook(SystemKeyHook hook);

namespace desktop_detail {
// Puts the filter in front of GTK's event handling. GUI thread, once GTK has started.
void InstallInputFilter();
}  // namespace desktop_detail

}  // namespace platform
