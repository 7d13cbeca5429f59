// sinjo-regsvr [-u] MODULE
//
// Registers (or with -u unregisters) an in-process module: loads it with dlopen and calls its
// DllRegisterServer (DllUnregisterServer). Prints the entry point's HRESULT and exits with 0 when it
// succeeded, 1 when it failed, 2 for a usage error or a module that cannot be loaded or lacks the
// entry point. The registration goes to the profile folder of $SINJO_HOME (see platform/Registry.h).
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Com.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: sinjo-regsvr [-u] MODULE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    const char* module = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/u") == 0) {
            unregister = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage();
        } else if (module == nullptr) {
            module = argv[i];
        } else {
            return Usage();
        }
    }
    if (module == nullptr) return Usage();

    // A bare file name would make dlopen search the library path instead of the current folder.
    std::string path = module;
    if (path.find('/') == std::string::npos) path = "./" + path;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        std::fprintf(stderr, "sinjo-regsvr: cannot load %s: %s\n", module, why ? why : "unknown error");
        return 2;
    }
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto entry = reinterpret_cast<platform::DllRegisterServerFn>(dlsym(handle, entryName));
    if (entry == nullptr) {
        std::fprintf(stderr, "sinjo-regsvr: %s has no %s\n", module, entryName);
        dlclose(handle);
        return 2;
    }
    const platform::HRESULT hr = entry();
    const bool ok = platform::SUCCEEDED(hr);
    std::printf("%s in %s %s: %s\n", entryName, module, ok ? "succeeded" : "failed",
                platform::FormatHresult(hr).c_str());
    // Not unloaded: the module may have started something that outlives the call.
    return ok ? 0 : 1;
}
