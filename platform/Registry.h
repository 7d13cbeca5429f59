// The registry stand-in: two hives kept as text files in the profile folder, user.reg
// (HKEY_CURRENT_USER) and classes.reg (HKEY_CLASSES_ROOT), in this format (UTF-8):
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Nadusoft\Sinjo\Options]
//   "setting:WebServerPort"="8080"
//   @="default value of the key"
//
//   [HKEY_CURRENT_USER\Software\Nadusoft\Sinjo\Plugin]
//   "AudioSource"=dword:00000001
//
// Key paths and value names compare without regard to letter case; the first writer's spelling is
// kept. Values keep their order of creation; sections are written in key order. Inside quotes "\\"
// and "\"" stand for a backslash and a quote. A key with no values still has its section line.
//
// Every write is atomic and safe across processes: an exclusive flock on "<hive>.lock", a re-read of
// the hive, the change, a temporary file, fsync, rename over the hive. A read sees the latest file and
// costs only a stat when the file has not changed (the plug-in polls every 100 ms). A hive that cannot
// be parsed reads as empty for what it cannot parse, and before the first write over it a copy is kept
// as "<hive>.bad"; it is never silently replaced with less than it held.
//
// Key paths are given below the root, separated by "\" (L"Software\\Nadusoft\\Sinjo\\Options").
// An empty value name is the key's default value ("@"). All functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

enum class RegRoot { CurrentUser, ClassesRoot };

using LSTATUS = long;
constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_CANTWRITE = 1013;

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_DWORD = 4;

struct RegValue {
    std::wstring name;      // "" for the default value
    uint32_t type = REG_NONE;
    std::wstring text;      // REG_SZ
    uint32_t dword = 0;     // REG_DWORD
};

// Native path of the hive file of a root, in the profile folder.
std::string RegHivePath(RegRoot root);

LSTATUS RegCreateKey(RegRoot root, std::wstring_view key);
bool RegKeyExists(RegRoot root, std::wstring_view key);

// Setting a value creates its key (and parents) when missing.
LSTATUS RegSetString(RegRoot root, std::wstring_view key, std::wstring_view name, std::wstring_view value);
LSTATUS RegSetDword(RegRoot root, std::wstring_view key, std::wstring_view name, uint32_t value);
// Several string values of one key in one atomic write.
LSTATUS RegSetStrings(RegRoot root, std::wstring_view key,
                      const std::vector<std::pair<std::wstring, std::wstring>>& values);

// ERROR_FILE_NOT_FOUND when the key or the value is missing.
LSTATUS RegQueryValue(RegRoot root, std::wstring_view key, std::wstring_view name, RegValue* value);
// The value's data as the platform hands it out: REG_SZ as UTF-16LE with its terminating zero,
// REG_DWORD as 4 bytes little-endian.
LSTATUS RegQueryValueBytes(RegRoot root, std::wstring_view key, std::wstring_view name, uint32_t* type,
                           std::vector<uint8_t>* data);

LSTATUS RegDeleteValue(RegRoot root, std::wstring_view key, std::wstring_view name);
// Deletes the key with all its subkeys; ERROR_FILE_NOT_FOUND when it does not exist.
LSTATUS RegDeleteTree(RegRoot root, std::wstring_view key);

// Names of the direct subkeys (first spelling kept), in key order; values in creation order.
std::vector<std::wstring> RegEnumSubKeys(RegRoot root, std::wstring_view key);
std::vector<RegValue> RegEnumValues(RegRoot root, std::wstring_view key);

}  // namespace platform
