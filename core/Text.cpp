#include "core/Text.h"

#include <climits>

namespace {

template <typename Char>
int32_t LeadingInt(std::basic_string_view<Char> text) {
    size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t magnitude = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) magnitude = limit;  // keep reading the digits, never overflow
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

template <typename Char>
bool EqualsNoCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

}  // namespace

void AsciiLowerInPlace(std::wstring& text) {
    for (wchar_t& c : text) c = AsciiLower(c);
}

std::wstring AsciiLowerCopy(std::wstring_view text) {
    std::wstring copy(text);
    AsciiLowerInPlace(copy);
    return copy;
}

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b) { return EqualsNoCase(a, b); }
bool EqualsAsciiNoCase(std::string_view a, std::string_view b) { return EqualsNoCase(a, b); }

int32_t ParseLeadingInt(std::wstring_view text) { return LeadingInt(text); }
int32_t ParseLeadingInt(std::string_view text) { return LeadingInt(text); }

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
