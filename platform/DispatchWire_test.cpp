// The wire format of automation calls: what is encoded decodes to the same thing, and every malformed body
// is refused with a reason instead of being half read.
#include "platform/DispatchWire.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform::wire {
namespace {

std::string Body(const std::string& frame) { return frame.substr(kFrameHeaderBytes); }

std::string EncodedRequest(const Request& request) {
    std::string frame, error;
    EXPECT_TRUE(EncodeRequest(request, &frame, &error)) << error;
    return frame;
}

Request Invoke(DISPID id, WORD flags, std::vector<Variant> args) {
    Request r;
    r.op = Op::invoke;
    r.dispid = id;
    r.flags = flags;
    r.args = std::move(args);
    return r;
}

TEST(DispatchWire, RequestsRoundTrip) {
    Request create;
    create.op = Op::create;
    create.clsid = GUID{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    Request name;
    name.op = Op::get_id;
    name.name = L"GetQSong \u4E2D\U0001F3A4";  // text outside ASCII and outside the basic plane
    Request info;
    info.op = Op::type_info;
    const std::vector<Request> requests = {
        create, name, info,
        Invoke(10, DISPATCH_METHOD, {Variant::Long(-42), Variant::Bool(true)}),
        Invoke(-1, DISPATCH_PROPERTYPUT, {Variant::Bstr(L"")}),
        Invoke(20, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
               {Variant(), Variant::Null(), Variant::Double(-0.5), Variant::Missing(), Variant::Bstr(L"a\0b")}),
        Invoke(5, DISPATCH_METHOD, std::vector<Variant>(kMaxArguments, Variant::Long(7))),
    };
    for (const Request& in : requests) {
        const std::string frame = EncodedRequest(in);
        uint32_t length = 0;
        std::string error;
        ASSERT_TRUE(ReadFrameLength(frame.substr(0, kFrameHeaderBytes), &length, &error));
        ASSERT_EQ(length, frame.size() - kFrameHeaderBytes);
        Request out;
        ASSERT_TRUE(DecodeRequest(Body(frame), &out, &error)) << error;
        EXPECT_EQ(out.op, in.op);
        EXPECT_EQ(out.clsid, in.clsid);
        EXPECT_EQ(out.name, in.name);
        EXPECT_EQ(out.dispid, in.dispid);
        EXPECT_EQ(out.flags, in.flags);
        EXPECT_EQ(out.args, in.args);
    }
}

TEST(DispatchWire, ResponsesRoundTripWithTypeInformation) {
    static constexpr ParamDesc params[] = {{L"x", VT_I4, PARAMFLAG_FIN}, {L"r", VT_BSTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
    static constexpr FuncDesc funcs[] = {{3, INVOKE_FUNC, L"F", params, L"method F", 7},
                                  {4, INVOKE_PROPERTYGET, L"P", {}, L"property P", 8}};
    static constexpr InterfaceDesc iface{L"IX", GUID{9, 8, 7, {6}}, L"IX Interface", TYPEFLAG_FDUAL, funcs};
    const InterfaceDesc* ifaces[] = {&iface};
    const TypeLibDesc lib{L"XLib", GUID{1, 1, 1, {1}}, 2, 3, 0x409, SYS_WIN32, 0, L"X 2.3", ifaces, {}};

    Response in;
    in.hr = DISP_E_TYPEMISMATCH;
    in.argErr = 3;
    in.value = Variant::Bstr(L"value");
    in.message = "why";
    in.typeInfo = TypeInfoRecord::From(lib, iface);
    std::string frame, error;
    ASSERT_TRUE(EncodeResponse(in, &frame, &error)) << error;
    Response out;
    ASSERT_TRUE(DecodeResponse(Body(frame), &out, &error)) << error;
    EXPECT_EQ(out.hr, in.hr);
    EXPECT_EQ(out.argErr, in.argErr);
    EXPECT_EQ(out.value, in.value);
    EXPECT_EQ(out.message, in.message);
    ASSERT_TRUE(out.typeInfo);

    // The type information a client builds from the answer describes the same interface.
    ITypeInfo* info = CreateTypeInfo(std::move(*out.typeInfo));
    EXPECT_EQ(info->Library().name, L"XLib");
    EXPECT_EQ(info->Library().lcid, 0x409u);
    EXPECT_EQ(info->Library().help, L"X 2.3");
    EXPECT_EQ(info->Interface().iid, iface.iid);
    ASSERT_EQ(info->Interface().funcs.size(), 2u);
    const FuncDesc& f = info->Interface().funcs[0];
    EXPECT_EQ(f.memid, 3);
    EXPECT_EQ(f.name, L"F");
    EXPECT_EQ(f.help, L"method F");
    ASSERT_EQ(f.params.size(), 2u);
    EXPECT_EQ(f.params[1].name, L"r");
    EXPECT_TRUE(f.params[1].IsRetval());
    EXPECT_EQ(FindMemberByName(info->Interface(), L"p")->invkind, INVOKE_PROPERTYGET);
    info->Release();
}

TEST(DispatchWire, ValuesThatCannotTravelAreRefusedWhenEncoding) {
    VARIANT_BOOL flag = 0;
    std::string frame, error;
    EXPECT_FALSE(EncodeRequest(Invoke(1, DISPATCH_METHOD, {Variant::BoolRef(&flag)}), &frame, &error));
    EXPECT_NE(error.find("VT_BYREF|VT_BOOL"), std::string::npos) << error;
    EXPECT_FALSE(EncodeRequest(Invoke(1, DISPATCH_METHOD, {Variant::Dispatch(nullptr)}), &frame, &error));
    EXPECT_FALSE(EncodeRequest(Invoke(1, DISPATCH_METHOD, std::vector<Variant>(kMaxArguments + 1)), &frame, &error));
    Request huge;
    huge.op = Op::get_id;
    huge.name.assign(kMaxFrameBytes, L'x');
    EXPECT_FALSE(EncodeRequest(huge, &frame, &error));
    EXPECT_NE(error.find("over the limit"), std::string::npos) << error;
}

// Every prefix of a valid body is a truncated one, and must be refused; so must a valid body with a byte
// more.
TEST(DispatchWire, TruncatedAndOverlongBodiesAreRefused) {
    const std::vector<std::string> bodies = {
        Body(EncodedRequest(Invoke(10, DISPATCH_METHOD, {Variant::Long(42), Variant::Bstr(L"x\u00E9"),
                                                          Variant::Double(1), Variant::Bool(false)}))),
        [] {
            Request r;
            r.op = Op::create;
            return Body(EncodedRequest(r));
        }(),
    };
    for (const std::string& body : bodies) {
        Request out;
        std::string error;
        ASSERT_TRUE(DecodeRequest(body, &out, &error)) << error;
        for (size_t size = 0; size < body.size(); ++size) {
            error.clear();
            EXPECT_FALSE(DecodeRequest(body.substr(0, size), &out, &error)) << size;
            EXPECT_FALSE(error.empty()) << size;
        }
        EXPECT_FALSE(DecodeRequest(body + '\0', &out, &error));
        EXPECT_NE(error.find("follow the end"), std::string::npos) << error;
    }
}

TEST(DispatchWire, HostileBodiesAreRefusedWithAReason) {
    auto u16 = [](uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
    auto u32 = [&](uint32_t v) { return u16(static_cast<uint16_t>(v)) + u16(static_cast<uint16_t>(v >> 16)); };
    const std::string invoke = std::string("I") + u32(10) + u16(DISPATCH_METHOD);
    const struct {
        const char* what;
        std::string body;
        const char* reason;
    } cases[] = {
        {"empty", "", "ends where"},
        {"unknown kind", "Z", "kind 0x5A is unknown"},
        {"HTTP", "GET / HTTP/1.1\r\n\r\n", "unknown"},
        {"create without the mark", std::string("C") + u32(0x12345678) + std::string(16, '\0'), "mark"},
        {"a string longer than the body", std::string("N") + u32(1000) + "abc", "says it has 1000 bytes"},
        {"a string of 4 GiB", std::string("N") + u32(0xFFFFFFFF), "says it has 4294967295 bytes"},
        {"overlong UTF-8", std::string("N") + u32(2) + "\xC0\xAF", "not valid UTF-8"},
        {"a surrogate in UTF-8", std::string("N") + u32(3) + "\xED\xA0\x80", "not valid UTF-8"},
        {"beyond U+10FFFF", std::string("N") + u32(4) + "\xF4\x90\x80\x80", "not valid UTF-8"},
        {"cut UTF-8", std::string("N") + u32(1) + "\xE4", "not valid UTF-8"},
        {"too many arguments", invoke + u16(65), "more than the limit of 64"},
        {"fewer arguments than announced", invoke + u16(2) + u16(VT_I4) + u32(1), "ends where"},
        {"an object pointer", invoke + u16(1) + u16(VT_DISPATCH) + std::string(8, '\0'), "VT_DISPATCH"},
        {"a by-reference value", invoke + u16(1) + u16(VT_BOOL | VT_BYREF) + u16(0), "VT_BYREF|VT_BOOL"},
        {"an unknown type", invoke + u16(1) + u16(0x0777), "VT_1911"},
    };
    for (const auto& c : cases) {
        Request out;
        std::string error;
        EXPECT_FALSE(DecodeRequest(c.body, &out, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

TEST(DispatchWire, FrameHeadersOverTheLimitAreRefused) {
    const struct {
        std::string header;
        bool ok;
        uint32_t length;
    } cases[] = {
        {std::string("\0\0\0\0", 4), true, 0},
        {std::string("\x00\x00\x10\x00", 4), true, kMaxFrameBytes},
        {std::string("\x01\x00\x10\x00", 4), false, 0},
        {"GET ", false, 0},  // someone speaks HTTP to the socket
        {std::string("\xFF\xFF\xFF\xFF", 4), false, 0},
    };
    for (const auto& c : cases) {
        uint32_t length = 12345;
        std::string error;
        EXPECT_EQ(ReadFrameLength(c.header, &length, &error), c.ok);
        if (c.ok) {
            EXPECT_EQ(length, c.length);
        } else {
            EXPECT_NE(error.find("over the limit"), std::string::npos) << error;
        }
    }
}

TEST(DispatchWire, Utf8EncodesEveryCodePointAndReplacesWhatCannotBe) {
    const std::wstring text = L"a\u00E9\u4E2D\U0001F3A4";
    std::wstring back;
    ASSERT_TRUE(DecodeUtf8(EncodeUtf8(text), &back));
    EXPECT_EQ(back, text);
    EXPECT_EQ(EncodeUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(EncodeUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace platform::wire
