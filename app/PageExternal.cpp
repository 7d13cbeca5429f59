#include "app/PageExternal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

#include "platform/CodePage.h"
#include "resources/SinjoTypeLib.h"

using platform::Variant;

namespace {

// Reads the one shape of message the page sends: a flat JSON array of strings, numbers, booleans and
// nulls. Anything else (objects, nested arrays, bad text) is refused.
class MessageReader {
public:
    explicit MessageReader(std::string_view text) : text_(text) {}

    std::optional<std::vector<Variant>> ReadArray() {
        std::vector<Variant> items;
        Skip();
        if (!Take('[')) return Fail("the message is not an array");
        Skip();
        if (Take(']')) return Finish(std::move(items));
        for (;;) {
            Skip();
            std::optional<Variant> item = ReadValue();
            if (!item) return std::nullopt;
            items.push_back(std::move(*item));
            Skip();
            if (Take(']')) return Finish(std::move(items));
            if (!Take(',')) return Fail("a ',' or ']' was expected");
        }
    }

    const std::string& error() const { return error_; }

private:
    std::optional<std::vector<Variant>> Finish(std::vector<Variant> items) {
        Skip();
        if (at_ != text_.size()) return Fail("text follows the array");
        return items;
    }

    std::nullopt_t Fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return std::nullopt;
    }

    void Skip() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool Take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool TakeWord(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    std::optional<Variant> ReadValue() {
        if (at_ >= text_.size()) return Fail("the message ends early");
        const char c = text_[at_];
        if (c == '"') {
            std::optional<std::wstring> text = ReadString();
            if (!text) return std::nullopt;
            return Variant::Bstr(std::move(*text));
        }
        if (TakeWord("true")) return Variant::Bool(true);
        if (TakeWord("false")) return Variant::Bool(false);
        // undefined and null: an argument left out (an optional one keeps its default)
        if (TakeWord("null")) return Variant::Missing();
        if (c == '-' || (c >= '0' && c <= '9')) return ReadNumber();
        return Fail("only texts, numbers, booleans and null can be passed");
    }

    std::optional<Variant> ReadNumber() {
        const size_t start = at_;
        while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) ++at_;
        const std::string number(text_.substr(start, at_ - start));
        char* end = nullptr;
        const double value = std::strtod(number.c_str(), &end);
        if (end == number.c_str() || *end != '\0' || !std::isfinite(value)) return Fail("a bad number");
        if (value == std::floor(value) && value >= std::numeric_limits<int32_t>::min() &&
            value <= std::numeric_limits<int32_t>::max()) {
            return Variant::Long(static_cast<int32_t>(value));
        }
        return Variant::Double(value);
    }

    std::optional<unsigned> ReadHex4() {
        if (at_ + 4 > text_.size()) return std::nullopt;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[at_++];
            value <<= 4;
            if (h >= '0' && h <= '9') value |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f') value |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') value |= static_cast<unsigned>(h - 'A' + 10);
            else return std::nullopt;
        }
        return value;
    }

    std::optional<std::wstring> ReadString() {
        ++at_;  // the opening quote
        std::string utf8;
        std::wstring out;
        auto flush = [&] {
            out += platform::FromUtf8(utf8);
            utf8.clear();
        };
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                flush();
                return out;
            }
            if (c != '\\') {
                utf8 += c;
                continue;
            }
            if (at_ >= text_.size()) break;
            const char e = text_[at_++];
            switch (e) {
                case '"': utf8 += '"'; break;
                case '\\': utf8 += '\\'; break;
                case '/': utf8 += '/'; break;
                case 'b': utf8 += '\b'; break;
                case 'f': utf8 += '\f'; break;
                case 'n': utf8 += '\n'; break;
                case 'r': utf8 += '\r'; break;
                case 't': utf8 += '\t'; break;
                case 'u': {
                    std::optional<unsigned> unit = ReadHex4();
                    if (!unit) return Fail("a bad \\u escape");
                    unsigned code = *unit;
                    // A surrogate pair is one character; a lone half becomes U+FFFD.
                    if (code >= 0xD800 && code <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
                        const size_t back = at_;
                        at_ += 2;
                        std::optional<unsigned> low = ReadHex4();
                        if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
                        } else {
                            at_ = back;
                        }
                    }
                    if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
                    flush();
                    out += static_cast<wchar_t>(code);
                    break;
                }
                default:
                    return Fail("a bad escape in a text");
            }
        }
        return Fail("a text is not closed");
    }

    std::string_view text_;
    size_t at_ = 0;
    std::string error_;
};

