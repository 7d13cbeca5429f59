// CSinjoPlugin: the DSP plug-in object. A media object with one input and one output stream that passes
// 8- or 16-bit PCM through unchanged, or plays the left or the right channel of stereo audio on both
// outputs, following the channel selection that the jukebox publishes in the registry value
// "AudioSource" (HKEY_CURRENT_USER\Software\Nadusoft\Sinjo\Plugin; 1 left, 2 right, else both). The
// value is re-read at most every 100 ms of tick count, at the start of a processing call.
//
// Interfaces: ISinjoPlugin (primary), IMediaObject, IWMPPluginEnable, ISpecifyPropertyPages. The object
// may be aggregated: then its IUnknown (the one handed out at creation) is private to the outer
// object, and every other interface delegates QueryInterface and the count to the outer object.
//
// Threads: the media player calls the streaming methods (types, ProcessInput, ProcessOutput, Flush...)
// from one thread at a time; the object takes no lock of its own (Lock does nothing). SetEnable,
// put_ScaleFactor and their readers may run on another thread (the player's GUI thread): those two
// fields are atomic and the streaming thread reads the enable flag once per processing call. The
// reference count is atomic.
//
// Ownership: the object owns copies of its two media types and holds one reference to the input
// buffer it is consuming, released when the buffer is used up, on Flush and FreeStreamingResources.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Dmo.h"
#include "platform/PropertyPage.h"
#include "platform/WmpPlugins.h"
#include "plugin/ChannelProcessor.h"
#include "plugin/ISinjoPlugin.h"

namespace sinjoplugin {

class CSinjoPlugin final : public ISinjoPlugin,
                           public platform::IMediaObject,
                           public platform::IWMPPluginEnable,
                           public platform::ISpecifyPropertyPages {
public:
    using HRESULT = platform::HRESULT;
    using DWORD = platform::DWORD;
    using REFERENCE_TIME = platform::REFERENCE_TIME;
    using DMO_MEDIA_TYPE = platform::DMO_MEDIA_TYPE;

    // The class factory's work: creates an object (reading the stored scale factor) and hands out
    // `iid`. With an outer object, iid must be IID_IUnknown (else CLASS_E_NOAGGREGATION).
    static HRESULT CreateInstance(platform::IUnknown* outer, platform::REFIID iid, void** object);

    CSinjoPlugin(const CSinjoPlugin&) = delete;
    CSinjoPlugin& operator=(const CSinjoPlugin&) = delete;

    // IUnknown (delegating to the controlling object)
    HRESULT QueryInterface(platform::REFIID iid, void** object) override;
    platform::ULONG AddRef() override;
    platform::ULONG Release() override;

    // ISinjoPlugin
    HRESULT get_ScaleFactor(double* factor) override;
    HRESULT put_ScaleFactor(double factor) override;

    // IMediaObject
    HRESULT GetStreamCount(DWORD* inputStreams, DWORD* outputStreams) override;
    HRESULT GetInputStreamInfo(DWORD stream, DWORD* flags) override;
    HRESULT GetOutputStreamInfo(DWORD stream, DWORD* flags) override;
    HRESULT GetInputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) override;
    HRESULT GetOutputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) override;
    HRESULT SetInputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) override;
    HRESULT SetOutputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) override;
    HRESULT GetInputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) override;
    HRESULT GetOutputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) override;
    HRESULT GetInputSizeInfo(DWORD stream, DWORD* size, DWORD* maxLookahead, DWORD* alignment) override;
    HRESULT GetOutputSizeInfo(DWORD stream, DWORD* size, DWORD* alignment) override;
    HRESULT GetInputMaxLatency(DWORD stream, REFERENCE_TIME* maxLatency) override;
    HRESULT SetInputMaxLatency(DWORD stream, REFERENCE_TIME maxLatency) override;
    HRESULT Flush() override;
    HRESULT Discontinuity(DWORD stream) override;
    HRESULT AllocateStreamingResources() override;
    HRESULT FreeStreamingResources() override;
    HRESULT GetInputStatus(DWORD stream, DWORD* flags) override;
    // Refuses a new buffer with DMO_E_NOTACCEPTING while one is still held, so unconsumed audio is
    // never dropped: drain with ProcessOutput first (GetInputStatus says when).
    HRESULT ProcessInput(DWORD stream, platform::IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME timestamp,
                         REFERENCE_TIME timelength) override;
    // Fills the one output buffer from its start. With a channel selected only whole frames are
    // produced (after finishing, unchanged, a frame that an earlier call without a channel split); an output buffer too small to take any of the held input (smaller than one frame, or
    // empty) is refused with E_INVALIDARG and nothing is consumed.
    HRESULT ProcessOutput(DWORD flags, DWORD outputBufferCount, platform::DMO_OUTPUT_DATA_BUFFER* outputBuffers,
                          DWORD* status) override;
    HRESULT Lock(platform::LONG lock) override;

    // IWMPPluginEnable
    HRESULT SetEnable(platform::BOOL enable) override;
    HRESULT GetEnable(platform::BOOL* enable) override;

    // ISpecifyPropertyPages
    HRESULT GetPages(platform::CAUUID* pages) override;

    // --- for tests (not part of any interface) ---
    // Replaces the tick source used for the 100 ms poll (by default the coarse monotonic clock in
    // milliseconds, wrapping at 32 bits like the platform tick count).
    using TickSource = uint32_t (*)();
    void SetTickSource(TickSource source) { m_tickSource = source; }
    ChannelSelect CurrentChannelSelect() const { return m_channelSelect; }

