// Registration of a component's entries under HKEY_CLASSES_ROOT (classes.reg): registry scripts applied
// and removed as the platform's registrar applies them, and the registration of a type library.
//
// A registry script is a list of keys, parents before their subkeys, each with its values and one flag:
//   - none: written on registration; on unregistration its listed values go, and the key itself goes
//     with them unless it still has subkeys that the script does not name (someone else's);
//   - no_remove: written on registration, never removed (shared keys such as "CLSID");
//   - force_remove: deleted with all its subkeys before it is written, and deleted with all its subkeys on
//     unregistration.
// Key paths and value texts may hold replacements "%NAME%", replaced by the caller's texts on both ways.
//
// Failures: registration stops at the first failing write and returns its code as an HRESULT;
// unregistration goes on past a failure and returns the first one. A missing key is no failure.
// Thread-safe (each registry call is); nothing here keeps state.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Com.h"
#include "platform/Dispatch.h"
#include "platform/Registry.h"

namespace platform {

enum class RegScriptFlag { none, no_remove, force_remove };

struct RegScriptValue {
    std::wstring_view name;  // "" for the key's default value
    std::wstring_view text;  // a string value
};

struct RegScriptKey {
    std::wstring_view path;  // below the root, "\"-separated
    RegScriptFlag flag = RegScriptFlag::none;
    std::span<const RegScriptValue> values;
};

// Pairs of a name (without the percent signs) and its text.
using RegReplacements = std::vector<std::pair<std::wstring, std::wstring>>;

// `text` with every "%NAME%" of `replacements` replaced; "%%" is one "%"; an unknown name stays as it is.
std::wstring ApplyReplacements(std::wstring_view text, const RegReplacements& replacements);

HRESULT RegisterScript(RegRoot root, std::span<const RegScriptKey> script, const RegReplacements& replacements);
HRESULT UnregisterScript(RegRoot root, std::span<const RegScriptKey> script, const RegReplacements& replacements);

// The automation marshaler's class id, under which dual interfaces are registered.
constexpr CLSID CLSID_PSOAInterface{0x00020424, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Registers a type library under HKEY_CLASSES_ROOT:
//   TypeLib\{LIBID}\<major>.<minor>          default: the library's help string (its name without one)
//   TypeLib\{LIBID}\<major>.<minor>\FLAGS    default: the library flags in hexadecimal ("0")
//   TypeLib\{LIBID}\<major>.<minor>\0\win32  default: `modulePath`, the file that holds the library
//   TypeLib\{LIBID}\<major>.<minor>\HELPDIR  default: `helpDir`
// and each dual or automation interface it describes:
//   Interface\{IID}                          default: the interface's name
//   Interface\{IID}\ProxyStubClsid, ProxyStubClsid32   default: the automation marshaler
//   Interface\{IID}\TypeLib                  default: {LIBID}; value "Version" = "<major>.<minor>"
// The library has one locale only, so it is registered as locale-neutral ("0"): clients of every locale
// find it.
HRESULT RegisterTypeLib(const TypeLibDesc& library, std::wstring_view modulePath, std::wstring_view helpDir);
// Removes what RegisterTypeLib wrote: the version key with all its subkeys, TypeLib\{LIBID} once no other
// version is left, and the interface keys that name this library.
HRESULT UnRegisterTypeLib(const TypeLibDesc& library);

}  // namespace platform
