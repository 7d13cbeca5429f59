#include "platform/RegHiveFormat.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/Utf8.h"

namespace platform::reghive {
namespace {

// ---------------------------------------------------------------------------------------------------
// UTF-8

void AppendUtf8(std::string& out, wchar_t wc) { utf8::Append(out, static_cast<uint32_t>(wc)); }

// Strict UTF-8 decoding: every byte that does not start a well-formed sequence becomes U+FFFD and
// sets *bad. Written through a pointer into room for one character per byte (the most there can be),
// which keeps the loop free of per-character growth checks.
std::wstring DecodeUtf8(std::string_view s, bool* bad) {
    std::wstring out(s.size(), L'\0');
    wchar_t* o = out.data();
    size_t i = 0;
    while (i < s.size()) {
        uint32_t c = 0;
        const size_t length = utf8::Decode(s, i, &c);
        if (length != 0) {
            *o++ = static_cast<wchar_t>(c);
            i += length;
        } else {
            *o++ = static_cast<wchar_t>(0xFFFD);
            *bad = true;
            ++i;
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string EncodeUtf8(std::wstring_view s) {
    std::string out;
    out.reserve(s.size());
    for (wchar_t c : s) AppendUtf8(out, c);
    return out;
}

void AppendQuoted(std::string& out, std::wstring_view s) {
    out += '"';
    for (wchar_t c : s) {
        switch (c) {
        case L'\\': out += "\\\\"; break;
        case L'"': out += "\\\""; break;
        case L'\n': out += "\\n"; break;
        case L'\r': out += "\\r"; break;
        case L'\0': out += "\\0"; break;
        default: AppendUtf8(out, c);
        }
    }
    out += '"';
}

// ---------------------------------------------------------------------------------------------------
// Lines

const char* RootName(RegRoot root) {
    return root == RegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT";
}

bool StartsWithNoCase(std::wstring_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (FoldChar(s[i]) != FoldChar(static_cast<wchar_t>(prefix[i]))) return false;
    return true;
}

void SkipBlanks(std::wstring_view s, size_t* i) {
    while (*i < s.size() && (s[*i] == L' ' || s[*i] == L'\t')) ++*i;
}

// Reads a quoted text starting at s[*i] == '"'; false when it is not closed.
bool ParseQuoted(std::wstring_view s, size_t* i, std::wstring* out) {
    out->clear();
    for (size_t k = *i + 1; k < s.size(); ++k) {
        const wchar_t c = s[k];
        if (c == L'"') {
            *i = k + 1;
            return true;
        }
        if (c != L'\\' || k + 1 >= s.size()) {
            *out += c;
            continue;
        }
        const wchar_t e = s[++k];
        switch (e) {
        case L'\\': *out += L'\\'; break;
        case L'"': *out += L'"'; break;
        case L'n': *out += L'\n'; break;
        case L'r': *out += L'\r'; break;
        case L'0': *out += L'\0'; break;
        default:  // not an escape: keep the backslash as written by hand
            *out += L'\\';
            *out += e;
        }
    }
    return false;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// One value line: "name"="text", "name"=dword:XXXXXXXX, @=... .
bool ParseValueLine(std::wstring_view line, RegValue* value) {
    size_t i = 0;
    value->name.clear();
    if (line[0] == L'@') {
        i = 1;
    } else if (!ParseQuoted(line, &i, &value->name)) {
        return false;
    }
    SkipBlanks(line, &i);
    if (i >= line.size() || line[i] != L'=') return false;
    ++i;
    SkipBlanks(line, &i);
    if (i < line.size() && line[i] == L'"') {
        if (!ParseQuoted(line, &i, &value->text)) return false;
        SkipBlanks(line, &i);
        value->type = REG_SZ;
        value->dword = 0;
        return i == line.size();
    }
    if (!StartsWithNoCase(line.substr(i), "dword:")) return false;
    i += 6;
    uint32_t v = 0;
    size_t digits = 0;
    for (; i < line.size() && HexDigit(line[i]) >= 0; ++i, ++digits) v = (v << 4) | HexDigit(line[i]);
    SkipBlanks(line, &i);
    if (digits == 0 || digits > 8 || i != line.size()) return false;
    value->type = REG_DWORD;
    value->text.clear();
    value->dword = v;
    return true;
}

}  // namespace

ParseDamage ParseHive(std::string_view bytes, RegRoot root, Hive* hive) {
    ParseDamage damage;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    const std::string_view rootName = RootName(root);

    auto noteBad = [&](size_t lineNo) {
        if (damage.badLines++ == 0) damage.firstBadLine = lineNo;
    };

    Key* section = nullptr;  // current section, null before the first or after a bad header
    bool sawHeader = false;  // the "REGEDIT4" line (or any content line in its place)
    size_t lineNo = 0;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        bool badBytes = false;
        const std::wstring decoded = DecodeUtf8(bytes.substr(pos, end - pos), &badBytes);
        pos = end + 1;
        ++lineNo;
        std::wstring_view line(decoded);
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ' || line.back() == L'\t'))
            line.remove_suffix(1);
        size_t lead = 0;
        SkipBlanks(line, &lead);
        line.remove_prefix(lead);
        if (line.empty() || line[0] == L';') continue;
        if (badBytes) {
            // Not UTF-8: the line cannot be trusted to mean what it says.
            noteBad(lineNo);
            continue;
        }
        if (!sawHeader) {
            sawHeader = true;
            if (line == L"REGEDIT4") continue;
            noteBad(lineNo);  // no header: note it, but still read the line as content
        }
        if (line[0] == L'[') {
            section = nullptr;
            std::wstring spelled;
            if (line.back() == L']') {
                const std::wstring_view inner = line.substr(1, line.size() - 2);
                if (StartsWithNoCase(inner, rootName)) {
                    std::wstring_view rest = inner.substr(rootName.size());
                    const bool ok = rest.empty() || (rest[0] == L'\\' && rest.size() > 1);
                    if (ok && !rest.empty()) rest.remove_prefix(1);
                    if (ok && NormalizeKey(rest, &spelled)) {
                        bool created = false;
                        section = &CreateKeyPath(hive->keys, spelled, &created);
                    }
                }
            }
            if (section == nullptr) noteBad(lineNo);
            continue;
        }
        RegValue value;
        if (section == nullptr || (line[0] != L'"' && line[0] != L'@') || !ParseValueLine(line, &value)) {
            noteBad(lineNo);
            continue;
        }
        SetValue(*section, std::move(value));  // a repeated name: the later line wins
    }
    return damage;
}

std::string SerializeHive(const Hive& hive, RegRoot root) {
    std::string out = "REGEDIT4\n";
    const std::string rootName = RootName(root);
    for (const auto& [folded, key] : hive.keys) {
        if (key.path.empty() && key.values.empty()) continue;
        out += "\n[";
        out += rootName;
        if (!key.path.empty()) {
            out += '\\';
            out += EncodeUtf8(key.path);
        }
        out += "]\n";
        for (const RegValue& v : key.values) {
            if (v.name.empty()) {
                out += '@';
            } else {
                AppendQuoted(out, v.name);
            }
            out += '=';
            if (v.type == REG_DWORD) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
                out += buf;
            } else {
                AppendQuoted(out, v.text);
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace platform::reghive
