#include "plugin/CSinjoPlugin.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "platform/Tick.h"
#include "plugin/PluginSettings.h"
#include "plugin/SinjoPluginModule.h"

namespace sinjoplugin {

using namespace platform;

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

// The format block of an audio type that passed CheckAudioType (or any type with a block of at
// least 18 bytes) as a WAVEFORMATEX. Format blocks carry no alignment promise, so copy.
WAVEFORMATEX ReadWaveFormat(const DMO_MEDIA_TYPE& type) {
    WAVEFORMATEX format{};
    if (type.pbFormat != nullptr && type.cbFormat >= sizeof(WAVEFORMATEX)) {
        std::memcpy(&format, type.pbFormat, sizeof format);
    }
    return format;
}

// Time stamps come from the host; keep the running stamp from overflowing whatever they are.
REFERENCE_TIME AddSaturating(REFERENCE_TIME a, REFERENCE_TIME b) {
    if (b > 0 && a > std::numeric_limits<REFERENCE_TIME>::max() - b) return std::numeric_limits<REFERENCE_TIME>::max();
    return a + b;
}

}  // namespace

// --- creation, identity, counting -------------------------------------------------------------------

CSinjoPlugin::CSinjoPlugin(IUnknown* outer)
    : m_inner(this),
      m_outer(outer != nullptr ? outer : &m_inner),
      m_tickSource(&platform::GetCoarseTickCount) {
    ModuleObjectCreated();
}

CSinjoPlugin::~CSinjoPlugin() {
    ReleaseInput();
    MoFreeMediaType(&m_inputType);
    MoFreeMediaType(&m_outputType);
    ModuleObjectDestroyed();
}

HRESULT CSinjoPlugin::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* plugin = new (std::nothrow) CSinjoPlugin(outer);
    if (plugin == nullptr) return E_OUTOFMEMORY;
    // A missing or unreadable setting keeps 1.0 and does not fail the creation.
    if (const std::optional<double> factor = ReadScaleFactorSetting()) plugin->m_scaleFactor = *factor;
    const HRESULT hr = plugin->m_inner.QueryInterface(iid, object);
    plugin->m_inner.Release();  // drops the construction reference; deletes on failure
    return hr;
}

HRESULT CSinjoPlugin::InnerUnknown::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    CSinjoPlugin* o = m_owner;
    if (iid == IID_IUnknown) {
        *object = static_cast<IUnknown*>(this);
    } else if (iid == IID_ISinjoPlugin) {
        *object = static_cast<ISinjoPlugin*>(o);
    } else if (iid == IID_IMediaObject) {
        *object = static_cast<IMediaObject*>(o);
    } else if (iid == IID_IWMPPluginEnable) {
        *object = static_cast<IWMPPluginEnable*>(o);
    } else if (iid == IID_ISpecifyPropertyPages) {
        *object = static_cast<ISpecifyPropertyPages*>(o);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Through the handed-out interface, so an aggregated object counts on its outer object.
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

ULONG CSinjoPlugin::InnerUnknown::AddRef() { return ++m_owner->m_refs; }

ULONG CSinjoPlugin::InnerUnknown::Release() {
    const ULONG left = --m_owner->m_refs;
    if (left == 0) delete m_owner;
    return left;
}

HRESULT CSinjoPlugin::QueryInterface(REFIID iid, void** object) { return m_outer->QueryInterface(iid, object); }
ULONG CSinjoPlugin::AddRef() { return m_outer->AddRef(); }
ULONG CSinjoPlugin::Release() { return m_outer->Release(); }

// --- ISinjoPlugin ----------------------------------------------------------------------------------

HRESULT CSinjoPlugin::get_ScaleFactor(double* factor) {
    if (factor == nullptr) return E_POINTER;
    *factor = m_scaleFactor.load();
    return S_OK;
}

HRESULT CSinjoPlugin::put_ScaleFactor(double factor) {
    m_scaleFactor = factor;
    return S_OK;
}

// --- IWMPPluginEnable -------------------------------------------------------------------------------

HRESULT CSinjoPlugin::SetEnable(BOOL enable) {
    m_enabled = enable != FALSE;
    return S_OK;
}

HRESULT CSinjoPlugin::GetEnable(BOOL* enable) {
    if (enable == nullptr) return E_POINTER;
    *enable = m_enabled.load() ? TRUE : FALSE;
    return S_OK;
}

// --- ISpecifyPropertyPages --------------------------------------------------------------------------

HRESULT CSinjoPlugin::GetPages(CAUUID* pages) {
    if (pages == nullptr) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == nullptr) return E_OUTOFMEMORY;
    pages->pElems[0] = CLSID_SinjoPluginPropPage;
    pages->cElems = 1;
    return S_OK;
}

