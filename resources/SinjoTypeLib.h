// The type library SinjoLib 1.0 as a static table: the Door class and its dual interface IDoor, every member
// with its dispatch id, slot, parameters and help string. Script and outside clients bind by name or by
// dispatch id through it (platform/Dispatch.h), so the ids below are part of the interface and never change;
// a new member goes after the last one, with a new id.
#pragma once

#include "platform/Dispatch.h"
#include "resources/SinjoGuids.h"

namespace sinjo_typelib {

using platform::ParamDesc;
using platform::FuncDesc;
using platform::INVOKE_FUNC;
using platform::INVOKE_PROPERTYGET;
using platform::INVOKE_PROPERTYPUT;
using platform::VT_BOOL;
using platform::VT_BSTR;
using platform::VT_I4;

inline constexpr uint16_t kIn = platform::PARAMFLAG_FIN;
inline constexpr uint16_t kNone = platform::PARAMFLAG_NONE;  // no direction attribute: counts as in
inline constexpr uint16_t kInOptional = platform::PARAMFLAG_FIN | platform::PARAMFLAG_FOPT;
inline constexpr uint16_t kRetval = platform::PARAMFLAG_FOUT | platform::PARAMFLAG_FRETVAL;

// Dispatch ids of IDoor.
inline constexpr platform::DISPID DISPID_ExecScript = 5;
inline constexpr platform::DISPID DISPID_QueueSong = 10;
inline constexpr platform::DISPID DISPID_GetQSongCount = 12;
inline constexpr platform::DISPID DISPID_GetQSong = 13;
inline constexpr platform::DISPID DISPID_Pause = 16;
inline constexpr platform::DISPID DISPID_Play = 17;
inline constexpr platform::DISPID DISPID_Next = 18;
inline constexpr platform::DISPID DISPID_MoveQSongFront = 19;
inline constexpr platform::DISPID DISPID_GetSetting = 20;
inline constexpr platform::DISPID DISPID_MoveQSongUp = 21;
inline constexpr platform::DISPID DISPID_RemoveQSong = 22;
inline constexpr platform::DISPID DISPID_SetSetting = 23;
inline constexpr platform::DISPID DISPID_GetAlbumCount = 24;
inline constexpr platform::DISPID DISPID_GetAlbum = 25;
inline constexpr platform::DISPID DISPID_RenameAlbum = 26;
inline constexpr platform::DISPID DISPID_Reload = 27;
inline constexpr platform::DISPID DISPID_ControlImToo = 28;
inline constexpr platform::DISPID DISPID_AudioSource = 29;
inline constexpr platform::DISPID DISPID_Jump = 31;
inline constexpr platform::DISPID DISPID_PlayPause = 32;
inline constexpr platform::DISPID DISPID_OpenBrowser = 33;
inline constexpr platform::DISPID DISPID_ServeUrl = 34;
inline constexpr platform::DISPID DISPID_NextScriptToExecute = 35;
inline constexpr platform::DISPID DISPID_RenameFolder = 36;
// Added after the first release, for the console page's "join from a phone" box.
inline constexpr platform::DISPID DISPID_LanUrl = 37;
inline constexpr platform::DISPID DISPID_GetQrCode = 38;

inline constexpr ParamDesc kExecScript[] = {{L"frame", VT_BSTR, kIn}, {L"script", VT_BSTR, kIn}};
inline constexpr ParamDesc kQueueSong[] = {{L"id", VT_I4, kIn}, {L"begin", VT_BOOL, kIn}};
inline constexpr ParamDesc kGetQSongCount[] = {{L"pVal", VT_I4, kRetval}};
inline constexpr ParamDesc kGetQSong[] = {{L"index", VT_I4, kIn}, {L"prop", VT_BSTR, kIn}, {L"pVal", VT_BSTR, kRetval}};
inline constexpr ParamDesc kQueuePosition[] = {{L"id", VT_I4, kIn}, {L"songid", VT_I4, kNone}};
inline constexpr ParamDesc kGetSetting[] = {
    {L"name", VT_BSTR, kIn}, {L"default_value", VT_BSTR, kInOptional}, {L"value", VT_BSTR, kRetval}};
inline constexpr ParamDesc kSetSetting[] = {{L"name", VT_BSTR, kIn}, {L"value", VT_BSTR, kIn}};
inline constexpr ParamDesc kGetAlbumCount[] = {{L"ret", VT_I4, kRetval}};
inline constexpr ParamDesc kGetAlbum[] = {{L"id", VT_I4, kIn}, {L"prop", VT_BSTR, kIn}, {L"value", VT_BSTR, kRetval}};
inline constexpr ParamDesc kRenameAlbum[] = {{L"id", VT_I4, kIn}, {L"type", VT_BSTR, kIn}};
inline constexpr ParamDesc kControlImToo[] = {{L"audio_index", VT_I4, kIn}, {L"subtitle_index", VT_I4, kIn}};
inline constexpr ParamDesc kGetText[] = {{L"pVal", VT_BSTR, kRetval}};
inline constexpr ParamDesc kPutText[] = {{L"newVal", VT_BSTR, kIn}};
inline constexpr ParamDesc kJump[] = {{L"Seconds", VT_I4, kIn}};
inline constexpr ParamDesc kRenameFolder[] = {{L"folder", VT_BSTR, kIn}, {L"album_index", VT_BSTR, kIn}};
inline constexpr ParamDesc kGetQrCode[] = {{L"text", VT_BSTR, kIn}, {L"rows", VT_BSTR, kRetval}};

// IDoor in slot order (slots 0 to 6 are IDispatch's).
inline constexpr FuncDesc kIDoorMembers[] = {
    {DISPID_ExecScript, INVOKE_FUNC, L"ExecScript", kExecScript, L"method ExecScript", 7},
    {DISPID_QueueSong, INVOKE_FUNC, L"QueueSong", kQueueSong, L"method QueueSong", 8},
    {DISPID_GetQSongCount, INVOKE_FUNC, L"GetQSongCount", kGetQSongCount, L"method GetQSongCount", 9},
    {DISPID_GetQSong, INVOKE_FUNC, L"GetQSong", kGetQSong, L"method GetQSong", 10},
    {DISPID_Pause, INVOKE_FUNC, L"Pause", {}, L"method Pause", 11},
    {DISPID_Play, INVOKE_FUNC, L"Play", {}, L"method Play", 12},
    {DISPID_Next, INVOKE_FUNC, L"Next", {}, L"method Next", 13},
    {DISPID_MoveQSongFront, INVOKE_FUNC, L"MoveQSongFront", kQueuePosition, L"method MoveQSongFront", 14},
    {DISPID_GetSetting, INVOKE_FUNC, L"GetSetting", kGetSetting, L"method GetSetting", 15},
    {DISPID_MoveQSongUp, INVOKE_FUNC, L"MoveQSongUp", kQueuePosition, L"method MoveQSongUp", 16},
    {DISPID_RemoveQSong, INVOKE_FUNC, L"RemoveQSong", kQueuePosition, L"method RemoveQSong", 17},
    {DISPID_SetSetting, INVOKE_FUNC, L"SetSetting", kSetSetting, L"method SetSetting", 18},
    {DISPID_GetAlbumCount, INVOKE_FUNC, L"GetAlbumCount", kGetAlbumCount, L"method GetAlbumCount", 19},
    {DISPID_GetAlbum, INVOKE_FUNC, L"GetAlbum", kGetAlbum, L"method GetAlbum", 20},
    {DISPID_RenameAlbum, INVOKE_FUNC, L"RenameAlbum", kRenameAlbum, L"method RenameAlbum", 21},
    {DISPID_Reload, INVOKE_FUNC, L"Reload", {}, L"method Reload", 22},
    {DISPID_ControlImToo, INVOKE_FUNC, L"ControlImToo", kControlImToo, L"method ControlImToo", 23},
    {DISPID_AudioSource, INVOKE_PROPERTYGET, L"AudioSource", kGetText, L"property AudioSource", 24},
    {DISPID_AudioSource, INVOKE_PROPERTYPUT, L"AudioSource", kPutText, L"property AudioSource", 25},
    {DISPID_Jump, INVOKE_FUNC, L"Jump", kJump, L"method Jump", 26},
    {DISPID_PlayPause, INVOKE_FUNC, L"PlayPause", {}, L"method PlayPause", 27},
    {DISPID_OpenBrowser, INVOKE_FUNC, L"OpenBrowser", {}, L"method OpenBrowser", 28},
    {DISPID_ServeUrl, INVOKE_PROPERTYGET, L"ServeUrl", kGetText, L"property ServeUrl", 29},
    {DISPID_NextScriptToExecute, INVOKE_PROPERTYGET, L"NextScriptToExecute", kGetText,
     L"property NextScriptToExecute", 30},
    {DISPID_NextScriptToExecute, INVOKE_PROPERTYPUT, L"NextScriptToExecute", kPutText,
     L"property NextScriptToExecute", 31},
    {DISPID_RenameFolder, INVOKE_FUNC, L"RenameFolder", kRenameFolder, L"method RenameFolder", 32},
    {DISPID_LanUrl, INVOKE_PROPERTYGET, L"LanUrl", kGetText, L"property LanUrl", 33},
    {DISPID_GetQrCode, INVOKE_FUNC, L"GetQrCode", kGetQrCode, L"method GetQrCode", 34},
};

inline constexpr platform::InterfaceDesc kIDoor{
    L"IDoor", IID_IDoor, L"IDoor Interface",
    platform::TYPEFLAG_FDUAL | platform::TYPEFLAG_FNONEXTENSIBLE | platform::TYPEFLAG_FOLEAUTOMATION |
        platform::TYPEFLAG_FDISPATCHABLE,
    kIDoorMembers};

inline constexpr platform::CoclassDesc kDoor{L"Door", CLSID_Door, L"Door Class", platform::TYPEFLAG_FCANCREATE,
                                             &kIDoor};

inline constexpr const platform::InterfaceDesc* kInterfaces[] = {&kIDoor};
inline constexpr const platform::CoclassDesc* kCoclasses[] = {&kDoor};

// Version 1.0, locale 0x409 (English, United States), 32-bit Windows.
inline constexpr platform::TypeLibDesc kSinjoLib{
    L"SinjoLib", LIBID_SinjoLib, 1, 0, 0x409, platform::SYS_WIN32, platform::LIBFLAG_NONE,
    L"Sinjo 1.0 Type Library", kInterfaces, kCoclasses};

}  // namespace sinjo_typelib
