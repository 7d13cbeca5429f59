// Registry scripts and type library registration in classes.reg: what registration writes, what
// unregistration takes away, and what it must leave (shared keys, other programs' subkeys).
#include "platform/Registrar.h"

#include <gtest/gtest.h>

#include <map>

namespace platform {
namespace {

using Values = std::map<std::wstring, std::wstring>;

// Every key below `root` with its string values, in key order ("" is the default value).
std::map<std::wstring, Values> Tree(const std::wstring& root) {
    std::map<std::wstring, Values> tree;
    if (!RegKeyExists(RegRoot::ClassesRoot, root)) return tree;
    Values& values = tree[root];
    for (const RegValue& v : RegEnumValues(RegRoot::ClassesRoot, root)) values[v.name] = v.text;
    for (const std::wstring& sub : RegEnumSubKeys(RegRoot::ClassesRoot, root)) tree.merge(Tree(root + L"\\" + sub));
    return tree;
}

constexpr RegScriptValue kAppValue[] = {{L"", L"App %NAME%"}, {L"Where", L"%PATH%"}};
constexpr RegScriptValue kServer[] = {{L"", L"%PATH%"}};
constexpr RegScriptKey kScript[] = {
    {L"Shared", RegScriptFlag::no_remove, {}},
    {L"Shared\\App", RegScriptFlag::force_remove, kAppValue},
    {L"Shared\\App\\Server", RegScriptFlag::none, kServer},
    {L"Shared\\App\\Marker", RegScriptFlag::force_remove, {}},
    {L"Own", RegScriptFlag::none, kServer},
    {L"Own\\Sub", RegScriptFlag::none, kServer},
};

const RegReplacements kReplacements = {{L"NAME", L"One"}, {L"PATH", L"\"/opt/app\""}};

TEST(Registrar, ReplacementsAreMadeInKeysAndTexts) {
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"%NAME%", L"One"},           {L"a%NAME%b%PATH%", L"aOneb\"/opt/app\""},
        {L"100%%", L"100%"},           {L"%UNKNOWN%", L"%UNKNOWN%"},
        {L"50% of %NAME%", L"50% of One"}, {L"%", L"%"},
    };
    for (const auto& c : cases) EXPECT_EQ(ApplyReplacements(c.in, kReplacements), c.out) << c.in;
}

TEST(Registrar, RegistrationWritesTheScriptAndReplacesForcedKeysWhole) {
    // Left over from an earlier registration: a stale subkey of a forced key, and someone else's key.
    RegSetString(RegRoot::ClassesRoot, L"Shared\\App\\Stale", L"", L"old");
    RegSetString(RegRoot::ClassesRoot, L"Shared\\Other", L"", L"another program");
    ASSERT_EQ(RegisterScript(RegRoot::ClassesRoot, kScript, kReplacements), S_OK);
    const std::map<std::wstring, Values> expected = {
        {L"Shared", {}},
        {L"Shared\\App", {{L"", L"App One"}, {L"Where", L"\"/opt/app\""}}},
        {L"Shared\\App\\Marker", {}},
        {L"Shared\\App\\Server", {{L"", L"\"/opt/app\""}}},
        {L"Shared\\Other", {{L"", L"another program"}}},
    };
    EXPECT_EQ(Tree(L"Shared"), expected);
    // Registering twice changes nothing.
    ASSERT_EQ(RegisterScript(RegRoot::ClassesRoot, kScript, kReplacements), S_OK);
    EXPECT_EQ(Tree(L"Shared"), expected);
}

