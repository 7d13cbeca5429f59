#include "plugin/CSinjoPlugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "plugin/TestSupport.h"

namespace sinjoplugin {
namespace {

using namespace platform;
using namespace sinjoplugin::test;

// A plug-in object on a fake clock, with the registry values it reads cleared.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearPluginRegistry();
        g_fakeTicks = 100000;
        ASSERT_EQ(CSinjoPlugin::CreateInstance(nullptr, IID_IMediaObject, reinterpret_cast<void**>(&dmo)), S_OK);
        plugin = static_cast<CSinjoPlugin*>(dmo);
        plugin->SetTickSource(&FakeTicks);
    }
    void TearDown() override {
        if (dmo != nullptr) {
            EXPECT_EQ(dmo->Release(), 0u);
        }
    }

    // Sets both types to PCM of the given shape.
    void SetTypes(WORD channels, WORD bits, WORD tag = WAVE_FORMAT_PCM, WORD validBits = 0, DWORD rate = 44100) {
        Type t;
        MakePcm(&t, channels, bits, rate, tag, validBits);
        ASSERT_EQ(dmo->SetInputType(0, &t.mt, 0), S_OK);
        ASSERT_EQ(dmo->SetOutputType(0, &t.mt, 0), S_OK);
    }

    // Pushes `in` through in one input and one output buffer of `outMax` bytes.
    std::vector<uint8_t> Process(const std::vector<uint8_t>& in, DWORD outMax = 0) {
        TestBuffer input(in);
        TestBuffer output = TestBuffer::Output(outMax != 0 ? outMax : static_cast<DWORD>(in.size()));
        EXPECT_EQ(dmo->ProcessInput(0, &input, 0, 0, 0), S_OK);
        DMO_OUTPUT_DATA_BUFFER record{&output, 0, 0, 0};
        DWORD status = 99;
        EXPECT_EQ(dmo->ProcessOutput(0, 1, &record, &status), S_OK);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(dmo->Flush(), S_OK);
        EXPECT_EQ(input.refs, 1) << "the input buffer must be released";
        EXPECT_EQ(output.refs, 1) << "the output buffer is never kept";
        return output.Contents();
    }

    IMediaObject* dmo = nullptr;
    CSinjoPlugin* plugin = nullptr;
};

std::vector<uint8_t> Samples16(std::initializer_list<uint16_t> samples) {
    std::vector<uint8_t> bytes;
    for (uint16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<uint8_t>(s >> 8));
    }
    return bytes;
}

// --- media types ------------------------------------------------------------------------------------

TEST_F(PluginTest, AcceptsPcmOfEightAndSixteenBitsAndExtensibleIntegerFormats) {
    struct Case {
        const char* what;
        WORD channels, bits, tag, valid;
    };
    const Case accepted[] = {
        {"8-bit stereo", 2, 8, WAVE_FORMAT_PCM, 0},
        {"16-bit stereo", 2, 16, WAVE_FORMAT_PCM, 0},
        {"16-bit mono", 1, 16, WAVE_FORMAT_PCM, 0},
        {"16-bit 6 channels", 6, 16, WAVE_FORMAT_PCM, 0},
        {"extensible 16/16", 2, 16, WAVE_FORMAT_EXTENSIBLE, 16},
        {"extensible 24/24", 2, 24, WAVE_FORMAT_EXTENSIBLE, 24},
        {"extensible 24/20", 2, 24, WAVE_FORMAT_EXTENSIBLE, 20},
        {"extensible 32/24", 2, 32, WAVE_FORMAT_EXTENSIBLE, 24},
        {"extensible 32/32", 2, 32, WAVE_FORMAT_EXTENSIBLE, 32},
    };
    for (const Case& c : accepted) {
        Type t;
        MakePcm(&t, c.channels, c.bits, 44100, c.tag, c.valid);
        EXPECT_EQ(dmo->SetInputType(0, &t.mt, DMO_SET_TYPEF_TEST_ONLY), S_OK) << c.what;
        EXPECT_EQ(dmo->SetOutputType(0, &t.mt, DMO_SET_TYPEF_TEST_ONLY), S_OK) << c.what;
    }
    DMO_MEDIA_TYPE current{};
    EXPECT_EQ(dmo->GetInputCurrentType(0, &current), DMO_E_TYPE_NOT_SET) << "test-only stores nothing";
}

