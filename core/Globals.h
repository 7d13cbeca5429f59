// The application's singletons. Each is null before it is created and after it is destroyed, and null for
// the whole run in the register, unregister and automation-server modes.
//
// Who sets what, and who may read it:
//   - g_settings, g_songMan, g_mainDlg, g_webServer: set and cleared by start-up and shutdown (SinjoApp) on
//     the GUI thread. g_settings and g_songMan are set before the web server's threads start and cleared
//     after they have ended, so the workers may read them without a lock (thread start and join order the
//     accesses). g_mainDlg and g_webServer are for the GUI thread only.
//   - g_player, the player slot: set by the player commands when the player window is first needed and
//     cleared by the player window itself when it is destroyed (with the main window). GUI thread only.
//   - g_mainWindow: the handle that commands are sent to (WM_SONGMAN_COMMAND). Written by the main window
//     on the GUI thread when its window is made and destroyed; read by web workers at any time, which is
//     why it is atomic and a handle rather than the window object: a send to a handle that has gone fails
//     at once, while the object itself may already be deleted.
#pragma once

#include <atomic>

#include "platform/Gui.h"

class Settings;
class SongMan;
class SinjoDlg;
class SWebServer;
class SPlayer;

extern Settings* g_settings;     // the settings store
extern SongMan* g_songMan;       // the catalogue and the play queue
extern SinjoDlg* g_mainDlg;      // the main window
extern SWebServer* g_webServer;  // the web server
extern SPlayer* g_player;        // the player slot: the player window, created on first use

extern std::atomic<platform::HWND> g_mainWindow;  // the main window's handle, null while there is none
