#include "app/SinjoModule.h"

#include "app/Door.h"
#include "core/Settings.h"
#include "platform/Gui.h"
#include "platform/LocalServer.h"
#include "platform/Registrar.h"
#include "resources/SinjoGuids.h"
#include "resources/SinjoRegistryScripts.h"
#include "resources/SinjoTypeLib.h"

namespace {

using platform::HRESULT;

// Door's class object: it lives as long as the program, so it counts no references. Runs on the GUI
// thread (the local server creates objects there).
class DoorClassFactory final : public platform::IClassFactory {
public:
    HRESULT QueryInterface(platform::REFIID iid, void** object) override {
        if (object == nullptr) return platform::E_POINTER;
        if (iid == platform::IID_IUnknown || iid == platform::IID_IClassFactory) {
            *object = static_cast<platform::IClassFactory*>(this);
            return platform::S_OK;
        }
        *object = nullptr;
        return platform::E_NOINTERFACE;
    }
    platform::ULONG AddRef() override { return 2; }
    platform::ULONG Release() override { return 1; }

    HRESULT CreateInstance(platform::IUnknown* outer, platform::REFIID iid, void** object) override {
        if (object == nullptr) return platform::E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return platform::CLASS_E_NOAGGREGATION;  // nothing in the program aggregates Door
        platform::ComPtr<Door> door = Door::Create();
        return door->QueryInterface(iid, object);
    }
    HRESULT LockServer(platform::BOOL lock) override {
        if (lock) {
            SinjoModule().Lock();
        } else {
            SinjoModule().Unlock();
        }
        return platform::S_OK;
    }
};

DoorClassFactory g_doorFactory;

}  // namespace

CSinjoModule& SinjoModule() {
    static CSinjoModule module;
    return module;
}

platform::LONG CSinjoModule::Lock() { return ++m_lockCount; }

platform::LONG CSinjoModule::Unlock() {
    const platform::LONG left = --m_lockCount;
    if (left == 0 && m_automationServerRun) EndRun();
    return left;
}

void CSinjoModule::EndAutomationServerRunIfIdle() {
    if (m_automationServerRun && m_lockCount.load() == 0) EndRun();
}

void CSinjoModule::EndRun() {
    if (m_ending) return;
    m_ending = true;
    // Clients that ask for an object from now on are told the server stops, and start another one.
    platform::CoSuspendClassObjects();
    platform::PostQuitMessage(0);
}

HRESULT CSinjoModule::RegisterClassObjects() {
    if (m_classCookie != 0) return platform::S_OK;
    return platform::CoRegisterClassObject(CLSID_Door, &g_doorFactory, platform::CLSCTX_LOCAL_SERVER,
                                           platform::REGCLS_MULTIPLEUSE, &m_classCookie);
}

void CSinjoModule::RevokeClassObjects() {
    if (m_classCookie == 0) return;
    platform::CoRevokeClassObject(m_classCookie);
    m_classCookie = 0;
}

HRESULT CSinjoModule::RegisterServer(const std::wstring& programPath) {
    const platform::RegReplacements replacements = sinjo_registry::Replacements(programPath);
    HRESULT hr = platform::RegisterScript(platform::RegRoot::ClassesRoot, sinjo_registry::kAppIdScript, replacements);
    if (platform::FAILED(hr)) return hr;
    hr = platform::RegisterScript(platform::RegRoot::ClassesRoot, sinjo_registry::kDoorScript, replacements);
    if (platform::FAILED(hr)) return hr;
    // The type library is part of the program file; help files would sit in the program's folder.
    return platform::RegisterTypeLib(sinjo_typelib::kSinjoLib, programPath, GetDirectoryPart(programPath));
}

HRESULT CSinjoModule::UnregisterServer(const std::wstring& programPath) {
    const platform::RegReplacements replacements = sinjo_registry::Replacements(programPath);
    HRESULT first = platform::UnregisterScript(platform::RegRoot::ClassesRoot, sinjo_registry::kAppIdScript,
                                               replacements);
    const HRESULT classes =
        platform::UnregisterScript(platform::RegRoot::ClassesRoot, sinjo_registry::kDoorScript, replacements);
    if (platform::SUCCEEDED(first)) first = classes;
    const HRESULT library = platform::UnRegisterTypeLib(sinjo_typelib::kSinjoLib);
    if (platform::SUCCEEDED(first)) first = library;
    return first;
}
