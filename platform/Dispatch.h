// The automation stand-in: VARIANT values and their coercions, IDispatch, type information held in static
// tables, and the standard dispatch that calls an object's members by name or by dispatch id through its
// type information.
//
// What follows the platform's automation and what is simplified:
//   - Result codes (DISP_E_*), variant types (VT_*), invoke kinds and parameter flags have the platform's
//     numeric values, because outside clients print and compare them.
//   - Member names compare without regard to (ASCII) letter case, as GetIDsOfNames does.
//   - Arguments are passed in call order (the first argument first); the platform's DISPPARAMS holds them
//     last first. An argument error index (argErr) counts in call order too. Named arguments do not exist.
//   - A BSTR is a std::wstring; a Variant owns its text and holds no interface references.
//   - Coercion follows VariantChangeType with no flags where it matters to a caller: a numeric text becomes
//     a LONG ("42", " -7 ", "4.5" rounds half to even as "4"), a boolean becomes "-1" or "0" as text, "True"
//     and "False" (any letter case) become booleans, any nonzero number is true. A value beyond the
//     target's range is DISP_E_OVERFLOW; anything else that does not convert is DISP_E_TYPEMISMATCH.
//
// Threads: everything here is plain data and pure functions, callable from any thread. Objects that
// implement IDispatch say themselves which thread calls them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Com.h"

