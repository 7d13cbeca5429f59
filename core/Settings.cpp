#include "core/Settings.h"

#include "core/Text.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Tick.h"
#include "protocol/SettingKeys.h"

#include <climits>
#include <utility>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The program folder: the folder part of the running program's path.
std::wstring ProgramFolder() { return GetDirectoryPart(GetProgramPath()); }

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Shared helpers

std::wstring FormatInt(int32_t value) { return std::to_wstring(value); }

std::wstring GetProgramPath() { return platform::ProgramPath(); }

std::wstring GetDirectoryPart(const std::wstring& path) {
    const size_t sep = path.find_last_of(L"\\/");
    if (sep == std::wstring::npos) return std::wstring();
    size_t end = sep;
    if (end > 0 && IsSeparator(path[end - 1])) --end;  // "C:\Prog\\Sinjo.exe" -> "C:\Prog"
    return path.substr(0, end);
}

// ---------------------------------------------------------------------------------------------------
// Settings

Settings::Settings(std::wstring appName) : m_appName(std::move(appName)) {}

std::wstring Settings::DefaultApplicationName() {
    const std::wstring path = GetProgramPath();
    const size_t sep = path.find_last_of(L"\\/");
    std::wstring name = sep == std::wstring::npos ? path : path.substr(sep + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.erase(dot);
    // Without a readable program path the settings still need a home.
    return name.empty() ? std::wstring(L"Sinjo") : name;
}

std::wstring Settings::OptionsKey() const { return L"Software\\Nadusoft\\" + m_appName + L"\\Options"; }

std::wstring Settings::Get(const std::wstring& key, const wchar_t* def) {
    platform::MutexLock lock(m_mutex);
    const auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    // The profile read happens under the lock, so two first readers of one key cannot both insert.
    std::wstring value;
    platform::RegValue stored;
    if (platform::RegQueryValue(platform::RegRoot::CurrentUser, OptionsKey(), key, &stored) ==
            platform::ERROR_SUCCESS &&
        stored.type == platform::REG_SZ) {
        value = std::move(stored.text);
    } else if (def != nullptr) {
        value = def;
    }
    cache.emplace(key, value);
    return value;
}

int32_t Settings::GetInt(const std::wstring& key, int32_t def) {
    const std::wstring def_text = FormatInt(def);
    return ParseLeadingInt(Get(key, def_text.c_str()));
}

void Settings::Set(const std::wstring& key, const std::wstring& value) {
    platform::MutexLock lock(m_mutex);
    cache[key] = value;
}

void Settings::Load() {
    const std::wstring programFolder = ProgramFolder();
    Get(setting_keys::kFullScreen, setting_keys::kDefaultFullScreen);
    Get(setting_keys::kMtvRootDir, setting_keys::kDefaultMtvRootDir);
    Get(setting_keys::kNaduMtvRootDir, setting_keys::kDefaultNaduMtvRootDir);
    const std::wstring indexDir = programFolder + L"\\" + setting_keys::kMtvIndexFolderName;
    Get(setting_keys::kMtvIndexDir, indexDir.c_str());
    {
        platform::MutexLock lock(m_mutex);
        htmlFolder = programFolder + L"\\html";
    }
    std::vector<std::wstring> exts;
    Split(GetUserMtvExt(), setting_keys::kUserMtvExtDelimiters, exts);
    platform::MutexLock lock(m_mutex);
    userMtvExts = std::move(exts);  // a second Load replaces the list rather than doubling it
}

void Settings::Save() {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    {
        platform::MutexLock lock(m_mutex);
        pairs.assign(cache.begin(), cache.end());
    }
    // One write for the whole cache, in key order; a failure is skipped like every other.
    platform::RegSetStrings(platform::RegRoot::CurrentUser, OptionsKey(), pairs);
}

std::wstring Settings::GetHtmlPath(const std::wstring& name) const {
    platform::MutexLock lock(m_mutex);
    return htmlFolder + L"\\" + name;
}

std::wstring Settings::GetMtvPath(const std::wstring& relative) {
    return Get(setting_keys::kMtvRootDir, nullptr) + L"\\" + relative;
}

std::wstring Settings::GetNaduMtvPath(const std::wstring& relative) {
    return Get(setting_keys::kNaduMtvRootDir, nullptr) + L"\\" + relative;
}

std::wstring Settings::GetMtvIndexDir() { return Get(setting_keys::kMtvIndexDir, nullptr); }

std::wstring Settings::GetUserMtvExt() { return Get(setting_keys::kUserMtvExt, setting_keys::kDefaultUserMtvExt); }

bool Settings::IsUserMtvExt(const std::wstring& ext) const {
    platform::MutexLock lock(m_mutex);
    for (const std::wstring& candidate : userMtvExts) {
        if (EqualsAsciiNoCase(candidate, ext)) return true;
    }
    return false;
}

int32_t Settings::GetWebServerPort() { return GetInt(setting_keys::kWebServerPort, setting_keys::kDefaultWebServerPort); }

std::wstring Settings::HtmlFolder() const {
    platform::MutexLock lock(m_mutex);
    return htmlFolder;
}

// ---------------------------------------------------------------------------------------------------
// PerfTimer

PerfTimer::PerfTimer(Settings* settings, std::wstring key)
    : m_settings(settings), m_key(std::move(key)), m_start(platform::GetTickCount()) {}

PerfTimer::~PerfTimer() {
    if (m_settings == nullptr) return;
    // Unsigned difference: correct across the tick count's wrap.
    const uint32_t elapsed = platform::GetTickCount() - m_start;
    m_settings->Set(m_key, FormatInt(static_cast<int32_t>(elapsed)));
}
