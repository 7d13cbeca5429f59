#include "platform/media/DmoChain.h"

#include "platform/RunningPlugins.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/CodePage.h"
#include "platform/ThreadAnnotations.h"

namespace platform::media {

namespace {

// Output buffers are at least this big, so a plug-in that works in whole frames always has room for
// one; and a block is never split into more pulls than this, whatever a plug-in claims.
constexpr DWORD kMinOutputBytes = 4096;
constexpr int kMaxPulls = 4096;
// A plug-in that keeps saying "more to come" without giving anything is cut off after this many pulls.
constexpr int kMaxEmptyPulls = 2;

// Troubles already reported, by class id and kind: the set is process-wide so a plug-in that is
// broken for every song is named once, not once per song.
struct ReportedTroubles {
    Mutex mutex;
    std::set<std::wstring> said GUARDED_BY(mutex);
};
ReportedTroubles& Reported() {
    static ReportedTroubles* reported = new ReportedTroubles;  // never destroyed: streaming threads may report late
    return *reported;
}

void ReportOnce(const CLSID& clsid, const char* kind, const std::string& line) {
    {
        ReportedTroubles& reported = Reported();
        MutexLock lock(reported.mutex);
        if (!reported.said.insert(GuidToString(clsid) + FromUtf8(kind)).second) {
            return;
        }
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::string Describe(const std::wstring& name, const CLSID& clsid) {
    return "DSP plug-in \"" + ToUtf8(name) + "\" " + ToUtf8(GuidToString(clsid));
}

std::string DescribeFormat(const PcmFormat& format) {
    return "16-bit PCM, " + std::to_string(format.channels) + " channel(s), " + std::to_string(format.rate) +
           " Hz";
}

}  // namespace

HRESULT MakePcmMediaType(const PcmFormat& format, DMO_MEDIA_TYPE* type) {
    if (type == nullptr) {
        return E_POINTER;
    }
    if (format.channels <= 0 || format.rate <= 0 || format.channels > 0xFFFF) {
        return E_INVALIDARG;
    }
    const bool extensible = format.channels > 2;
    const HRESULT hr =
        MoInitMediaType(type, extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX));
    if (FAILED(hr)) {
        return hr;
    }
    const WORD blockAlign = static_cast<WORD>(format.BlockAlign());
    type->majortype = MEDIATYPE_Audio;
    type->subtype = MEDIASUBTYPE_PCM;
    type->bFixedSizeSamples = TRUE;
    type->bTemporalCompression = FALSE;
    type->lSampleSize = blockAlign;
    type->formattype = FORMAT_WaveFormatEx;

    WAVEFORMATEXTENSIBLE wave{};
    wave.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    wave.Format.nChannels = static_cast<WORD>(format.channels);
    wave.Format.nSamplesPerSec = static_cast<DWORD>(format.rate);
    wave.Format.nAvgBytesPerSec = static_cast<DWORD>(format.rate) * blockAlign;
    wave.Format.nBlockAlign = blockAlign;
    wave.Format.wBitsPerSample = 16;
    wave.Format.cbSize = extensible ? sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX) : 0;
    if (extensible) {
        wave.Samples.wValidBitsPerSample = 16;
        wave.dwChannelMask = static_cast<DWORD>(format.channelMask);
        wave.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    }
    std::memcpy(type->pbFormat, &wave, type->cbFormat);
    return S_OK;
}

DmoChain::~DmoChain() { Release(); }

void DmoChain::Load() { Load(ListDspPlugins()); }

void DmoChain::Load(const std::vector<DspPluginRecord>& records) {
    Release();
    m_loaded = true;
    for (const DspPluginRecord& record : records) {
        Stage stage;
        stage.clsid = record.clsid;
        stage.name = record.friendlyName;
        const HRESULT hr = CoCreateInstance(record.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaObject,
                                            stage.dmo.ReleaseAndGetVoidAddress());
        if (FAILED(hr) || !stage.dmo) {
            stage.dmo.Reset();
            ReportOnce(record.clsid, "load",
                       "Sinjo: skipping " + Describe(stage.name, stage.clsid) + ": it could not be loaded (" +
                           FormatHresult(FAILED(hr) ? hr : E_NOINTERFACE) + "); playing without it");
            continue;
        }
        AddRunningPlugin(stage.clsid, stage.dmo.Get());
        m_stages.push_back(std::move(stage));
    }
}

size_t DmoChain::SetFormat(const PcmFormat& format) {
    m_format = format;
    DMO_MEDIA_TYPE type{};
    const HRESULT made = MakePcmMediaType(format, &type);
    for (Stage& stage : m_stages) {
        stage.active = false;
        stage.minOutput = 0;
        if (FAILED(made)) {
            continue;
        }
        stage.dmo->Flush();
        // Clear both first: a plug-in checks a new type against the other stream's current one.
        stage.dmo->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
        stage.dmo->SetOutputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
        HRESULT hr = stage.dmo->SetInputType(0, &type, 0);
        if (hr == S_OK) {
            hr = stage.dmo->SetOutputType(0, &type, 0);
        }
        if (hr != S_OK) {
            ReportOnce(stage.clsid, "type",
                       "Sinjo: skipping " + Describe(stage.name, stage.clsid) + ": it refuses " +
                           DescribeFormat(format) + " (" + FormatHresult(hr) + "); playing without it");
            continue;
        }
        DWORD size = 0, alignment = 0;
        if (SUCCEEDED(stage.dmo->GetOutputSizeInfo(0, &size, &alignment))) {
            stage.minOutput = size;
        }
        stage.dmo->AllocateStreamingResources();
        stage.active = true;
    }
    if (SUCCEEDED(made)) {
        MoFreeMediaType(&type);
    }
    return ActiveCount();
}

void DmoChain::Process(const uint8_t* data, size_t size, int64_t time, std::vector<uint8_t>* out) {
    std::vector<uint8_t> current(data, data + size);
    std::vector<uint8_t> next;
    for (Stage& stage : m_stages) {
        if (!stage.active || current.empty()) {
            continue;
        }
        next.clear();
        if (RunStage(stage, current, time, &next)) {
            current.swap(next);
        }
    }
    out->insert(out->end(), current.begin(), current.end());
}

bool DmoChain::RunStage(Stage& stage, const std::vector<uint8_t>& in, int64_t time, std::vector<uint8_t>* out) {
    if (in.size() > 0xFFFFFFFFu) {
        return false;
    }
    ComPtr<IMediaBuffer> buffer;
    HRESULT hr = CreateMemoryBuffer(static_cast<DWORD>(in.size()), buffer.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        return false;  // out of memory: pass the block on unchanged
    }
    BYTE* bytes = nullptr;
    buffer->GetBufferAndLength(&bytes, nullptr);
    std::memcpy(bytes, in.data(), in.size());
    buffer->SetLength(static_cast<DWORD>(in.size()));

    const DWORD flags = time >= 0 ? DMO_INPUT_DATA_BUFFERF_TIME : 0;
    const REFERENCE_TIME stamp = time >= 0 ? time : 0;
    std::vector<uint8_t> produced;
    hr = stage.dmo->ProcessInput(0, buffer.Get(), flags, stamp, 0);
    if (hr == DMO_E_NOTACCEPTING) {
        // It still holds earlier input: take that out first, then offer the block again.
        hr = Pull(stage, in.size(), &produced);
        if (SUCCEEDED(hr)) {
            hr = stage.dmo->ProcessInput(0, buffer.Get(), flags, stamp, 0);
        }
    }
    if (FAILED(hr)) {
        Fail(stage, "ProcessInput", hr);
        return false;
    }
    hr = Pull(stage, in.size(), &produced);
    if (FAILED(hr)) {
        Fail(stage, "ProcessOutput", hr);
        return false;
    }
    out->insert(out->end(), produced.begin(), produced.end());
    return true;
}

HRESULT DmoChain::Pull(Stage& stage, size_t hint, std::vector<uint8_t>* out) {
    const DWORD capacity = std::max<DWORD>({static_cast<DWORD>(std::min<size_t>(hint, 0x7FFFFFFF)), stage.minOutput,
                                            kMinOutputBytes});
    int empty = 0;
    for (int pull = 0; pull < kMaxPulls; ++pull) {
        ComPtr<IMediaBuffer> buffer;
        HRESULT hr = CreateMemoryBuffer(capacity, buffer.ReleaseAndGetAddressOf());
        if (FAILED(hr)) {
            return hr;
        }
        DMO_OUTPUT_DATA_BUFFER record{buffer.Get(), 0, 0, 0};
        DWORD status = 0;
        hr = stage.dmo->ProcessOutput(0, 1, &record, &status);
        if (FAILED(hr)) {
            return hr;
        }
        BYTE* bytes = nullptr;
        DWORD length = 0;
        buffer->GetBufferAndLength(&bytes, &length);
        length = std::min(length, capacity);
        if (hr == S_OK) {
            out->insert(out->end(), bytes, bytes + length);
        }
        if (hr == S_FALSE || (record.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE) == 0) {
            return S_OK;
        }
        if (length == 0 && ++empty >= kMaxEmptyPulls) {
            return S_OK;
        }
    }
    return S_OK;
}

void DmoChain::Fail(Stage& stage, const char* call, HRESULT hr) {
    stage.active = false;
    stage.dmo->Flush();
    ReportOnce(stage.clsid, "stream",
               "Sinjo: " + Describe(stage.name, stage.clsid) + " failed in " + call + " (" + FormatHresult(hr) +
                   "); it is bypassed for the rest of this song");
}

void DmoChain::Flush() {
    for (Stage& stage : m_stages) {
        if (stage.active) {
            stage.dmo->Flush();
        }
    }
}

void DmoChain::Drain(std::vector<uint8_t>* out) {
    std::vector<uint8_t> carried;  // what earlier stages gave out, still to go through later ones
    for (Stage& stage : m_stages) {
        if (!stage.active) {
            continue;
        }
        std::vector<uint8_t> next;
        if (!carried.empty() && !RunStage(stage, carried, -1, &next)) {
            next = carried;  // bypassed: the audio goes on unchanged
        }
        if (stage.active) {
            stage.dmo->Discontinuity(0);
            if (const HRESULT hr = Pull(stage, kMinOutputBytes, &next); FAILED(hr)) {
                Fail(stage, "ProcessOutput", hr);
            }
        }
        carried.swap(next);
    }
    out->insert(out->end(), carried.begin(), carried.end());
}

void DmoChain::Release() {
    for (Stage& stage : m_stages) {
        if (stage.dmo) {
            stage.dmo->FreeStreamingResources();
            RemoveRunningPlugin(stage.dmo.Get());
        }
    }
    m_stages.clear();
    m_loaded = false;
}

size_t DmoChain::ActiveCount() const {
    return static_cast<size_t>(std::count_if(m_stages.begin(), m_stages.end(), [](const Stage& s) { return s.active; }));
}

std::vector<std::wstring> DmoChain::ActiveNames() const {
    std::vector<std::wstring> names;
    for (const Stage& stage : m_stages) {
        if (stage.active) {
            names.push_back(stage.name);
        }
    }
    return names;
}

void DmoChain::ResetReportedForTests() {
    ReportedTroubles& reported = Reported();
    MutexLock lock(reported.mutex);
    reported.said.clear();
}

}  // namespace platform::media
