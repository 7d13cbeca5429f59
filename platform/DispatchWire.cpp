#include "platform/DispatchWire.h"
#include "platform/Utf8.h"

#include <cstdio>
#include <cstring>

namespace platform::wire {
namespace {

// --- writing -------------------------------------------------------------------------------------------

class Writer {
public:
    Writer() { bytes_.assign(kFrameHeaderBytes, '\0'); }  // the header, filled by Finish

    void U8(uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void Guid(const GUID& g) {
        U32(g.Data1);
        U16(g.Data2);
        U16(g.Data3);
        for (uint8_t b : g.Data4) U8(b);
    }
    void Text(std::string_view utf8) {
        U32(static_cast<uint32_t>(utf8.size()));
        bytes_.append(utf8);
    }
    void Wide(std::wstring_view text) { Text(EncodeUtf8(text)); }

    bool Value(const Variant& v, std::string* error) {
        switch (v.vt) {
            case VT_EMPTY:
            case VT_NULL: U16(v.vt); return true;
            case VT_I4: U16(v.vt); I32(v.lVal); return true;
            case VT_R8: {
                uint64_t bits = 0;
                std::memcpy(&bits, &v.dblVal, sizeof bits);
                U16(v.vt);
                U64(bits);
                return true;
            }
            case VT_BOOL: U16(v.vt); U16(static_cast<uint16_t>(v.boolVal)); return true;
            case VT_ERROR: U16(v.vt); I32(v.scode); return true;
            case VT_BSTR: U16(v.vt); Wide(v.bstrVal); return true;
            default:
                *error = "a value of type " + VarTypeName(v.vt) + " cannot be sent to another process";
                return false;
        }
    }

    bool Finish(std::string* frame, std::string* error) {
        const size_t body = bytes_.size() - kFrameHeaderBytes;
        if (body > kMaxFrameBytes) {
            *error = "the message of " + std::to_string(body) + " bytes is over the limit of " +
                     std::to_string(kMaxFrameBytes) + " bytes";
            return false;
        }
        for (size_t i = 0; i < kFrameHeaderBytes; ++i) bytes_[i] = static_cast<char>((body >> (8 * i)) & 0xFF);
        *frame = std::move(bytes_);
        return true;
    }

private:
    std::string bytes_;
};

// --- reading -------------------------------------------------------------------------------------------

// Reads a body front to back. Every read checks the bytes left; the first failure is kept in `error`.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool U8(uint8_t* v) {
        if (!Need(1, "a byte")) return false;
        *v = static_cast<uint8_t>(bytes_[pos_++]);
        return true;
    }
    bool U16(uint16_t* v) {
        if (!Need(2, "a 16-bit number")) return false;
        *v = static_cast<uint16_t>(Byte(0) | (Byte(1) << 8));
        pos_ += 2;
        return true;
    }
    bool U32(uint32_t* v) {
        if (!Need(4, "a 32-bit number")) return false;
        *v = Byte(0) | (Byte(1) << 8) | (Byte(2) << 16) | (Byte(3) << 24);
        pos_ += 4;
        return true;
    }
    bool U64(uint64_t* v) {
        uint32_t low = 0, high = 0;
        if (!U32(&low) || !U32(&high)) return false;
        *v = low | (static_cast<uint64_t>(high) << 32);
        return true;
    }
    bool I32(int32_t* v) {
        uint32_t u = 0;
        if (!U32(&u)) return false;
        *v = static_cast<int32_t>(u);
        return true;
    }
    bool I16(int16_t* v) {
        uint16_t u = 0;
        if (!U16(&u)) return false;
        *v = static_cast<int16_t>(u);
        return true;
    }
    bool Guid(GUID* g) {
        if (!Need(16, "a class id")) return false;
        uint32_t d1 = 0;
        uint16_t d2 = 0, d3 = 0;
        U32(&d1);
        U16(&d2);
        U16(&d3);
        g->Data1 = d1;
        g->Data2 = d2;
        g->Data3 = d3;
        for (uint8_t& b : g->Data4) U8(&b);
        return true;
    }
    bool Text(std::string* out) {
        uint32_t size = 0;
        if (!U32(&size)) return false;
        if (size > bytes_.size() - pos_) {
            return Fail("a string says it has " + std::to_string(size) + " bytes, but only " +
                        std::to_string(bytes_.size() - pos_) + " follow");
        }
        out->assign(bytes_.substr(pos_, size));
        pos_ += size;
        return true;
    }
    bool Wide(std::wstring* out) {
        std::string utf8;
        if (!Text(&utf8)) return false;
        if (!DecodeUtf8(utf8, out)) return Fail("a string is not valid UTF-8");
        return true;
    }
    bool Value(Variant* v) {
        uint16_t vt = 0;
        if (!U16(&vt)) return false;
        Variant value;
        value.vt = vt;
        switch (vt) {
            case VT_EMPTY:
            case VT_NULL: break;
            case VT_I4:
                if (!I32(&value.lVal)) return false;
                break;
            case VT_R8: {
                uint64_t bits = 0;
                if (!U64(&bits)) return false;
                std::memcpy(&value.dblVal, &bits, sizeof bits);
                break;
            }
            case VT_BOOL:
                if (!I16(&value.boolVal)) return false;
                break;
            case VT_ERROR:
                if (!I32(&value.scode)) return false;
                break;
            case VT_BSTR:
                if (!Wide(&value.bstrVal)) return false;
                break;
            default:
                return Fail("a value has the type " + VarTypeName(vt) + ", which cannot be sent between processes");
        }
        *v = std::move(value);
        return true;
    }
    bool Count(size_t limit, const char* what, size_t* count) {
        uint16_t n = 0;
        if (!U16(&n)) return false;
        if (n > limit) {
            return Fail(std::string("there are ") + std::to_string(n) + " " + what + ", more than the limit of " +
                        std::to_string(limit));
        }
        *count = n;
        return true;
    }
    bool End() {
        if (pos_ != bytes_.size()) {
            return Fail(std::to_string(bytes_.size() - pos_) + " bytes follow the end of the message");
        }
        return true;
    }
    bool Fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return false;
    }
    const std::string& error() const { return error_; }

private:
    uint32_t Byte(size_t i) const { return static_cast<uint8_t>(bytes_[pos_ + i]); }
    bool Need(size_t n, const char* what) {
        if (bytes_.size() - pos_ < n) return Fail(std::string("the message ends where ") + what + " should be");
        return true;
    }

