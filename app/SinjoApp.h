// SinjoApp: the application object. It reads the command line and either runs the jukebox (settings,
// catalogue, main window, web server, in that order; taken down in the reverse order when the main window
// closes) or one of the automation modes.
//
// Threads: everything here runs on the process's main thread, which is the GUI thread.
#pragma once

#include <string>
#include <vector>

class SinjoApp final {
public:
    enum class Mode { normal, register_server, unregister_server, automation_server };

    // The run mode named by the command line. Switches start with "/" or "-" and compare without regard
    // to case; the embedding test comes first; any other argument is ignored.
    static Mode ParseCommandLine(const std::vector<std::string>& args);

    // The whole run; returns the process exit code.
    int Main(int argc, char** argv);

private:
    bool InitInstance(Mode mode);
    int ExitInstance();
    void RunNormal();

    int m_exitCode = 0;
};
