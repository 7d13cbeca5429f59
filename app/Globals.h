// The application's singletons. Each is null before it is created and after it is destroyed, and null
// for the whole run in the register, unregister and automation-server modes. Start-up and shutdown
// (SinjoApp) set and clear them on the GUI thread; other code reads them.
#pragma once

class Settings;
class SongMan;
class SinjoDlg;
class SWebServer;
class SPlayer;

extern Settings* g_settings;    // the settings store
extern SongMan* g_songMan;      // the catalogue and the play queue
extern SinjoDlg* g_mainDlg;     // the main window
extern SWebServer* g_webServer; // the web server
extern SPlayer* g_player;       // the player slot: the player window, created on first use
