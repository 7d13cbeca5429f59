// The bytes that carry automation calls between processes (the local server's socket): requests from a
// client to an object in the serving process, and the answers.
//
// Every message is a frame: a 32-bit little-endian body length, then the body. A body longer than
// kMaxFrameBytes is refused unread (a reader cannot trust anything after such a header). Inside a body:
//   integers little-endian; a GUID as its 16 bytes (Data1, Data2, Data3 little-endian, then Data4);
//   a string as a 32-bit byte count and that many bytes of UTF-8 (strict: no overlong forms, surrogates or
//   code points beyond U+10FFFF); a value as a 16-bit VT_* type and then its data: VT_I4 32 bits, VT_R8 the
//   64 bits of the double, VT_BOOL 16 bits, VT_ERROR 32 bits, VT_BSTR a string, VT_EMPTY and VT_NULL nothing.
//
// Requests (the first byte names the kind):
//   'C' create     32-bit kCreateMagic, the class id           -> a fresh object for this connection
//   'N' name       a member name                               -> its dispatch id (VT_I4)
//   'I' invoke     dispatch id, 16-bit DISPATCH_* flags, 16-bit argument count, the arguments in call order
//   'T' type info  nothing                                     -> the object's type information
// Answer: the HRESULT, the 32-bit argument error position, the value, a message (UTF-8; empty unless
// something needs saying to a person: why a request was refused), then one byte 1 followed by a type
// information record (answer to 'T') or 0.
//
// The decoders never trust a count or a length: everything is checked against the bytes present, counts
// have limits, and any byte left over makes the body malformed. A malformed body is refused with a
// sentence saying what is wrong. Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Dispatch.h"

namespace platform::wire {

constexpr uint32_t kMaxFrameBytes = 1u << 20;  // 1 MiB: far above any real call
constexpr size_t kFrameHeaderBytes = 4;
constexpr size_t kMaxArguments = 64;
constexpr size_t kMaxTypeInfoMembers = 1024;
constexpr size_t kMaxTypeInfoParams = 64;
constexpr uint32_t kCreateMagic = 0x31444A53;  // "SJD1" in the byte order of the wire

enum class Op : uint8_t { create = 'C', get_id = 'N', invoke = 'I', type_info = 'T' };

struct Request {
    Op op = Op::invoke;
    CLSID clsid{};              // create
    std::wstring name;          // get_id
    DISPID dispid = 0;          // invoke
    WORD flags = 0;             // invoke
    std::vector<Variant> args;  // invoke, in call order
};

// Type information as plain owned data, for the wire.
struct TypeInfoRecord {
    struct Param {
        std::wstring name;
        VARTYPE vt = VT_EMPTY;
        uint16_t flags = 0;
    };
    struct Member {
        MEMBERID memid = 0;
        uint16_t invkind = INVOKE_FUNC;
        std::wstring name;
        std::wstring help;
        int16_t vtableSlot = -1;
        std::vector<Param> params;
    };
    std::wstring libraryName;
    GUID libid{};
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    LCID lcid = 0;
    std::wstring libraryHelp;
    std::wstring interfaceName;
    IID iid{};
    std::wstring interfaceHelp;
    uint16_t typeFlags = 0;
    std::vector<Member> members;

    static TypeInfoRecord From(const TypeLibDesc& library, const InterfaceDesc& iface);
};

// Type information that owns its record (what a client builds from an answer). One reference, the caller's.
ITypeInfo* CreateTypeInfo(TypeInfoRecord record);

struct Response {
    HRESULT hr = S_OK;
    UINT argErr = 0;
    Variant value;
    std::string message;
    std::optional<TypeInfoRecord> typeInfo;
};

// The whole frame (header and body). False, with the reason, for a value that cannot travel (an object
// pointer, a by-reference value) or a body over the limit.
bool EncodeRequest(const Request& request, std::string* frame, std::string* error);
bool EncodeResponse(const Response& response, std::string* frame, std::string* error);

// The body length a frame header announces; false (with the reason) when it is over kMaxFrameBytes.
bool ReadFrameLength(std::string_view header, uint32_t* length, std::string* error);

// Decode one body (without its header).
bool DecodeRequest(std::string_view body, Request* request, std::string* error);
bool DecodeResponse(std::string_view body, Response* response, std::string* error);

// UTF-8 as the wire writes it (a code point that UTF-8 cannot hold becomes U+FFFD) and reads it (strictly).
std::string EncodeUtf8(std::wstring_view text);
bool DecodeUtf8(std::string_view bytes, std::wstring* text);

}  // namespace platform::wire
