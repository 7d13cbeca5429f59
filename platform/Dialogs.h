// Message boxes and the shell's "open" verb.
//
// A message box is a GTK dialog on a desktop and the text on standard error when headless. Shell
// "open" runs xdg-open, detached. Tests capture both: in-process with the hooks below, or across
// processes with SINJO_CAPTURE=<file>, which appends one line per call instead of showing anything:
//   "messagebox\t<caption>\t<text>\t<type>" or "open\t<target>" (UTF-8, newlines in text as "\n").
// Thread-safe.
#pragma once

#include <functional>
#include <string_view>

#include "platform/Gui.h"

namespace platform {

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr int IDOK = 1;

int MessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, unsigned type);
using MessageBoxHook = std::function<int(std::wstring_view text, std::wstring_view caption, unsigned type)>;
void SetMessageBoxHook(MessageBoxHook hook);  // an empty hook restores the default

// Opens a web address or a file (path text) with the desktop's handler; false when that could not start.
bool ShellOpen(std::wstring_view target);
using ShellOpenHook = std::function<bool(std::wstring_view target)>;
void SetShellOpenHook(ShellOpenHook hook);

}  // namespace platform
