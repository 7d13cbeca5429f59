#include "platform/Dispatch.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace platform {
namespace {

constexpr bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

std::wstring_view Trim(std::wstring_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i];
        wchar_t y = b[i];
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 32);
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// A number written in decimal: blanks, a sign, digits with an optional fraction, an optional exponent,
// blanks. Read without regard to the process locale (the toolkit may set one with a decimal comma).
std::optional<double> ParseDecimal(std::wstring_view text) {
    text = Trim(text);
    std::string ascii;
    ascii.reserve(text.size());
    size_t i = 0;
    auto take = [&](auto accept) {
        size_t n = 0;
        while (i < text.size() && accept(text[i])) {
            ascii.push_back(static_cast<char>(text[i]));
            ++i;
            ++n;
        }
        return n;
    };
    auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        if (text[i] == L'-') ascii.push_back('-');
        ++i;
    }
    size_t digits = take(digit);
    if (i < text.size() && text[i] == L'.') {
        ascii.push_back('.');
        ++i;
        digits += take(digit);
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
        ascii.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) ascii.push_back(static_cast<char>(text[i++]));
        if (take(digit) == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec == std::errc::result_out_of_range) return HUGE_VAL;  // beyond any target: an overflow
    if (ec != std::errc() || end != ascii.data() + ascii.size()) return std::nullopt;
    return value;
}

// A double to LONG, rounding half to even as the platform does.
HRESULT LongFromDouble(double value, LONG* out) {
    if (!std::isfinite(value)) return DISP_E_OVERFLOW;
    const double rounded = std::nearbyint(value);
    if (rounded < -2147483648.0 || rounded > 2147483647.0) return DISP_E_OVERFLOW;
    *out = static_cast<LONG>(rounded);
    return S_OK;
}

std::wstring TextFromDouble(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::wstring text;
    if (ec != std::errc()) return text;
    for (const char* p = buffer; p != end; ++p) text.push_back(*p == 'e' ? L'E' : static_cast<wchar_t>(*p));
    return text;
}

// The value behind a by-reference boolean, as a plain one.
Variant Dereferenced(const Variant& in) {
    if (in.vt == (VT_BOOL | VT_BYREF) && in.pboolVal != nullptr) return Variant::Bool(*in.pboolVal != 0);
    return in;
}

