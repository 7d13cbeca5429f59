// The window menu of a desktop window: desktops have no system menu, so a window's own commands (such
// as "&About Sinjobox...") go in a menu button on the window's header bar.
//
// Threads: GUI thread only.
#pragma once

#include <functional>
#include <string_view>

typedef struct _GtkWindow GtkWindow;

namespace platform {

// Gives `window` a header bar (its title, then minimize, maximize and close buttons) with a menu
// button that stays hidden until the menu has an item. Call before the window is first shown: only
// then does the header bar take the place of the window manager's title bar. Does nothing when the
// window has one already.
void EnsureHeaderBar(GtkWindow* window);

// Appends an item to the header bar's menu, creating the header bar when the window has none.
// `menuText` is written the platform's way ("&About Sinjobox...": "&" marks the access key); a text
// that is only "-" adds a separator. `action` runs on the GUI thread when the item is chosen.
void AddHeaderBarMenuItem(GtkWindow* window, std::wstring_view menuText, std::function<void()> action);

}  // namespace platform
