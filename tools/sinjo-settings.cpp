// sinjo-settings: reads and writes the jukebox's settings from the command line, for set-up scripts and
// for people who run the PC. Settings live in the profile folder's user.reg under
// HKEY_CURRENT_USER\Software\Nadusoft\Sinjo\Options.
//
//   sinjo-settings                 list every setting
//   sinjo-settings KEY             print one setting
//   sinjo-settings KEY=VALUE ...   store settings (while the program is not running: it writes the
//                                  settings it read back when it ends)
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Registry.h"

namespace {
const wchar_t kOptionsKey[] = L"Software\\Nadusoft\\Sinjo\\Options";
}

int main(int argc, char** argv) {
    using namespace platform;
    if (argc == 1) {
        for (const RegValue& v : RegEnumValues(RegRoot::CurrentUser, kOptionsKey)) {
            std::printf("%s=%s\n", ToUtf8(v.name).c_str(), ToUtf8(v.text).c_str());
        }
        return 0;
    }
    std::vector<std::pair<std::wstring, std::wstring>> updates;
    for (int i = 1; i < argc; ++i) {
        const char* eq = std::strchr(argv[i], '=');
        if (eq == nullptr) {
            RegValue value;
            if (RegQueryValue(RegRoot::CurrentUser, kOptionsKey, FromUtf8(argv[i]), &value) != ERROR_SUCCESS) {
                std::fprintf(stderr, "sinjo-settings: %s is not set\n", argv[i]);
                return 1;
            }
            std::printf("%s\n", ToUtf8(value.text).c_str());
            continue;
        }
        updates.emplace_back(FromUtf8(std::string(argv[i], static_cast<size_t>(eq - argv[i]))), FromUtf8(eq + 1));
    }
    if (!updates.empty() && RegSetStrings(RegRoot::CurrentUser, kOptionsKey, updates) != ERROR_SUCCESS) {
        std::fprintf(stderr, "sinjo-settings: the settings could not be written to %s\n",
                     RegHivePath(RegRoot::CurrentUser).c_str());
        return 1;
    }
    return 0;
}
