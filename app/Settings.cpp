#include "app/Settings.h"

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Tick.h"

#include <climits>
#include <utility>

namespace {

const wchar_t kUserMtvExtKey[] = L"setting:UserMtvExt";
const wchar_t kDefaultUserMtvExt[] = L"mp3,avi,dat,wmv,wma,rmvb";

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The program folder: the folder part of the running program's path.
std::wstring ProgramFolder() { return GetDirectoryPart(GetProgramPath()); }

// The leading decimal integer of a text, as atoi reads it: leading white space, an optional sign,
// digits; 0 without digits. A number beyond the 32-bit range is clamped to its nearest end instead
// of overflowing.
int32_t LeadingInt(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    int64_t magnitude = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - L'0');
        if (magnitude > limit) magnitude = limit;  // keep reading the digits, never overflow
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

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

size_t Split(const std::wstring& text, const wchar_t* delimiters, std::vector<std::wstring>& list) {
    const std::wstring_view delims = delimiters != nullptr ? delimiters : L"";
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && delims.find(text[end]) == std::wstring_view::npos) ++end;
        if (end > start) list.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return list.size();
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
    std::lock_guard<std::mutex> lock(m_mutex);
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
    return LeadingInt(Get(key, def_text.c_str()));
}

void Settings::Set(const std::wstring& key, const std::wstring& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    cache[key] = value;
}

void Settings::Load() {
    const std::wstring programFolder = ProgramFolder();
    Get(L"pref:FullScreen", L"false");
    Get(L"setting:MtvRootDir", L"C:\\Mtv");
    Get(L"setting:NaduMtvRootDir", L"C:\\NaduMtv");
    const std::wstring indexDir = programFolder + L"\\mtvindex";
    Get(L"setting:MtvIndexDir", indexDir.c_str());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        htmlFolder = programFolder + L"\\html";
    }
    std::vector<std::wstring> exts;
    Split(GetUserMtvExt(), L", ;", exts);
    std::lock_guard<std::mutex> lock(m_mutex);
    userMtvExts = std::move(exts);  // a second Load replaces the list rather than doubling it
}

void Settings::Save() {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pairs.assign(cache.begin(), cache.end());
    }
    // One write for the whole cache, in key order; a failure is skipped like every other.
    platform::RegSetStrings(platform::RegRoot::CurrentUser, OptionsKey(), pairs);
}

std::wstring Settings::GetHtmlPath(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return htmlFolder + L"\\" + name;
}

std::wstring Settings::GetMtvPath(const std::wstring& relative) {
    return Get(L"setting:MtvRootDir", nullptr) + L"\\" + relative;
}

std::wstring Settings::GetNaduMtvPath(const std::wstring& relative) {
    return Get(L"setting:NaduMtvRootDir", nullptr) + L"\\" + relative;
}

std::wstring Settings::GetMtvIndexDir() { return Get(L"setting:MtvIndexDir", nullptr); }

std::wstring Settings::GetUserMtvExt() { return Get(kUserMtvExtKey, kDefaultUserMtvExt); }

bool Settings::IsUserMtvExt(const std::wstring& ext) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::wstring& candidate : userMtvExts) {
        if (candidate.size() != ext.size()) continue;
        bool same = true;
        for (size_t i = 0; same && i < ext.size(); ++i) same = AsciiLower(candidate[i]) == AsciiLower(ext[i]);
        if (same) return true;
    }
    return false;
}

int32_t Settings::GetWebServerPort() { return GetInt(L"setting:WebServerPort", 8080); }

std::wstring Settings::HtmlFolder() const {
    std::lock_guard<std::mutex> lock(m_mutex);
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
