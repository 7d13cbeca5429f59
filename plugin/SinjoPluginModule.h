// Module-wide state of the plug-in module: the count of live objects and server locks that
// DllCanUnloadNow reports, and the COM class registration of its two classes. The four exported entry
// points are defined in SinjoPluginModule.cpp. Any thread; the counts are atomic.
#pragma once

#include <string>

#include "platform/Com.h"

namespace sinjoplugin {

// Every COM object of the module counts itself from construction to destruction.
void ModuleObjectCreated();
void ModuleObjectDestroyed();
// IClassFactory::LockServer.
void ModuleLock(bool lock);
// Objects plus locks still outstanding.
long ModuleActiveCount();

// Writes (or removes) HKEY_CLASSES_ROOT\CLSID\{class id} with its InprocServer32 subkey for both
// classes, naming the module at `modulePath`.
platform::HRESULT RegisterClasses(const std::wstring& modulePath);
platform::HRESULT UnregisterClasses();

}  // namespace sinjoplugin

extern "C" {
platform::HRESULT DllGetClassObject(platform::REFCLSID clsid, platform::REFIID iid, void** object);
platform::HRESULT DllCanUnloadNow();
platform::HRESULT DllRegisterServer();
platform::HRESULT DllUnregisterServer();
}