TEST_F(PluginTest, RefusesFloatOddWidthsAndMalformedFormats) {
    struct Case {
        const char* what;
        void (*make)(Type*);
    };
    const Case refused[] = {
        {"IEEE float tag", [](Type* t) { MakePcm(t, 2, 32, 44100, WAVE_FORMAT_IEEE_FLOAT); }},
        {"extensible float", [](Type* t) {
             MakePcm(t, 2, 32, 44100, WAVE_FORMAT_EXTENSIBLE, 32, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
         }},
        {"24-bit plain PCM", [](Type* t) { MakePcm(t, 2, 24); }},
        {"32-bit plain PCM", [](Type* t) { MakePcm(t, 2, 32); }},
        {"12 bits", [](Type* t) { MakePcm(t, 2, 12, 44100, WAVE_FORMAT_EXTENSIBLE, 12); }},
        {"extensible 16 with 12 valid", [](Type* t) { MakePcm(t, 2, 16, 44100, WAVE_FORMAT_EXTENSIBLE, 12); }},
        {"extensible 24 with 18 valid", [](Type* t) { MakePcm(t, 2, 24, 44100, WAVE_FORMAT_EXTENSIBLE, 18); }},
        {"extensible 24 with 32 valid", [](Type* t) { MakePcm(t, 2, 24, 44100, WAVE_FORMAT_EXTENSIBLE, 32); }},
        {"extensible tag in an 18-byte block", [](Type* t) {
             MakePcm(t, 2, 16);
             t->wave()->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
         }},
        {"video major type", [](Type* t) {
             MakePcm(t, 2, 16);
             t->mt.majortype = GUID{0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
         }},
        {"other format type", [](Type* t) {
             MakePcm(t, 2, 16);
             t->mt.formattype = GUID_NULL;
         }},
        {"block shorter than a WAVEFORMATEX", [](Type* t) {
             MakePcm(t, 2, 16);
             t->mt.cbFormat = 17;
         }},
        {"no block", [](Type* t) {
             MakePcm(t, 2, 16);
             CoTaskMemFree(t->mt.pbFormat);
             t->mt.pbFormat = nullptr;
         }},
        {"no channels", [](Type* t) { MakePcm(t, 2, 16); t->wave()->nChannels = 0; }},
        {"no rate", [](Type* t) { MakePcm(t, 2, 16); t->wave()->nSamplesPerSec = 0; }},
        {"no byte rate", [](Type* t) { MakePcm(t, 2, 16); t->wave()->nAvgBytesPerSec = 0; }},
        {"no block alignment", [](Type* t) { MakePcm(t, 2, 16); t->wave()->nBlockAlign = 0; }},
        // A frame size that disagrees with channels x sample size would make the frame arithmetic
        // overrun the buffers.
        {"16-bit stereo with 2-byte frames", [](Type* t) { MakePcm(t, 2, 16); t->wave()->nBlockAlign = 2; }},
        {"16-bit stereo with 8-byte frames", [](Type* t) { MakePcm(t, 2, 16); t->wave()->nBlockAlign = 8; }},
    };
    for (const Case& c : refused) {
        Type t;
        c.make(&t);
        EXPECT_EQ(dmo->SetInputType(0, &t.mt, 0), DMO_E_TYPE_NOT_ACCEPTED) << c.what;
        EXPECT_EQ(dmo->SetOutputType(0, &t.mt, DMO_SET_TYPEF_TEST_ONLY), S_FALSE) << c.what;
    }
}

TEST_F(PluginTest, SecondStreamMustMatchTheFirstAndTypesOfferTheOpposite) {
    DMO_MEDIA_TYPE offered{};
    ASSERT_EQ(dmo->GetOutputType(0, 0, &offered), S_OK);
    EXPECT_EQ(offered.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(offered.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(offered.cbFormat, 0u);
    EXPECT_EQ(dmo->GetOutputType(0, 1, &offered), DMO_E_NO_MORE_ITEMS);
    EXPECT_EQ(dmo->GetOutputType(1, 0, &offered), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(dmo->GetOutputType(0, 0, nullptr), E_POINTER);

    Type in;
    MakePcm(&in, 2, 16, 44100);
    ASSERT_EQ(dmo->SetInputType(0, &in.mt, 0), S_OK);
    ASSERT_EQ(dmo->GetOutputType(0, 0, &offered), S_OK);
    ASSERT_EQ(offered.cbFormat, in.mt.cbFormat);
    EXPECT_NE(offered.pbFormat, in.mt.pbFormat) << "a copy, not the stored block";
    EXPECT_EQ(std::memcmp(offered.pbFormat, in.mt.pbFormat, in.mt.cbFormat), 0);
    MoFreeMediaType(&offered);

    Type other;
    MakePcm(&other, 2, 16, 48000);
    EXPECT_EQ(dmo->SetOutputType(0, &other.mt, 0), DMO_E_TYPE_NOT_ACCEPTED);
    MakePcm(&other, 1, 16, 44100);
    EXPECT_EQ(dmo->SetOutputType(0, &other.mt, 0), DMO_E_TYPE_NOT_ACCEPTED);
    MakePcm(&other, 2, 16, 44100, WAVE_FORMAT_EXTENSIBLE, 16);
    EXPECT_EQ(dmo->SetOutputType(0, &other.mt, 0), DMO_E_TYPE_NOT_ACCEPTED) << "format tag differs";
    EXPECT_EQ(dmo->SetOutputType(0, &in.mt, 0), S_OK);

    // Clearing the input lets a new input type be checked against the output only.
    EXPECT_EQ(dmo->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR), S_OK);
    DMO_MEDIA_TYPE current{};
    EXPECT_EQ(dmo->GetInputCurrentType(0, &current), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(dmo->SetInputType(0, nullptr, 0), E_POINTER);
    EXPECT_EQ(dmo->SetInputType(1, &in.mt, 0), DMO_E_INVALIDSTREAMINDEX);
}

TEST_F(PluginTest, SizeInfoFollowsTheFormatAndCallsBeforeTypesAreRefused) {
    DWORD size = 0, lookahead = 7, alignment = 0;
    EXPECT_EQ(dmo->GetInputSizeInfo(0, &size, &lookahead, &alignment), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(dmo->GetOutputSizeInfo(0, &size, &alignment), DMO_E_TYPE_NOT_SET);
    TestBuffer input(Samples16({1, 2}));
    EXPECT_EQ(dmo->ProcessInput(0, &input, 0, 0, 0), DMO_E_TYPE_NOT_SET);
    TestBuffer output = TestBuffer::Output(16);
    DMO_OUTPUT_DATA_BUFFER record{&output, 0, 0, 0};
    EXPECT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(input.refs, 1);

    SetTypes(2, 16);
    EXPECT_EQ(dmo->GetInputSizeInfo(0, &size, &lookahead, &alignment), S_OK);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(lookahead, 0u);
    EXPECT_EQ(alignment, 4u);
    EXPECT_EQ(dmo->GetOutputSizeInfo(0, &size, &alignment), S_OK);
    EXPECT_EQ(alignment, 4u);
    EXPECT_EQ(dmo->GetInputSizeInfo(1, &size, &lookahead, &alignment), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(dmo->GetInputMaxLatency(0, nullptr), E_NOTIMPL);
}

// --- samples ----------------------------------------------------------------------------------------

TEST_F(PluginTest, SixteenBitStereoPlaysTheSelectedChannelOnBothOutputs) {
    SetTypes(2, 16);
    const auto in = Samples16({0x1111, 0xAAAA, 0x2222, 0xBBBB, 0x3333, 0xCCCC, 0x4444, 0xDDDD, 0x5555, 0xEEEE,
                               0x6666, 0xFFFF, 0x7777, 0x0101, 0x8888, 0x0202, 0x9999, 0x0303});  // 9 frames
    struct Case {
        uint32_t value;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {ChannelLeft, Samples16({0x1111, 0x1111, 0x2222, 0x2222, 0x3333, 0x3333, 0x4444, 0x4444, 0x5555, 0x5555,
                                 0x6666, 0x6666, 0x7777, 0x7777, 0x8888, 0x8888, 0x9999, 0x9999})},
        {ChannelRight, Samples16({0xAAAA, 0xAAAA, 0xBBBB, 0xBBBB, 0xCCCC, 0xCCCC, 0xDDDD, 0xDDDD, 0xEEEE, 0xEEEE,
                                  0xFFFF, 0xFFFF, 0x0101, 0x0101, 0x0202, 0x0202, 0x0303, 0x0303})},
        {ChannelBoth, in},
        {7, in},  // any other value: both channels
    };
    for (const Case& c : cases) {
        SetAudioSource(c.value);
        g_fakeTicks += kChannelHandoffPollMs;
        EXPECT_EQ(Process(in), c.expected) << "AudioSource " << c.value;
    }
}

TEST_F(PluginTest, EightBitStereoPlaysTheSelectedChannel) {
    SetTypes(2, 8);
    const std::vector<uint8_t> in = {0x10, 0x80, 0x11, 0x81, 0x12, 0x82, 0x13, 0x83, 0x14, 0x84,
                                     0x15, 0x85, 0x16, 0x86, 0x17, 0x87, 0x18, 0x88, 0x19, 0x89,
                                     0x1A, 0x8A, 0x1B, 0x8B, 0x1C, 0x8C, 0x1D, 0x8D, 0x1E, 0x8E,
                                     0x1F, 0x8F, 0x20, 0x90};  // 17 frames: one past a whole vector
    std::vector<uint8_t> left, right;
    for (size_t i = 0; i < in.size(); i += 2) {
        left.insert(left.end(), {in[i], in[i]});
        right.insert(right.end(), {in[i + 1], in[i + 1]});
    }
    SetAudioSource(ChannelLeft);
    EXPECT_EQ(Process(in), left);
    SetAudioSource(ChannelRight);
    g_fakeTicks += kChannelHandoffPollMs;
    EXPECT_EQ(Process(in), right);
}

// Every length from one frame to past several of the widest vectors, so both the vector loop and the
// frames after it are compared with a plain frame-by-frame reference.
TEST_F(PluginTest, EveryLengthMatchesAFrameByFrameReference) {
    for (WORD bits : {8, 16}) {
        dmo->SetOutputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
        dmo->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
        SetTypes(2, bits);
        const size_t sample = bits / 8;
        for (uint32_t select : {ChannelLeft, ChannelRight}) {
            SetAudioSource(select);
            g_fakeTicks += kChannelHandoffPollMs;
            for (size_t frames = 1; frames <= 140; ++frames) {
                std::vector<uint8_t> in(frames * 2 * sample);
                for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 37 + frames);
                std::vector<uint8_t> expected(in.size());
                for (size_t f = 0; f < frames; ++f) {
                    const uint8_t* chosen = &in[(2 * f + (select == ChannelRight ? 1 : 0)) * sample];
                    std::memcpy(&expected[2 * f * sample], chosen, sample);
                    std::memcpy(&expected[(2 * f + 1) * sample], chosen, sample);
                }
                ASSERT_EQ(Process(in), expected) << bits << "-bit, " << frames << " frames, channel " << select;
            }
        }
    }
}

TEST_F(PluginTest, FormatsWithoutAChoosableChannelPassUnchanged) {
    struct Case {
        const char* what;
        WORD channels, bits, tag, valid;
    };
    const Case cases[] = {
        {"16-bit mono", 1, 16, WAVE_FORMAT_PCM, 0},
        {"24-bit stereo", 2, 24, WAVE_FORMAT_EXTENSIBLE, 24},
        {"32-bit stereo", 2, 32, WAVE_FORMAT_EXTENSIBLE, 32},
        {"16-bit 3 channels", 3, 16, WAVE_FORMAT_PCM, 0},
    };
    std::vector<uint8_t> in(48);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + 1);
    SetAudioSource(ChannelLeft);
    for (const Case& c : cases) {
        dmo->SetOutputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
        dmo->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
        SetTypes(c.channels, c.bits, c.tag, c.valid);
        EXPECT_EQ(Process(in), in) << c.what;
    }
    EXPECT_EQ(plugin->CurrentChannelSelect(), ChannelLeft) << "the selection was in force all along";
}

TEST_F(PluginTest, DisabledPluginPassesAudioUnchanged) {
    SetTypes(2, 16);
    SetAudioSource(ChannelRight);
    IWMPPluginEnable* enable = nullptr;
    ASSERT_EQ(dmo->QueryInterface(IID_IWMPPluginEnable, reinterpret_cast<void**>(&enable)), S_OK);
    BOOL state = FALSE;
    EXPECT_EQ(enable->GetEnable(&state), S_OK);
    EXPECT_EQ(state, TRUE);
    EXPECT_EQ(enable->GetEnable(nullptr), E_POINTER);
    const auto in = Samples16({1, 2, 3, 4});
    EXPECT_EQ(enable->SetEnable(FALSE), S_OK);
    EXPECT_EQ(Process(in), in);
    EXPECT_EQ(enable->SetEnable(TRUE), S_OK);
    EXPECT_EQ(Process(in), Samples16({2, 2, 4, 4}));
    enable->Release();
}

// --- partial output and time stamps -----------------------------------------------------------------

TEST_F(PluginTest, SmallOutputBufferTakesWholeFramesWithAChannelAndBytesWithout) {
    SetTypes(2, 16);
    const auto in = Samples16({0x11, 0xA1, 0x12, 0xA2, 0x13, 0xA3, 0x14, 0xA4});  // 16 bytes
    for (uint32_t select : {ChannelLeft, ChannelBoth}) {
        SetAudioSource(select);
        g_fakeTicks += kChannelHandoffPollMs;
        TestBuffer input(in);
        ASSERT_EQ(dmo->ProcessInput(0, &input, 0, 0, 0), S_OK);
        DWORD flags = 0;
        EXPECT_EQ(dmo->GetInputStatus(0, &flags), S_OK);
        EXPECT_EQ(flags, 0u) << "holding input";

        std::vector<uint8_t> all;
        int calls = 0;
        for (;; ++calls) {
            ASSERT_LT(calls, 10);
            TestBuffer output = TestBuffer::Output(10);
            DMO_OUTPUT_DATA_BUFFER record{&output, 0, 0, 0};
            ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
            if (calls == 0) {
                EXPECT_EQ(output.length, select == ChannelLeft ? 8u : 10u);
                EXPECT_NE(record.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE, 0u);
            }
            const auto got = output.Contents();
            all.insert(all.end(), got.begin(), got.end());
            if ((record.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE) == 0) break;
        }
        EXPECT_EQ(calls, 1) << "16 bytes take two 10-byte buffers";
        EXPECT_EQ(all, select == ChannelLeft ? Samples16({0x11, 0x11, 0x12, 0x12, 0x13, 0x13, 0x14, 0x14}) : in);
        EXPECT_EQ(input.refs, 1) << "released once used up";
        EXPECT_EQ(dmo->GetInputStatus(0, &flags), S_OK);
        EXPECT_EQ(flags, DMO_INPUT_STATUSF_ACCEPT_DATA);
    }
}

TEST_F(PluginTest, ChannelChosenAfterAPassThroughSplitAFrameKeepsTheStreamFrameAligned) {
    SetTypes(2, 16);
    SetAudioSource(ChannelBoth);
    TestBuffer input(Samples16({0x11, 0xA1, 0x12, 0xA2, 0x13, 0xA3, 0x14, 0xA4}));
    ASSERT_EQ(dmo->ProcessInput(0, &input, 0, 0, 0), S_OK);
    TestBuffer first = TestBuffer::Output(10);
    DMO_OUTPUT_DATA_BUFFER record{&first, 0, 0, 0};
    ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
    EXPECT_EQ(first.Contents(), Samples16({0x11, 0xA1, 0x12, 0xA2, 0x13}));

    SetAudioSource(ChannelLeft);
    g_fakeTicks += kChannelHandoffPollMs;
    TestBuffer second = TestBuffer::Output(10);
    record = DMO_OUTPUT_DATA_BUFFER{&second, 0, 0, 0};
    ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
    // The split frame's right sample as it was, then the last frame's left sample twice: 16 bytes in
    // all, so the next buffer's frames start where the host expects them.
    EXPECT_EQ(second.Contents(), Samples16({0xA3, 0x14, 0x14}));
    EXPECT_EQ(record.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE, 0u);
}

TEST_F(PluginTest, OutputBufferBelowOneFrameIsRefusedWithoutLosingInput) {
    SetTypes(2, 16);
    SetAudioSource(ChannelLeft);
    const auto in = Samples16({1, 2, 3, 4});
    TestBuffer input(in);
    ASSERT_EQ(dmo->ProcessInput(0, &input, 0, 0, 0), S_OK);
    for (DWORD size : {0u, 3u}) {
        TestBuffer tiny = TestBuffer::Output(size);
        DMO_OUTPUT_DATA_BUFFER record{&tiny, 0, 0, 0};
        EXPECT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), E_INVALIDARG) << size;
        EXPECT_EQ(record.dwStatus, 0u);
    }
    TestBuffer output = TestBuffer::Output(8);
    DMO_OUTPUT_DATA_BUFFER record{&output, 0, 0, 0};
    ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
    EXPECT_EQ(output.Contents(), Samples16({1, 1, 3, 3}));
    EXPECT_EQ(record.dwStatus, 0u);
}

TEST_F(PluginTest, TimeStampsAndLengthsAdvanceOverPartialOutputs) {
    SetTypes(2, 16);  // 176400 bytes a second
    SetAudioSource(ChannelLeft);
    TestBuffer input(std::vector<uint8_t>(1000));
    ASSERT_EQ(dmo->ProcessInput(0, &input, DMO_INPUT_DATA_BUFFERF_TIME | DMO_INPUT_DATA_BUFFERF_TIMELENGTH, 5000,
                                123),
              S_OK);
    // 400 bytes: 22675.7 units, 200 bytes: 11337.9 units, rounded to the nearest.
    struct Step {
        DWORD outMax;
        REFERENCE_TIME stamp, length;
        bool incomplete;
    };
    const Step steps[] = {{400, 5000, 22676, true}, {400, 27676, 22676, true}, {400, 50352, 11338, false}};
    for (const Step& s : steps) {
        TestBuffer output = TestBuffer::Output(s.outMax);
        DMO_OUTPUT_DATA_BUFFER record{&output, 0, -1, -1};
        ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
        EXPECT_EQ(record.rtTimestamp, s.stamp);
        EXPECT_EQ(record.rtTimelength, s.length);
        EXPECT_EQ(record.dwStatus, DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH |
                                       (s.incomplete ? DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE : 0u));
    }

    // Without a time stamp no time is reported.
    TestBuffer untimed(std::vector<uint8_t>(8));
    ASSERT_EQ(dmo->ProcessInput(0, &untimed, 0, 777, 0), S_OK);
    TestBuffer output = TestBuffer::Output(8);
    DMO_OUTPUT_DATA_BUFFER record{&output, 0, -1, -1};
    ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
    EXPECT_EQ(record.dwStatus, 0u);
    EXPECT_EQ(record.rtTimestamp, -1);
}

TEST_F(PluginTest, TimeLengthOfASlowFormatIsNotCutTo32BitsAndStampsDoNotOverflow) {
    SetTypes(1, 8, WAVE_FORMAT_PCM, 0, 1);  // one byte a second
    TestBuffer input(std::vector<uint8_t>(1000));
    const REFERENCE_TIME nearEnd = std::numeric_limits<REFERENCE_TIME>::max() - 5000000000;
    ASSERT_EQ(dmo->ProcessInput(0, &input, DMO_INPUT_DATA_BUFFERF_TIME, nearEnd, 0), S_OK);
    TestBuffer output = TestBuffer::Output(600);
    DMO_OUTPUT_DATA_BUFFER record{&output, 0, 0, 0};
    ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
    EXPECT_EQ(record.rtTimelength, 6000000000) << "600 s of audio";
    EXPECT_EQ(record.rtTimestamp, nearEnd);
    ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
    EXPECT_EQ(record.rtTimestamp, std::numeric_limits<REFERENCE_TIME>::max()) << "saturates";
}

// --- streaming state --------------------------------------------------------------------------------

TEST_F(PluginTest, HeldInputIsNeitherReplacedNorLostAndFlushLetsItGo) {
    SetTypes(2, 16);
    TestBuffer first(Samples16({1, 2}));
    TestBuffer second(Samples16({3, 4}));
    ASSERT_EQ(dmo->ProcessInput(0, &first, 0, 0, 0), S_OK);
    EXPECT_EQ(first.refs, 2);
    EXPECT_EQ(dmo->ProcessInput(0, &second, 0, 0, 0), DMO_E_NOTACCEPTING);
    EXPECT_EQ(second.refs, 1);
    EXPECT_EQ(dmo->Flush(), S_OK);
    EXPECT_EQ(first.refs, 1);
    ASSERT_EQ(dmo->ProcessInput(0, &second, 0, 0, 0), S_OK);
    EXPECT_EQ(dmo->FreeStreamingResources(), S_OK);
    EXPECT_EQ(second.refs, 1);

    // Nothing held: S_FALSE and an empty output.
    TestBuffer output = TestBuffer::Output(8);
    output.length = 5;
    DMO_OUTPUT_DATA_BUFFER record{&output, 9, 0, 0};
    EXPECT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_FALSE);
    EXPECT_EQ(output.length, 0u);
    EXPECT_EQ(record.dwStatus, 0u);
    EXPECT_EQ(dmo->ProcessOutput(0, 2, &record, nullptr), E_INVALIDARG);
    EXPECT_EQ(dmo->ProcessOutput(0, 1, nullptr, nullptr), E_POINTER);
}

TEST_F(PluginTest, BufferFailuresAreReturnedAndLeaveTheInputAsItWas) {
    SetTypes(2, 16);
    SetAudioSource(ChannelRight);
    const auto in = Samples16({1, 2, 3, 4});
    TestBuffer broken(in);
    broken.failGetBuffer = E_FAIL;
    EXPECT_EQ(dmo->ProcessInput(0, &broken, 0, 0, 0), E_FAIL);
    EXPECT_EQ(broken.refs, 1);

    TestBuffer input(in);
    ASSERT_EQ(dmo->ProcessInput(0, &input, DMO_INPUT_DATA_BUFFERF_TIME, 100, 0), S_OK);
    const HRESULT failure = MakeHresult(0x80070099u);
    for (int which = 0; which < 3; ++which) {
        TestBuffer output = TestBuffer::Output(8);
        (which == 0 ? output.failGetBuffer : which == 1 ? output.failGetMaxLength : output.failSetLength) = failure;
        DMO_OUTPUT_DATA_BUFFER record{&output, 0, 0, 0};
        EXPECT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), failure) << which;
    }
    TestBuffer output = TestBuffer::Output(8);
    DMO_OUTPUT_DATA_BUFFER record{&output, 0, 0, 0};
    ASSERT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), S_OK);
    EXPECT_EQ(output.Contents(), Samples16({2, 2, 4, 4}));
    EXPECT_EQ(record.rtTimestamp, 100) << "the stamp did not advance on the failed calls";
}

