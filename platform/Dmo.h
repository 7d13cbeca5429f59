// The media-object stand-in: the types, codes and functions through which a host pushes audio into a
// DSP plug-in and pulls it out again.
//
// Layouts, constants and GUIDs have the platform's values, so a plug-in written against them behaves
// as its author expects. The format records are packed exactly as on the platform (WAVEFORMATEX is 18
// bytes, WAVEFORMATEXTENSIBLE 40) because hosts hand them over as raw format blocks.
//
// How a host drives an IMediaObject (one input, one output stream):
//   1. SetInputType / SetOutputType with a DMO_MEDIA_TYPE whose format block is a WAVEFORMATEX;
//   2. for each buffer of audio: ProcessInput(0, buffer, flags, time, length), then ProcessOutput with
//      one DMO_OUTPUT_DATA_BUFFER until its status lacks DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
//   3. Flush when seeking, FreeStreamingResources when stopping.
// The host calls the streaming methods from one thread at a time.
//
// Ownership: a DMO_MEDIA_TYPE owns its format block (task allocator) and one reference to pUnk; copy
// it with MoCopyMediaType and free it with MoFreeMediaType. IMediaBuffer objects are reference counted;
// a plug-in that keeps one between calls holds a reference.
#pragma once

#include <cstdint>

#include "platform/Com.h"

namespace platform {

// --- format blocks -----------------------------------------------------------------------------------
#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;  // bytes of extra format information after these 18
};

