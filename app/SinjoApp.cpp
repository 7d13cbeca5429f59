#include "app/SinjoApp.h"

#include <cstdio>
#include <string_view>

#include "core/Globals.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "app/SinjoDlg.h"
#include "app/SinjoModule.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/Com.h"
#include "platform/LocalServer.h"
#include "platform/Gui.h"
#include "player/PlayerCommands.h"
#include "protocol/SettingKeys.h"
#include "web/SWebServer.h"

SinjoApp::Mode SinjoApp::ParseCommandLine(const std::vector<std::string>& args) {
    bool embedding = false;
    bool automation = false;
    Mode shell = Mode::normal;
    for (const std::string& arg : args) {
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) continue;  // file names: no effect
        const std::string_view name = std::string_view(arg).substr(1);
        if (EqualsAsciiNoCase(name, "Regserver") || EqualsAsciiNoCase(name, "Register")) {
            shell = Mode::register_server;
        } else if (EqualsAsciiNoCase(name, "Unregserver") || EqualsAsciiNoCase(name, "Unregister")) {
            shell = Mode::unregister_server;
        } else if (EqualsAsciiNoCase(name, "Embedding")) {
            embedding = true;
        } else if (EqualsAsciiNoCase(name, "Automation")) {
            automation = true;
        }
    }
    if (embedding || automation) return Mode::automation_server;
    return shell;
}

int SinjoApp::Main(int argc, char** argv) {
    platform::InitGuiThread();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (InitInstance(ParseCommandLine(args))) platform::RunMessageLoop();
    return ExitInstance();
}

bool SinjoApp::InitInstance(Mode mode) {
    CSinjoModule& module = SinjoModule();
    const bool shellRun = mode == Mode::register_server || mode == Mode::unregister_server;
    // Door's class object is served in every mode, so that outside clients reach whichever run is going.
    // A run that cannot serve ends at once and silently (most often another Sinjobox serves this profile:
    // it keeps its socket). Registering and unregistering work whether or not another run serves.
    const platform::HRESULT served = module.RegisterClassObjects();
    if (platform::FAILED(served) && !shellRun) {
        m_exitCode = served == platform::CO_E_OBJISREG ? kExitAlreadyServed : kExitCannotServe;
        return false;
    }
    switch (mode) {
        case Mode::automation_server:
            StartAutomationServer();
            return true;
        case Mode::unregister_server:
        case Mode::register_server: {
            // This run ends at once: a client must not get an object that dies with it.
            platform::CoSuspendClassObjects();
            const std::wstring program = GetProgramPath();
            const platform::HRESULT hr = mode == Mode::register_server ? module.RegisterServer(program)
                                                                       : module.UnregisterServer(program);
            if (platform::FAILED(hr)) m_exitCode = kExitRegistrationFailed;
            return false;
        }
        case Mode::normal:
            RunNormal();
            return false;
    }
    return false;
}

void SinjoApp::StartAutomationServer() {
    CSinjoModule& module = SinjoModule();
    module.SetAutomationServerRun(true);
    // No window shows: this handle only carries the grace timer and the close that SIGINT and SIGTERM send.
    m_automationWindow = platform::CreateWindowHandle(
        [](platform::HWND window, platform::UINT message, platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
            if (message == platform::WM_TIMER) {
                platform::KillTimer(window, kAutomationGraceTimer);
                // Started, but no client ever came for an object: do not linger.
                SinjoModule().EndAutomationServerRunIfIdle();
            } else if (message == platform::WM_CLOSE) {
                platform::CoSuspendClassObjects();
                platform::PostQuitMessage(0);
            }
            return 0;
        });
    platform::SetTimer(m_automationWindow, kAutomationGraceTimer, kAutomationGraceMs);
    platform::CloseOnTerminationSignals(m_automationWindow);
}

void SinjoApp::RunNormal() {
    g_settings = new Settings();
    g_settings->Load();

    g_songMan = new SongMan();
    // The player knows nothing of songs; it only says when a file has ended, and the queue advances.
    SetMediaEndedHandler([] {
        if (g_songMan != nullptr) g_songMan->Next();
    });
    if (!g_songMan->Reload()) {
        std::fprintf(stderr, "Sinjo: the song index could not be read completely from %s\n",
                     platform::ToUtf8(g_settings->GetMtvIndexDir()).c_str());
    }

    g_mainDlg = new SinjoDlg();
    if (!g_mainDlg->Create()) {
        std::fprintf(stderr, "Sinjo: the main window could not be created.\n");
    }
    // SIGINT and SIGTERM close the main window, the same path as its close box. This blocks both
    // signals for every thread started from here on.
    platform::CloseOnTerminationSignals(g_mainDlg->Handle());

    g_webServer = new SWebServer();
    const int32_t port = g_settings->GetInt(setting_keys::kWebServerPort, setting_keys::kDefaultWebServerPort);
    g_webServer->Start(static_cast<uint32_t>(port));
    const uint16_t bound = g_webServer->WaitForListening(5000);
    if (bound != 0) {
        std::printf("Sinjobox is serving on http://localhost:%u/\n", static_cast<unsigned>(bound));
        std::fflush(stdout);
    }

    // The player window ends with the main window's run, so the music stops before the web server's Stop,
    // which may wait for requests in progress.
    g_mainDlg->DoModal();

    g_webServer->Stop(10000);
    delete g_mainDlg;
    g_mainDlg = nullptr;
}

int SinjoApp::ExitInstance() {
    // Clients' objects go first, while what they might reach still exists.
    SinjoModule().RevokeClassObjects();
    if (m_automationWindow != nullptr) {
        platform::DestroyWindow(m_automationWindow);
        m_automationWindow = nullptr;
    }
    SetMediaEndedHandler(nullptr);
    if (g_webServer != nullptr) {
        delete g_webServer;
        g_webServer = nullptr;
    }
    if (g_songMan != nullptr) {
        delete g_songMan;
        g_songMan = nullptr;
    }
    if (g_settings != nullptr) {
        g_settings->Save();
        delete g_settings;
        g_settings = nullptr;
    }
    return m_exitCode;
}
