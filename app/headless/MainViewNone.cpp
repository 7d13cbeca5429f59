// Built without the desktop library: the main window never has a view.
#include "app/MainView.h"

std::unique_ptr<MainView> CreateMainView(const MainViewSetup&) { return nullptr; }
