#include "core/ByteString.h"

#include <algorithm>
#include <cstdio>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace nutl {
namespace {

// The value of a hexadecimal digit, or -1.
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text up to its first zero byte.
std::string_view UpToZero(std::string_view text) {
    const size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
            case '"': out += "&#34;"; break;
            case '\'': out += "&#39;"; break;
            case '<': out += "&#60;"; break;
            case '>': out += "&#62;"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::string UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (text.size() - i < 3) break;  // fewer than two bytes follow: the rest is dropped
            // Both bytes are consumed; the value stops growing at the first non-digit.
            int value = 0;
            for (size_t k = 1; k <= 2; ++k) {
                const int digit = HexValue(text[i + k]);
                if (digit < 0) break;
                value = value * 16 + digit;
            }
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

bool SplitAt(std::string_view text, char separator, std::string* before, std::string* after, bool fromLast) {
    const size_t pos = fromLast ? text.rfind(separator) : text.find(separator);
    if (pos == std::string_view::npos) {
        if (before != nullptr) before->assign(text);
        if (after != nullptr) after->clear();
        return false;
    }
    // Copy through temporaries first: `text` may view the very string a result goes to.
    std::string head(text.substr(0, pos));
    std::string tail(text.substr(pos + 1));
    if (before != nullptr) *before = std::move(head);
    if (after != nullptr) *after = std::move(tail);
    return true;
}

std::vector<std::string> Tokenize(std::string_view text, std::string_view separators) {
    text = UpToZero(text);
    std::vector<std::string> tokens;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = text.find_first_not_of(separators, pos);
        if (start == std::string_view::npos) break;
        size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text.size();
        tokens.emplace_back(text.substr(start, end - start));
        pos = end;
    }
    return tokens;
}

bool ReplaceFirst(std::string& text, std::string_view marker, std::string_view replacement) {
    const size_t pos = text.find(marker);
    if (pos == std::string::npos) return false;
    text.replace(pos, marker.size(), replacement);
    return true;
}

std::string FillMarkers(std::string_view page, const std::vector<MarkerFill>& fills) {
    // Where each marker first occurs, in page order. Where two occurrences would overlap, the earlier
    // pair keeps its place and the later one is skipped (the page markers never overlap).
    struct Hit {
        size_t at;
        size_t order;
    };
    std::vector<Hit> hits;
    hits.reserve(fills.size());
    size_t size = page.size();
    for (size_t i = 0; i < fills.size(); ++i) {
        const size_t at = page.find(fills[i].marker);
        if (at == std::string_view::npos || fills[i].marker.empty()) continue;
        bool taken = false;
        for (const Hit& hit : hits) {
            taken = taken || (at < hit.at + fills[hit.order].marker.size() && hit.at < at + fills[i].marker.size());
        }
        if (taken) continue;
        hits.push_back({at, i});
        size = size - fills[i].marker.size() + fills[i].text.size();
    }
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.at < b.at; });
    std::string out;
    out.reserve(size);
    size_t from = 0;
    for (const Hit& hit : hits) {
        out.append(page.substr(from, hit.at - from));
        out.append(fills[hit.order].text);
        from = hit.at + fills[hit.order].marker.size();
    }
    out.append(page.substr(from));
    return out;
}

std::string IntToString(int32_t value) { return std::to_string(value); }

std::wstring ToWide(std::string_view bytes, unsigned codePage) {
    return platform::MultiByteToWide(codePage, UpToZero(bytes));
}

std::string ToNarrow(std::wstring_view text, unsigned codePage) {
    return platform::WideToMultiByte(codePage, text);
}

bool FileExists(std::wstring_view path) { return platform::CanOpenForRead(path); }

bool ReadWholeFile(std::wstring_view path, std::string* contents) {
    if (contents == nullptr) return false;
    contents->clear();
    FILE* file = platform::OpenFile(path, "rb");
    if (file == nullptr) return false;
    bool ok = false;
    if (fseeko(file, 0, SEEK_END) == 0) {
        const off_t size = ftello(file);
        if (size >= 0 && fseeko(file, 0, SEEK_SET) == 0) {
            contents->resize(static_cast<size_t>(size));
            const size_t read = size > 0 ? std::fread(contents->data(), 1, contents->size(), file) : 0;
            contents->resize(read);
            ok = read == static_cast<size_t>(size);
        }
    }
    std::fclose(file);
    return ok;
}

std::wstring_view FileExtensionView(std::wstring_view path) {
    const size_t slash = path.find_last_of(L"/\\");
    const std::wstring_view last = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    const size_t dot = last.rfind(L'.');
    if (dot == std::wstring_view::npos) return {};
    return last.substr(dot + 1);
}

std::wstring FileExtension(std::wstring_view path) { return std::wstring(FileExtensionView(path)); }

}  // namespace nutl
