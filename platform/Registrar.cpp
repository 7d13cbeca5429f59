#include "platform/Registrar.h"

#include <cstdio>

namespace platform {
namespace {

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

// The first failure is kept; later ones are not lost from the run, only from the result.
void KeepFirst(HRESULT* first, HRESULT hr) {
    if (SUCCEEDED(*first) && FAILED(hr)) *first = hr;
}

HRESULT DeleteTreeIfPresent(RegRoot root, std::wstring_view key) {
    const LSTATUS status = RegDeleteTree(root, key);
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

std::wstring VersionText(const TypeLibDesc& library) {
    return std::to_wstring(library.majorVersion) + L"." + std::to_wstring(library.minorVersion);
}

std::wstring HexText(unsigned value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%X", value);
    return text;
}

bool RegistersInterface(const InterfaceDesc& iface) {
    return (iface.typeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
}

}  // namespace

std::wstring ApplyReplacements(std::wstring_view text, const RegReplacements& replacements) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != L'%') {
            out.push_back(text[i++]);
            continue;
        }
        const size_t end = text.find(L'%', i + 1);
        if (end == std::wstring_view::npos) {
            out.append(text.substr(i));
            break;
        }
        const std::wstring_view name = text.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out.push_back(L'%');
            i = end + 1;
            continue;
        }
        bool replaced = false;
        for (const auto& [key, value] : replacements) {
            if (key == name) {
                out.append(value);
                replaced = true;
                break;
            }
        }
        if (replaced) {
            i = end + 1;
        } else {
            out.push_back(L'%');  // not a replacement: keep it, and look again from the next "%"
            ++i;
        }
    }
    return out;
}

HRESULT RegisterScript(RegRoot root, std::span<const RegScriptKey> script, const RegReplacements& replacements) {
    for (const RegScriptKey& key : script) {
        const std::wstring path = ApplyReplacements(key.path, replacements);
        if (key.flag == RegScriptFlag::force_remove) {
            const HRESULT hr = DeleteTreeIfPresent(root, path);
            if (FAILED(hr)) return hr;
        }
        LSTATUS status = ERROR_SUCCESS;
        if (key.values.empty()) {
            status = RegCreateKey(root, path);
        } else {
            std::vector<std::pair<std::wstring, std::wstring>> values;
            for (const RegScriptValue& v : key.values) {
                values.emplace_back(std::wstring(v.name), ApplyReplacements(v.text, replacements));
            }
            status = RegSetStrings(root, path, values);
        }
        if (status != ERROR_SUCCESS) return FromStatus(status);
    }
    return S_OK;
}

HRESULT UnregisterScript(RegRoot root, std::span<const RegScriptKey> script, const RegReplacements& replacements) {
    HRESULT first = S_OK;
    // Subkeys before their parents, so that a parent is empty by the time it is looked at.
    for (auto it = script.rbegin(); it != script.rend(); ++it) {
        const RegScriptKey& key = *it;
        if (key.flag == RegScriptFlag::no_remove) continue;
        const std::wstring path = ApplyReplacements(key.path, replacements);
        if (!RegKeyExists(root, path)) continue;
        if (key.flag == RegScriptFlag::force_remove || RegEnumSubKeys(root, path).empty()) {
            KeepFirst(&first, DeleteTreeIfPresent(root, path));
            continue;
        }
        // Someone else's subkeys keep the key; only what the script wrote goes.
        for (const RegScriptValue& v : key.values) {
            const LSTATUS status = RegDeleteValue(root, path, v.name);
            if (status != ERROR_FILE_NOT_FOUND) KeepFirst(&first, FromStatus(status));
        }
    }
    return first;
}

HRESULT RegisterTypeLib(const TypeLibDesc& library, std::wstring_view modulePath, std::wstring_view helpDir) {
    const std::wstring libid = GuidToString(library.libid);
    const std::wstring version = VersionText(library);
    const std::wstring base = L"TypeLib\\" + libid + L"\\" + version;
    const std::wstring title(library.help.empty() ? library.name : library.help);
    const std::pair<std::wstring, std::wstring> entries[] = {
        {base, title},
        {base + L"\\FLAGS", HexText(library.libFlags)},
        {base + L"\\0\\win32", std::wstring(modulePath)},
        {base + L"\\HELPDIR", std::wstring(helpDir)},
    };
    for (const auto& [key, text] : entries) {
        const LSTATUS status = RegSetString(RegRoot::ClassesRoot, key, L"", text);
        if (status != ERROR_SUCCESS) return FromStatus(status);
    }
    const std::wstring marshaler = GuidToString(CLSID_PSOAInterface);
    for (const InterfaceDesc* iface : library.interfaces) {
        if (!RegistersInterface(*iface)) continue;
        const std::wstring key = L"Interface\\" + GuidToString(iface->iid);
        const std::vector<std::pair<std::wstring, std::vector<std::pair<std::wstring, std::wstring>>>> keys = {
            {key, {{L"", std::wstring(iface->name)}}},
            {key + L"\\ProxyStubClsid", {{L"", marshaler}}},
            {key + L"\\ProxyStubClsid32", {{L"", marshaler}}},
            {key + L"\\TypeLib", {{L"", libid}, {L"Version", version}}},
        };
        for (const auto& [path, values] : keys) {
            const LSTATUS status = RegSetStrings(RegRoot::ClassesRoot, path, values);
            if (status != ERROR_SUCCESS) return FromStatus(status);
        }
    }
    return S_OK;
}

HRESULT UnRegisterTypeLib(const TypeLibDesc& library) {
    HRESULT first = S_OK;
    const std::wstring libid = GuidToString(library.libid);
    const std::wstring libKey = L"TypeLib\\" + libid;
    KeepFirst(&first, DeleteTreeIfPresent(RegRoot::ClassesRoot, libKey + L"\\" + VersionText(library)));
    if (RegKeyExists(RegRoot::ClassesRoot, libKey) && RegEnumSubKeys(RegRoot::ClassesRoot, libKey).empty()) {
        KeepFirst(&first, DeleteTreeIfPresent(RegRoot::ClassesRoot, libKey));
    }
    for (const InterfaceDesc* iface : library.interfaces) {
        if (!RegistersInterface(*iface)) continue;
        const std::wstring key = L"Interface\\" + GuidToString(iface->iid);
        // Only when the key still names this library: another library may have registered the interface since.
        RegValue owner;
        GUID named;
        if (RegQueryValue(RegRoot::ClassesRoot, key + L"\\TypeLib", L"", &owner) == ERROR_SUCCESS &&
            owner.type == REG_SZ && GuidFromString(owner.text, &named) && !(named == library.libid)) {
            continue;
        }
        KeepFirst(&first, DeleteTreeIfPresent(RegRoot::ClassesRoot, key));
    }
    return first;
}

}  // namespace platform
