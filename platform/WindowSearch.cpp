#include "platform/WindowSearch.h"

#include <string>
#include <string_view>

namespace platform::winsys {
namespace {

// What the running search looks for and what it found. Written by the search before the
// enumeration and read by the callback: static by design, see the header (not re-entrant).
struct SearchState {
    WindowSystem* system = nullptr;
    const wchar_t* className = nullptr;  // null: any class
    const wchar_t* text = nullptr;       // null: any text
    int32_t id = 0;
    WindowId found = kNoWindow;
};
SearchState s_search;

// `criterion` against what the window reported (already at most kMaxComparedChars long).
bool Matches(const wchar_t* criterion, const std::wstring& actual) {
    if (criterion == nullptr) return true;
    return std::wstring_view(criterion).substr(0, kMaxComparedChars) == actual;
}

bool MatchClassAndText(WindowId window, LPARAM) {
    WindowSystem& system = *s_search.system;
    if (Matches(s_search.className, system.GetClassName(window, kMaxComparedChars)) &&
        Matches(s_search.text, system.GetWindowText(window, kMaxComparedChars))) {
        s_search.found = window;
        return false;
    }
    return true;
}

bool MatchId(WindowId window, LPARAM) {
    if (s_search.system->GetDlgCtrlID(window) == s_search.id) {
        s_search.found = window;
        return false;
    }
    return true;
}

// Runs one enumeration with the criteria in s_search and clears them afterwards.
WindowId Run(WindowId top, EnumWindowsProc proc) {
    s_search.found = kNoWindow;
    if (top != kNoWindow) s_search.system->EnumChildWindows(top, proc, 0);
    const WindowId found = s_search.found;
    s_search = SearchState{};
    return found;
}

}  // namespace

WindowId FindDescendantByClassAndText(WindowSystem& system, WindowId top, const wchar_t* className,
                                      const wchar_t* text) {
    s_search.system = &system;
    s_search.className = className;
    s_search.text = text;
    return Run(top, MatchClassAndText);
}

WindowId FindDescendantById(WindowSystem& system, WindowId top, int32_t id) {
    s_search.system = &system;
    s_search.id = id;
    return Run(top, MatchId);
}

}  // namespace platform::winsys