TEST_F(PluginTest, InputTypeClearedWhileHoldingInputIsRefusedNotReadFrom) {
    SetTypes(2, 16);
    TestBuffer input(Samples16({1, 2}));
    ASSERT_EQ(dmo->ProcessInput(0, &input, 0, 0, 0), S_OK);
    ASSERT_EQ(dmo->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR), S_OK);
    TestBuffer output = TestBuffer::Output(8);
    DMO_OUTPUT_DATA_BUFFER record{&output, 0, 0, 0};
    EXPECT_EQ(dmo->ProcessOutput(0, 1, &record, nullptr), DMO_E_TYPE_NOT_SET);
    EXPECT_EQ(dmo->Flush(), S_OK);
    EXPECT_EQ(input.refs, 1);
}

// --- the channel selection poll ---------------------------------------------------------------------

TEST_F(PluginTest, RegistryChangeIsPickedUpOnTheFirstCallAtLeast100MsAfterTheLastRead) {
    SetTypes(2, 16);
    const auto in = Samples16({0x10, 0x20});
    const auto left = Samples16({0x10, 0x10});
    const auto right = Samples16({0x20, 0x20});

    SetAudioSource(ChannelLeft);
    g_fakeTicks = 5000;
    EXPECT_EQ(Process(in), left) << "first call reads";
    SetAudioSource(ChannelRight);
    g_fakeTicks = 5050;
    EXPECT_EQ(Process(in), left);
    g_fakeTicks = 5099;
    EXPECT_EQ(Process(in), left) << "99 ms after the read: not yet";
    g_fakeTicks = 5100;
    EXPECT_EQ(Process(in), right) << "100 ms after the read";
    SetAudioSource(ChannelLeft);
    g_fakeTicks = 5150;
    EXPECT_EQ(Process(in), right) << "measured from the last read, not the first";
    g_fakeTicks = 5200;
    EXPECT_EQ(Process(in), left);

    // Across the wrap of the 32-bit tick count.
    g_fakeTicks = 0xFFFFFFC0u;
    EXPECT_EQ(Process(in), left);
    SetAudioSource(ChannelRight);
    g_fakeTicks = 0x00000010u;  // 80 ms later
    EXPECT_EQ(Process(in), left);
    g_fakeTicks = 0x00000024u;  // 100 ms later
    EXPECT_EQ(Process(in), right);
}

