// The dispatch half of Door's dual interface: a call that the standard dispatch has matched to a member of
// the type information (and whose arguments it has converted to the declared types) goes to the IDoor
// method of that member here. Inputs come in call order: VT_I4 in lVal, VT_BSTR in bstrVal, VT_BOOL in
// boolVal, and an optional input the caller left out as Variant::Missing().
#include "app/Door.h"
#include "resources/SinjoTypeLib.h"

using platform::HRESULT;
using platform::Variant;

namespace {

// A member whose return value is a LONG: the value goes out only on success.
template <class Call>
HRESULT LongResult(Call call, Variant* result) {
    platform::LONG value = 0;
    const HRESULT hr = call(&value);
    if (platform::SUCCEEDED(hr)) *result = Variant::Long(value);
    return hr;
}

template <class Call>
HRESULT TextResult(Call call, Variant* result) {
    platform::BSTR value;
    const HRESULT hr = call(&value);
    if (platform::SUCCEEDED(hr)) *result = Variant::Bstr(std::move(value));
    return hr;
}

}  // namespace

HRESULT Door::CallMember(const platform::FuncDesc& member, std::span<const Variant> in, Variant* result) {
    using namespace sinjo_typelib;
    const bool get = member.invkind == platform::INVOKE_PROPERTYGET;
    auto text = [&](size_t i) -> const BSTR& { return in[i].bstrVal; };
    auto number = [&](size_t i) { return in[i].lVal; };
    switch (member.memid) {
        case DISPID_ExecScript:
            return ExecScript(text(0), text(1));
        case DISPID_QueueSong:
            return QueueSong(number(0), in[1].boolVal);
        case DISPID_GetQSongCount:
            return LongResult([&](LONG* v) { return GetQSongCount(v); }, result);
        case DISPID_GetQSong:
            return TextResult([&](BSTR* v) { return GetQSong(number(0), text(1), v); }, result);
        case DISPID_Pause:
            return Pause();
        case DISPID_Play:
            return Play();
        case DISPID_Next:
            return Next();
        case DISPID_MoveQSongFront:
            return MoveQSongFront(number(0), number(1));
        case DISPID_GetSetting: {
            const BSTR* fallback = in[1].IsMissing() ? nullptr : &in[1].bstrVal;
            return TextResult([&](BSTR* v) { return GetSetting(text(0), fallback, v); }, result);
        }
        case DISPID_MoveQSongUp:
            return MoveQSongUp(number(0), number(1));
        case DISPID_RemoveQSong:
            return RemoveQSong(number(0), number(1));
        case DISPID_SetSetting:
            return SetSetting(text(0), text(1));
        case DISPID_GetAlbumCount:
            return LongResult([&](LONG* v) { return GetAlbumCount(v); }, result);
        case DISPID_GetAlbum:
            return TextResult([&](BSTR* v) { return GetAlbum(number(0), text(1), v); }, result);
        case DISPID_RenameAlbum:
            return RenameAlbum(number(0), text(1));
        case DISPID_Reload:
            return Reload();
        case DISPID_ControlImToo:
            return ControlImToo(number(0), number(1));
        case DISPID_AudioSource:
            if (get) return TextResult([&](BSTR* v) { return get_AudioSource(v); }, result);
            return put_AudioSource(text(0));
        case DISPID_Jump:
            return Jump(number(0));
        case DISPID_PlayPause:
            return PlayPause();
        case DISPID_OpenBrowser:
            return OpenBrowser();
        case DISPID_ServeUrl:
            return TextResult([&](BSTR* v) { return get_ServeUrl(v); }, result);
        case DISPID_NextScriptToExecute:
            if (get) return TextResult([&](BSTR* v) { return get_NextScriptToExecute(v); }, result);
            return put_NextScriptToExecute(text(0));
        case DISPID_RenameFolder:
            return RenameFolder(text(0), text(1));
        case DISPID_LanUrl:
            return TextResult([&](BSTR* v) { return get_LanUrl(v); }, result);
        case DISPID_GetQrCode:
            return TextResult([&](BSTR* v) { return GetQrCode(text(0), v); }, result);
        default:
            return platform::DISP_E_MEMBERNOTFOUND;
    }
}
