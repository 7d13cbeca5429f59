// Services that the program offers the modules it loads.
//
// A plug-in module links its own copy of the platform library (it must not depend on the program), so
// the tables a desktop fills in the program's copy (the message-box presenter, the dialog front end)
// are empty in the module's copy. The desktop library therefore also exports one C entry point,
// SinjoHostServices, from the program; FindHostServices finds it from any module of the process.
//
// Threads: FindHostServices from any thread; the services themselves say which thread they want.
#pragma once

#include <cstdint>

#include "platform/DialogsBackend.h"

namespace platform {

class PropertyDialogViewFactory;

struct HostServices {
    uint32_t size;                          // sizeof(HostServices) of the program that filled it
    MessageBoxPresenter messageBox;         // the desktop's message box, or null
    PropertyDialogViewFactory* dialogViews; // draws property dialogs (GUI thread), or null
};

// The services registered in this module's copy, else those the program exports, else null.
const HostServices* FindHostServices();

// For a desktop library in this module: the services to hand out (null: none). Any thread.
void SetHostServices(const HostServices* services);

// The name of the exported C entry point: const HostServices* SinjoHostServices(void).
inline constexpr const char* kHostServicesSymbol = "SinjoHostServices";

}  // namespace platform