    std::string_view bytes_;
    size_t pos_ = 0;
    std::string error_;
};

bool Refuse(const Reader& reader, std::string* error) {
    if (error != nullptr) *error = reader.error();
    return false;
}

void WriteTypeInfo(Writer& w, const TypeInfoRecord& r) {
    w.Wide(r.libraryName);
    w.Guid(r.libid);
    w.U16(r.majorVersion);
    w.U16(r.minorVersion);
    w.U32(r.lcid);
    w.Wide(r.libraryHelp);
    w.Wide(r.interfaceName);
    w.Guid(r.iid);
    w.Wide(r.interfaceHelp);
    w.U16(r.typeFlags);
    w.U16(static_cast<uint16_t>(r.members.size()));
    for (const TypeInfoRecord::Member& m : r.members) {
        w.I32(m.memid);
        w.U16(m.invkind);
        w.Wide(m.name);
        w.Wide(m.help);
        w.U16(static_cast<uint16_t>(m.vtableSlot));
        w.U16(static_cast<uint16_t>(m.params.size()));
        for (const TypeInfoRecord::Param& p : m.params) {
            w.Wide(p.name);
            w.U16(p.vt);
            w.U16(p.flags);
        }
    }
}

bool ReadTypeInfo(Reader& r, TypeInfoRecord* out) {
    TypeInfoRecord t;
    size_t members = 0;
    if (!r.Wide(&t.libraryName) || !r.Guid(&t.libid) || !r.U16(&t.majorVersion) || !r.U16(&t.minorVersion) ||
        !r.U32(&t.lcid) || !r.Wide(&t.libraryHelp) || !r.Wide(&t.interfaceName) || !r.Guid(&t.iid) ||
        !r.Wide(&t.interfaceHelp) || !r.U16(&t.typeFlags) || !r.Count(kMaxTypeInfoMembers, "members", &members)) {
        return false;
    }
    t.members.resize(members);
    for (TypeInfoRecord::Member& m : t.members) {
        size_t params = 0;
        if (!r.I32(&m.memid) || !r.U16(&m.invkind) || !r.Wide(&m.name) || !r.Wide(&m.help) ||
            !r.I16(&m.vtableSlot) || !r.Count(kMaxTypeInfoParams, "parameters", &params)) {
            return false;
        }
        m.params.resize(params);
        for (TypeInfoRecord::Param& p : m.params) {
            if (!r.Wide(&p.name) || !r.U16(&p.vt) || !r.U16(&p.flags)) return false;
        }
    }
    *out = std::move(t);
    return true;
}