TEST_F(PluginTest, UnreadableValuesKeepTheSelectionInForce) {
    SetTypes(2, 16);
    const auto in = Samples16({0x10, 0x20});
    SetAudioSource(ChannelRight);
    EXPECT_EQ(Process(in), Samples16({0x20, 0x20}));
    struct Change {
        const char* what;
        void (*apply)();
    };
    const Change changes[] = {
        {"value deleted", [] { RegDeleteValue(RegRoot::CurrentUser, kChannelHandoffKey, kChannelHandoffValue); }},
        {"key deleted", [] { RegDeleteTree(RegRoot::CurrentUser, kChannelHandoffKey); }},
        {"text longer than 4 bytes", [] {
             RegSetString(RegRoot::CurrentUser, kChannelHandoffKey, kChannelHandoffValue, L"12");
         }},
    };
    for (const Change& c : changes) {
        c.apply();
        g_fakeTicks += kChannelHandoffPollMs;
        EXPECT_EQ(Process(in), Samples16({0x20, 0x20})) << c.what;
    }
    // A one-character text is 4 bytes ("1" and its terminator) and reads as 0x31: both channels.
    RegSetString(RegRoot::CurrentUser, kChannelHandoffKey, kChannelHandoffValue, L"1");
    g_fakeTicks += kChannelHandoffPollMs;
    EXPECT_EQ(Process(in), in);
}

