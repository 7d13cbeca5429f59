// DmoChain: the DSP plug-ins of the media player's audio path, driven as media objects.
//
// The chain loads every DSP plug-in that the plug-in registrar recorded (ListDspPlugins, lowest
// priority value first) by class id through in-process activation, gives each the stream's format as
// both its input and its output type (16-bit interleaved PCM), and then passes every block of audio
// through them in order: ProcessInput with a buffer holding the block, then ProcessOutput into fresh
// output buffers until the plug-in has nothing more (S_FALSE, or a status without the INCOMPLETE
// flag). What one plug-in gives out is what the next one takes in.
//
// A plug-in that cannot be created, or that refuses the format, is left out of the chain; one that
// fails while streaming is bypassed for the rest of the stream. Either way playback goes on, and one
// line on standard error says so (once per plug-in and kind of trouble for the life of the process,
// so a broken plug-in does not fill the log song after song).
//
// Ownership: the chain holds one reference to each plug-in object and releases it in Release() or
// its destructor. Buffers handed to a plug-in are reference counted; the chain never reuses one that
// a plug-in may still hold.
//
// Threads: not thread-safe. Its owner (the GStreamer element of the audio path) calls it from one
// thread at a time, under its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Com.h"
#include "platform/Dmo.h"
#include "platform/WmpPlugins.h"

namespace platform::media {

// The stream's audio format: always 16-bit signed little-endian interleaved samples.
struct PcmFormat {
    int channels = 0;
    int rate = 0;
    uint64_t channelMask = 0;  // speaker positions (SPEAKER_* bits) for more than two channels; 0 unknown

    int BlockAlign() const { return channels * 2; }
};

// Builds the media type that describes `format` for a plug-in: MEDIATYPE_Audio / MEDIASUBTYPE_PCM with
// a WAVEFORMATEX block (WAVE_FORMAT_PCM) for one or two channels, or a WAVEFORMATEXTENSIBLE block for
// more. The caller frees it with MoFreeMediaType.
HRESULT MakePcmMediaType(const PcmFormat& format, DMO_MEDIA_TYPE* type);

class DmoChain final {
public:
    DmoChain() = default;
    ~DmoChain();
    DmoChain(const DmoChain&) = delete;
    DmoChain& operator=(const DmoChain&) = delete;

    // Creates the plug-ins recorded in the registry (replacing any loaded before).
    void Load();
    // Same with the given records, in their order (tests, or a host with its own list).
    void Load(const std::vector<DspPluginRecord>& records);
    bool IsLoaded() const { return m_loaded; }

    // Gives every loaded plug-in `format` as its input and output type; the ones that refuse it are
    // left out until the next SetFormat. Held audio is flushed first. Returns the number of plug-ins
    // in the chain afterwards.
    size_t SetFormat(const PcmFormat& format);

    // Runs one block of audio (whole frames) through the chain and appends the result to *out.
    // `time` is the block's start in 100-ns units, or negative when it has none. With no plug-in in
    // the chain the block is copied unchanged.
    void Process(const uint8_t* data, size_t size, int64_t time, std::vector<uint8_t>* out);

    // Drops what the plug-ins hold (a seek or flush): Flush on each.
    void Flush();
    // End of stream: asks each plug-in in turn for what it still holds (Discontinuity, then
    // ProcessOutput), passing it down the chain; the result is appended to *out.
    void Drain(std::vector<uint8_t>* out);

    // Releases every plug-in (FreeStreamingResources, then the reference).
    void Release();

    // Plug-ins currently in the chain, in order.
    size_t ActiveCount() const;
    std::vector<std::wstring> ActiveNames() const;

    // Forgets which troubles were already reported, so tests can see the messages again.
    static void ResetReportedForTests();

private:
    struct Stage {
        ComPtr<IMediaObject> dmo;
        CLSID clsid{};
        std::wstring name;
        bool active = false;  // typed and not failed
        DWORD minOutput = 0;  // the plug-in's output size hint
    };

    // Runs one stage; false when the plug-in failed (it is then bypassed and *out is untouched).
    bool RunStage(Stage& stage, const std::vector<uint8_t>& in, int64_t time, std::vector<uint8_t>* out);
    // ProcessOutput until the plug-in has nothing more; appends to *out. The plug-in's failure, else S_OK.
    HRESULT Pull(Stage& stage, size_t hint, std::vector<uint8_t>* out);
    void Fail(Stage& stage, const char* call, HRESULT hr);

    std::vector<Stage> m_stages;
    bool m_loaded = false;
    PcmFormat m_format;
};

}  // namespace platform::media