// Type information over a record it owns. The views are made once, after the record has its final place.
class RecordTypeInfo final : public SingleInterfaceObject<ITypeInfo, IID_ITypeInfo> {
public:
    explicit RecordTypeInfo(TypeInfoRecord record) : record_(std::move(record)) {
        params_.reserve(record_.members.size());
        for (const TypeInfoRecord::Member& m : record_.members) {
            std::vector<ParamDesc>& list = params_.emplace_back();
            for (const TypeInfoRecord::Param& p : m.params) list.push_back(ParamDesc{p.name, p.vt, p.flags});
        }
        for (size_t i = 0; i < record_.members.size(); ++i) {
            const TypeInfoRecord::Member& m = record_.members[i];
            funcs_.push_back(FuncDesc{m.memid, m.invkind, m.name, params_[i], m.help, m.vtableSlot});
        }
        iface_ = InterfaceDesc{record_.interfaceName, record_.iid, record_.interfaceHelp, record_.typeFlags, funcs_};
        interfaces_[0] = &iface_;
        library_ = TypeLibDesc{record_.libraryName, record_.libid, record_.majorVersion, record_.minorVersion,
                               record_.lcid, SYS_WIN32, LIBFLAG_NONE, record_.libraryHelp, interfaces_, {}};
    }
    const InterfaceDesc& Interface() override { return iface_; }
    const TypeLibDesc& Library() override { return library_; }

private:
    const TypeInfoRecord record_;
    std::vector<std::vector<ParamDesc>> params_;
    std::vector<FuncDesc> funcs_;
    InterfaceDesc iface_;
    const InterfaceDesc* interfaces_[1] = {nullptr};
    TypeLibDesc library_;
};

}  // namespace

// --- UTF-8 ---------------------------------------------------------------------------------------------

std::string EncodeUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) utf8::Append(out, static_cast<uint32_t>(wc));
    return out;
}

bool DecodeUtf8(std::string_view bytes, std::wstring* text) {
    std::wstring out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        uint32_t c = 0;
        const size_t length = utf8::Decode(bytes, i, &c);
        if (length == 0) return false;
        out.push_back(static_cast<wchar_t>(c));
        i += length;
    }
    *text = std::move(out);
    return true;
}

// --- type information -------------------------------------------------------------------------------------

TypeInfoRecord TypeInfoRecord::From(const TypeLibDesc& library, const InterfaceDesc& iface) {
    TypeInfoRecord r;
    r.libraryName = library.name;
    r.libid = library.libid;
    r.majorVersion = library.majorVersion;
    r.minorVersion = library.minorVersion;
    r.lcid = library.lcid;
    r.libraryHelp = library.help;
    r.interfaceName = iface.name;
    r.iid = iface.iid;
    r.interfaceHelp = iface.help;
    r.typeFlags = iface.typeFlags;
    for (const FuncDesc& f : iface.funcs) {
        Member m;
        m.memid = f.memid;
        m.invkind = f.invkind;
        m.name = f.name;
        m.help = f.help;
        m.vtableSlot = f.vtableSlot;
        for (const ParamDesc& p : f.params) m.params.push_back(Param{std::wstring(p.name), p.vt, p.flags});
        r.members.push_back(std::move(m));
    }
    return r;
}

ITypeInfo* CreateTypeInfo(TypeInfoRecord record) { return new RecordTypeInfo(std::move(record)); }

// --- messages ---------------------------------------------------------------------------------------------

