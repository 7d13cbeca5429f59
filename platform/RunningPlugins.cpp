#include "platform/RunningPlugins.h"

#include <mutex>
#include <vector>

#include "platform/ThreadAnnotations.h"

namespace platform {
namespace {

struct Entry {
    CLSID clsid;
    ComPtr<IUnknown> object;
};

struct Table {
    Mutex mutex;
    std::vector<Entry> entries GUARDED_BY(mutex);  // in the order they were added
};

Table& Running() {
    static auto* table = new Table;  // never destroyed: the audio path may stop after static destruction
    return *table;
}

}  // namespace

void AddRunningPlugin(const CLSID& clsid, IUnknown* object) {
    if (object == nullptr) return;
    Table& table = Running();
    MutexLock lock(table.mutex);
    table.entries.push_back(Entry{clsid, ComPtr<IUnknown>(object)});
}

void RemoveRunningPlugin(IUnknown* object) {
    std::vector<Entry> gone;  // released after the lock is given up
    {
        Table& table = Running();
        MutexLock lock(table.mutex);
        for (auto it = table.entries.begin(); it != table.entries.end();) {
            if (it->object.Get() == object) {
                gone.push_back(std::move(*it));
                it = table.entries.erase(it);
            } else {
                ++it;
            }
        }
    }
}

ComPtr<IUnknown> FindRunningPlugin(const CLSID& clsid) {
    Table& table = Running();
    MutexLock lock(table.mutex);
    for (auto it = table.entries.rbegin(); it != table.entries.rend(); ++it) {
        if (it->clsid == clsid) return it->object;
    }
    return nullptr;
}

}  // namespace platform
