#include "platform/Com.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/FileSystem.h"
#include "platform/LocalClient.h"
#include "platform/Registry.h"
#include "platform/ThreadAnnotations.h"

namespace platform {
namespace {

// A module loaded for activation. Entries stay until CoFreeUnusedLibraries unloads them.
struct LoadedModule {
    void* handle = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
};

struct GuidOrder {
    bool operator()(const GUID& a, const GUID& b) const { return GuidLess(a, b); }
};

// Built-in classes. Registered during static initialisation of the files that define them, so the
// table is created on first use.
struct BuiltinTable {
    Mutex mutex;
    std::map<GUID, IClassFactory*, GuidOrder> factories GUARDED_BY(mutex);
};
BuiltinTable& Builtins() {
    static BuiltinTable* table = new BuiltinTable;  // never destroyed: used by static objects
    return *table;
}

// The module cache, keyed by native path. The lock is never held while a module's DllGetClassObject
// runs (it may itself activate classes); only dlopen, dlsym and DllCanUnloadNow run under it.
struct ModuleCache {
    Mutex mutex;
    std::map<std::string, LoadedModule> modules GUARDED_BY(mutex);
};
ModuleCache& Modules() {
    static ModuleCache* cache = new ModuleCache;
    return *cache;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[pos]; false on any non-hex character.
bool ReadHex(std::wstring_view text, size_t pos, int digits, uint64_t* value) {
    uint64_t v = 0;
    for (int i = 0; i < digits; ++i) {
        const int h = HexValue(text[pos + static_cast<size_t>(i)]);
        if (h < 0) return false;
        v = (v << 4) | static_cast<uint64_t>(h);
    }
    *value = v;
    return true;
}

void AppendHex(std::wstring* out, uint64_t value, int digits) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) out->push_back(kDigits[(value >> (4 * i)) & 0xF]);
}

// Loads (or finds in the cache) the module at `nativePath`.
HRESULT GetModule(const std::string& nativePath, LoadedModule* module) {
    ModuleCache& cache = Modules();
    MutexLock lock(cache.mutex);
    auto it = cache.modules.find(nativePath);
    if (it != cache.modules.end()) {
        *module = it->second;
        return S_OK;
    }
    void* handle = dlopen(nativePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        std::fprintf(stderr, "sinjo: cannot load %s: %s\n", nativePath.c_str(), why ? why : "unknown error");
        return CO_E_DLLNOTFOUND;
    }
    LoadedModule loaded;
    loaded.handle = handle;
    loaded.getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    loaded.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
    if (loaded.getClassObject == nullptr) {
        dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    cache.modules.emplace(nativePath, loaded);
    *module = loaded;
    return S_OK;
}

}  // namespace

std::string FormatHresult(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(hr)));
    return text;
}

bool GuidLess(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    return std::memcmp(a.Data4, b.Data4, sizeof a.Data4) < 0;
}

std::wstring GuidToString(const GUID& guid) {
    std::wstring out;
    out.reserve(38);
    out.push_back(L'{');
    AppendHex(&out, guid.Data1, 8);
    out.push_back(L'-');
    AppendHex(&out, guid.Data2, 4);
    out.push_back(L'-');
    AppendHex(&out, guid.Data3, 4);
    out.push_back(L'-');
    AppendHex(&out, guid.Data4[0], 2);
    AppendHex(&out, guid.Data4[1], 2);
    out.push_back(L'-');
    for (int i = 2; i < 8; ++i) AppendHex(&out, guid.Data4[i], 2);
    out.push_back(L'}');
    return out;
}

bool GuidFromString(std::wstring_view text, GUID* guid) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (guid == nullptr || text.size() != 38 || text[0] != L'{' || text[37] != L'}' || text[9] != L'-' ||
        text[14] != L'-' || text[19] != L'-' || text[24] != L'-') {
        return false;
    }
    GUID g;
    uint64_t v = 0;
    if (!ReadHex(text, 1, 8, &v)) return false;
    g.Data1 = static_cast<uint32_t>(v);
    if (!ReadHex(text, 10, 4, &v)) return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!ReadHex(text, 15, 4, &v)) return false;
    g.Data3 = static_cast<uint16_t>(v);
    static const size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, kBytePos[i], 2, &v)) return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    *guid = g;
    return true;
}

void* CoTaskMemAlloc(size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void CoTaskMemFree(void* block) { std::free(block); }

LPOLESTR CoTaskMemStrDup(std::wstring_view text) {
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (copy == nullptr) return nullptr;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(OLECHAR));
    copy[text.size()] = L'\0';
    return copy;
}

void RegisterBuiltinClass(REFCLSID clsid, IClassFactory* factory) {
    BuiltinTable& table = Builtins();
    MutexLock lock(table.mutex);
    table.factories[clsid] = factory;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* /*reserved*/, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;

    IClassFactory* builtin = nullptr;
    {
        BuiltinTable& table = Builtins();
        MutexLock lock(table.mutex);
        auto it = table.factories.find(clsid);
        if (it != table.factories.end()) builtin = it->second;
    }
    if (builtin != nullptr) return builtin->QueryInterface(iid, object);

    RegValue server;
    const std::wstring key = L"CLSID\\" + GuidToString(clsid) + L"\\InprocServer32";
    if (RegQueryValue(RegRoot::ClassesRoot, key, L"", &server) != ERROR_SUCCESS || server.type != REG_SZ ||
        server.text.empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    LoadedModule module;
    const HRESULT hr = GetModule(NativePath(server.text), &module);
    if (FAILED(hr)) return hr;
    return module.getClassObject(clsid, iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.ReleaseAndGetVoidAddress());
    // A class no module of this process offers may be served by another process.
    if (hr == REGDB_E_CLASSNOTREG && (context & CLSCTX_LOCAL_SERVER) != 0 && outer == nullptr) {
        return CoCreateLocalInstance(clsid, iid, object);
    }
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    return factory->CreateInstance(outer, iid, object);
}

void CoFreeUnusedLibraries() {
    ModuleCache& cache = Modules();
    MutexLock lock(cache.mutex);
    for (auto it = cache.modules.begin(); it != cache.modules.end();) {
        const LoadedModule& m = it->second;
        if (m.canUnloadNow != nullptr && m.canUnloadNow() == S_OK) {
            dlclose(m.handle);
            it = cache.modules.erase(it);
        } else {
            ++it;
        }
    }
}

std::string ModulePathOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    // dladdr names the main program by the name it was started with; make it absolute.
    if (!path.empty() && path[0] != '/') {
        char resolved[4096];
        if (realpath(path.c_str(), resolved) != nullptr) path = resolved;
    }
    return path;
}

}  // namespace platform