// --- media types ------------------------------------------------------------------------------------

bool CSinjoPlugin::IsTypeSet(const DMO_MEDIA_TYPE& type) { return !(type.majortype == GUID_NULL); }

CSinjoPlugin::StreamFormat CSinjoPlugin::FormatOf(const DMO_MEDIA_TYPE& type) {
    StreamFormat f;
    if (!IsTypeSet(type)) return f;
    const WAVEFORMATEX wave = ReadWaveFormat(type);
    f.set = true;
    f.channels = wave.nChannels;
    f.bitsPerSample = wave.wBitsPerSample;
    f.blockAlign = wave.nBlockAlign;
    f.avgBytesPerSec = wave.nAvgBytesPerSec;
    f.selectable = wave.nChannels == 2 && wave.wBitsPerSample <= 16;
    return f;
}

HRESULT CSinjoPlugin::CheckAudioType(const DMO_MEDIA_TYPE* proposed, const DMO_MEDIA_TYPE& opposite) {
    const DMO_MEDIA_TYPE& t = *proposed;
    if (!(t.majortype == MEDIATYPE_Audio) || !(t.formattype == FORMAT_WaveFormatEx) || t.pbFormat == nullptr ||
        t.cbFormat < sizeof(WAVEFORMATEX)) {
        return DMO_E_TYPE_NOT_ACCEPTED;
    }
    const WAVEFORMATEX wave = ReadWaveFormat(t);
    if (wave.nChannels == 0 || wave.nSamplesPerSec == 0 || wave.nAvgBytesPerSec == 0 || wave.nBlockAlign == 0 ||
        wave.wBitsPerSample == 0) {
        return DMO_E_TYPE_NOT_ACCEPTED;
    }
    const WORD bits = wave.wBitsPerSample;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return DMO_E_TYPE_NOT_ACCEPTED;
    // A frame is one sample per channel: a block alignment that says otherwise would make the frame
    // arithmetic read and write past the buffers, so such a type is refused.
    if (static_cast<uint32_t>(wave.nBlockAlign) != static_cast<uint32_t>(wave.nChannels) * (bits / 8u)) {
        return DMO_E_TYPE_NOT_ACCEPTED;
    }
    if (wave.wFormatTag == WAVE_FORMAT_PCM) {
        if (bits != 8 && bits != 16) return DMO_E_TYPE_NOT_ACCEPTED;
    } else if (wave.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (t.cbFormat < sizeof(WAVEFORMATEXTENSIBLE)) return DMO_E_TYPE_NOT_ACCEPTED;
        WAVEFORMATEXTENSIBLE ext;
        std::memcpy(&ext, t.pbFormat, sizeof ext);
        if (!(ext.SubFormat == KSDATAFORMAT_SUBTYPE_PCM)) return DMO_E_TYPE_NOT_ACCEPTED;
        const WORD valid = ext.Samples.wValidBitsPerSample;
        if (valid == 0 || valid > bits) return DMO_E_TYPE_NOT_ACCEPTED;
        if (bits == 8 || bits == 16) {
            if (valid != bits) return DMO_E_TYPE_NOT_ACCEPTED;
        } else if (valid != 16 && valid != 20 && valid != 24 && valid != 32) {
            return DMO_E_TYPE_NOT_ACCEPTED;
        }
    } else {
        return DMO_E_TYPE_NOT_ACCEPTED;
    }
    if (IsTypeSet(opposite)) {
        if (!(t.majortype == opposite.majortype) || !(t.subtype == opposite.subtype)) return DMO_E_TYPE_NOT_ACCEPTED;
        const WAVEFORMATEX other = ReadWaveFormat(opposite);
        if (wave.nChannels != other.nChannels || wave.nSamplesPerSec != other.nSamplesPerSec ||
            wave.nAvgBytesPerSec != other.nAvgBytesPerSec || wave.nBlockAlign != other.nBlockAlign ||
            wave.wBitsPerSample != other.wBitsPerSample || wave.wFormatTag != other.wFormatTag) {
            return DMO_E_TYPE_NOT_ACCEPTED;
        }
    }
    return S_OK;
}

