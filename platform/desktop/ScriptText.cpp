#include "platform/desktop/ScriptText.h"

#include <cstdio>

#include "platform/CodePage.h"

namespace platform {

std::string GtkMnemonicLabel(std::wstring_view menuText) {
    std::wstring out;
    bool marked = false;
    for (size_t i = 0; i < menuText.size(); ++i) {
        const wchar_t c = menuText[i];
        if (c == L'_') {
            out += L"__";
        } else if (c == L'&') {
            if (i + 1 < menuText.size() && menuText[i + 1] == L'&') {
                out += L'&';
                ++i;
            } else if (i + 1 < menuText.size() && !marked) {
                out += L'_';
                marked = true;
            }
        } else {
            out += c;
        }
    }
    return ToUtf8(out);
}

std::string ScriptStringLiteral(std::string_view utf8) {
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c == 0xE2 && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(utf8[i + 2]) == 0xA8 || static_cast<unsigned char>(utf8[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(utf8[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

}  // namespace platform
