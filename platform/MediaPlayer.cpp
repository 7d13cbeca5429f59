#include "platform/MediaPlayer.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/SimulatedMediaPlayer.h"
#include "platform/ThreadAnnotations.h"

namespace platform {

namespace {

constexpr const char* kDefaultBackend = "gstreamer";
constexpr const char* kSimulatedBackend = "simulated";

// The table of back ends, filled at static initialisation and by tests.
struct BackendTable {
    Mutex mutex;
    std::map<std::string, MediaBackendFactory> factories GUARDED_BY(mutex);
};
BackendTable& Backends() {
    static BackendTable* table = new BackendTable;  // never destroyed: static objects register in it
    return *table;
}

std::atomic<bool> g_fallbackReported{false};

std::string RequestedBackend() {
    const char* name = std::getenv("SINJO_MEDIA_BACKEND");
    return (name != nullptr && *name != '\0') ? std::string(name) : std::string(kDefaultBackend);
}

MediaBackendFactory FindFactory(const std::string& name) {
    BackendTable& table = Backends();
    MutexLock lock(table.mutex);
    const auto it = table.factories.find(name);
    return it == table.factories.end() ? MediaBackendFactory() : it->second;
}

void ReportFallback(const std::string& requested, const char* why) {
    if (!g_fallbackReported.exchange(true)) {
        std::fprintf(stderr, "Sinjo: media back end \"%s\" %s; using the simulated player (no sound or picture)\n",
                     requested.c_str(), why);
    }
}

}  // namespace

void RegisterMediaBackend(const std::string& name, MediaBackendFactory factory) {
    BackendTable& table = Backends();
    MutexLock lock(table.mutex);
    if (factory) {
        table.factories[name] = std::move(factory);
    } else {
        table.factories.erase(name);
    }
}

bool IsMediaBackendRegistered(const std::string& name) {
    if (name == kSimulatedBackend) {
        return true;
    }
    BackendTable& table = Backends();
    MutexLock lock(table.mutex);
    return table.factories.count(name) != 0;
}

std::string ChosenMediaBackendName() {
    const std::string requested = RequestedBackend();
    return IsMediaBackendRegistered(requested) ? requested : std::string(kSimulatedBackend);
}

std::unique_ptr<MediaPlayer> CreateMediaPlayer() {
    const std::string requested = RequestedBackend();
    // A registered "simulated" entry (a test's) takes precedence over the built-in one.
    if (MediaBackendFactory factory = FindFactory(requested)) {
        if (std::unique_ptr<MediaPlayer> player = factory()) {
            return player;
        }
        ReportFallback(requested, "could not be started");
    } else if (requested != kSimulatedBackend) {
        ReportFallback(requested, "is not available");
    }
    return std::make_unique<SimulatedMediaPlayer>();
}

}  // namespace platform