HRESULT CSinjoPlugin::GetType(DWORD stream, DWORD typeIndex, const DMO_MEDIA_TYPE& opposite, DMO_MEDIA_TYPE* type) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (typeIndex != 0) return DMO_E_NO_MORE_ITEMS;
    if (type == nullptr) return E_POINTER;
    if (IsTypeSet(opposite)) return MoCopyMediaType(type, &opposite);
    *type = DMO_MEDIA_TYPE{};
    type->majortype = MEDIATYPE_Audio;
    type->subtype = MEDIASUBTYPE_PCM;
    return S_OK;
}

HRESULT CSinjoPlugin::GetInputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) {
    return GetType(stream, typeIndex, m_outputType, type);
}

HRESULT CSinjoPlugin::GetOutputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) {
    return GetType(stream, typeIndex, m_inputType, type);
}

HRESULT CSinjoPlugin::SetType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags, DMO_MEDIA_TYPE* mine,
                              StreamFormat* myFormat, const DMO_MEDIA_TYPE& opposite) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if ((flags & DMO_SET_TYPEF_CLEAR) != 0) {
        MoFreeMediaType(mine);
        *mine = DMO_MEDIA_TYPE{};
        *myFormat = StreamFormat{};
        return S_OK;
    }
    if (type == nullptr) return E_POINTER;
    const HRESULT check = CheckAudioType(type, opposite);
    if (FAILED(check)) return (flags & DMO_SET_TYPEF_TEST_ONLY) != 0 ? S_FALSE : check;
    if ((flags & DMO_SET_TYPEF_TEST_ONLY) != 0) return S_OK;
    MoFreeMediaType(mine);
    *mine = DMO_MEDIA_TYPE{};
    const HRESULT hr = MoCopyMediaType(mine, type);
    *myFormat = FormatOf(*mine);
    return hr;
}

HRESULT CSinjoPlugin::SetInputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) {
    return SetType(stream, type, flags, &m_inputType, &m_inputFormat, m_outputType);
}

HRESULT CSinjoPlugin::SetOutputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) {
    return SetType(stream, type, flags, &m_outputType, &m_outputFormat, m_inputType);
}

HRESULT CSinjoPlugin::GetInputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (type == nullptr) return E_POINTER;
    if (!IsTypeSet(m_inputType)) return DMO_E_TYPE_NOT_SET;
    return MoCopyMediaType(type, &m_inputType);
}

HRESULT CSinjoPlugin::GetOutputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (type == nullptr) return E_POINTER;
    if (!IsTypeSet(m_outputType)) return DMO_E_TYPE_NOT_SET;
    return MoCopyMediaType(type, &m_outputType);
}

// --- stream information -----------------------------------------------------------------------------

HRESULT CSinjoPlugin::GetStreamCount(DWORD* inputStreams, DWORD* outputStreams) {
    if (inputStreams == nullptr || outputStreams == nullptr) return E_POINTER;
    *inputStreams = 1;
    *outputStreams = 1;
    return S_OK;
}

HRESULT CSinjoPlugin::GetInputStreamInfo(DWORD stream, DWORD* flags) {
    if (flags == nullptr) return E_POINTER;
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    *flags = 0;
    return S_OK;
}

HRESULT CSinjoPlugin::GetOutputStreamInfo(DWORD stream, DWORD* flags) {
    if (flags == nullptr) return E_POINTER;
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    *flags = 0;
    return S_OK;
}