// --- the object -------------------------------------------------------------------------------------

TEST_F(PluginTest, ScaleFactorComesFromTheSettingAtCreation) {
    struct Case {
        const char* what;
        void (*store)();
        double expected;
    };
    const Case cases[] = {
        {"missing", [] {}, 1.0},
        {"16384", [] { RegSetDword(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, 16384); }, 0.25},
        {"65536", [] { RegSetDword(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, 65536); }, 1.0},
        {"longer than 4 bytes", [] {
             RegSetString(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, L"0.5");
         }, 1.0},
    };
    for (const Case& c : cases) {
        ClearPluginRegistry();
        c.store();
        ISinjoPlugin* object = nullptr;
        ASSERT_EQ(CSinjoPlugin::CreateInstance(nullptr, IID_ISinjoPlugin, reinterpret_cast<void**>(&object)), S_OK);
        double factor = -1;
        EXPECT_EQ(object->get_ScaleFactor(&factor), S_OK);
        EXPECT_DOUBLE_EQ(factor, c.expected) << c.what;
        EXPECT_EQ(object->put_ScaleFactor(3.5), S_OK) << "no range check on the object";
        object->get_ScaleFactor(&factor);
        EXPECT_EQ(factor, 3.5);
        EXPECT_EQ(object->get_ScaleFactor(nullptr), E_POINTER);
        object->Release();
    }
}

