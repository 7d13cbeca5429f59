// Throughput of the plug-in module for 16-bit stereo with the left channel selected, beside memcpy of
// the same buffers in the same run. The module is loaded and driven as a media player drives it
// (dlopen, DllGetClassObject, IMediaObject::ProcessInput/ProcessOutput), so the figure includes the
// per-buffer work and the 100 ms registry poll.
//
//   plugin_bench [MODULE]    (default: ../bin/SinjoPlugin.so beside this program's folder)
//
// Prints MB/s (10^6 bytes of input a second) for several buffer sizes and the plug-in/memcpy ratio;
// the target is a ratio of at least 0.5. Runs in its own temporary profile folder.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/Com.h"
#include "platform/Dmo.h"
#include "platform/Registry.h"

using namespace platform;

namespace {

using Clock = std::chrono::steady_clock;

// Keeps the compiler from dropping stores nobody reads.
inline void Touch(const void* p) { asm volatile("" : : "r"(p) : "memory"); }

std::string DefaultModulePath() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (exe.parent_path().parent_path() / "bin" / "SinjoPlugin.so").string();
}

bool SetPcmTypes(IMediaObject* dmo) {
    DMO_MEDIA_TYPE type{};
    if (FAILED(MoInitMediaType(&type, sizeof(WAVEFORMATEX)))) return false;
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    std::memcpy(type.pbFormat, &wave, sizeof wave);
    const bool ok = dmo->SetInputType(0, &type, 0) == S_OK && dmo->SetOutputType(0, &type, 0) == S_OK;
    MoFreeMediaType(&type);
    return ok;
}

struct Figures {
    double pluginMBs = 0;
    double memcpyMBs = 0;
};

// Best of many short rounds (about 8 MB each), the plug-in and memcpy taking turns, so that a busy
// machine disturbs both alike and the best round of each shows what the code can do.
Figures Measure(IMediaObject* dmo, DWORD bytes, bool* correct) {
    IMediaBuffer* input = nullptr;
    IMediaBuffer* output = nullptr;
    CreateMemoryBuffer(bytes, &input);
    CreateMemoryBuffer(bytes, &output);
    BYTE* in = nullptr;
    BYTE* out = nullptr;
    input->GetBufferAndLength(&in, nullptr);
    output->GetBufferAndLength(&out, nullptr);
    std::mt19937 random(42);
    for (DWORD i = 0; i < bytes; ++i) in[i] = static_cast<BYTE>(random());
    input->SetLength(bytes);

    const size_t iterations = std::max<size_t>(1, (8u << 20) / bytes);
    Figures best;
    for (int round = 0; round < 60; ++round) {
        auto start = Clock::now();
        for (size_t i = 0; i < iterations; ++i) {
            dmo->ProcessInput(0, input, 0, 0, 0);
            DMO_OUTPUT_DATA_BUFFER record{output, 0, 0, 0};
            dmo->ProcessOutput(0, 1, &record, nullptr);
            Touch(out);
        }
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best.pluginMBs = std::max(best.pluginMBs, static_cast<double>(bytes) * iterations / seconds / 1e6);

        // Left channel on both outputs, frame by frame.
        for (DWORD f = 0; round == 0 && f + 4 <= bytes; f += 4) {
            if (std::memcmp(out + f, in + f, 2) != 0 || std::memcmp(out + f + 2, in + f, 2) != 0) *correct = false;
        }

        start = Clock::now();
        for (size_t i = 0; i < iterations; ++i) {
            std::memcpy(out, in, bytes);
            Touch(out);
        }
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best.memcpyMBs = std::max(best.memcpyMBs, static_cast<double>(bytes) * iterations / seconds / 1e6);
    }
    input->Release();
    output->Release();
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string module = argc > 1 ? argv[1] : DefaultModulePath();

    // A profile folder of our own: the selection written here must not reach the user's jukebox.
    char home[] = "/tmp/sinjo-bench-XXXXXX";
    if (mkdtemp(home) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    setenv("SINJO_HOME", home, 1);
    if (RegSetDword(RegRoot::CurrentUser, L"Software\\Nadusoft\\Sinjo\\Plugin", L"AudioSource", 1) != ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot write the channel selection\n");
        return 2;
    }

    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", module.c_str(), dlerror());
        return 2;
    }
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    const CLSID clsidPlugin{0xAD449D41, 0x358A, 0x439A, {0x82, 0x50, 0x5A, 0xD5, 0x98, 0xD0, 0x77, 0x3D}};
    IClassFactory* factory = nullptr;
    IMediaObject* dmo = nullptr;
    if (getClassObject == nullptr ||
        FAILED(getClassObject(clsidPlugin, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IMediaObject, reinterpret_cast<void**>(&dmo))) ||
        !SetPcmTypes(dmo)) {
        std::fprintf(stderr, "cannot create the plug-in object from %s\n", module.c_str());
        return 2;
    }

    std::printf("16-bit stereo, left channel on both outputs (%s)\n", module.c_str());
    std::printf("%10s %14s %14s %8s\n", "buffer", "plug-in MB/s", "memcpy MB/s", "ratio");
    bool correct = true;
    for (DWORD bytes : {4096u, 17640u, 65536u, 1u << 20, 8u << 20}) {
        const Figures f = Measure(dmo, bytes, &correct);
        std::printf("%10u %14.0f %14.0f %8.2f\n", static_cast<unsigned>(bytes), f.pluginMBs, f.memcpyMBs,
                    f.pluginMBs / f.memcpyMBs);
    }
    dmo->Release();
    factory->Release();
    std::filesystem::remove_all(home);
    if (!correct) {
        std::fprintf(stderr, "the output was not the left channel: the figures measure the wrong path\n");
        return 1;
    }
    std::printf("target: ratio >= 0.50 (17640 bytes is 100 ms of 44.1 kHz audio)\n");
    return 0;
}
