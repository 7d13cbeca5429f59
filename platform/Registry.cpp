// The registry's public calls (platform/Registry.h): argument checks, then a read of the current hive
// or a change through the store. The pieces: RegHive.h (the hive in memory), RegHiveFormat.h (its file
// text), RegHiveStore.h (files, locks and the cached versions).
#include "platform/Registry.h"

#include <cstdint>
#include <utility>

#include "platform/RegHive.h"
#include "platform/RegHiveStore.h"

namespace platform {

using namespace reghive;

namespace {

LSTATUS SetValues(RegRoot root, std::wstring_view key, std::vector<RegValue> values) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return ERROR_INVALID_PARAMETER;
    return ModifyHive(root, [&](KeyMap& keys, bool* changed) {
        Key& k = CreateKeyPath(keys, spelled, changed);
        for (RegValue& v : values)
            if (SetValue(k, std::move(v))) *changed = true;
        return ERROR_SUCCESS;
    });
}

}  // namespace

LSTATUS RegCreateKey(RegRoot root, std::wstring_view key) { return SetValues(root, key, {}); }

bool RegKeyExists(RegRoot root, std::wstring_view key) {
    const auto hive = CurrentHive(root);
    return FindKey(*hive, key) != nullptr;
}

LSTATUS RegSetString(RegRoot root, std::wstring_view key, std::wstring_view name, std::wstring_view value) {
    RegValue v;
    v.name = name;
    v.type = REG_SZ;
    v.text = value;
    std::vector<RegValue> values;
    values.push_back(std::move(v));
    return SetValues(root, key, std::move(values));
}

LSTATUS RegSetDword(RegRoot root, std::wstring_view key, std::wstring_view name, uint32_t value) {
    RegValue v;
    v.name = name;
    v.type = REG_DWORD;
    v.dword = value;
    std::vector<RegValue> values;
    values.push_back(std::move(v));
    return SetValues(root, key, std::move(values));
}

LSTATUS RegSetStrings(RegRoot root, std::wstring_view key,
                      const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    std::vector<RegValue> list;
    list.reserve(values.size());
    for (const auto& [name, text] : values) {
        RegValue v;
        v.name = name;
        v.type = REG_SZ;
        v.text = text;
        list.push_back(std::move(v));
    }
    return SetValues(root, key, std::move(list));
}

LSTATUS RegQueryValue(RegRoot root, std::wstring_view key, std::wstring_view name, RegValue* value) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return ERROR_INVALID_PARAMETER;
    const auto hive = CurrentHive(root);
    const Key* k = FindKey(*hive, spelled);
    if (k == nullptr) return ERROR_FILE_NOT_FOUND;
    const RegValue* v = FindValue(*k, name);
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    if (value != nullptr) *value = *v;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueBytes(RegRoot root, std::wstring_view key, std::wstring_view name, uint32_t* type,
                           std::vector<uint8_t>* data) {
    RegValue v;
    const LSTATUS status = RegQueryValue(root, key, name, &v);
    if (status != ERROR_SUCCESS) return status;
    if (type != nullptr) *type = v.type;
    if (data == nullptr) return ERROR_SUCCESS;
    data->clear();
    auto put16 = [data](uint32_t u) {
        data->push_back(static_cast<uint8_t>(u & 0xFF));
        data->push_back(static_cast<uint8_t>(u >> 8));
    };
    if (v.type == REG_DWORD) {
        put16(v.dword & 0xFFFF);
        put16(v.dword >> 16);
        return ERROR_SUCCESS;
    }
    for (wchar_t wc : v.text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (!IsValidCodePoint(c)) c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            put16(0xD800 | (c >> 10));
            put16(0xDC00 | (c & 0x3FF));
        } else {
            put16(c);
        }
    }
    put16(0);
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteValue(RegRoot root, std::wstring_view key, std::wstring_view name) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return ERROR_INVALID_PARAMETER;
    return ModifyHive(root, [&](KeyMap& keys, bool* changed) {
        const auto it = keys.find(Fold(spelled));
        if (it == keys.end()) return ERROR_FILE_NOT_FOUND;
        if (!EraseValue(it->second, name)) return ERROR_FILE_NOT_FOUND;
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteTree(RegRoot root, std::wstring_view key) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return ERROR_INVALID_PARAMETER;
    const std::wstring folded = Fold(spelled);
    return ModifyHive(root, [&](KeyMap& keys, bool* changed) {
        return EraseTree(keys, folded, changed) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

std::vector<std::wstring> RegEnumSubKeys(RegRoot root, std::wstring_view key) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return {};
    return SubKeyNames(CurrentHive(root)->keys, Fold(spelled));
}

std::vector<RegValue> RegEnumValues(RegRoot root, std::wstring_view key) {
    const auto hive = CurrentHive(root);
    const Key* k = FindKey(*hive, key);
    return k == nullptr ? std::vector<RegValue>() : k->values;
}

}  // namespace platform