HRESULT CSinjoPlugin::GetInputSizeInfo(DWORD stream, DWORD* size, DWORD* maxLookahead, DWORD* alignment) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (size == nullptr || maxLookahead == nullptr || alignment == nullptr) return E_POINTER;
    if (!m_inputFormat.set) return DMO_E_TYPE_NOT_SET;
    *size = m_inputType.lSampleSize;
    *maxLookahead = 0;
    *alignment = m_inputFormat.blockAlign;
    return S_OK;
}

HRESULT CSinjoPlugin::GetOutputSizeInfo(DWORD stream, DWORD* size, DWORD* alignment) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (size == nullptr || alignment == nullptr) return E_POINTER;
    if (!m_outputFormat.set) return DMO_E_TYPE_NOT_SET;
    *size = m_outputType.lSampleSize;
    *alignment = m_outputFormat.blockAlign;
    return S_OK;
}

HRESULT CSinjoPlugin::GetInputMaxLatency(DWORD, REFERENCE_TIME*) { return E_NOTIMPL; }
HRESULT CSinjoPlugin::SetInputMaxLatency(DWORD, REFERENCE_TIME) { return E_NOTIMPL; }

// --- streaming state --------------------------------------------------------------------------------

void CSinjoPlugin::ReleaseInput() {
    IMediaBuffer* buffer = m_inputBuffer;
    m_inputBuffer = nullptr;
    m_inputData = nullptr;
    m_inputConsumed = 0;
    m_inputLength = 0;
    m_timeValid = false;
    m_timestamp = 0;
    if (buffer != nullptr) buffer->Release();
}

HRESULT CSinjoPlugin::Flush() {
    ReleaseInput();
    return S_OK;
}

HRESULT CSinjoPlugin::FreeStreamingResources() {
    ReleaseInput();
    return S_OK;
}

HRESULT CSinjoPlugin::Discontinuity(DWORD) { return S_OK; }
HRESULT CSinjoPlugin::AllocateStreamingResources() { return S_OK; }
HRESULT CSinjoPlugin::Lock(LONG) { return S_OK; }

HRESULT CSinjoPlugin::GetInputStatus(DWORD stream, DWORD* flags) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (flags == nullptr) return E_POINTER;
    *flags = m_inputBuffer == nullptr ? DMO_INPUT_STATUSF_ACCEPT_DATA : 0;
    return S_OK;
}

HRESULT CSinjoPlugin::ProcessInput(DWORD stream, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME timestamp,
                                   REFERENCE_TIME /*timelength: the output lengths are computed*/) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (buffer == nullptr) return E_POINTER;
    if (!m_inputFormat.set) return DMO_E_TYPE_NOT_SET;
    if (m_inputBuffer != nullptr) return DMO_E_NOTACCEPTING;
    BYTE* data = nullptr;
    DWORD length = 0;
    const HRESULT hr = buffer->GetBufferAndLength(&data, &length);
    if (FAILED(hr)) return hr;
    if (data == nullptr && length != 0) return E_POINTER;
    buffer->AddRef();
    m_inputBuffer = buffer;
    m_inputData = data;
    m_inputConsumed = 0;
    m_inputLength = length;
    if ((flags & DMO_INPUT_DATA_BUFFERF_TIME) != 0) {
        m_timeValid = true;
        m_timestamp = timestamp;
    } else {
        m_timeValid = false;
    }
    return S_OK;
}