bool EncodeRequest(const Request& request, std::string* frame, std::string* error) {
    Writer w;
    w.U8(static_cast<uint8_t>(request.op));
    switch (request.op) {
        case Op::create:
            w.U32(kCreateMagic);
            w.Guid(request.clsid);
            break;
        case Op::get_id:
            w.Wide(request.name);
            break;
        case Op::invoke:
            if (request.args.size() > kMaxArguments) {
                *error = "a call may pass at most " + std::to_string(kMaxArguments) + " arguments";
                return false;
            }
            w.I32(request.dispid);
            w.U16(request.flags);
            w.U16(static_cast<uint16_t>(request.args.size()));
            for (const Variant& arg : request.args) {
                if (!w.Value(arg, error)) return false;
            }
            break;
        case Op::type_info:
            break;
    }
    return w.Finish(frame, error);
}

bool EncodeResponse(const Response& response, std::string* frame, std::string* error) {
    Writer w;
    w.I32(response.hr);
    w.U32(response.argErr);
    if (!w.Value(response.value, error)) return false;
    w.Text(response.message);
    w.U8(response.typeInfo ? 1 : 0);
    if (response.typeInfo) WriteTypeInfo(w, *response.typeInfo);
    return w.Finish(frame, error);
}

bool ReadFrameLength(std::string_view header, uint32_t* length, std::string* error) {
    if (header.size() != kFrameHeaderBytes) {
        *error = "a message header has 4 bytes";
        return false;
    }
    uint32_t n = 0;
    for (size_t i = 0; i < kFrameHeaderBytes; ++i) n |= static_cast<uint32_t>(static_cast<uint8_t>(header[i])) << (8 * i);
    if (n > kMaxFrameBytes) {
        *error = "a message of " + std::to_string(n) + " bytes is announced, over the limit of " +
                 std::to_string(kMaxFrameBytes) + " bytes (is this a Sinjo automation client?)";
        return false;
    }
    *length = n;
    return true;
}

bool DecodeRequest(std::string_view body, Request* request, std::string* error) {
    Reader r(body);
    Request out;
    uint8_t op = 0;
    if (!r.U8(&op)) return Refuse(r, error);
    switch (static_cast<Op>(op)) {
        case Op::create: {
            uint32_t magic = 0;
            if (!r.U32(&magic)) return Refuse(r, error);
            if (magic != kCreateMagic) {
                r.Fail("the request to create an object does not carry the Sinjo automation mark");
                return Refuse(r, error);
            }
            if (!r.Guid(&out.clsid)) return Refuse(r, error);
            break;
        }
        case Op::get_id:
            if (!r.Wide(&out.name)) return Refuse(r, error);
            break;
        case Op::invoke: {
            size_t count = 0;
            if (!r.I32(&out.dispid) || !r.U16(&out.flags) || !r.Count(kMaxArguments, "arguments", &count)) {
                return Refuse(r, error);
            }
            out.args.resize(count);
            for (Variant& arg : out.args) {
                if (!r.Value(&arg)) return Refuse(r, error);
            }
            break;
        }
        case Op::type_info:
            break;
        default: {
            char text[64];
            std::snprintf(text, sizeof text, "the request kind 0x%02X is unknown", op);
            r.Fail(text);
            return Refuse(r, error);
        }
    }
    if (!r.End()) return Refuse(r, error);
    out.op = static_cast<Op>(op);
    *request = std::move(out);
    return true;
}

bool DecodeResponse(std::string_view body, Response* response, std::string* error) {
    Reader r(body);
    Response out;
    uint8_t hasTypeInfo = 0;
    if (!r.I32(&out.hr) || !r.U32(&out.argErr) || !r.Value(&out.value) || !r.Text(&out.message) ||
        !r.U8(&hasTypeInfo)) {
        return Refuse(r, error);
    }
    if (hasTypeInfo > 1) {
        r.Fail("the answer's type information mark is neither 0 nor 1");
        return Refuse(r, error);
    }
    if (hasTypeInfo == 1) {
        TypeInfoRecord info;
        if (!ReadTypeInfo(r, &info)) return Refuse(r, error);
        out.typeInfo = std::move(info);
    }
    if (!r.End()) return Refuse(r, error);
    *response = std::move(out);
    return true;
}

}  // namespace platform::wire
