// Settings: the settings store. String keys ("setting:", "pref:", "perf:" by convention) with string
// values, cached in memory on first read with the reader's default, changed only in memory while the
// program runs, and written back as a whole by Save to the registry key
// HKEY_CURRENT_USER\Software\Nadusoft\<application name>\Options, one REG_SZ value per key.
//
// One store, g_settings, is created and loaded by start-up and saved and destroyed at exit.
// Thread-safe: the GUI thread and the web workers share it; m_mutex guards every field that changes.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "platform/ThreadAnnotations.h"
#include <string>
#include <vector>

#include "core/Text.h"  // Split, one of the store's shared operations

class Settings {
public:
    // appName: the profile name; by default the executable's file name without extension.
    explicit Settings(std::wstring appName = DefaultApplicationName());
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // The cached value; on a miss the profile's value, else `def` (null: empty), which is then cached.
    std::wstring Get(const std::wstring& key, const wchar_t* def);
    // Get with FormatInt(def), then the leading decimal integer of the text (0 without digits).
    int32_t GetInt(const std::wstring& key, int32_t def);
    // Stores the value in the cache only; Save writes it.
    void Set(const std::wstring& key, const std::wstring& value);

    void Load();  // seeds the defaults, computes htmlFolder and the extension list
    void Save();  // writes every cached pair to the profile; failures are skipped

    std::wstring GetHtmlPath(const std::wstring& name) const;
    std::wstring GetMtvPath(const std::wstring& relative);
    std::wstring GetNaduMtvPath(const std::wstring& relative);
    std::wstring GetMtvIndexDir();
    std::wstring GetUserMtvExt();
    bool IsUserMtvExt(const std::wstring& ext) const;
    int32_t GetWebServerPort();

    std::wstring HtmlFolder() const;
    const std::wstring& ApplicationName() const { return m_appName; }
    // "Software\Nadusoft\<application name>\Options"
    std::wstring OptionsKey() const;

    static std::wstring DefaultApplicationName();

private:
    const std::wstring m_appName;  // constant after construction

    mutable platform::Mutex m_mutex;
    std::wstring htmlFolder GUARDED_BY(m_mutex);
    std::map<std::wstring, std::wstring> cache GUARDED_BY(m_mutex);  // exact, case-sensitive keys
    std::vector<std::wstring> userMtvExts GUARDED_BY(m_mutex);
};

// "%d".
std::wstring FormatInt(int32_t value);
// The running program's full path.
std::wstring GetProgramPath();
// The text before the last "\" or "/"; a separator just before it is dropped too; "" without one.
std::wstring GetDirectoryPart(const std::wstring& path);

// Notes the tick count when made; when it ends, stores the elapsed milliseconds under `key` in the
// given store (nothing when the store is null).
class PerfTimer {
public:
    PerfTimer(Settings* settings, std::wstring key);
    ~PerfTimer();
    PerfTimer(const PerfTimer&) = delete;
    PerfTimer& operator=(const PerfTimer&) = delete;

private:
    Settings* m_settings;
    std::wstring m_key;
    uint32_t m_start;
};
