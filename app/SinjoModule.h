// CSinjoModule: the program's COM server module. It keeps the lock count (one for every Door alive, plus
// the class factory's LockServer locks), serves Door's class object to other processes (the local server,
// platform/LocalServer.h), and writes and removes the program's registry entries in classes.reg: the AppID
// (script 103), the class Door (script 105) and the type library SinjoLib (resources/).
//
// In the automation-server run ("-Embedding", "-Automation") the count falling to zero ends the run: new
// objects are refused from then on (clients start another server) and the GUI loop is asked to quit.
//
// Threads: GUI thread only. The lock count is atomic so that tests and figures may read it anywhere.
#pragma once

#include <atomic>

#include "platform/Com.h"

class CSinjoModule final {
public:
    CSinjoModule() = default;
    CSinjoModule(const CSinjoModule&) = delete;
    CSinjoModule& operator=(const CSinjoModule&) = delete;

    platform::LONG Lock();
    platform::LONG Unlock();
    platform::LONG GetLockCount() const { return m_lockCount.load(); }

    // Marks the automation-server run: from now on, a count that falls to zero ends the run.
    void SetAutomationServerRun(bool on) {
        m_automationServerRun = on;
        m_ending = false;
    }
    bool IsAutomationServerRun() const { return m_automationServerRun; }
    // Ends an automation-server run now if no object is held (the start-up grace period has passed).
    void EndAutomationServerRunIfIdle();

    // Registers Door's class object for other processes. CO_E_OBJISREG when another process serves this
    // profile already; see platform::CoRegisterClassObject for the rest.
    platform::HRESULT RegisterClassObjects();
    // Revokes it (closing every client connection); nothing when it is not registered.
    void RevokeClassObjects();
    bool ClassObjectsRegistered() const { return m_classCookie != 0; }

    // Writes script 103, script 105 and the type library's registration, for the program at `programPath`
    // (its full path). Stops at the first failure.
    platform::HRESULT RegisterServer(const std::wstring& programPath);
    // Removes them as the scripts say ("AppID" and "CLSID" themselves stay); goes on past failures.
    platform::HRESULT UnregisterServer(const std::wstring& programPath);

private:
    void EndRun();

    std::atomic<platform::LONG> m_lockCount{0};
    bool m_automationServerRun = false;
    bool m_ending = false;
    platform::DWORD m_classCookie = 0;
};

// The one module of the program.
CSinjoModule& SinjoModule();
