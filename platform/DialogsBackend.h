// The seam through which a desktop library shows message boxes (platform/desktop shows GTK dialogs).
//
// platform::MessageBox (platform/Dialogs.h) tries, in order: the test hook, the capture file, then,
// unless the program is headless, the presenter registered here; when there is none, or it declines
// (the desktop is not running), the text goes to standard error.
#pragma once

#include <optional>
#include <string_view>

#include "platform/Gui.h"

namespace platform {

// Shows the message box and returns the button pressed (IDOK), or empty when it cannot show one. May be
// called from any thread; it must be safe to call concurrently.
using MessageBoxPresenter = std::optional<int> (*)(HWND owner, std::wstring_view text, std::wstring_view caption,
                                                   unsigned type);

// Any thread; null removes the presenter.
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

}  // namespace platform
