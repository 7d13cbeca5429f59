// The plug-in module as a media player uses it: registered with the registration tool, created by
// class id from classes.reg, fed 16-bit stereo in real time while another process changes the channel
// selection in the registry.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Com.h"
#include "platform/Dmo.h"
#include "platform/Registry.h"
#include "platform/WmpPlugins.h"
#include "plugin/ISinjoPlugin.h"

namespace {

using namespace platform;

const std::string kBin = SINJO_BIN_DIR;
const std::string kModule = kBin + "/SinjoPlugin.so";
constexpr const wchar_t* kSourceKey = L"Software\\Nadusoft\\Sinjo\\Plugin";

// Runs a command line through the shell; its exit status, or -1.
int RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    pclose(pipe);
    return out;
}

// Another process writes the channel selection, as the jukebox does.
pid_t WriteSelectionFromAnotherProcess(uint32_t value) {
    const pid_t pid = fork();
    if (pid == 0) {
        const bool ok = RegSetDword(RegRoot::CurrentUser, kSourceKey, L"AudioSource", value) == ERROR_SUCCESS;
        _exit(ok ? 0 : 1);
    }
    return pid;
}

enum class Heard { Both, Left, Right, Mixed };

// What a chunk of output carries, given left samples 0x1111 and right samples 0x2222.
Heard Classify(const BYTE* data, DWORD length) {
    std::set<std::pair<uint16_t, uint16_t>> frames;
    for (DWORD i = 0; i + 4 <= length; i += 4) {
        uint16_t l, r;
        std::memcpy(&l, data + i, 2);
        std::memcpy(&r, data + i + 2, 2);
        frames.insert({l, r});
    }
    if (frames.size() != 1) return Heard::Mixed;
    const auto f = *frames.begin();
    if (f == std::pair<uint16_t, uint16_t>{0x1111, 0x2222}) return Heard::Both;
    if (f == std::pair<uint16_t, uint16_t>{0x1111, 0x1111}) return Heard::Left;
    if (f == std::pair<uint16_t, uint16_t>{0x2222, 0x2222}) return Heard::Right;
    return Heard::Mixed;
}

TEST(PluginModuleEndToEnd, ExportsExactlyTheFourEntryPoints) {
    const std::string listing = Capture("nm -D --defined-only '" + kModule + "'");
    ASSERT_FALSE(listing.empty()) << "nm gave nothing for " << kModule;
    std::vector<std::string> names;
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        const std::string line = listing.substr(start, end - start);
        const size_t space = line.find_last_of(' ');
        if (!line.empty()) names.push_back(line.substr(space + 1));
        start = end + 1;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                               "DllUnregisterServer"}));
}

