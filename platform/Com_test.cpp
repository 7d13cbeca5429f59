#include "platform/Com.h"

#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "platform/WmpPlugins.h"

namespace platform {
namespace {

TEST(Guid, TextFormRoundTripsAndMalformedTextIsRefused) {
    const GUID g{0x6BF52A52, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};
    EXPECT_EQ(GuidToString(g), L"{6BF52A52-394A-11D3-B153-00C04F79FAA6}");
    GUID read;
    ASSERT_TRUE(GuidFromString(L"{6bf52a52-394a-11d3-b153-00c04f79faa6}", &read));
    EXPECT_EQ(read, g);
    EXPECT_EQ(GuidToString(GUID_NULL), L"{00000000-0000-0000-0000-000000000000}");

    const GUID untouched{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    for (const wchar_t* bad : {L"", L"6BF52A52-394A-11D3-B153-00C04F79FAA6", L"{6BF52A52-394A-11D3-B153-00C04F79FAA6",
                               L"{6BF52A52-394A-11D3-B153-00C04F79FAA6} ", L"{6BF52A52-394A-11D3-B15300-C04F79FAA6}",
                               L"{6BF52A5G-394A-11D3-B153-00C04F79FAA6}", L"{6BF52A52+394A-11D3-B153-00C04F79FAA6}",
                               L"{ 6BF52A52-394A-11D3-B153-00C04F79FAA}"}) {
        GUID out = untouched;
        EXPECT_FALSE(GuidFromString(bad, &out)) << bad;
        EXPECT_EQ(out, untouched) << bad;
    }
    EXPECT_TRUE(GuidLess(GUID{1, 0, 0, {}}, GUID{2, 0, 0, {}}));
    EXPECT_TRUE(GuidLess(GUID{1, 0, 0, {0, 1}}, GUID{1, 0, 0, {0, 2}}));
    EXPECT_FALSE(GuidLess(g, g));
}

TEST(Hresult, SuccessFailureAndSystemErrors) {
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_EQ(HRESULT_FROM_WIN32(5), E_ACCESSDENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(87), E_INVALIDARG);
    EXPECT_EQ(FormatHresult(E_FAIL), "0x80004005");
}

// Results leave the program (automation clients print them), so each must have the platform's value.
TEST(Hresult, CodesHaveThePlatformsValues) {
    const struct {
        const char* name;
        HRESULT code;
        uint32_t value;
    } codes[] = {
        {"E_NOTIMPL", E_NOTIMPL, 0x80004001},         {"E_NOINTERFACE", E_NOINTERFACE, 0x80004002},
        {"E_POINTER", E_POINTER, 0x80004003},         {"E_FAIL", E_FAIL, 0x80004005},
        {"E_UNEXPECTED", E_UNEXPECTED, 0x8000FFFF},   {"E_ACCESSDENIED", E_ACCESSDENIED, 0x80070005},
        {"E_OUTOFMEMORY", E_OUTOFMEMORY, 0x8007000E}, {"E_INVALIDARG", E_INVALIDARG, 0x80070057},
        {"CLASS_E_NOAGGREGATION", CLASS_E_NOAGGREGATION, 0x80040110},
        {"CLASS_E_CLASSNOTAVAILABLE", CLASS_E_CLASSNOTAVAILABLE, 0x80040111},
        {"REGDB_E_CLASSNOTREG", REGDB_E_CLASSNOTREG, 0x80040154},
        {"CO_E_DLLNOTFOUND", CO_E_DLLNOTFOUND, 0x800401F8},
        {"CO_E_ERRORINDLL", CO_E_ERRORINDLL, 0x800401F9},
        {"SELFREG_E_CLASS", SELFREG_E_CLASS, 0x80040201},
    };
    for (const auto& c : codes) EXPECT_EQ(static_cast<uint32_t>(c.code), c.value) << c.name;
}

TEST(Activation, FindsBuiltinClassesAndReportsMissingOrBrokenModules) {
    IUnknown* object = nullptr;
    // The plug-in registrar is built in: no classes.reg entry needed.
    ASSERT_EQ(CoCreateInstance(CLSID_WMPMediaPluginRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    object->Release();
    EXPECT_EQ(CoCreateInstance(CLSID_WMPMediaPluginRegistrar, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);

    const GUID unknown{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    const std::wstring server = L"CLSID\\" + GuidToString(unknown) + L"\\InprocServer32";
    ASSERT_EQ(RegSetString(RegRoot::ClassesRoot, server, L"", L"/nonexistent/module.so"), ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
              CO_E_DLLNOTFOUND);
    // A loadable library that is no COM module.
    ASSERT_EQ(RegSetString(RegRoot::ClassesRoot, server, L"", L"libm.so.6"), ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
              CO_E_ERRORINDLL);
    RegDeleteTree(RegRoot::ClassesRoot, L"CLSID\\" + GuidToString(unknown));
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
}

TEST(TaskAllocator, StringCopiesAreTerminated) {
    LPOLESTR copy = CoTaskMemStrDup(L"abc");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, L"abc");
    CoTaskMemFree(copy);
    copy = CoTaskMemStrDup(L"");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], L'\0');
    CoTaskMemFree(copy);
}

}  // namespace
}  // namespace platform
