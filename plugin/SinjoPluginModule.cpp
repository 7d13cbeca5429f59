// The module's entry points and class objects. Only the four functions at the end are exported (see
// plugin/exports.map); everything else in the module is hidden.
#include "plugin/SinjoPluginModule.h"

#include <atomic>

#include "platform/CodePage.h"
#include "platform/Dmo.h"
#include "platform/Registry.h"
#include "platform/WmpPlugins.h"
#include "plugin/CSinjoPlugin.h"
#include "plugin/CSinjoPluginPropPage.h"
#include "plugin/ISinjoPlugin.h"
#include "plugin/Resources.h"

namespace sinjoplugin {

using namespace platform;

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

using CreateFn = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);

// A class object. Static for the life of the module, so its count does not delete it and does not
// keep the module loaded (LockServer does).
class ClassFactory final : public IClassFactory {
public:
    explicit constexpr ClassFactory(CreateFn create) : m_create(create) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        return m_create(outer, iid, object);
    }
    HRESULT LockServer(BOOL lock) override {
        ModuleLock(lock != FALSE);
        return S_OK;
    }

private:
    const CreateFn m_create;
};

ClassFactory g_pluginFactory(&CSinjoPlugin::CreateInstance);
ClassFactory g_pageFactory(&CSinjoPluginPropPage::CreateInstance);

struct ClassEntry {
    const CLSID* clsid;
    const wchar_t* name;
};
const ClassEntry kClasses[] = {
    {&CLSID_SinjoPlugin, L"SinjoPlugin Class"},
    {&CLSID_SinjoPluginPropPage, L"SinjoPlugin PropertyPage Class"},
};

std::wstring ClassKey(const CLSID& clsid) { return L"CLSID\\" + GuidToString(clsid); }

HRESULT CreateRegistrar(ComPtr<IWMPMediaPluginRegistrar>* registrar) {
    return CoCreateInstance(CLSID_WMPMediaPluginRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWMPMediaPluginRegistrar, registrar->ReleaseAndGetVoidAddress());
}

}  // namespace

void ModuleObjectCreated() { ++g_objects; }
void ModuleObjectDestroyed() { --g_objects; }
void ModuleLock(bool lock) {
    if (lock) {
        ++g_locks;
    } else if (g_locks.load() > 0) {
        --g_locks;  // an unmatched unlock does not drive the count below zero
    }
}
long ModuleActiveCount() { return g_objects.load() + g_locks.load(); }

HRESULT RegisterClasses(const std::wstring& modulePath) {
    for (const ClassEntry& entry : kClasses) {
        const std::wstring key = ClassKey(*entry.clsid);
        // Removed and rewritten, so nothing of an earlier registration lingers.
        LSTATUS status = RegDeleteTree(RegRoot::ClassesRoot, key);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
        status = RegSetString(RegRoot::ClassesRoot, key, L"", entry.name);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        status = RegSetStrings(RegRoot::ClassesRoot, key + L"\\InprocServer32",
                               {{L"", modulePath}, {L"ThreadingModel", L"Apartment"}});
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}

HRESULT UnregisterClasses() {
    HRESULT result = S_OK;
    for (const ClassEntry& entry : kClasses) {
        const LSTATUS status = RegDeleteTree(RegRoot::ClassesRoot, ClassKey(*entry.clsid));
        // A class that is already gone is what unregistration wants.
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result)) {
            result = HRESULT_FROM_WIN32(status);
        }
    }
    return result;
}

}  // namespace sinjoplugin

using namespace platform;

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                             void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid == CLSID_SinjoPlugin) return sinjoplugin::g_pluginFactory.QueryInterface(iid, object);
    if (clsid == CLSID_SinjoPluginPropPage) return sinjoplugin::g_pageFactory.QueryInterface(iid, object);
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return sinjoplugin::ModuleActiveCount() == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    ComPtr<IWMPMediaPluginRegistrar> registrar;
    HRESULT hr = sinjoplugin::CreateRegistrar(&registrar);
    if (FAILED(hr)) return hr;
    const std::wstring name = sinjoplugin::LoadString(sinjoplugin::IDS_FRIENDLYNAME);
    const std::wstring description = sinjoplugin::LoadString(sinjoplugin::IDS_DESCRIPTION);
    const DMO_PARTIAL_MEDIATYPE mediaType{MEDIATYPE_Audio, MEDIASUBTYPE_PCM};
    hr = registrar->WMPRegisterPlayerPlugin(name.c_str(), description.c_str(), nullptr, 1, WMP_PLUGINTYPE_DSP,
                                            CLSID_SinjoPlugin, 1, &mediaType);
    if (FAILED(hr)) return hr;
    const std::string path = ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
    if (path.empty()) return SELFREG_E_CLASS;
    return sinjoplugin::RegisterClasses(FromUtf8(path));
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    ComPtr<IWMPMediaPluginRegistrar> registrar;
    const HRESULT hr = sinjoplugin::CreateRegistrar(&registrar);
    if (FAILED(hr)) return hr;
    registrar->WMPUnRegisterPlayerPlugin(WMP_PLUGINTYPE_DSP, CLSID_SinjoPlugin);  // its answer is ignored
    return sinjoplugin::UnregisterClasses();
}
