// SinjoApp: the application object. It reads the command line and either runs the jukebox (settings,
// catalogue, main window, web server, in that order; taken down in the reverse order when the main window
// closes) or one of the automation modes: registering or unregistering the program in classes.reg, or the
// automation-server run, which serves Door to outside clients with no window, settings, catalogue or web
// server and ends when the last client's object is released. Every mode serves Door to outside clients
// (app/SinjoModule.h); a run that cannot (another run of this profile serves already) ends at once.
//
// Exit codes: 0; kExitRegistrationFailed when registering or unregistering failed; kExitAlreadyServed when
// another run serves this profile; kExitCannotServe when the class object could not be registered for
// another reason (the runtime folder is not the user's own, no socket could be made). None of them shows a
// message.
//
// Threads: everything here runs on the process's main thread, which is the GUI thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Gui.h"

class SinjoApp final {
public:
    enum class Mode { normal, register_server, unregister_server, automation_server };

    // The run mode named by the command line. Switches start with "/" or "-" and compare without regard
    // to case; the embedding test comes first; any other argument is ignored.
    static Mode ParseCommandLine(const std::vector<std::string>& args);

    // The whole run; returns the process exit code.
    int Main(int argc, char** argv);

    static constexpr int kExitRegistrationFailed = 1;
    static constexpr int kExitAlreadyServed = 2;
    static constexpr int kExitCannotServe = 3;
    // An automation-server run that no client asks for an object within this time ends by itself.
    static constexpr uint32_t kAutomationGraceMs = 60000;

private:
    static constexpr uintptr_t kAutomationGraceTimer = 1;

    bool InitInstance(Mode mode);
    int ExitInstance();
    void RunNormal();
    void StartAutomationServer();

    int m_exitCode = 0;
    platform::HWND m_automationWindow = nullptr;  // the automation-server run's hidden handle
};