HRESULT ToLong(const Variant& in, LONG* out) {
    switch (in.vt) {
        case VT_EMPTY: *out = 0; return S_OK;
        case VT_I4: *out = in.lVal; return S_OK;
        case VT_BOOL: *out = in.boolVal; return S_OK;
        case VT_R8: return LongFromDouble(in.dblVal, out);
        case VT_BSTR: {
            const std::optional<double> number = ParseDecimal(in.bstrVal);
            if (!number) return DISP_E_TYPEMISMATCH;
            return LongFromDouble(*number, out);
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToDouble(const Variant& in, double* out) {
    switch (in.vt) {
        case VT_EMPTY: *out = 0; return S_OK;
        case VT_I4: *out = in.lVal; return S_OK;
        case VT_BOOL: *out = in.boolVal; return S_OK;
        case VT_R8: *out = in.dblVal; return S_OK;
        case VT_BSTR: {
            const std::optional<double> number = ParseDecimal(in.bstrVal);
            if (!number) return DISP_E_TYPEMISMATCH;
            if (!std::isfinite(*number)) return DISP_E_OVERFLOW;
            *out = *number;
            return S_OK;
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToBool(const Variant& in, VARIANT_BOOL* out) {
    switch (in.vt) {
        case VT_EMPTY: *out = VARIANT_FALSE; return S_OK;
        case VT_I4: *out = in.lVal != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
        case VT_R8: *out = in.dblVal != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
        case VT_BOOL: *out = in.boolVal; return S_OK;
        case VT_BSTR: {
            const std::wstring_view text = Trim(in.bstrVal);
            if (EqualsNoCase(text, L"true") || EqualsNoCase(text, L"#TRUE#")) {
                *out = VARIANT_TRUE;
                return S_OK;
            }
            if (EqualsNoCase(text, L"false") || EqualsNoCase(text, L"#FALSE#")) {
                *out = VARIANT_FALSE;
                return S_OK;
            }
            const std::optional<double> number = ParseDecimal(text);
            if (!number) return DISP_E_TYPEMISMATCH;
            *out = *number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToText(const Variant& in, std::wstring* out) {
    switch (in.vt) {
        case VT_EMPTY: out->clear(); return S_OK;
        case VT_I4: *out = std::to_wstring(in.lVal); return S_OK;
        // Without the platform's "alphabetic boolean" flag a boolean becomes its number: "-1" or "0".
        case VT_BOOL: *out = std::to_wstring(in.boolVal); return S_OK;
        case VT_R8:
            if (!std::isfinite(in.dblVal)) return DISP_E_OVERFLOW;
            *out = TextFromDouble(in.dblVal);
            return S_OK;
        case VT_BSTR: *out = in.bstrVal; return S_OK;
        default: return DISP_E_TYPEMISMATCH;
    }
}

class StaticTypeInfo final : public SingleInterfaceObject<ITypeInfo, IID_ITypeInfo> {
public:
    StaticTypeInfo(const TypeLibDesc& library, const InterfaceDesc& iface) : library_(library), iface_(iface) {}
    const InterfaceDesc& Interface() override { return iface_; }
    const TypeLibDesc& Library() override { return library_; }

private:
    const TypeLibDesc& library_;
    const InterfaceDesc& iface_;
};

}  // namespace

// --- Variant ---------------------------------------------------------------------------------------------

Variant Variant::Null() {
    Variant v;
    v.vt = VT_NULL;
    return v;
}

Variant Variant::Long(LONG value) {
    Variant v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

Variant Variant::Double(double value) {
    Variant v;
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

Variant Variant::Bstr(std::wstring value) {
    Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = std::move(value);
    return v;
}

Variant Variant::Bool(bool value) {
    Variant v;
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Variant Variant::Error(HRESULT code) {
    Variant v;
    v.vt = VT_ERROR;
    v.scode = code;
    return v;
}

Variant Variant::Missing() { return Error(DISP_E_PARAMNOTFOUND); }

Variant Variant::BoolRef(VARIANT_BOOL* target) {
    Variant v;
    v.vt = VT_BOOL | VT_BYREF;
    v.pboolVal = target;
    return v;
}

Variant Variant::Dispatch(IDispatch* object) {
    Variant v;
    v.vt = VT_DISPATCH;
    v.pdispVal = object;
    return v;
}

bool operator==(const Variant& a, const Variant& b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
        case VT_EMPTY:
        case VT_NULL: return true;
        case VT_I4: return a.lVal == b.lVal;
        case VT_R8: return a.dblVal == b.dblVal || (std::isnan(a.dblVal) && std::isnan(b.dblVal));
        case VT_BSTR: return a.bstrVal == b.bstrVal;
        case VT_BOOL: return a.boolVal == b.boolVal;
        case VT_ERROR: return a.scode == b.scode;
        case VT_DISPATCH: return a.pdispVal == b.pdispVal;
        case VT_BOOL | VT_BYREF: return a.pboolVal == b.pboolVal;
        default: return false;
    }
}

HRESULT VariantChangeType(Variant* out, const Variant& in, VARTYPE vt) {
    if (vt == VT_VARIANT) {
        *out = in;
        return S_OK;
    }
    const Variant source = Dereferenced(in);
    Variant converted;
    converted.vt = vt;
    HRESULT hr = DISP_E_BADVARTYPE;
    switch (vt) {
        case VT_I4: hr = ToLong(source, &converted.lVal); break;
        case VT_R8: hr = ToDouble(source, &converted.dblVal); break;
        case VT_BOOL: hr = ToBool(source, &converted.boolVal); break;
        case VT_BSTR: hr = ToText(source, &converted.bstrVal); break;
        default: break;
    }
    if (SUCCEEDED(hr)) *out = std::move(converted);
    return hr;
}

std::string VarTypeName(VARTYPE vt) {
    std::string byref = (vt & VT_BYREF) != 0 ? "VT_BYREF|" : "";
    switch (vt & ~VT_BYREF) {
        case VT_EMPTY: return byref + "VT_EMPTY";
        case VT_NULL: return byref + "VT_NULL";
        case VT_I4: return byref + "VT_I4";
        case VT_R8: return byref + "VT_R8";
        case VT_BSTR: return byref + "VT_BSTR";
        case VT_DISPATCH: return byref + "VT_DISPATCH";
        case VT_ERROR: return byref + "VT_ERROR";
        case VT_BOOL: return byref + "VT_BOOL";
        case VT_VARIANT: return byref + "VT_VARIANT";
        case VT_VOID: return byref + "VT_VOID";
        case VT_HRESULT: return byref + "VT_HRESULT";
        default: return byref + "VT_" + std::to_string(vt & ~VT_BYREF);
    }
}

// --- type information ------------------------------------------------------------------------------------

size_t FuncDesc::InputCount() const {
    size_t n = 0;
    for (const ParamDesc& p : params) n += p.IsInput() ? 1 : 0;
    return n;
}

size_t FuncDesc::RequiredInputCount() const {
    size_t n = 0;
    for (const ParamDesc& p : params) n += p.IsInput() && !p.IsOptional() ? 1 : 0;
    return n;
}

const ParamDesc* FuncDesc::Retval() const {
    for (const ParamDesc& p : params) {
        if (p.IsRetval()) return &p;
    }
    return nullptr;
}

const FuncDesc* FindMemberByName(const InterfaceDesc& desc, std::wstring_view name) {
    for (const FuncDesc& f : desc.funcs) {
        if (EqualsNoCase(f.name, name)) return &f;
    }
    return nullptr;
}

const FuncDesc* FindMemberById(const InterfaceDesc& desc, DISPID id, WORD flags) {
    for (const uint16_t kind : {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF}) {
        if ((flags & kind) == 0) continue;
        for (const FuncDesc& f : desc.funcs) {
            if (f.memid == id && f.invkind == kind) return &f;
        }
    }
    return nullptr;
}

ITypeInfo* CreateStaticTypeInfo(const TypeLibDesc& library, const InterfaceDesc& iface) {
    return new StaticTypeInfo(library, iface);
}

// --- standard dispatch -------------------------------------------------------------------------------------

HRESULT DispGetIDsOfNames(const InterfaceDesc& desc, const std::wstring_view* names, UINT count, DISPID* ids) {
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    const FuncDesc* member = FindMemberByName(desc, names[0]);
    ids[0] = member != nullptr ? member->memid : DISPID_UNKNOWN;
    if (member == nullptr) hr = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispInvoke(const InterfaceDesc& desc, MemberCaller& caller, DISPID id, WORD flags,
                   std::span<const Variant> args, Variant* result, UINT* argErr) {
    Variant ignored;
    Variant& out = result != nullptr ? *result : ignored;
    out = Variant();
    const FuncDesc* member = FindMemberById(desc, id, flags);
    if (member == nullptr) return DISP_E_MEMBERNOTFOUND;

    const size_t inputs = member->InputCount();
    const bool put = (member->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
    if (args.size() > inputs || args.size() < member->RequiredInputCount() || (put && args.size() != 1)) {
        return DISP_E_BADPARAMCOUNT;
    }

    std::vector<Variant> converted;
    converted.reserve(inputs);
    size_t position = 0;
    for (const ParamDesc& param : member->params) {
        if (!param.IsInput()) continue;
        if (position >= args.size()) {
            converted.push_back(Variant::Missing());  // an optional input left out
            ++position;
            continue;
        }
        const Variant& arg = args[position];
        if (arg.IsMissing()) {
            if (!param.IsOptional()) {
                if (argErr != nullptr) *argErr = static_cast<UINT>(position);
                return DISP_E_PARAMNOTOPTIONAL;
            }
            converted.push_back(arg);
        } else {
            Variant value;
            const HRESULT hr = VariantChangeType(&value, arg, param.vt);
            if (FAILED(hr)) {
                if (argErr != nullptr) *argErr = static_cast<UINT>(position);
                return hr;
            }
            converted.push_back(std::move(value));
        }
        ++position;
    }
    const HRESULT hr = caller.CallMember(*member, converted, &out);
    if (FAILED(hr)) out = Variant();  // a failed call sets no value
    return hr;
}

// --- the invoke path ----------------------------------------------------------------------------------------

InvokeResult InvokeById(IDispatch& object, DISPID id, WORD flags, std::span<const Variant> args) {
    InvokeResult r;
    r.hr = object.Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, flags, args, &r.value, &r.argErr);
    if (FAILED(r.hr)) r.value = Variant();
    return r;
}

InvokeResult InvokeByName(IDispatch& object, std::wstring_view name, WORD flags, std::span<const Variant> args) {
    DISPID id = DISPID_UNKNOWN;
    InvokeResult r;
    r.hr = object.GetIDsOfNames(GUID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(r.hr)) return r;
    return InvokeById(object, id, flags, args);
}

std::string_view HresultName(HRESULT hr) {
    static const struct {
        HRESULT code;
        const char* name;
    } kNames[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_ABORT, "E_ABORT"},
        {E_FAIL, "E_FAIL"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_ACCESSDENIED, "E_ACCESSDENIED"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
        {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
        {CO_E_CLASSSTRING, "CO_E_CLASSSTRING"},
        {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND"},
        {CO_E_ERRORINDLL, "CO_E_ERRORINDLL"},
        {CO_E_OBJISREG, "CO_E_OBJISREG"},
        {CO_E_SERVER_EXEC_FAILURE, "CO_E_SERVER_EXEC_FAILURE"},
        {CO_E_SERVER_STOPPING, "CO_E_SERVER_STOPPING"},
        {RPC_E_INVALID_DATAPACKET, "RPC_E_INVALID_DATAPACKET"},
        {RPC_E_DISCONNECTED, "RPC_E_DISCONNECTED"},
        {HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY), "RPC_S_SERVER_TOO_BUSY"},
        {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE"},
        {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND"},
        {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND"},
        {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
        {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME"},
        {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS"},
        {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE"},
        {DISP_E_EXCEPTION, "DISP_E_EXCEPTION"},
        {DISP_E_OVERFLOW, "DISP_E_OVERFLOW"},
        {DISP_E_BADINDEX, "DISP_E_BADINDEX"},
        {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT"},
        {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL"},
        {TYPE_E_ELEMENTNOTFOUND, "TYPE_E_ELEMENTNOTFOUND"},
    };
    for (const auto& entry : kNames) {
        if (entry.code == hr) return entry.name;
    }
    return {};
}

std::string DescribeHresult(HRESULT hr) {
    std::string text = FormatHresult(hr);
    const std::string_view name = HresultName(hr);
    if (!name.empty()) {
        text += ' ';
        text += name;
    }
    return text;
}

}  // namespace platform
