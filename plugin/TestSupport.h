// Helpers shared by the plug-in's unit tests: media types, a test buffer with failure injection, and a
// fake tick count. Test code only (compiled into plugin_tests, never into the module).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/Dmo.h"
#include "platform/Registry.h"
#include "plugin/PluginSettings.h"

namespace sinjoplugin::test {

using namespace platform;

// A media type with a WAVEFORMATEX (or, with validBits != 0, a WAVEFORMATEXTENSIBLE) format block.
// Owns its block; free with MoFreeMediaType (the Type wrapper does).
struct Type {
    DMO_MEDIA_TYPE mt{};
    Type() = default;
    Type(const Type&) = delete;
    Type& operator=(const Type&) = delete;
    ~Type() { MoFreeMediaType(&mt); }
    WAVEFORMATEX* wave() { return reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat); }
};

inline void MakePcm(Type* t, WORD channels, WORD bits, DWORD rate = 44100, WORD tag = WAVE_FORMAT_PCM,
                    WORD validBits = 0, GUID subFormat = KSDATAFORMAT_SUBTYPE_PCM) {
    MoFreeMediaType(&t->mt);
    const bool extensible = tag == WAVE_FORMAT_EXTENSIBLE;
    MoInitMediaType(&t->mt, extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX));
    t->mt.majortype = MEDIATYPE_Audio;
    t->mt.subtype = tag == WAVE_FORMAT_IEEE_FLOAT ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
    t->mt.formattype = FORMAT_WaveFormatEx;
    t->mt.bFixedSizeSamples = TRUE;
    t->mt.lSampleSize = static_cast<ULONG>(channels * (bits / 8));
    WAVEFORMATEXTENSIBLE f{};
    f.Format.wFormatTag = tag;
    f.Format.nChannels = channels;
    f.Format.nSamplesPerSec = rate;
    f.Format.nBlockAlign = static_cast<WORD>(channels * (bits / 8));
    f.Format.nAvgBytesPerSec = rate * f.Format.nBlockAlign;
    f.Format.wBitsPerSample = bits;
    f.Format.cbSize = extensible ? 22 : 0;
    f.Samples.wValidBitsPerSample = validBits != 0 ? validBits : bits;
    f.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    f.SubFormat = subFormat;
    std::memcpy(t->mt.pbFormat, &f, t->mt.cbFormat);
}

// An IMediaBuffer on test-owned memory. Its count never deletes it, so tests can check that the
// object under test let go of every reference. Each entry point can be made to fail.
class TestBuffer final : public IMediaBuffer {
public:
    explicit TestBuffer(std::vector<uint8_t> bytes, DWORD maxLength = 0)
        : data(std::move(bytes)), length(static_cast<DWORD>(data.size())) {
        if (maxLength > data.size()) data.resize(maxLength);
    }
    static TestBuffer Output(DWORD maxLength) {
        TestBuffer b({}, maxLength);
        b.length = 0;
        return b;
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IMediaBuffer) {
            *object = static_cast<IMediaBuffer*>(this);
            ++refs;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override { return static_cast<ULONG>(--refs); }
    HRESULT SetLength(DWORD n) override {
        if (FAILED(failSetLength)) return failSetLength;
        if (n > data.size()) return E_INVALIDARG;
        length = n;
        return S_OK;
    }
    HRESULT GetMaxLength(DWORD* n) override {
        if (FAILED(failGetMaxLength)) return failGetMaxLength;
        *n = static_cast<DWORD>(data.size());
        return S_OK;
    }
    HRESULT GetBufferAndLength(BYTE** p, DWORD* n) override {
        if (FAILED(failGetBuffer)) return failGetBuffer;
        if (p != nullptr) *p = data.data();
        if (n != nullptr) *n = length;
        return S_OK;
    }
    std::vector<uint8_t> Contents() const { return {data.begin(), data.begin() + length}; }

    std::vector<uint8_t> data;
    DWORD length = 0;
    int refs = 1;
    HRESULT failSetLength = S_OK;
    HRESULT failGetMaxLength = S_OK;
    HRESULT failGetBuffer = S_OK;
};

// The fake tick count that tests hand to CSinjoPlugin::SetTickSource.
inline uint32_t g_fakeTicks = 0;
inline uint32_t FakeTicks() { return g_fakeTicks; }

inline void SetAudioSource(uint32_t value) {
    ASSERT_EQ(RegSetDword(RegRoot::CurrentUser, kChannelHandoffKey, kChannelHandoffValue, value), ERROR_SUCCESS);
}
inline void ClearPluginRegistry() {
    RegDeleteTree(RegRoot::CurrentUser, kChannelHandoffKey);
    RegDeleteTree(RegRoot::CurrentUser, kScaleFactorKey);
}

}  // namespace sinjoplugin::test
