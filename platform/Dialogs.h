// Message boxes and the shell's "open" verb.
//
// A message box is a dialog on a desktop (a GTK dialog when platform/desktop is linked and GTK runs,
// see platform/DialogsBackend.h) and the text on standard error when headless. Shell
// "open" runs xdg-open, detached. Tests capture both: in-process with the hooks below, or across
// processes with SINJO_CAPTURE=<file>, which appends one line per call instead of showing anything:
//   "messagebox\t<caption>\t<text>\t<type>" or "open\t<target>" (UTF-8, newlines in text as "\n",
//   carriage returns as "\r" and tabs as "\t"; <type> in decimal; the target exactly as given).
// Each line is appended with O_APPEND in one write, so lines from several threads or processes stay
// whole. A message box whose capture line cannot be written goes to standard error instead.
// Thread-safe: the hooks are guarded by a lock and called without it held.
// Precedence: hook, then capture file, then the real thing.
#pragma once

#include <functional>
#include <string_view>

#include "platform/Gui.h"

namespace platform {

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr int IDOK = 1;

// Shows `text` with an OK button and waits until it is dismissed; `caption` is the title, MB_ICONEXCLAMATION
// adds the exclamation icon. On a desktop the dialog runs on the GUI thread, over `owner`'s window when
// it has one; called from another thread it waits for the GUI thread, so never call it while holding a
// lock the GUI thread may wait for. Returns IDOK.
int MessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, unsigned type);
using MessageBoxHook = std::function<int(std::wstring_view text, std::wstring_view caption, unsigned type)>;
void SetMessageBoxHook(MessageBoxHook hook);  // an empty hook restores the default

// Opens a web address or a file (path text) with the desktop's handler; false when that could not start.
// Path text is mapped with NativePath; a URI ("http://...") passes as it is. xdg-open runs in its own
// session with standard streams on /dev/null, no inherited descriptors, blocked or ignored signals,
// and no zombie left behind; true means it was started, not that it found a handler.
bool ShellOpen(std::wstring_view target);
using ShellOpenHook = std::function<bool(std::wstring_view target)>;
void SetShellOpenHook(ShellOpenHook hook);

}  // namespace platform
