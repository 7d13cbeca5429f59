#include "core/Globals.h"

Settings* g_settings = nullptr;
SongMan* g_songMan = nullptr;
SinjoDlg* g_mainDlg = nullptr;
SWebServer* g_webServer = nullptr;
SPlayer* g_player = nullptr;

std::atomic<platform::HWND> g_mainWindow{nullptr};