struct WAVEFORMATEXTENSIBLE {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

constexpr DWORD SPEAKER_FRONT_LEFT = 0x1;
constexpr DWORD SPEAKER_FRONT_RIGHT = 0x2;

// --- media types ---------------------------------------------------------------------------------------
struct DMO_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

// A type/subtype pair, as plug-ins list the types they handle.
struct DMO_PARTIAL_MEDIATYPE {
    GUID type;
    GUID subtype;
};

// 'auds'
constexpr GUID MEDIATYPE_Audio{0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIASUBTYPE_PCM{0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIASUBTYPE_IEEE_FLOAT{0x00000003, 0x0000, 0x0010,
                                       {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID FORMAT_WaveFormatEx{0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID KSDATAFORMAT_SUBTYPE_PCM{0x00000001, 0x0000, 0x0010,
                                        {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT{0x00000003, 0x0000, 0x0010,
                                               {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Fills *type with zeros and gives it a zeroed format block of `formatBytes` (none for 0).
// E_POINTER for a null type, E_OUTOFMEMORY when the block cannot be allocated.
HRESULT MoInitMediaType(DMO_MEDIA_TYPE* type, DWORD formatBytes);
// Makes *dest an independent copy of *src: its own format block and its own reference to pUnk. *dest
// is overwritten without being freed; on failure it is left zeroed.
HRESULT MoCopyMediaType(DMO_MEDIA_TYPE* dest, const DMO_MEDIA_TYPE* src);
// Frees the format block and releases pUnk, leaving cbFormat, pbFormat and pUnk zero. The record
// itself is not freed.
HRESULT MoFreeMediaType(DMO_MEDIA_TYPE* type);
// A task-allocated record with a format block of `formatBytes`; free with MoDeleteMediaType.
HRESULT MoCreateMediaType(DMO_MEDIA_TYPE** type, DWORD formatBytes);
HRESULT MoDeleteMediaType(DMO_MEDIA_TYPE* type);
HRESULT MoDuplicateMediaType(DMO_MEDIA_TYPE** dest, const DMO_MEDIA_TYPE* src);

// --- result codes ------------------------------------------------------------------------------------
constexpr HRESULT DMO_E_INVALIDSTREAMINDEX = MakeHresult(0x80040201u);
constexpr HRESULT DMO_E_INVALIDTYPE = MakeHresult(0x80040202u);
constexpr HRESULT DMO_E_TYPE_NOT_SET = MakeHresult(0x80040203u);
constexpr HRESULT DMO_E_NOTACCEPTING = MakeHresult(0x80040204u);
constexpr HRESULT DMO_E_TYPE_NOT_ACCEPTED = MakeHresult(0x80040205u);
constexpr HRESULT DMO_E_NO_MORE_ITEMS = MakeHresult(0x80040206u);

// --- flags -------------------------------------------------------------------------------------------
// ProcessInput flags
constexpr DWORD DMO_INPUT_DATA_BUFFERF_SYNCPOINT = 0x1;
constexpr DWORD DMO_INPUT_DATA_BUFFERF_TIME = 0x2;
constexpr DWORD DMO_INPUT_DATA_BUFFERF_TIMELENGTH = 0x4;
// DMO_OUTPUT_DATA_BUFFER::dwStatus
constexpr DWORD DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT = 0x1;
constexpr DWORD DMO_OUTPUT_DATA_BUFFERF_TIME = 0x2;
constexpr DWORD DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH = 0x4;
constexpr DWORD DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE = 0x01000000;
// GetInputStatus
constexpr DWORD DMO_INPUT_STATUSF_ACCEPT_DATA = 0x1;
// SetInputType / SetOutputType flags
constexpr DWORD DMO_SET_TYPEF_TEST_ONLY = 0x1;
constexpr DWORD DMO_SET_TYPEF_CLEAR = 0x2;
// ProcessOutput flags
constexpr DWORD DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER = 0x1;
// GetInputStreamInfo flags
constexpr DWORD DMO_INPUT_STREAMF_WHOLE_SAMPLES = 0x1;
constexpr DWORD DMO_INPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER = 0x2;
constexpr DWORD DMO_INPUT_STREAMF_FIXED_SAMPLE_SIZE = 0x4;
constexpr DWORD DMO_INPUT_STREAMF_HOLDS_BUFFERS = 0x8;
// GetOutputStreamInfo flags
constexpr DWORD DMO_OUTPUT_STREAMF_WHOLE_SAMPLES = 0x1;
constexpr DWORD DMO_OUTPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER = 0x2;
constexpr DWORD DMO_OUTPUT_STREAMF_FIXED_SAMPLE_SIZE = 0x4;
constexpr DWORD DMO_OUTPUT_STREAMF_DISCARDABLE = 0x8;
constexpr DWORD DMO_OUTPUT_STREAMF_OPTIONAL = 0x10;

// --- interfaces --------------------------------------------------------------------------------------
// A block of memory with a current length and a maximum length.
class IMediaBuffer : public IUnknown {
public:
    virtual HRESULT SetLength(DWORD length) = 0;  // E_INVALIDARG above the maximum
    virtual HRESULT GetMaxLength(DWORD* maxLength) = 0;
    // Either out-pointer may be null; both null gives E_POINTER.
    virtual HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) = 0;

protected:
    ~IMediaBuffer() = default;
};

// One output buffer of a ProcessOutput call, with what the object reports about it.
struct DMO_OUTPUT_DATA_BUFFER {
    IMediaBuffer* pBuffer;
    DWORD dwStatus;
    REFERENCE_TIME rtTimestamp;
    REFERENCE_TIME rtTimelength;
};

// The media object. Methods are declared in the platform's vtable order.
class IMediaObject : public IUnknown {
public:
    virtual HRESULT GetStreamCount(DWORD* inputStreams, DWORD* outputStreams) = 0;
    virtual HRESULT GetInputStreamInfo(DWORD stream, DWORD* flags) = 0;
    virtual HRESULT GetOutputStreamInfo(DWORD stream, DWORD* flags) = 0;
    virtual HRESULT GetInputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetOutputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) = 0;
    virtual HRESULT SetInputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) = 0;
    virtual HRESULT SetOutputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) = 0;
    virtual HRESULT GetInputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetOutputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetInputSizeInfo(DWORD stream, DWORD* size, DWORD* maxLookahead, DWORD* alignment) = 0;
    virtual HRESULT GetOutputSizeInfo(DWORD stream, DWORD* size, DWORD* alignment) = 0;
    virtual HRESULT GetInputMaxLatency(DWORD stream, REFERENCE_TIME* maxLatency) = 0;
    virtual HRESULT SetInputMaxLatency(DWORD stream, REFERENCE_TIME maxLatency) = 0;
    virtual HRESULT Flush() = 0;
    virtual HRESULT Discontinuity(DWORD stream) = 0;
    virtual HRESULT AllocateStreamingResources() = 0;
    virtual HRESULT FreeStreamingResources() = 0;
    virtual HRESULT GetInputStatus(DWORD stream, DWORD* flags) = 0;
    virtual HRESULT ProcessInput(DWORD stream, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME timestamp,
                                 REFERENCE_TIME timelength) = 0;
    virtual HRESULT ProcessOutput(DWORD flags, DWORD outputBufferCount, DMO_OUTPUT_DATA_BUFFER* outputBuffers,
                                  DWORD* status) = 0;
    virtual HRESULT Lock(LONG lock) = 0;

protected:
    ~IMediaObject() = default;
};

constexpr IID IID_IMediaBuffer{0x59EFF8B9, 0x938C, 0x4A26, {0x82, 0xF2, 0x95, 0xCB, 0x84, 0xCD, 0xC8, 0x37}};
constexpr IID IID_IMediaObject{0xD8AD0F58, 0x5494, 0x4102, {0x97, 0xC5, 0xEC, 0x79, 0x8E, 0x59, 0xBC, 0xF4}};

// --- a plain buffer for hosts and tests -------------------------------------------------------------
// An IMediaBuffer over memory it owns. Create with CreateMemoryBuffer; starts with length 0.
// Not thread-safe apart from its reference count.
HRESULT CreateMemoryBuffer(DWORD maxLength, IMediaBuffer** buffer);

}  // namespace platform