TEST_F(PluginTest, GetPagesNamesThePropertyPage) {
    ISpecifyPropertyPages* specify = nullptr;
    ASSERT_EQ(dmo->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify)), S_OK);
    CAUUID pages{};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    EXPECT_EQ(pages.pElems[0], CLSID_SinjoPluginPropPage);
    CoTaskMemFree(pages.pElems);
    specify->Release();
}

// An outer object that counts the references the aggregated plug-in hands to it.
class Outer final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown) {
            *object = this;
            ++refs;
            return S_OK;
        }
        return inner->QueryInterface(iid, object);
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override { return static_cast<ULONG>(--refs); }
    IUnknown* inner = nullptr;
    int refs = 1;
};

TEST_F(PluginTest, AggregatedObjectDelegatesIdentityAndCountsToTheOuterObject) {
    Outer outer;
    void* object = nullptr;
    EXPECT_EQ(CSinjoPlugin::CreateInstance(&outer, IID_IMediaObject, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CSinjoPlugin::CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(outer.refs, 1) << "the inner unknown counts itself";

    IMediaObject* media = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IMediaObject, reinterpret_cast<void**>(&media)), S_OK);
    EXPECT_EQ(outer.refs, 2) << "interfaces of an aggregate count on the outer object";
    IUnknown* identity = nullptr;
    ASSERT_EQ(media->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, &outer) << "identity is the outer object's";
    identity->Release();
    media->Release();
    EXPECT_EQ(outer.refs, 1);
    EXPECT_EQ(outer.inner->Release(), 0u);
}

}  // namespace
}  // namespace sinjoplugin
