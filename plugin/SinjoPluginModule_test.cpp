#include "plugin/SinjoPluginModule.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/CodePage.h"
#include "platform/Dmo.h"
#include "platform/FileSystem.h"
#include "platform/PropertyPage.h"
#include "platform/Registry.h"
#include "platform/WmpPlugins.h"
#include "plugin/ISinjoPlugin.h"

namespace sinjoplugin {
namespace {

using namespace platform;

std::wstring ClassKey(const CLSID& clsid) { return L"CLSID\\" + GuidToString(clsid); }

std::wstring Value(RegRoot root, const std::wstring& key, const std::wstring& name) {
    RegValue value;
    if (RegQueryValue(root, key, name, &value) != ERROR_SUCCESS) return L"<missing>";
    return value.text;
}

const DspPluginRecord* FindRecord(const std::vector<DspPluginRecord>& records, const CLSID& clsid) {
    auto it = std::find_if(records.begin(), records.end(), [&](const DspPluginRecord& r) { return r.clsid == clsid; });
    return it == records.end() ? nullptr : &*it;
}

TEST(PluginModule, RegistrationWritesBothClassesAndTheDspRecordAndUnregistrationRemovesThem) {
    // A stale value from an older registration must not survive.
    RegSetString(RegRoot::ClassesRoot, ClassKey(CLSID_SinjoPlugin) + L"\\Stale", L"", L"old");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ASSERT_EQ(DllRegisterServer(), S_OK) << "registering twice is fine";

    const std::wstring self = FromUtf8(ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)));
    ASSERT_FALSE(self.empty());
    struct Expected {
        const CLSID* clsid;
        const wchar_t* name;
    };
    for (const Expected& e : {Expected{&CLSID_SinjoPlugin, L"SinjoPlugin Class"},
                              Expected{&CLSID_SinjoPluginPropPage, L"SinjoPlugin PropertyPage Class"}}) {
        const std::wstring key = ClassKey(*e.clsid);
        EXPECT_EQ(Value(RegRoot::ClassesRoot, key, L""), e.name);
        EXPECT_EQ(Value(RegRoot::ClassesRoot, key + L"\\InprocServer32", L""), self);
        EXPECT_EQ(Value(RegRoot::ClassesRoot, key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    }
    EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, ClassKey(CLSID_SinjoPlugin) + L"\\Stale"));

    const auto records = ListDspPlugins();
    const DspPluginRecord* record = FindRecord(records, CLSID_SinjoPlugin);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->friendlyName, L"SinjoPlugin plugin");
    EXPECT_EQ(record->description, L"Description of SinjoPlugin plugin");
    EXPECT_EQ(record->priority, 1u);
    ASSERT_EQ(record->mediaTypes.size(), 1u);
    EXPECT_EQ(record->mediaTypes[0].type, MEDIATYPE_Audio);
    EXPECT_EQ(record->mediaTypes[0].subtype, MEDIASUBTYPE_PCM);

    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(DllUnregisterServer(), S_OK) << "unregistering what is gone is fine";
    EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, ClassKey(CLSID_SinjoPlugin)));
    EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, ClassKey(CLSID_SinjoPluginPropPage)));
    EXPECT_TRUE(RegKeyExists(RegRoot::ClassesRoot, L"CLSID")) << "the CLSID key itself stays";
    EXPECT_EQ(FindRecord(ListDspPlugins(), CLSID_SinjoPlugin), nullptr);
}

TEST(PluginModule, ClassObjectsAndTheUnloadAnswer) {
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_SinjoPlugin, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IUnknown* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISinjoPlugin, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "an object is alive";
    object->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a server lock is held";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    factory->Release();

    ASSERT_EQ(DllGetClassObject(CLSID_SinjoPluginPropPage, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    IPropertyPage* page = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page)), S_OK);
    IUnknown* outer = page;
    void* aggregated = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    page->Release();
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(IID_ISinjoPlugin, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(DllGetClassObject(CLSID_SinjoPlugin, IID_IMediaObject, &none), E_NOINTERFACE);
}

}  // namespace
}  // namespace sinjoplugin
