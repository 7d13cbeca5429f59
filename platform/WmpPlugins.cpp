#include "platform/WmpPlugins.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>
#include <cwchar>

#include "platform/Registry.h"

namespace platform {

const CLSID CLSID_WMPMediaPluginRegistrar{0x5569E7F5, 0x424B, 0x4B93,
                                          {0x89, 0xCA, 0x79, 0xD1, 0x79, 0x24, 0x68, 0x9A}};

namespace {

constexpr DWORD kNoPriority = std::numeric_limits<DWORD>::max();

// Value names compare without regard to letter case, as everywhere in the registry.
bool SameName(const std::wstring& a, const wchar_t* b) { return wcscasecmp(a.c_str(), b) == 0; }

// The key of one plug-in's record, or empty for an unknown plug-in type.
std::wstring RecordKey(const GUID& pluginType, const CLSID& clsid) {
    const wchar_t* kind = nullptr;
    if (pluginType == WMP_PLUGINTYPE_DSP) {
        kind = L"DSP";
    } else if (pluginType == WMP_PLUGINTYPE_RENDERING) {
        kind = L"Rendering";
    } else {
        return {};
    }
    return std::wstring(L"Software\\MediaPlayer\\Plugins\\") + kind + L"\\" + GuidToString(clsid);
}

// The registrar object: stateless, one per CreateInstance.
class MediaPluginRegistrar final
    : public SingleInterfaceObject<IWMPMediaPluginRegistrar, IID_IWMPMediaPluginRegistrar> {
public:
    MediaPluginRegistrar() = default;
    MediaPluginRegistrar(const MediaPluginRegistrar&) = delete;
    MediaPluginRegistrar& operator=(const MediaPluginRegistrar&) = delete;


    HRESULT WMPRegisterPlayerPlugin(const OLECHAR* friendlyName, const OLECHAR* description,
                                    const OLECHAR* uninstallString, DWORD priority, GUID pluginType, CLSID clsid,
                                    UINT mediaTypeCount, const void* mediaTypes) override {
        if (friendlyName == nullptr || description == nullptr) return E_POINTER;
        if (mediaTypeCount != 0 && mediaTypes == nullptr) return E_INVALIDARG;
        const std::wstring key = RecordKey(pluginType, clsid);
        if (key.empty()) return E_INVALIDARG;

        std::vector<std::pair<std::wstring, std::wstring>> values = {
            {L"FriendlyName", friendlyName},
            {L"Description", description},
        };
        if (uninstallString != nullptr) values.emplace_back(L"UninstallPath", uninstallString);
        values.emplace_back(L"MediaTypes",
                            FormatMediaTypes(static_cast<const DMO_PARTIAL_MEDIATYPE*>(mediaTypes), mediaTypeCount));

        // Re-registration replaces the whole record, so no value of an older version lingers.
        LSTATUS status = RegDeleteTree(RegRoot::CurrentUser, key);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
        status = RegSetStrings(RegRoot::CurrentUser, key, values);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        status = RegSetDword(RegRoot::CurrentUser, key, L"Priority", priority);
        return HRESULT_FROM_WIN32(status);
    }

    HRESULT WMPUnRegisterPlayerPlugin(GUID pluginType, CLSID clsid) override {
        const std::wstring key = RecordKey(pluginType, clsid);
        if (key.empty()) return E_INVALIDARG;
        const LSTATUS status = RegDeleteTree(RegRoot::CurrentUser, key);
        if (status == ERROR_FILE_NOT_FOUND) return S_FALSE;
        return HRESULT_FROM_WIN32(status);
    }

private:
    ~MediaPluginRegistrar() override = default;
};

// The registrar's class object: a static object, so its count never deletes it.
class RegistrarFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* registrar = new (std::nothrow) MediaPluginRegistrar;
        if (registrar == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = registrar->QueryInterface(iid, object);
        registrar->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

RegistrarFactory g_registrarFactory;

// Registers the built-in class when this file is linked in (see the header).
const bool g_registrarRegistered = [] {
    RegisterBuiltinClass(CLSID_WMPMediaPluginRegistrar, &g_registrarFactory);
    return true;
}();

}  // namespace

std::wstring FormatMediaTypes(const DMO_PARTIAL_MEDIATYPE* types, size_t count) {
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) text += L';';
        text += GuidToString(types[i].type);
        text += L'/';
        text += GuidToString(types[i].subtype);
    }
    return text;
}

std::vector<DMO_PARTIAL_MEDIATYPE> ParseMediaTypes(std::wstring_view text) {
    std::vector<DMO_PARTIAL_MEDIATYPE> types;
    while (!text.empty()) {
        const size_t end = text.find(L';');
        const std::wstring_view pair = text.substr(0, end);
        const size_t slash = pair.find(L'/');
        DMO_PARTIAL_MEDIATYPE type{};
        if (slash != std::wstring_view::npos && GuidFromString(pair.substr(0, slash), &type.type) &&
            GuidFromString(pair.substr(slash + 1), &type.subtype)) {
            types.push_back(type);
        }
        if (end == std::wstring_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return types;
}

std::vector<DspPluginRecord> ListDspPlugins() {
    std::vector<DspPluginRecord> records;
    for (const std::wstring& name : RegEnumSubKeys(RegRoot::CurrentUser, kDspPluginsKey)) {
        DspPluginRecord record;
        if (!GuidFromString(name, &record.clsid)) continue;
        record.priority = kNoPriority;
        const std::wstring key = std::wstring(kDspPluginsKey) + L"\\" + name;
        for (const RegValue& value : RegEnumValues(RegRoot::CurrentUser, key)) {
            if (SameName(value.name, L"FriendlyName") && value.type == REG_SZ) {
                record.friendlyName = value.text;
            } else if (SameName(value.name, L"Description") && value.type == REG_SZ) {
                record.description = value.text;
            } else if (SameName(value.name, L"Priority") && value.type == REG_DWORD) {
                record.priority = value.dword;
            } else if (SameName(value.name, L"MediaTypes") && value.type == REG_SZ) {
                record.mediaTypes = ParseMediaTypes(value.text);
            }
        }
        records.push_back(std::move(record));
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const DspPluginRecord& a, const DspPluginRecord& b) { return a.priority < b.priority; });
    return records;
}

}  // namespace platform
