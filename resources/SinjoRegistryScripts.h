// The program's registry scripts, applied under HKEY_CLASSES_ROOT by "-Regserver" and removed by
// "-Unregserver" (platform/Registrar.h):
//   - script 103, the program's AppID;
//   - script 105, the class Door: its ProgIDs "Sinjo.Door.1" and "Sinjo.Door" and its CLSID key with the
//     local server to start.
// Replacements: %APPID%, %CLSID% and %LIBID% are the GUIDs of resources/SinjoGuids.h in braces; %MODULE% is
// the program's full path in double quotes (a command line, as LocalServer32 holds one).
#pragma once

#include <string>

#include "platform/Registrar.h"
#include "resources/SinjoGuids.h"

namespace sinjo_registry {

using platform::RegScriptFlag;
using platform::RegScriptKey;
using platform::RegScriptValue;

inline constexpr RegScriptValue kAppIdName[] = {{L"", L"Sinjo"}};
inline constexpr RegScriptValue kExeAppId[] = {{L"AppID", L"%APPID%"}};

// REGISTRY 103.
inline constexpr RegScriptKey kAppIdScript[] = {
    {L"AppID", RegScriptFlag::no_remove, {}},
    {L"AppID\\%APPID%", RegScriptFlag::none, kAppIdName},
    {L"AppID\\Sinjo.EXE", RegScriptFlag::none, kExeAppId},
};

inline constexpr RegScriptValue kDoorClassName[] = {{L"", L"Door Class"}};
inline constexpr RegScriptValue kDoorClsid[] = {{L"", L"%CLSID%"}};
inline constexpr RegScriptValue kDoorCurVer[] = {{L"", L"Sinjo.Door.1"}};
inline constexpr RegScriptValue kDoorClassKey[] = {{L"", L"Door Class"}, {L"AppID", L"%APPID%"}};
inline constexpr RegScriptValue kDoorProgId[] = {{L"", L"Sinjo.Door.1"}};
inline constexpr RegScriptValue kDoorIndependentProgId[] = {{L"", L"Sinjo.Door"}};
inline constexpr RegScriptValue kDoorLocalServer[] = {{L"", L"%MODULE%"}};
inline constexpr RegScriptValue kDoorTypeLib[] = {{L"", L"%LIBID%"}};

// REGISTRY 105.
inline constexpr RegScriptKey kDoorScript[] = {
    {L"Sinjo.Door.1", RegScriptFlag::none, kDoorClassName},
    {L"Sinjo.Door.1\\CLSID", RegScriptFlag::none, kDoorClsid},
    {L"Sinjo.Door", RegScriptFlag::none, kDoorClassName},
    {L"Sinjo.Door\\CLSID", RegScriptFlag::none, kDoorClsid},
    {L"Sinjo.Door\\CurVer", RegScriptFlag::none, kDoorCurVer},
    {L"CLSID", RegScriptFlag::no_remove, {}},
    {L"CLSID\\%CLSID%", RegScriptFlag::force_remove, kDoorClassKey},
    {L"CLSID\\%CLSID%\\ProgID", RegScriptFlag::none, kDoorProgId},
    {L"CLSID\\%CLSID%\\VersionIndependentProgID", RegScriptFlag::none, kDoorIndependentProgId},
    {L"CLSID\\%CLSID%\\Programmable", RegScriptFlag::force_remove, {}},
    {L"CLSID\\%CLSID%\\LocalServer32", RegScriptFlag::none, kDoorLocalServer},
    {L"CLSID\\%CLSID%\\TypeLib", RegScriptFlag::none, kDoorTypeLib},
};

// The ProgID that outside clients create Door by.
inline constexpr const wchar_t* kDoorProgIdName = L"Sinjo.Door";

// The replacements for a program at `programPath`.
inline platform::RegReplacements Replacements(const std::wstring& programPath) {
    return {
        {L"APPID", platform::GuidToString(APPID_Sinjo)},
        {L"CLSID", platform::GuidToString(CLSID_Door)},
        {L"LIBID", platform::GuidToString(LIBID_SinjoLib)},
        {L"MODULE", L"\"" + programPath + L"\""},
    };
}

}  // namespace sinjo_registry
