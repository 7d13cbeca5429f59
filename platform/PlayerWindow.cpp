#include "platform/PlayerWindow.h"

#include <unordered_map>

namespace platform {
namespace {

// GUI thread only, like the windows themselves.
PlayerWindowFactory g_factory = nullptr;

std::unordered_map<HWND, PlayerWindow*>& Live() {
    static auto* live = new std::unordered_map<HWND, PlayerWindow*>();  // never destroyed: windows may outlive statics
    return *live;
}

}  // namespace

PlayerWindow::~PlayerWindow() {
    auto it = Live().find(m_handle);
    if (it != Live().end() && it->second == this) Live().erase(it);
}

void RegisterPlayerWindowFactory(PlayerWindowFactory factory) { g_factory = factory; }

std::unique_ptr<PlayerWindow> CreatePlayerWindow(const PlayerWindowSetup& setup) {
    if (g_factory == nullptr || setup.handle == nullptr || IsHeadless()) return nullptr;
    std::unique_ptr<PlayerWindow> window = g_factory(setup);
    if (window == nullptr) return nullptr;
    window->m_handle = setup.handle;
    Live()[setup.handle] = window.get();
    return window;
}

PlayerWindow* PlayerWindowOf(HWND handle) {
    auto it = Live().find(handle);
    return it != Live().end() ? it->second : nullptr;
}

}  // namespace platform
