// The settings the program itself reads or writes: their keys and the defaults their readers give.
//
// Keys carry a prefix by convention: "setting:" for installation configuration (folders, port, page size,
// file types), "pref:" for preferences that the program and its pages change while running, "perf:" for
// load times the program measures. Pages may add keys of their own; they are stored the same way.
//
// Names only: any layer may include it.
#pragma once

#include <cstdint>
#include <string_view>

namespace setting_keys {

inline constexpr std::wstring_view kSettingPrefix = L"setting:";
inline constexpr std::wstring_view kPrefPrefix = L"pref:";
inline constexpr std::wstring_view kPerfPrefix = L"perf:";

// Installation configuration.
inline constexpr const wchar_t* kWebServerPort = L"setting:WebServerPort";
inline constexpr int32_t kDefaultWebServerPort = 8080;
inline constexpr const wchar_t* kMtvRootDir = L"setting:MtvRootDir";
inline constexpr const wchar_t* kDefaultMtvRootDir = L"C:\\Mtv";
inline constexpr const wchar_t* kNaduMtvRootDir = L"setting:NaduMtvRootDir";
inline constexpr const wchar_t* kDefaultNaduMtvRootDir = L"C:\\NaduMtv";
inline constexpr const wchar_t* kMtvIndexDir = L"setting:MtvIndexDir";
inline constexpr const wchar_t* kMtvIndexFolderName = L"mtvindex";  // default: the program folder + "\mtvindex"
inline constexpr const wchar_t* kUserMtvRootDir = L"setting:UserMtvRootDir";  // default empty; ";"-separated
inline constexpr const wchar_t* kUserMtvExt = L"setting:UserMtvExt";
inline constexpr const wchar_t* kDefaultUserMtvExt = L"mp3,avi,dat,wmv,wma,rmvb";
inline constexpr const wchar_t* kUserMtvExtDelimiters = L", ;";
inline constexpr const wchar_t* kPageSize = L"setting:PageSize";
inline constexpr int32_t kDefaultPageSize = 200;

// Preferences.
inline constexpr const wchar_t* kFullScreen = L"pref:FullScreen";  // "true" in any letter case means on
inline constexpr const wchar_t* kDefaultFullScreen = L"false";      // seeded at start-up; others give none
inline constexpr const wchar_t* kAudioSource = L"pref:AudioSource";
inline constexpr const wchar_t* kDefaultAudioSource = L"karaoke";

// Measurements, in milliseconds.
inline constexpr const wchar_t* kLoadArtists = L"perf:LoadArtists";
inline constexpr const wchar_t* kLoadVodMtvIndex = L"perf:LoadVodMtvIndex";
inline constexpr const wchar_t* kLoadUserMtvIndex = L"perf:LoadUserMtvIndex";

}  // namespace setting_keys