TEST(Registrar, UnregistrationRemovesWhatTheScriptOwnsOnly) {
    ASSERT_EQ(RegisterScript(RegRoot::ClassesRoot, kScript, kReplacements), S_OK);
    RegSetString(RegRoot::ClassesRoot, L"Shared\\Other", L"", L"another program");
    RegSetString(RegRoot::ClassesRoot, L"Shared\\App\\Extra", L"", L"goes with the forced key");
    RegSetString(RegRoot::ClassesRoot, L"Own\\Foreign", L"", L"keeps Own");
    ASSERT_EQ(UnregisterScript(RegRoot::ClassesRoot, kScript, kReplacements), S_OK);
    EXPECT_EQ(Tree(L"Shared"), (std::map<std::wstring, Values>{{L"Shared", {}},
                                                                {L"Shared\\Other", {{L"", L"another program"}}}}));
    // A key with a subkey the script does not name stays, without what the script had put in it.
    EXPECT_EQ(Tree(L"Own"), (std::map<std::wstring, Values>{{L"Own", {}}, {L"Own\\Foreign", {{L"", L"keeps Own"}}}}));
    // Unregistering what is not there is no failure.
    EXPECT_EQ(UnregisterScript(RegRoot::ClassesRoot, kScript, kReplacements), S_OK);
}

TEST(Registrar, TypeLibrariesRegisterTheirVersionAndDualInterfaces) {
    constexpr InterfaceDesc dual{L"IThing", GUID{0xAAAA, 1, 2, {3}}, L"", TYPEFLAG_FDUAL, {}};
    constexpr InterfaceDesc plain{L"IPlain", GUID{0xBBBB, 1, 2, {3}}, L"", 0, {}};
    const InterfaceDesc* ifaces[] = {&dual, &plain};
    const TypeLibDesc lib{L"ThingLib", GUID{0xCCCC, 1, 2, {3}}, 2, 5, 0x409, SYS_WIN32, 0, L"Thing 2.5 Library",
                          ifaces, {}};
    const std::wstring libKey = L"TypeLib\\" + GuidToString(lib.libid);
    const std::wstring dualKey = L"Interface\\" + GuidToString(dual.iid);
    const std::wstring marshaler = GuidToString(CLSID_PSOAInterface);

    ASSERT_EQ(RegisterTypeLib(lib, L"/opt/thing/bin/thing", L"/opt/thing/bin"), S_OK);
    EXPECT_EQ(Tree(libKey), (std::map<std::wstring, Values>{
                                {libKey, {}},
                                {libKey + L"\\2.5", {{L"", L"Thing 2.5 Library"}}},
                                {libKey + L"\\2.5\\0", {}},
                                {libKey + L"\\2.5\\0\\win32", {{L"", L"/opt/thing/bin/thing"}}},
                                {libKey + L"\\2.5\\FLAGS", {{L"", L"0"}}},
                                {libKey + L"\\2.5\\HELPDIR", {{L"", L"/opt/thing/bin"}}},
                            }));
    EXPECT_EQ(Tree(dualKey), (std::map<std::wstring, Values>{
                                 {dualKey, {{L"", L"IThing"}}},
                                 {dualKey + L"\\ProxyStubClsid", {{L"", marshaler}}},
                                 {dualKey + L"\\ProxyStubClsid32", {{L"", marshaler}}},
                                 {dualKey + L"\\TypeLib", {{L"", GuidToString(lib.libid)}, {L"Version", L"2.5"}}},
                             }));
    EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, L"Interface\\" + GuidToString(plain.iid)));

    // Another version of the library keeps its key when this one goes.
    RegSetString(RegRoot::ClassesRoot, libKey + L"\\1.0", L"", L"older");
    ASSERT_EQ(UnRegisterTypeLib(lib), S_OK);
    EXPECT_EQ(Tree(libKey), (std::map<std::wstring, Values>{{libKey, {}}, {libKey + L"\\1.0", {{L"", L"older"}}}}));
    EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, dualKey));
    RegDeleteTree(RegRoot::ClassesRoot, libKey + L"\\1.0");
    ASSERT_EQ(UnRegisterTypeLib(lib), S_OK);
    EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, libKey));
}

}  // namespace
}  // namespace platform