TEST(PluginModuleEndToEnd, RegisteredModuleFollowsTheSelectionWrittenByAnotherProcessWhileStreaming) {
    ASSERT_EQ(RunCommand("'" + kBin + "/sinjo-regsvr' '" + kModule + "' > /dev/null"), 0);
    RegValue server;
    ASSERT_EQ(RegQueryValue(RegRoot::ClassesRoot, L"CLSID\\" + GuidToString(CLSID_SinjoPlugin) + L"\\InprocServer32",
                            L"", &server),
              ERROR_SUCCESS);
    const auto dsp = ListDspPlugins();
    ASSERT_TRUE(std::any_of(dsp.begin(), dsp.end(), [](const DspPluginRecord& r) { return r.clsid == CLSID_SinjoPlugin; }))
        << "the media back end finds the plug-in";

    ASSERT_EQ(RegSetDword(RegRoot::CurrentUser, kSourceKey, L"AudioSource", 0), ERROR_SUCCESS);
    IMediaObject* dmo = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_SinjoPlugin, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaObject,
                               reinterpret_cast<void**>(&dmo)),
              S_OK);

    DMO_MEDIA_TYPE type{};
    ASSERT_EQ(MoInitMediaType(&type, sizeof(WAVEFORMATEX)), S_OK);
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    std::memcpy(type.pbFormat, &wave, sizeof wave);
    ASSERT_EQ(dmo->SetInputType(0, &type, 0), S_OK);
    ASSERT_EQ(dmo->SetOutputType(0, &type, 0), S_OK);
    MoFreeMediaType(&type);

    // 10 ms chunks, never faster than real time, so audio time never runs ahead of the clock.
    constexpr DWORD kChunkBytes = 441 * 4;
    constexpr int kChunkMs = 10;
    IMediaBuffer* input = nullptr;
    IMediaBuffer* output = nullptr;
    ASSERT_EQ(CreateMemoryBuffer(kChunkBytes, &input), S_OK);
    ASSERT_EQ(CreateMemoryBuffer(kChunkBytes, &output), S_OK);
    BYTE* in = nullptr;
    input->GetBufferAndLength(&in, nullptr);
    for (DWORD i = 0; i < kChunkBytes; i += 4) {
        const uint16_t l = 0x1111, r = 0x2222;
        std::memcpy(in + i, &l, 2);
        std::memcpy(in + i + 2, &r, 2);
    }
    input->SetLength(kChunkBytes);

    auto processChunk = [&]() {
        EXPECT_EQ(dmo->ProcessInput(0, input, 0, 0, 0), S_OK);
        DMO_OUTPUT_DATA_BUFFER record{output, 0, 0, 0};
        EXPECT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
        BYTE* out = nullptr;
        DWORD length = 0;
        output->GetBufferAndLength(&out, &length);
        EXPECT_EQ(length, kChunkBytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(kChunkMs));
        return Classify(out, length);
    };

    // Streams until `expected` is heard after another process wrote `value`. Returns the audio, in
    // chunks of 10 ms, processed from the moment the write was seen finished (the writer exited) to
    // the first chunk that follows it; 0 when the output followed even before the exit was seen.
    auto switchTo = [&](uint32_t value, Heard before, Heard expected) {
        for (int i = 0; i < 15; ++i) EXPECT_EQ(processChunk(), before) << "steady before the change";
        const pid_t writer = WriteSelectionFromAnotherProcess(value);
        EXPECT_GT(writer, 0);
        int chunk = 0;
        int writtenAt = -1;
        bool heardNew = false;
        for (; chunk < 200 && !heardNew; ++chunk) {
            const Heard heard = processChunk();
            heardNew = heard == expected;
            if (!heardNew) {
                EXPECT_EQ(heard, before) << "chunk " << chunk << ": neither the old nor the new selection";
            }
            int status = 0;
            if (writtenAt < 0 && waitpid(writer, &status, WNOHANG) == writer) {
                writtenAt = chunk;
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer failed";
            }
        }
        if (writtenAt < 0) {
            waitpid(writer, nullptr, 0);
            writtenAt = chunk;
        }
        EXPECT_TRUE(heardNew) << "the output never followed the selection " << value;
        for (int i = 0; i < 15; ++i) EXPECT_EQ(processChunk(), expected) << "steady after the change";
        return std::max(0, chunk - 1 - writtenAt);
    };

    for (int i = 0; i < 5; ++i) EXPECT_EQ(processChunk(), Heard::Both);
    const int toLeft = switchTo(1, Heard::Both, Heard::Left);
    const int toRight = switchTo(2, Heard::Left, Heard::Right);
    std::printf("selection followed after %d and %d ms of audio\n", toLeft * kChunkMs, toRight * kChunkMs);
    EXPECT_LE(toLeft * kChunkMs, 200);
    EXPECT_LE(toRight * kChunkMs, 200);

    // The key disappears while a song plays: the plug-in keeps the channel it last read.
    ASSERT_EQ(RegDeleteTree(RegRoot::CurrentUser, kSourceKey), ERROR_SUCCESS);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(processChunk(), Heard::Right);

    input->Release();
    output->Release();
    EXPECT_EQ(dmo->Release(), 0u);

    ASSERT_EQ(RunCommand("'" + kBin + "/sinjo-regsvr' -u '" + kModule + "' > /dev/null"), 0);
    EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, L"CLSID\\" + GuidToString(CLSID_SinjoPlugin)));
    IUnknown* gone = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_SinjoPlugin, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&gone)),
              REGDB_E_CLASSNOTREG);
}

TEST(PluginModuleEndToEnd, RegistrationToolReportsFailures) {
    EXPECT_EQ(RunCommand("'" + kBin + "/sinjo-regsvr' > /dev/null 2>&1"), 2) << "no module named";
    EXPECT_EQ(RunCommand("'" + kBin + "/sinjo-regsvr' /nonexistent/module.so > /dev/null 2>&1"), 2);
    EXPECT_EQ(RunCommand("'" + kBin + "/sinjo-regsvr' libm.so.6 > /dev/null 2>&1"), 2) << "no entry point";
}

}  // namespace
