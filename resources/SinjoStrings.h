// The program's fixed texts for its windows: the main window's title, the About item of its window menu
// (string 101) and the About box.
#pragma once

namespace sinjo_strings {

inline constexpr wchar_t kMainWindowTitle[] = L"Sinjobox";
inline constexpr wchar_t kAboutMenuItem[] = L"&About Sinjobox...";
inline constexpr wchar_t kAboutTitle[] = L"About Sinjobox";
inline constexpr wchar_t kProgramName[] = L"Sinjobox";
inline constexpr wchar_t kVersion[] = L"Version 1.0.0.2";
inline constexpr wchar_t kCompany[] = L"Nadusoft";

}  // namespace sinjo_strings