HRESULT CSinjoPlugin::ProcessOutput(DWORD /*flags*/, DWORD outputBufferCount, DMO_OUTPUT_DATA_BUFFER* outputBuffers,
                                    DWORD* status) {
    if (outputBuffers == nullptr) return E_POINTER;
    if (outputBufferCount != 1) return E_INVALIDARG;
    if (!m_outputFormat.set) return DMO_E_TYPE_NOT_SET;
    if (status != nullptr) *status = 0;
    DMO_OUTPUT_DATA_BUFFER& record = outputBuffers[0];
    IMediaBuffer* output = record.pBuffer;

    if (m_inputBuffer == nullptr) {
        if (output != nullptr) output->SetLength(0);
        record.dwStatus = 0;
        return S_FALSE;
    }
    if (output == nullptr) {
        record.dwStatus = 0;
        return S_FALSE;
    }
    // The samples are read in the input's format; a type cleared since ProcessInput leaves none.
    if (!m_inputFormat.set) return DMO_E_TYPE_NOT_SET;

    BYTE* out = nullptr;
    DWORD maxLength = 0;
    HRESULT hr = output->GetBufferAndLength(&out, nullptr);
    if (FAILED(hr)) return hr;
    hr = output->GetMaxLength(&maxLength);
    if (FAILED(hr)) return hr;
    if (out == nullptr && maxLength != 0) return E_POINTER;

    DWORD n = m_inputLength;
    bool finished = true;
    if (m_inputLength > maxLength) {
        n = maxLength;
        finished = false;
    }
    hr = ProcessSamples(out, m_inputData, &n, m_inputConsumed % m_inputFormat.blockAlign);
    if (FAILED(hr)) return hr;
    if (!finished && n == 0) {
        // Nothing fits: reporting "incomplete" with nothing consumed would have the host call again
        // for ever with the same buffer.
        output->SetLength(0);
        record.dwStatus = 0;
        return E_INVALIDARG;
    }
    hr = output->SetLength(n);
    if (FAILED(hr)) return hr;

    record.dwStatus = 0;
    if (m_timeValid) {
        // Rounded to the nearest unit. n < 2^32 and the factor < 2^24, so the product fits 64 bits;
        // the result is kept at full width (a slow format makes it exceed 32 bits).
        const uint64_t avg = m_outputFormat.avgBytesPerSec;
        const uint64_t length = (static_cast<uint64_t>(n) * kUnitsPerSecond + avg / 2) / avg;
        record.rtTimestamp = m_timestamp;
        record.rtTimelength = static_cast<REFERENCE_TIME>(length);
        record.dwStatus = DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
        m_timestamp = AddSaturating(m_timestamp, record.rtTimelength);
    }
    if (finished) {
        ReleaseInput();
    } else {
        record.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
        m_inputData += n;
        m_inputConsumed += n;
        m_inputLength -= n;
    }
    return S_OK;
}

// --- sample processing ------------------------------------------------------------------------------

void CSinjoPlugin::ReadChannelSelect() {
    const uint32_t now = m_tickSource();
    if (static_cast<uint32_t>(now - m_lastSourceRead) < kChannelHandoffPollMs) return;
    m_lastSourceRead = now;
    // A missing key or value, or one that does not fit 4 bytes, keeps the selection in force.
    if (const std::optional<uint32_t> value = ReadFourByteValue(kChannelHandoffKey, kChannelHandoffValue)) {
        m_channelSelect = ChannelSelectFromValue(*value);
    }
}

HRESULT CSinjoPlugin::ProcessSamples(BYTE* out, const BYTE* in, DWORD* bytes, DWORD framePhase) {
    ReadChannelSelect();
    const DWORD n = *bytes;
    if (!m_enabled.load(std::memory_order_relaxed) || m_channelSelect == ChannelBoth || !m_inputFormat.selectable) {
        if (n != 0 && out != in) std::memmove(out, in, n);
        return S_OK;
    }
    // A pass-through call may have stopped inside a frame (its output buffer was not a whole number of
    // frames). The rest of that frame goes out unchanged, so that the frames after it are read from
    // their start and the output stays a whole number of frames; reading across the frame boundary
    // would swap the channels and shift the stream by a sample.
    DWORD lead = 0;
    if (framePhase != 0) {
        lead = std::min<DWORD>(n, m_inputFormat.blockAlign - framePhase);
        if (out != in) std::memmove(out, in, lead);
    }
    const DWORD frames = (n - lead) / m_inputFormat.blockAlign;  // a trailing partial frame is not produced
    switch (m_inputFormat.bitsPerSample) {
        case 8:
            *bytes = lead + frames * 2;
            SelectChannel8(out + lead, in + lead, frames, m_channelSelect);
            return S_OK;
        case 16:
            *bytes = lead + frames * 4;
            SelectChannel16(out + lead, in + lead, frames, m_channelSelect);
            return S_OK;
        default:
            *bytes = 0;
            return E_FAIL;
    }
}

}  // namespace sinjoplugin
