// libFuzzer target for the automation wire decoder (what a hostile client can send the jukebox).
//
// The input is a request body, then the same bytes as an answer body. Besides memory errors (the build adds
// ASan and UBSan), the properties checked: a body that decodes encodes back to exactly the same bytes (the
// format has one spelling per message, so nothing is read that was not there); a decoded call goes through
// the standard dispatch of a small interface (argument counting and conversion) without fault; a refused
// body always says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Dispatch.h"
#include "platform/DispatchWire.h"

namespace {

using namespace platform;

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr ParamDesc kParams[] = {{L"n", VT_I4, PARAMFLAG_FIN},
                                 {L"flag", VT_BOOL, PARAMFLAG_NONE},
                                 {L"text", VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOPT},
                                 {L"r", VT_BSTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kPut[] = {{L"v", VT_BSTR, PARAMFLAG_FIN}};
constexpr FuncDesc kFuncs[] = {{1, INVOKE_FUNC, L"Call", kParams, L"", 7},
                               {2, INVOKE_PROPERTYGET, L"Value", std::span<const ParamDesc>(kParams + 3, 1), L"", 8},
                               {2, INVOKE_PROPERTYPUT, L"Value", kPut, L"", 9}};
constexpr InterfaceDesc kInterface{L"IFuzz", GUID{}, L"", TYPEFLAG_FDUAL, kFuncs};

// Checks what the dispatch hands a member: exactly its inputs, each of its declared type or missing.
class Member final : public MemberCaller {
public:
    HRESULT CallMember(const FuncDesc& member, std::span<const Variant> inputs, Variant* result) override {
        Check(inputs.size() == member.InputCount());
        size_t i = 0;
        for (const ParamDesc& p : member.params) {
            if (!p.IsInput()) continue;
            Check(inputs[i].vt == p.vt || (p.IsOptional() && inputs[i].IsMissing()));
            ++i;
        }
        *result = Variant::Bstr(L"ok");
        return S_OK;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    std::string error;

    wire::Request request;
    if (wire::DecodeRequest(body, &request, &error)) {
        std::string frame;
        Check(wire::EncodeRequest(request, &frame, &error));
        Check(std::string_view(frame).substr(wire::kFrameHeaderBytes) == body);
        if (request.op == wire::Op::invoke) {
            Member member;
            Variant result;
            UINT argErr = 0;
            const HRESULT hr = DispInvoke(kInterface, member, request.dispid, request.flags, request.args, &result, &argErr);
            Check(SUCCEEDED(hr) || result.vt == VT_EMPTY);
            if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) Check(argErr < request.args.size());
        }
    } else {
        Check(!error.empty());
    }

    wire::Response response;
    error.clear();
    if (wire::DecodeResponse(body, &response, &error)) {
        std::string frame;
        Check(wire::EncodeResponse(response, &frame, &error));
        Check(std::string_view(frame).substr(wire::kFrameHeaderBytes) == body);
        if (response.typeInfo) {
            ITypeInfo* info = wire::CreateTypeInfo(*response.typeInfo);
            Check(info->Interface().funcs.size() == response.typeInfo->members.size());
            info->Release();
        }
    } else {
        Check(!error.empty());
    }
    return 0;
}
