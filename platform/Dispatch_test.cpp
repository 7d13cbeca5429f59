// The automation stand-in: coercions as the platform's automation does them, and the standard dispatch
// over a small table (member choice by kind, argument counts and types, optional arguments).
#include "platform/Dispatch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace platform {
namespace {

TEST(Variant, CoercionsFollowThePlatform) {
    const struct {
        const char* what;
        Variant in;
        VARTYPE to;
        HRESULT hr;
        Variant out;
    } cases[] = {
        // To LONG: numeric text (blanks, sign, fraction rounded half to even, exponent), booleans as -1/0.
        {"text", Variant::Bstr(L"42"), VT_I4, S_OK, Variant::Long(42)},
        {"blanks and sign", Variant::Bstr(L"  -7\t"), VT_I4, S_OK, Variant::Long(-7)},
        {"plus", Variant::Bstr(L"+3"), VT_I4, S_OK, Variant::Long(3)},
        {"half to even, down", Variant::Bstr(L"4.5"), VT_I4, S_OK, Variant::Long(4)},
        {"half to even, up", Variant::Bstr(L"5.5"), VT_I4, S_OK, Variant::Long(6)},
        {"exponent", Variant::Bstr(L"1e3"), VT_I4, S_OK, Variant::Long(1000)},
        {"largest", Variant::Bstr(L"2147483647"), VT_I4, S_OK, Variant::Long(2147483647)},
        {"smallest", Variant::Bstr(L"-2147483648"), VT_I4, S_OK, Variant::Long(INT32_MIN)},
        {"too large", Variant::Bstr(L"2147483648"), VT_I4, DISP_E_OVERFLOW, {}},
        {"far too large", Variant::Bstr(L"1e999"), VT_I4, DISP_E_OVERFLOW, {}},
        {"letters", Variant::Bstr(L"abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {"number then letters", Variant::Bstr(L"42abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {"empty text", Variant::Bstr(L""), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {"true is not a number", Variant::Bstr(L"true"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {"hex is not taken", Variant::Bstr(L"0x10"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {"boolean", Variant::Bool(true), VT_I4, S_OK, Variant::Long(-1)},
        {"double", Variant::Double(2.5), VT_I4, S_OK, Variant::Long(2)},
        {"double out of range", Variant::Double(3e9), VT_I4, DISP_E_OVERFLOW, {}},
        {"not a number", Variant::Double(NAN), VT_I4, DISP_E_OVERFLOW, {}},
        {"empty", Variant(), VT_I4, S_OK, Variant::Long(0)},
        {"null", Variant::Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {"missing", Variant::Missing(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        // To BOOL: any nonzero number is true; "True"/"False" in any case; numeric text.
        {"one", Variant::Long(1), VT_BOOL, S_OK, Variant::Bool(true)},
        {"zero", Variant::Long(0), VT_BOOL, S_OK, Variant::Bool(false)},
        {"odd boolean kept", [] { Variant v = Variant::Bool(false); v.boolVal = 2; return v; }(), VT_BOOL, S_OK,
         [] { Variant v = Variant::Bool(false); v.boolVal = 2; return v; }()},
        {"true text", Variant::Bstr(L"TRUE"), VT_BOOL, S_OK, Variant::Bool(true)},
        {"false text", Variant::Bstr(L" false "), VT_BOOL, S_OK, Variant::Bool(false)},
        {"numeric text", Variant::Bstr(L"-1"), VT_BOOL, S_OK, Variant::Bool(true)},
        {"numeric zero", Variant::Bstr(L"0"), VT_BOOL, S_OK, Variant::Bool(false)},
        {"yes is no boolean", Variant::Bstr(L"yes"), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {"by reference", [] { static VARIANT_BOOL b = VARIANT_TRUE; return Variant::BoolRef(&b); }(), VT_BOOL, S_OK,
         Variant::Bool(true)},
        // To BSTR: numbers in decimal, booleans as their number.
        {"long", Variant::Long(-12), VT_BSTR, S_OK, Variant::Bstr(L"-12")},
        {"true", Variant::Bool(true), VT_BSTR, S_OK, Variant::Bstr(L"-1")},
        {"false", Variant::Bool(false), VT_BSTR, S_OK, Variant::Bstr(L"0")},
        {"double", Variant::Double(0.1), VT_BSTR, S_OK, Variant::Bstr(L"0.1")},
        {"whole double", Variant::Double(42), VT_BSTR, S_OK, Variant::Bstr(L"42")},
        {"big double", Variant::Double(1e20), VT_BSTR, S_OK, Variant::Bstr(L"1E+20")},
        {"empty", Variant(), VT_BSTR, S_OK, Variant::Bstr(L"")},
        {"null", Variant::Null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        // Any type as is; a target this stand-in has no conversion for.
        {"variant", Variant::Null(), VT_VARIANT, S_OK, Variant::Null()},
        {"no such target", Variant::Long(1), VT_HRESULT, DISP_E_BADVARTYPE, {}},
    };
    for (const auto& c : cases) {
        Variant out = Variant::Bstr(L"untouched");
        EXPECT_EQ(VariantChangeType(&out, c.in, c.to), c.hr) << c.what;
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(out, c.out) << c.what;
        } else {
            EXPECT_EQ(out, Variant::Bstr(L"untouched")) << c.what << ": a failed conversion leaves the target";
        }
    }
}

// A small interface: a method with an optional argument, a read-write property, a read-only one.
constexpr ParamDesc kAddParams[] = {
    {L"a", VT_I4, PARAMFLAG_FIN}, {L"label", VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOPT},
    {L"sum", VT_BSTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kFlagParams[] = {{L"on", VT_BOOL, PARAMFLAG_NONE}};
constexpr ParamDesc kGetText[] = {{L"v", VT_BSTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kPutText[] = {{L"v", VT_BSTR, PARAMFLAG_FIN}};
constexpr FuncDesc kFuncs[] = {
    {7, INVOKE_FUNC, L"Add", kAddParams, L"method Add", 7},
    {8, INVOKE_FUNC, L"Flag", kFlagParams, L"method Flag", 8},
    {9, INVOKE_PROPERTYGET, L"Text", kGetText, L"property Text", 9},
    {9, INVOKE_PROPERTYPUT, L"Text", kPutText, L"property Text", 10},
    {11, INVOKE_PROPERTYGET, L"ReadOnly", kGetText, L"property ReadOnly", 11},
};
constexpr InterfaceDesc kTest{L"ITest", GUID{1, 2, 3, {}}, L"ITest Interface", TYPEFLAG_FDUAL, kFuncs};

// Records what reached it, and answers like a real object would.
class Recorder final : public MemberCaller {
public:
    HRESULT CallMember(const FuncDesc& member, std::span<const Variant> inputs, Variant* result) override {
        called = &member;
        seen.assign(inputs.begin(), inputs.end());
        if (member.memid == 7) {
            const std::wstring label = inputs[1].IsMissing() ? L"none" : inputs[1].bstrVal;
            *result = Variant::Bstr(std::to_wstring(inputs[0].lVal) + L"/" + label);
        } else if (member.memid == 9 && member.invkind == INVOKE_PROPERTYGET) {
            *result = Variant::Bstr(text);
        } else if (member.memid == 9) {
            text = inputs[0].bstrVal;
        } else if (member.memid == 11) {
            *result = Variant::Bstr(L"partial");
            return E_FAIL;  // a failing member: no value may leave
        }
        return S_OK;
    }
    const FuncDesc* called = nullptr;
    std::vector<Variant> seen;
    std::wstring text = L"initial";
};

TEST(Dispatch, NamesCompareWithoutLetterCase) {
    for (const wchar_t* name : {L"Add", L"add", L"ADD", L"text"}) {
        DISPID id = 0;
        const std::wstring_view view = name;
        EXPECT_EQ(DispGetIDsOfNames(kTest, &view, 1, &id), S_OK) << name;
        EXPECT_EQ(id, name[0] == L't' ? 9 : 7) << name;
    }
    const std::wstring_view names[] = {L"Nope", L"Add"};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(DispGetIDsOfNames(kTest, names, 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    // Named arguments do not exist: a second name is unknown even when it names a member.
    const std::wstring_view withArgument[] = {L"Add", L"a"};
    EXPECT_EQ(DispGetIDsOfNames(kTest, withArgument, 2, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 7);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST(Dispatch, InvokeChecksKindCountAndTypes) {
    const struct {
        const char* what;
        DISPID id;
        WORD flags;
        std::vector<Variant> args;
        HRESULT hr;
        Variant value;
        UINT argErr;
    } cases[] = {
        {"both arguments", 7, DISPATCH_METHOD, {Variant::Bstr(L"40"), Variant::Long(2)}, S_OK, Variant::Bstr(L"40/2"), 0},
        {"optional left out", 7, DISPATCH_METHOD, {Variant::Long(1)}, S_OK, Variant::Bstr(L"1/none"), 0},
        {"optional passed as missing", 7, DISPATCH_METHOD, {Variant::Long(1), Variant::Missing()}, S_OK,
         Variant::Bstr(L"1/none"), 0},
        {"method called as method or get", 7, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Variant::Long(3)}, S_OK,
         Variant::Bstr(L"3/none"), 0},
        {"required missing", 7, DISPATCH_METHOD, {Variant::Missing()}, DISP_E_PARAMNOTOPTIONAL, {}, 0},
        {"too few", 7, DISPATCH_METHOD, {}, DISP_E_BADPARAMCOUNT, {}, 0},
        {"too many", 7, DISPATCH_METHOD, {Variant::Long(1), Variant::Long(2), Variant::Long(3)},
         DISP_E_BADPARAMCOUNT, {}, 0},
        {"first argument of wrong type", 7, DISPATCH_METHOD, {Variant::Bstr(L"x")}, DISP_E_TYPEMISMATCH, {}, 0},
        {"second argument of wrong type", 7, DISPATCH_METHOD, {Variant::Long(1), Variant::Null()},
         DISP_E_TYPEMISMATCH, {}, 1},
        {"overflow", 7, DISPATCH_METHOD, {Variant::Bstr(L"99999999999")}, DISP_E_OVERFLOW, {}, 0},
        {"undirected parameter is an input", 8, DISPATCH_METHOD, {Variant::Long(5)}, S_OK, {}, 0},
        {"property read", 9, DISPATCH_PROPERTYGET, {}, S_OK, Variant::Bstr(L"initial"), 0},
        {"property read as script does", 9, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, S_OK,
         Variant::Bstr(L"initial"), 0},
        {"property read as a method only", 9, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND, {}, 0},
        {"property read with an argument", 9, DISPATCH_PROPERTYGET, {Variant::Long(1)}, DISP_E_BADPARAMCOUNT, {}, 0},
        {"put without a value", 9, DISPATCH_PROPERTYPUT, {}, DISP_E_BADPARAMCOUNT, {}, 0},
        {"put of a read-only property", 11, DISPATCH_PROPERTYPUT, {Variant::Bstr(L"x")}, DISP_E_MEMBERNOTFOUND, {}, 0},
        {"put on a method", 7, DISPATCH_PROPERTYPUT, {Variant::Long(1)}, DISP_E_MEMBERNOTFOUND, {}, 0},
        {"failing member sets no value", 11, DISPATCH_PROPERTYGET, {}, E_FAIL, {}, 0},
        {"unknown id", 10, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND, {}, 0},
        {"no kind", 7, 0, {Variant::Long(1)}, DISP_E_MEMBERNOTFOUND, {}, 0},
    };
    for (const auto& c : cases) {
        Recorder recorder;
        Variant result = Variant::Bstr(L"stale");
        UINT argErr = 99;
        EXPECT_EQ(DispInvoke(kTest, recorder, c.id, c.flags, c.args, &result, &argErr), c.hr) << c.what;
        EXPECT_EQ(result, c.value) << c.what;
        if (c.hr == DISP_E_TYPEMISMATCH || c.hr == DISP_E_OVERFLOW || c.hr == DISP_E_PARAMNOTOPTIONAL) {
            EXPECT_EQ(argErr, c.argErr) << c.what;
        }
        // Refused calls never reach the member.
        if (FAILED(c.hr) && c.hr != E_FAIL) {
            EXPECT_EQ(recorder.called, nullptr) << c.what;
        }
    }
}

TEST(Dispatch, MembersGetTheirDeclaredTypes) {
    Recorder recorder;
    EXPECT_EQ(DispInvoke(kTest, recorder, 8, DISPATCH_METHOD, std::vector<Variant>{Variant::Bstr(L"True")}, nullptr,
                         nullptr),
              S_OK);
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0], Variant::Bool(true));
    // A put changes what the next get reads; a null result pointer is allowed.
    EXPECT_EQ(DispInvoke(kTest, recorder, 9, DISPATCH_PROPERTYPUT, std::vector<Variant>{Variant::Long(12)}, nullptr,
                         nullptr),
              S_OK);
    EXPECT_EQ(recorder.text, L"12");
}

TEST(Dispatch, ResultCodesHaveThePlatformsValuesAndNames) {
    const struct {
        HRESULT code;
        uint32_t value;
        const char* name;
    } codes[] = {
        {DISP_E_MEMBERNOTFOUND, 0x80020003, "DISP_E_MEMBERNOTFOUND"},
        {DISP_E_PARAMNOTFOUND, 0x80020004, "DISP_E_PARAMNOTFOUND"},
        {DISP_E_TYPEMISMATCH, 0x80020005, "DISP_E_TYPEMISMATCH"},
        {DISP_E_UNKNOWNNAME, 0x80020006, "DISP_E_UNKNOWNNAME"},
        {DISP_E_OVERFLOW, 0x8002000A, "DISP_E_OVERFLOW"},
        {DISP_E_BADPARAMCOUNT, 0x8002000E, "DISP_E_BADPARAMCOUNT"},
        {DISP_E_PARAMNOTOPTIONAL, 0x8002000F, "DISP_E_PARAMNOTOPTIONAL"},
        {CO_E_SERVER_EXEC_FAILURE, 0x80080005, "CO_E_SERVER_EXEC_FAILURE"},
        {CO_E_SERVER_STOPPING, 0x80080008, "CO_E_SERVER_STOPPING"},
        {RPC_E_INVALID_DATAPACKET, 0x80010009, "RPC_E_INVALID_DATAPACKET"},
        {RPC_E_DISCONNECTED, 0x80010108, "RPC_E_DISCONNECTED"},
        {HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY), 0x800706BB, "RPC_S_SERVER_TOO_BUSY"},
    };
    for (const auto& c : codes) {
        EXPECT_EQ(static_cast<uint32_t>(c.code), c.value) << c.name;
        EXPECT_EQ(HresultName(c.code), c.name);
    }
    EXPECT_EQ(DescribeHresult(E_FAIL), "0x80004005 E_FAIL");
    EXPECT_EQ(DescribeHresult(MakeHresult(0x80041234u)), "0x80041234");
}

}  // namespace
}  // namespace platform
