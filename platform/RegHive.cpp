#include "platform/RegHive.h"

#include <cstddef>
#include <iterator>
#include <locale.h>
#include <utility>
#include <wctype.h>

namespace platform::reghive {
namespace {

locale_t FoldLocale() {
    // Case folding beyond ASCII needs a UTF-8 character-type locale; the plain "C" locale only folds
    // ASCII. Made once, never freed (used until the process ends).
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return loc;
}

}  // namespace

wchar_t FoldBeyondAscii(wchar_t c) {
    const locale_t loc = FoldLocale();
    return loc != nullptr ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc)) : c;
}

std::wstring Fold(std::wstring_view s) {
    std::wstring out(s);
    for (wchar_t& c : out) c = FoldChar(c);
    return out;
}

bool NormalizeKey(std::wstring_view key, std::wstring* spelled) {
    if (key.size() > 1 && key.back() == L'\\') key.remove_suffix(1);
    if (key.empty()) {
        spelled->clear();
        return true;
    }
    bool componentEmpty = true;
    for (wchar_t c : key) {
        if (c == L'\n' || c == L'\r' || c == L'\0') return false;
        if (c == L'\\') {
            if (componentEmpty) return false;
            componentEmpty = true;
        } else {
            componentEmpty = false;
        }
    }
    if (componentEmpty) return false;
    spelled->assign(key);
    return true;
}

Key& CreateKeyPath(KeyMap& keys, const std::wstring& spelled, bool* created) {
    Key* current = &keys.at(std::wstring());
    size_t start = 0;
    while (start < spelled.size()) {
        size_t end = spelled.find(L'\\', start);
        if (end == std::wstring::npos) end = spelled.size();
        const std::wstring folded = Fold(std::wstring_view(spelled).substr(0, end));
        auto it = keys.find(folded);
        if (it == keys.end()) {
            Key k;
            k.path = current->path.empty() ? spelled.substr(start, end - start)
                                           : current->path + L'\\' + spelled.substr(start, end - start);
            it = keys.emplace(folded, std::move(k)).first;
            *created = true;
        }
        current = &it->second;
        start = end + 1;
    }
    return *current;
}

const Key* FindKey(const Hive& hive, std::wstring_view key) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return nullptr;
    const auto it = hive.keys.find(Fold(spelled));
    return it == hive.keys.end() ? nullptr : &it->second;
}

const RegValue* FindValue(const Key& key, std::wstring_view name) {
    const auto it = key.index.find(Fold(name));
    return it == key.index.end() ? nullptr : &key.values[it->second];
}

bool SetValue(Key& key, RegValue value) {
    std::wstring folded = Fold(value.name);
    const auto it = key.index.find(folded);
    if (it != key.index.end()) {
        RegValue& old = key.values[it->second];
        if (old.type == value.type && old.text == value.text && old.dword == value.dword) return false;
        old.type = value.type;
        old.text = std::move(value.text);
        old.dword = value.dword;
        return true;
    }
    key.index.emplace(std::move(folded), key.values.size());
    key.values.push_back(std::move(value));
    return true;
}

bool EraseValue(Key& key, std::wstring_view name) {
    const auto it = key.index.find(Fold(name));
    if (it == key.index.end()) return false;
    const size_t pos = it->second;
    key.index.erase(it);
    key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(pos));
    for (auto& [folded, at] : key.index)
        if (at > pos) --at;
    return true;
}

bool EraseTree(KeyMap& keys, const std::wstring& folded, bool* changed) {
    if (folded.empty()) {
        Key& rootKey = keys.at(std::wstring());
        *changed = keys.size() > 1 || !rootKey.values.empty();
        rootKey.values.clear();
        rootKey.index.clear();
        keys.erase(std::next(keys.begin()), keys.end());
        return true;
    }
    auto first = keys.find(folded);
    if (first == keys.end()) return false;
    const std::wstring prefix = folded + L'\\';
    auto last = std::next(first);
    while (last != keys.end() && last->first.compare(0, prefix.size(), prefix) == 0) ++last;
    keys.erase(first, last);
    *changed = true;
    return true;
}

std::vector<std::wstring> SubKeyNames(const KeyMap& keys, const std::wstring& folded) {
    std::vector<std::wstring> names;
    if (keys.find(folded) == keys.end()) return names;
    const std::wstring prefix = folded.empty() ? std::wstring() : folded + L'\\';
    for (auto it = keys.upper_bound(folded); it != keys.end(); ++it) {
        const std::wstring& path = it->first;
        if (path.compare(0, prefix.size(), prefix) != 0) break;
        if (path.find(L'\\', prefix.size()) != std::wstring::npos) continue;  // deeper down
        const std::wstring& full = it->second.path;
        const size_t slash = full.rfind(L'\\');
        names.push_back(slash == std::wstring::npos ? full : full.substr(slash + 1));
    }
    return names;
}

}  // namespace platform::reghive
