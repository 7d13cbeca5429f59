// Test support (header only): DSP plug-ins that tests control, made creatable by class id as built-in
// classes and recorded in the registry the way a plug-in module records itself.
//
// A FakeDmo applies one operation to 16-bit stereo frames (swap the channels, or add a constant to
// the left channel), may give its output in small pieces (flagged incomplete), may refuse every type
// or fail while streaming, and counts what it was asked to do. Counters are atomic because the
// GStreamer streaming thread drives the object while the test thread reads them.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Com.h"
#include "platform/Dmo.h"
#include "platform/WmpPlugins.h"

namespace sinjo_test {

using namespace platform;

struct FakeDmoConfig {
    enum class Op { Swap, AddLeft } op = Op::Swap;
    int16_t add = 0;               // for AddLeft
    DWORD maxOutputPerCall = 0;    // 0: everything at once; else pieces of at most this many bytes
    bool refuseTypes = false;
    bool failProcessOutput = false;
    // Counters (any thread).
    std::atomic<int> created{0};
    std::atomic<int> alive{0};
    std::atomic<int> flushes{0};
    std::atomic<int> inputs{0};
    std::atomic<int> timedInputs{0};
    std::atomic<int64_t> lastTime{-1};
};

class FakeDmo final : public SingleInterfaceObject<IMediaObject, IID_IMediaObject> {
public:
    explicit FakeDmo(FakeDmoConfig* config) : m_config(config) {
        ++m_config->created;
        ++m_config->alive;
    }
    HRESULT GetStreamCount(DWORD* in, DWORD* out) override { *in = *out = 1; return S_OK; }
    HRESULT GetInputStreamInfo(DWORD, DWORD* flags) override { *flags = 0; return S_OK; }
    HRESULT GetOutputStreamInfo(DWORD, DWORD* flags) override { *flags = 0; return S_OK; }
    HRESULT GetInputType(DWORD, DWORD, DMO_MEDIA_TYPE*) override { return DMO_E_NO_MORE_ITEMS; }
    HRESULT GetOutputType(DWORD, DWORD, DMO_MEDIA_TYPE*) override { return DMO_E_NO_MORE_ITEMS; }
    HRESULT SetInputType(DWORD, const DMO_MEDIA_TYPE* type, DWORD flags) override { return SetType(type, flags, &m_inSet); }
    HRESULT SetOutputType(DWORD, const DMO_MEDIA_TYPE* type, DWORD flags) override { return SetType(type, flags, &m_outSet); }
    HRESULT GetInputCurrentType(DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT GetOutputCurrentType(DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT GetInputSizeInfo(DWORD, DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT GetOutputSizeInfo(DWORD, DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT GetInputMaxLatency(DWORD, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT SetInputMaxLatency(DWORD, REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT Flush() override {
        ++m_config->flushes;
        m_held.clear();
        return S_OK;
    }
    HRESULT Discontinuity(DWORD) override { return S_OK; }
    HRESULT AllocateStreamingResources() override { return S_OK; }
    HRESULT FreeStreamingResources() override { m_held.clear(); return S_OK; }
    HRESULT GetInputStatus(DWORD, DWORD* flags) override { *flags = m_held.empty() ? DMO_INPUT_STATUSF_ACCEPT_DATA : 0; return S_OK; }
    HRESULT ProcessInput(DWORD, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time, REFERENCE_TIME) override {
        if (!m_inSet || !m_outSet) return DMO_E_TYPE_NOT_SET;
        if (!m_held.empty()) return DMO_E_NOTACCEPTING;
        BYTE* data = nullptr;
        DWORD length = 0;
        buffer->GetBufferAndLength(&data, &length);
        m_held.assign(data, data + length);
        ++m_config->inputs;
        if (flags & DMO_INPUT_DATA_BUFFERF_TIME) {
            ++m_config->timedInputs;
            m_config->lastTime = time;
        }
        return S_OK;
    }
    HRESULT ProcessOutput(DWORD, DWORD count, DMO_OUTPUT_DATA_BUFFER* out, DWORD*) override {
        if (count != 1 || out == nullptr) return E_INVALIDARG;
        if (m_config->failProcessOutput) return E_FAIL;
        out->dwStatus = 0;
        if (m_held.empty()) {
            out->pBuffer->SetLength(0);
            return S_FALSE;
        }
        BYTE* data = nullptr;
        DWORD max = 0;
        out->pBuffer->GetBufferAndLength(&data, nullptr);
        out->pBuffer->GetMaxLength(&max);
        DWORD n = std::min<DWORD>(max, static_cast<DWORD>(m_held.size()));
        if (m_config->maxOutputPerCall != 0) n = std::min(n, m_config->maxOutputPerCall);
        n -= n % 4;
        for (DWORD i = 0; i + 4 <= n; i += 4) {
            int16_t l, r;
            std::memcpy(&l, &m_held[i], 2);
            std::memcpy(&r, &m_held[i + 2], 2);
            if (m_config->op == FakeDmoConfig::Op::Swap) {
                std::swap(l, r);
            } else {
                l = static_cast<int16_t>(l + m_config->add);
            }
            std::memcpy(data + i, &l, 2);
            std::memcpy(data + i + 2, &r, 2);
        }
        out->pBuffer->SetLength(n);
        m_held.erase(m_held.begin(), m_held.begin() + n);
        if (!m_held.empty()) out->dwStatus |= DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
        return S_OK;
    }
    HRESULT Lock(LONG) override { return S_OK; }

private:
    ~FakeDmo() { --m_config->alive; }
    HRESULT SetType(const DMO_MEDIA_TYPE* type, DWORD flags, bool* set) {
        if (flags & DMO_SET_TYPEF_CLEAR) {
            *set = false;
            return S_OK;
        }
        if (m_config->refuseTypes || type == nullptr || type->cbFormat < sizeof(WAVEFORMATEX)) {
            return DMO_E_TYPE_NOT_ACCEPTED;
        }
        WAVEFORMATEX wave;
        std::memcpy(&wave, type->pbFormat, sizeof wave);
        if (wave.nChannels != 2 || wave.wBitsPerSample != 16) return DMO_E_TYPE_NOT_ACCEPTED;
        *set = true;
        return S_OK;
    }

    FakeDmoConfig* const m_config;
    bool m_inSet = false;
    bool m_outSet = false;
    std::vector<BYTE> m_held;
};

class FakeDmoFactory final : public IClassFactory {
public:
    explicit FakeDmoFactory(FakeDmoConfig* config) : m_config(config) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }   // lives for the whole process
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        FakeDmo* dmo = new FakeDmo(m_config);
        const HRESULT hr = dmo->QueryInterface(iid, object);
        dmo->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    FakeDmoConfig* const m_config;
};

// A class id per test plug-in: {5A5A0000-0000-4000-8000-0000000000nn}.
inline CLSID FakeClsid(uint8_t n) { return CLSID{0x5A5A0000, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, n}}; }

// Makes the fake with class id FakeClsid(n) creatable (once per process) and returns its settings,
// which live for the rest of the process.
inline FakeDmoConfig& InstallFakeDmo(uint8_t n) {
    static std::mutex mutex;
    static std::map<uint8_t, FakeDmoConfig*> configs;
    std::lock_guard<std::mutex> lock(mutex);
    FakeDmoConfig*& config = configs[n];
    if (config == nullptr) {
        config = new FakeDmoConfig();
        RegisterBuiltinClass(FakeClsid(n), new FakeDmoFactory(config));
    }
    return *config;
}

// Records a DSP plug-in through the media player's registrar, as a plug-in module does.
inline HRESULT RecordDspPlugin(const CLSID& clsid, const std::wstring& name, DWORD priority) {
    ComPtr<IWMPMediaPluginRegistrar> registrar;
    HRESULT hr = CoCreateInstance(CLSID_WMPMediaPluginRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWMPMediaPluginRegistrar, registrar.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return hr;
    const DMO_PARTIAL_MEDIATYPE type{MEDIATYPE_Audio, MEDIASUBTYPE_PCM};
    return registrar->WMPRegisterPlayerPlugin(name.c_str(), L"test plug-in", nullptr, priority, WMP_PLUGINTYPE_DSP,
                                              clsid, 1, &type);
}

}  // namespace sinjo_test
