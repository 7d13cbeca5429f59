// The registry stand-in's hive in memory: keys with their values, found without regard to letter case.
// Pure data; no files, no locks. The text format (RegHiveFormat.h) reads and writes it, the store
// (RegHiveStore.h) keeps the current version of each root, and platform/Registry.cpp answers the
// public calls from it.
//
// A hive is a map from the case-folded key path to the key (its spelled path and its values in creation
// order). The map orders paths component by component, so a parent is followed directly by its whole
// subtree and the written file reads like a tree. The root itself (empty path) is always in the map.
//
// Parent keys: creating or filling a key creates every missing parent as a real key, as the platform
// does. Key paths and value names compare without regard to letter case (beyond ASCII too); the first
// writer's spelling is kept.
//
// Key paths: an empty component (a leading or doubled separator) and line breaks or zeros in a key name
// are refused; one trailing separator is ignored.
//
// Threads: a Hive is a plain value. The store shares finished hives between threads read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Registry.h"

namespace platform::reghive {

// Letter case folded for comparing names: ASCII directly, the rest through the C.UTF-8 locale.
wchar_t FoldBeyondAscii(wchar_t c);
inline wchar_t FoldChar(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    return FoldBeyondAscii(c);
}
std::wstring Fold(std::wstring_view s);

// Whether `c` is a Unicode scalar value. A value's text may hold any wchar_t; where text leaves the
// program (the hive file, the platform's UTF-16 data) anything else becomes U+FFFD.
inline bool IsValidCodePoint(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Orders folded paths component by component: the separator sorts before every other character, so
// "a\b" comes right after "a" and before "a b".
struct PathLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        const size_t n = a.size() < b.size() ? a.size() : b.size();
        for (size_t i = 0; i < n; ++i) {
            if (a[i] == b[i]) continue;
            if (a[i] == L'\\') return true;
            if (b[i] == L'\\') return false;
            return a[i] < b[i];
        }
        return a.size() < b.size();
    }
};

// Checks a key path and gives its spelled form (one trailing separator dropped). False for an empty
// component or a character that would break a section line (line breaks, zero). The empty path is the
// root.
bool NormalizeKey(std::wstring_view key, std::wstring* spelled);

struct Key {
    std::wstring path;             // the spelled path below the root; "" for the root
    std::vector<RegValue> values;  // in creation order
    std::unordered_map<std::wstring, size_t> index;  // folded value name -> position in `values`
};

using KeyMap = std::map<std::wstring, Key, PathLess>;  // folded path -> key

struct Hive {
    KeyMap keys;  // always holds the root ("")

    Hive() { keys.emplace(std::wstring(), Key{}); }
};

// Finds or creates a key with all its parents; *created is set when any key was made. A new component
// is spelled as given; existing components keep their first spelling. `spelled` must be normalized.
Key& CreateKeyPath(KeyMap& keys, const std::wstring& spelled, bool* created);

// The key at a (not yet normalized) path; null when the path is refused or the key is missing.
const Key* FindKey(const Hive& hive, std::wstring_view key);

const RegValue* FindValue(const Key& key, std::wstring_view name);

// Sets a value, keeping the spelling and position of an existing value with that name. False when the
// value was there already with the same type and data.
bool SetValue(Key& key, RegValue value);

// Removes a value; false when there is none of that name.
bool EraseValue(Key& key, std::wstring_view name);

// Removes the key at the folded path with all its subkeys; false when it does not exist. The root
// cannot go: for "" it loses its values and every subkey. *changed is set when anything was removed.
bool EraseTree(KeyMap& keys, const std::wstring& folded, bool* changed);

// Names of the direct subkeys of the key at the folded path (first spelling kept), in key order; empty
// when it does not exist.
std::vector<std::wstring> SubKeyNames(const KeyMap& keys, const std::wstring& folded);

}  // namespace platform::reghive