private:
    // The object's own IUnknown: answers QueryInterface for every interface and owns the count.
    class InnerUnknown final : public platform::IUnknown {
    public:
        explicit InnerUnknown(CSinjoPlugin* owner) : m_owner(owner) {}
        HRESULT QueryInterface(platform::REFIID iid, void** object) override;
        platform::ULONG AddRef() override;
        platform::ULONG Release() override;

    private:
        CSinjoPlugin* const m_owner;
    };

    // What the streaming path needs of a media type, worked out once when the type is set.
    struct StreamFormat {
        bool set = false;
        platform::WORD channels = 0;
        platform::WORD bitsPerSample = 0;
        platform::WORD blockAlign = 0;
        platform::DWORD avgBytesPerSec = 0;
        bool selectable = false;  // exactly 2 channels of at most 16 bits: a channel can be chosen
    };

    explicit CSinjoPlugin(platform::IUnknown* outer);
    ~CSinjoPlugin();

    static bool IsTypeSet(const DMO_MEDIA_TYPE& type);
    static StreamFormat FormatOf(const DMO_MEDIA_TYPE& type);
    static HRESULT CheckAudioType(const DMO_MEDIA_TYPE* proposed, const DMO_MEDIA_TYPE& opposite);
    HRESULT GetType(DWORD stream, DWORD typeIndex, const DMO_MEDIA_TYPE& opposite, DMO_MEDIA_TYPE* type);
    HRESULT SetType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags, DMO_MEDIA_TYPE* mine,
                    StreamFormat* myFormat, const DMO_MEDIA_TYPE& opposite);
    void ReleaseInput();
    void ReadChannelSelect();
    HRESULT ProcessSamples(platform::BYTE* out, const platform::BYTE* in, DWORD* bytes, DWORD framePhase);

    // Constant after construction.
    InnerUnknown m_inner;
    platform::IUnknown* const m_outer;  // the controlling IUnknown: the outer object or &m_inner

    std::atomic<platform::ULONG> m_refs{1};
    // Written by any thread, read by the streaming thread.
    std::atomic<bool> m_enabled{true};
    std::atomic<double> m_scaleFactor{1.0};

    // Streaming thread only (the host serialises these calls).
    DMO_MEDIA_TYPE m_inputType{};
    DMO_MEDIA_TYPE m_outputType{};
    StreamFormat m_inputFormat;
    StreamFormat m_outputFormat;
    platform::IMediaBuffer* m_inputBuffer = nullptr;  // one reference held while non-null
    const platform::BYTE* m_inputData = nullptr;
    DWORD m_inputConsumed = 0;  // bytes of m_inputBuffer already produced: where in a frame m_inputData is
    DWORD m_inputLength = 0;
    bool m_timeValid = false;
    REFERENCE_TIME m_timestamp = 0;
    uint32_t m_lastSourceRead = 0;
    ChannelSelect m_channelSelect = ChannelBoth;
    TickSource m_tickSource;
};

}  // namespace sinjoplugin
