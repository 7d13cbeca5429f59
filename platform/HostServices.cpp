#include "platform/HostServices.h"

#include <dlfcn.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<const HostServices*> g_local{nullptr};

using HostServicesEntry = const HostServices* (*)();

}  // namespace

void SetHostServices(const HostServices* services) { g_local.store(services, std::memory_order_release); }

const HostServices* FindHostServices() {
    if (const HostServices* local = g_local.load(std::memory_order_acquire)) return local;
    // The program's export, seen from a module loaded into it (or from the program itself when the
    // desktop library registered nothing here yet).
    void* entry = dlsym(RTLD_DEFAULT, kHostServicesSymbol);
    if (entry == nullptr) return nullptr;
    const HostServices* services = reinterpret_cast<HostServicesEntry>(entry)();
    if (services == nullptr || services->size < sizeof(HostServices)) return nullptr;
    return services;
}

}  // namespace platform
