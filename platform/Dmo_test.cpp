#include "platform/Dmo.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace platform {
namespace {

// An object whose references the media type functions must take and give back.
class Counted final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override { return static_cast<ULONG>(--refs); }
    int refs = 1;
};

TEST(MediaType, LayoutMatchesThePlatform) {
    EXPECT_EQ(offsetof(WAVEFORMATEX, nSamplesPerSec), 4u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, cbSize), 16u);
    EXPECT_EQ(offsetof(WAVEFORMATEXTENSIBLE, dwChannelMask), 20u);
    EXPECT_EQ(offsetof(WAVEFORMATEXTENSIBLE, SubFormat), 24u);
    EXPECT_EQ(offsetof(DMO_MEDIA_TYPE, lSampleSize), 40u);
    EXPECT_EQ(offsetof(DMO_MEDIA_TYPE, formattype), 44u);
    EXPECT_EQ(offsetof(DMO_OUTPUT_DATA_BUFFER, rtTimestamp), 16u);
}

TEST(MediaType, CopyIsDeepAndFreeGivesEverythingBack) {
    Counted unk;
    DMO_MEDIA_TYPE src{};
    ASSERT_EQ(MoInitMediaType(&src, sizeof(WAVEFORMATEX)), S_OK);
    src.majortype = MEDIATYPE_Audio;
    src.pUnk = &unk;
    src.pbFormat[0] = 42;

    DMO_MEDIA_TYPE copy{};
    ASSERT_EQ(MoCopyMediaType(&copy, &src), S_OK);
    EXPECT_EQ(copy.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(copy.cbFormat, sizeof(WAVEFORMATEX));
    ASSERT_NE(copy.pbFormat, src.pbFormat);
    EXPECT_EQ(copy.pbFormat[0], 42);
    EXPECT_EQ(unk.refs, 2);

    ASSERT_EQ(MoFreeMediaType(&copy), S_OK);
    EXPECT_EQ(copy.pbFormat, nullptr);
    EXPECT_EQ(copy.cbFormat, 0u);
    EXPECT_EQ(copy.pUnk, nullptr);
    EXPECT_EQ(unk.refs, 1);
    EXPECT_EQ(src.pbFormat[0], 42) << "the source keeps its block";

    DMO_MEDIA_TYPE* dup = nullptr;
    ASSERT_EQ(MoDuplicateMediaType(&dup, &src), S_OK);
    EXPECT_EQ(unk.refs, 2);
    EXPECT_EQ(MoDeleteMediaType(dup), S_OK);
    EXPECT_EQ(unk.refs, 1);

    src.pUnk = nullptr;
    MoFreeMediaType(&src);
    EXPECT_EQ(MoCopyMediaType(nullptr, &src), E_POINTER);
    EXPECT_EQ(MoFreeMediaType(nullptr), E_POINTER);
}

TEST(MemoryBuffer, LengthStaysWithinTheMaximum) {
    IMediaBuffer* buffer = nullptr;
    ASSERT_EQ(CreateMemoryBuffer(16, &buffer), S_OK);
    DWORD max = 0, length = 99;
    BYTE* data = nullptr;
    EXPECT_EQ(buffer->GetMaxLength(&max), S_OK);
    EXPECT_EQ(max, 16u);
    EXPECT_EQ(buffer->GetBufferAndLength(&data, &length), S_OK);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer->SetLength(17), E_INVALIDARG);
    EXPECT_EQ(buffer->SetLength(16), S_OK);
    EXPECT_EQ(buffer->GetBufferAndLength(nullptr, &length), S_OK);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(buffer->GetBufferAndLength(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(buffer->Release(), 0u);
}

}  // namespace
}  // namespace platform
