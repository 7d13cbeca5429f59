#include "platform/WmpPlugins.h"

#include <gtest/gtest.h>

#include "platform/Registry.h"

namespace platform {
namespace {

class RegistrarTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTree(RegRoot::CurrentUser, L"Software\\MediaPlayer");
        ASSERT_EQ(CoCreateInstance(CLSID_WMPMediaPluginRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWMPMediaPluginRegistrar, reinterpret_cast<void**>(&registrar)),
                  S_OK);
    }
    void TearDown() override { registrar->Release(); }
    IWMPMediaPluginRegistrar* registrar = nullptr;
};

const CLSID kFirst{0x11111111, 0, 0, {1}};
const CLSID kSecond{0x22222222, 0, 0, {2}};
const CLSID kThird{0x33333333, 0, 0, {3}};

TEST_F(RegistrarTest, RecordsDspPluginsAndListsThemByPriority) {
    const DMO_PARTIAL_MEDIATYPE types[] = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, {MEDIATYPE_Audio, MEDIASUBTYPE_IEEE_FLOAT}};
    ASSERT_EQ(registrar->WMPRegisterPlayerPlugin(L"First", L"One", L"uninstall me", 5, WMP_PLUGINTYPE_DSP, kFirst, 2,
                                                 types),
              S_OK);
    ASSERT_EQ(registrar->WMPRegisterPlayerPlugin(L"Second", L"Two", nullptr, 1, WMP_PLUGINTYPE_DSP, kSecond, 1, types),
              S_OK);
    ASSERT_EQ(registrar->WMPRegisterPlayerPlugin(L"Renderer", L"", nullptr, 0, WMP_PLUGINTYPE_RENDERING, kThird, 0,
                                                 nullptr),
              S_OK);
    // A key that is not a class id is no plug-in.
    RegSetString(RegRoot::CurrentUser, std::wstring(kDspPluginsKey) + L"\\junk", L"FriendlyName", L"x");

    auto records = ListDspPlugins();
    ASSERT_EQ(records.size(), 2u) << "rendering plug-ins are not DSP plug-ins";
    EXPECT_EQ(records[0].clsid, kSecond);
    EXPECT_EQ(records[0].priority, 1u);
    EXPECT_EQ(records[1].clsid, kFirst);
    EXPECT_EQ(records[1].friendlyName, L"First");
    EXPECT_EQ(records[1].description, L"One");
    ASSERT_EQ(records[1].mediaTypes.size(), 2u);
    EXPECT_EQ(records[1].mediaTypes[1].subtype, MEDIASUBTYPE_IEEE_FLOAT);

    // Re-registration replaces the whole record.
    const std::wstring firstKey = std::wstring(kDspPluginsKey) + L"\\" + GuidToString(kFirst);
    RegValue value;
    EXPECT_EQ(RegQueryValue(RegRoot::CurrentUser, firstKey, L"UninstallPath", &value), ERROR_SUCCESS);
    ASSERT_EQ(registrar->WMPRegisterPlayerPlugin(L"First again", L"One", nullptr, 0, WMP_PLUGINTYPE_DSP, kFirst, 1,
                                                 types),
              S_OK);
    EXPECT_EQ(RegQueryValue(RegRoot::CurrentUser, firstKey, L"UninstallPath", &value), ERROR_FILE_NOT_FOUND);
    records = ListDspPlugins();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].friendlyName, L"First again");

    EXPECT_EQ(registrar->WMPUnRegisterPlayerPlugin(WMP_PLUGINTYPE_DSP, kFirst), S_OK);
    EXPECT_EQ(registrar->WMPUnRegisterPlayerPlugin(WMP_PLUGINTYPE_DSP, kFirst), S_FALSE);
    records = ListDspPlugins();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].clsid, kSecond);
}

TEST_F(RegistrarTest, RefusesIncompleteRequests) {
    const GUID otherType{0x99999999, 0, 0, {}};
    EXPECT_EQ(registrar->WMPRegisterPlayerPlugin(L"x", L"y", nullptr, 1, otherType, kFirst, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(registrar->WMPRegisterPlayerPlugin(nullptr, L"y", nullptr, 1, WMP_PLUGINTYPE_DSP, kFirst, 0, nullptr),
              E_POINTER);
    EXPECT_EQ(registrar->WMPRegisterPlayerPlugin(L"x", L"y", nullptr, 1, WMP_PLUGINTYPE_DSP, kFirst, 3, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(registrar->WMPUnRegisterPlayerPlugin(otherType, kFirst), E_INVALIDARG);
    EXPECT_TRUE(ListDspPlugins().empty());
}

TEST(MediaTypesText, MalformedPairsAreSkipped) {
    const DMO_PARTIAL_MEDIATYPE pcm{MEDIATYPE_Audio, MEDIASUBTYPE_PCM};
    const std::wstring one = FormatMediaTypes(&pcm, 1);
    const auto parsed = ParseMediaTypes(L"junk;" + one + L";{00000000-0000-0000-0000-000000000000}/bad;" + one);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0].type, MEDIATYPE_Audio);
    EXPECT_EQ(parsed[1].subtype, MEDIASUBTYPE_PCM);
    EXPECT_TRUE(ParseMediaTypes(L"").empty());
}

}  // namespace
}  // namespace platform