void AppendJsonString(std::string& out, const std::string& utf8) {
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

std::string VariantToJson(const Variant& value) {
    std::string out;
    switch (value.vt) {
        case platform::VT_I4:
            return std::to_string(value.lVal);
        case platform::VT_R8: {
            if (!std::isfinite(value.dblVal)) return "null";
            char number[32];
            std::snprintf(number, sizeof number, "%.17g", value.dblVal);
            return number;
        }
        case platform::VT_BOOL:
            return value.boolVal != 0 ? "true" : "false";
        case platform::VT_BSTR:
            AppendJsonString(out, platform::ToUtf8(value.bstrVal));
            return out;
        default:
            return "null";
    }
}

PageReply CallFromPage(platform::IDispatch& door, std::string_view message) {
    MessageReader reader(message);
    std::optional<std::vector<Variant>> items = reader.ReadArray();
    if (!items) return PageReply{false, {}, "bad message from the page: " + reader.error()};
    if (items->size() < 2 || (*items)[0].vt != platform::VT_BSTR || (*items)[1].vt != platform::VT_BSTR) {
        return PageReply{false, {}, "bad message from the page: [member, kind, arguments...] was expected"};
    }
    const std::wstring& kind = (*items)[1].bstrVal;
    platform::WORD flags = 0;
    if (kind == L"call") flags = platform::DISPATCH_METHOD | platform::DISPATCH_PROPERTYGET;
    else if (kind == L"get") flags = platform::DISPATCH_PROPERTYGET;
    else if (kind == L"put") flags = platform::DISPATCH_PROPERTYPUT;
    else return PageReply{false, {}, "bad message from the page: the kind is call, get or put"};
    const std::vector<Variant> args(items->begin() + 2, items->end());
    const platform::InvokeResult result = platform::InvokeByName(door, (*items)[0].bstrVal, flags, args);
    if (platform::FAILED(result.hr)) {
        std::string error = platform::DescribeHresult(result.hr);
        if (result.hr == platform::DISP_E_TYPEMISMATCH || result.hr == platform::DISP_E_OVERFLOW) {
            error += " (argument " + std::to_string(result.argErr + 1) + ")";
        }
        return PageReply{false, {}, error};
    }
    return PageReply{true, result.value.vt == platform::VT_EMPTY ? std::string() : VariantToJson(result.value), {}};
}

PageReply CallFromPage(platform::IDispatch& door, std::string_view message, std::string_view key) {
    // The window's messages are compact JSON arrays whose first element is the key (letters and digits,
    // so its JSON text is the key in quotes); the rest is the message the page's call made.
    const std::string head = "[\"" + std::string(key) + "\",";
    if (key.empty() || message.size() <= head.size() || message.substr(0, head.size()) != head) {
        return PageReply{false, {}, "refused: the message does not come from the console page"};
    }
    return CallFromPage(door, "[" + std::string(message.substr(head.size())));
}

std::string PageExternalScript(std::string_view handlerName, std::string_view key) {
    // The members come from the type information, so the page sees exactly what outside clients see.
    std::string methods;
    std::string readable;
    std::string writable;
    auto add = [](std::string& list, std::wstring_view name) {
        std::string quoted;
        AppendJsonString(quoted, platform::ToUtf8(name));
        if (list.find(quoted) != std::string::npos) return;
        list += (list.empty() ? "" : ", ") + quoted;
    };
    for (const platform::FuncDesc& member : sinjo_typelib::kIDoor.funcs) {
        if (member.invkind == platform::INVOKE_FUNC) add(methods, member.name);
        if (member.invkind == platform::INVOKE_PROPERTYGET) add(readable, member.name);
        if (member.invkind == platform::INVOKE_PROPERTYPUT) add(writable, member.name);
    }
    std::string handler;
    AppendJsonString(handler, std::string(handlerName));
    std::string keyText;
    AppendJsonString(keyText, std::string(key));
    return "(function () {\n"
           "  'use strict';\n"
           "  // Only the console page itself gets it, not the pages in its frames nor a page from the network.\n"
           "  if (window.top !== window || location.protocol !== 'file:') return;\n"
           "  var handlers = window.webkit && window.webkit.messageHandlers;\n"
           "  var handler = handlers && handlers[" + handler + "];\n"
           "  if (!handler) return;\n"
           "  function send(member, kind, args) {\n"
           "    return handler.postMessage([" + keyText + ", member, kind].concat(args)).catch(function (failure) {\n"
           "      var message = String(failure && failure.message || failure);\n"
           "      var code = /^0x([0-9A-Fa-f]{8})/.exec(message);\n"
           "      var error = new Error(message);\n"
           "      error.hresult = code ? parseInt(code[1], 16) : 0x80004005;\n"
           "      throw error;\n"
           "    });\n"
           "  }\n"
           "  var external = {};\n"
           "  [" + methods + "].forEach(function (name) {\n"
           "    external[name] = function () { return send(name, 'call', Array.prototype.slice.call(arguments)); };\n"
           "  });\n"
           "  var writable = [" + writable + "];\n"
           "  [" + readable + "].forEach(function (name) {\n"
           "    var property = { enumerable: true, get: function () { return send(name, 'get', []); } };\n"
           "    if (writable.indexOf(name) >= 0) {\n"
           "      property.set = function (value) {\n"
           "        send(name, 'put', [value]).catch(function (error) { console.error('external.' + name + ': ' + error.message); });\n"
           "      };\n"
           "    }\n"
           "    Object.defineProperty(external, name, property);\n"
           "  });\n"
           "  // Browsers have an `external` of their own; it is replaceable.\n"
           "  try {\n"
           "    Object.defineProperty(window, 'external', { value: Object.freeze(external), configurable: false });\n"
           "  } catch (e) {\n"
           "    window.external = Object.freeze(external);\n"
           "  }\n"
           "})();\n";
}