namespace platform {

using BSTR = std::wstring;
using DISPID = int32_t;
using MEMBERID = DISPID;
using VARTYPE = uint16_t;

// --- variant types ------------------------------------------------------------------------------------
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_VARIANT = 12;  // a parameter that takes any type, unchanged
constexpr VARTYPE VT_VOID = 24;
constexpr VARTYPE VT_HRESULT = 25;
constexpr VARTYPE VT_BYREF = 0x4000;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// --- dispatch ------------------------------------------------------------------------------------------
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHresult(0x80020001u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHresult(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHresult(0x80020004u);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHresult(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHresult(0x80020006u);
constexpr HRESULT DISP_E_NONAMEDARGS = MakeHresult(0x80020007u);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHresult(0x80020008u);
constexpr HRESULT DISP_E_EXCEPTION = MakeHresult(0x80020009u);
constexpr HRESULT DISP_E_OVERFLOW = MakeHresult(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = MakeHresult(0x8002000Bu);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHresult(0x8002000Eu);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHresult(0x8002000Fu);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHresult(0x8002802Bu);

constexpr IID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_ITypeInfo{0x00020401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IDispatch;

// --- Variant -------------------------------------------------------------------------------------------
// A tagged value. Only the field named by `vt` means anything. VT_BOOL | VT_BYREF points at a boolean the
// callee may set (an event's "cancel" flag); VT_DISPATCH carries an object pointer without a reference.
struct Variant {
    VARTYPE vt = VT_EMPTY;
    LONG lVal = 0;                      // VT_I4
    double dblVal = 0;                  // VT_R8
    VARIANT_BOOL boolVal = 0;           // VT_BOOL
    HRESULT scode = 0;                  // VT_ERROR
    std::wstring bstrVal;               // VT_BSTR
    VARIANT_BOOL* pboolVal = nullptr;   // VT_BOOL | VT_BYREF
    IDispatch* pdispVal = nullptr;      // VT_DISPATCH

    static Variant Null();
    static Variant Long(LONG value);
    static Variant Double(double value);
    static Variant Bstr(std::wstring value);
    static Variant Bool(bool value);  // VARIANT_TRUE or VARIANT_FALSE
    static Variant Error(HRESULT code);
    // How a caller leaves out an optional argument: VT_ERROR with DISP_E_PARAMNOTFOUND.
    static Variant Missing();
    static Variant BoolRef(VARIANT_BOOL* target);
    static Variant Dispatch(IDispatch* object);

    bool IsMissing() const { return vt == VT_ERROR && scode == DISP_E_PARAMNOTFOUND; }
    friend bool operator==(const Variant& a, const Variant& b);
};

// Converts `in` to type `vt` (VT_I4, VT_R8, VT_BSTR, VT_BOOL; VT_VARIANT copies) as VariantChangeType does
// with no flags. S_OK, DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, or DISP_E_BADVARTYPE for a target type this
// stand-in does not convert to. *out is untouched on failure.
HRESULT VariantChangeType(Variant* out, const Variant& in, VARTYPE vt);

// "VT_BSTR", "VT_I4", ... for messages.
std::string VarTypeName(VARTYPE vt);

// --- type information ----------------------------------------------------------------------------------
// The descriptions below are views: a static table in the program (constexpr arrays) or storage owned by
// whoever built them. The values of the flag constants are the platform's.
constexpr uint16_t PARAMFLAG_NONE = 0x0;
constexpr uint16_t PARAMFLAG_FIN = 0x1;
constexpr uint16_t PARAMFLAG_FOUT = 0x2;
constexpr uint16_t PARAMFLAG_FRETVAL = 0x8;
constexpr uint16_t PARAMFLAG_FOPT = 0x10;

// Invoke kinds: the same bits as the DISPATCH_* flags.
constexpr uint16_t INVOKE_FUNC = 0x1;
constexpr uint16_t INVOKE_PROPERTYGET = 0x2;
constexpr uint16_t INVOKE_PROPERTYPUT = 0x4;
constexpr uint16_t INVOKE_PROPERTYPUTREF = 0x8;

constexpr uint16_t TYPEFLAG_FCANCREATE = 0x2;
constexpr uint16_t TYPEFLAG_FDUAL = 0x40;
constexpr uint16_t TYPEFLAG_FNONEXTENSIBLE = 0x80;
constexpr uint16_t TYPEFLAG_FOLEAUTOMATION = 0x100;
constexpr uint16_t TYPEFLAG_FDISPATCHABLE = 0x1000;

constexpr uint16_t LIBFLAG_NONE = 0x0;
constexpr uint16_t SYS_WIN32 = 1;

struct ParamDesc {
    std::wstring_view name;
    VARTYPE vt = VT_EMPTY;  // the declared type (an out parameter's type without VT_BYREF)
    uint16_t flags = PARAMFLAG_NONE;

    // An input: flagged in, or flagged neither in nor out (the platform counts that as in).
    constexpr bool IsInput() const { return (flags & PARAMFLAG_FOUT) == 0; }
    constexpr bool IsRetval() const { return (flags & PARAMFLAG_FRETVAL) != 0; }
    constexpr bool IsOptional() const { return (flags & PARAMFLAG_FOPT) != 0; }
};

struct FuncDesc {
    MEMBERID memid = DISPID_UNKNOWN;
    uint16_t invkind = INVOKE_FUNC;
    std::wstring_view name;
    std::span<const ParamDesc> params;  // in declaration order, the return value last
    std::wstring_view help;
    int16_t vtableSlot = -1;            // slot in the dual interface's table of methods

    // The number of inputs, and of inputs the caller must pass.
    size_t InputCount() const;
    size_t RequiredInputCount() const;
    // The parameter that is the return value, or null.
    const ParamDesc* Retval() const;
};

struct InterfaceDesc {
    std::wstring_view name;
    IID iid;
    std::wstring_view help;
    uint16_t typeFlags = 0;
    std::span<const FuncDesc> funcs;  // in slot order
};

struct CoclassDesc {
    std::wstring_view name;
    CLSID clsid;
    std::wstring_view help;
    uint16_t typeFlags = 0;
    const InterfaceDesc* defaultInterface = nullptr;
};

struct TypeLibDesc {
    std::wstring_view name;
    GUID libid;
    WORD majorVersion = 1;
    WORD minorVersion = 0;
    LCID lcid = 0;
    uint16_t syskind = SYS_WIN32;
    uint16_t libFlags = LIBFLAG_NONE;
    std::wstring_view help;
    std::span<const InterfaceDesc* const> interfaces;
    std::span<const CoclassDesc* const> coclasses;
};

// The member called `name` (ASCII letter case ignored) of any invoke kind; null when none. For a property
// the first of its accessors in slot order.
const FuncDesc* FindMemberByName(const InterfaceDesc& desc, std::wstring_view name);
// The member with dispatch id `id` whose kind is among the DISPATCH_* bits of `flags`, chosen as the
// standard dispatch chooses (a method, else a property get, else a put); null when none.
const FuncDesc* FindMemberById(const InterfaceDesc& desc, DISPID id, WORD flags);

// The type information of one interface, as IDispatch::GetTypeInfo hands it out.
class ITypeInfo : public IUnknown {
public:
    // Both stay valid while this object lives.
    virtual const InterfaceDesc& Interface() = 0;
    virtual const TypeLibDesc& Library() = 0;

protected:
    ~ITypeInfo() = default;
};

// Type information over a static table (nothing is copied; the tables must outlive the object). Starts
// with one reference, which the caller owns.
ITypeInfo* CreateStaticTypeInfo(const TypeLibDesc& library, const InterfaceDesc& iface);

// --- IDispatch -----------------------------------------------------------------------------------------
class IDispatch : public IUnknown {
public:
    // 1 when the object offers type information, else 0.
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    // index 0 only, else DISP_E_BADINDEX. The caller releases the result.
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    // Dispatch ids for member names; unknown names give DISPID_UNKNOWN and the call DISP_E_UNKNOWNNAME.
    virtual HRESULT GetIDsOfNames(REFIID riid, const std::wstring_view* names, UINT count, LCID lcid,
                                  DISPID* ids) = 0;
    // Calls member `id` as `flags` says (DISPATCH_* bits, several allowed: the member of any of those
    // kinds is called, a method before a property get). `args` in call order. `result` and `argErr` may
    // be null.
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, std::span<const Variant> args,
                           Variant* result, UINT* argErr) = 0;

protected:
    ~IDispatch() = default;
};

// --- standard dispatch ----------------------------------------------------------------------------------
// Calls one member with its inputs already converted to their declared types (an optional input the caller
// left out arrives as Variant::Missing()). Fills *result with the return value, if the member has one.
class MemberCaller {
public:
    virtual HRESULT CallMember(const FuncDesc& member, std::span<const Variant> inputs, Variant* result) = 0;

protected:
    ~MemberCaller() = default;
};

// IDispatch::GetIDsOfNames over a table: one name (the platform's named-argument names are not
// supported: more than one name gives DISP_E_UNKNOWNNAME for the rest).
HRESULT DispGetIDsOfNames(const InterfaceDesc& desc, const std::wstring_view* names, UINT count, DISPID* ids);

// IDispatch::Invoke over a table, as the platform's standard dispatch does it:
//   - the member with dispatch id `id` whose kind is among `flags` (a method first, then a property get,
//     then a put); none: DISP_E_MEMBERNOTFOUND;
//   - more arguments than inputs, or fewer than the required inputs: DISP_E_BADPARAMCOUNT (a put takes
//     exactly one);
//   - Variant::Missing() for a required input: DISP_E_PARAMNOTOPTIONAL; an optional input the caller left
//     out is passed on as Missing();
//   - each argument converted to its declared type (VariantChangeType): the failure's code, with *argErr
//     set to the argument's position;
//   - then `caller` runs the member; its HRESULT is the result. *result is emptied first.
HRESULT DispInvoke(const InterfaceDesc& desc, MemberCaller& caller, DISPID id, WORD flags,
                   std::span<const Variant> args, Variant* result, UINT* argErr);

// --- the invoke path ------------------------------------------------------------------------------------
// One call as every caller of an automation object makes it (a page's script, an outside client, a test):
// a member named or numbered, an invoke kind, typed arguments in; a result code and a typed value out.
struct InvokeResult {
    HRESULT hr = S_OK;
    Variant value;    // the return value; VT_EMPTY for members without one and after a failure
    UINT argErr = 0;  // the position of the argument at fault, for DISP_E_TYPEMISMATCH and DISP_E_OVERFLOW
};

// GetIDsOfNames, then Invoke.
InvokeResult InvokeByName(IDispatch& object, std::wstring_view name, WORD flags, std::span<const Variant> args);
InvokeResult InvokeById(IDispatch& object, DISPID id, WORD flags, std::span<const Variant> args);

// "DISP_E_TYPEMISMATCH", "E_FAIL", ... for the codes this program meets; empty for others.
std::string_view HresultName(HRESULT hr);
// "0x80020005 DISP_E_TYPEMISMATCH" (the name left out when unknown).
std::string DescribeHresult(HRESULT hr);

}  // namespace platform
