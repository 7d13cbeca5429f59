#include "platform/media/DmoChain.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/Registry.h"
#include "platform/media/FakeDmo.h"

namespace platform::media {
namespace {

using sinjo_test::FakeClsid;
using sinjo_test::FakeDmoConfig;
using sinjo_test::InstallFakeDmo;

const PcmFormat kStereo{2, 44100, 0};

std::vector<uint8_t> Frames(std::initializer_list<std::pair<int16_t, int16_t>> frames) {
    std::vector<uint8_t> bytes;
    for (const auto& [l, r] : frames) {
        uint8_t b[4];
        std::memcpy(b, &l, 2);
        std::memcpy(b + 2, &r, 2);
        bytes.insert(bytes.end(), b, b + 4);
    }
    return bytes;
}

DspPluginRecord Record(uint8_t n, const wchar_t* name) {
    DspPluginRecord record;
    record.clsid = FakeClsid(n);
    record.friendlyName = name;
    return record;
}

class DmoChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        DmoChain::ResetReportedForTests();
        RegDeleteTree(RegRoot::CurrentUser, kDspPluginsKey);
    }
};

TEST_F(DmoChainTest, RecordedPluginsRunInPriorityOrderEachOnTheOutputOfTheOneBefore) {
    FakeDmoConfig& swap = InstallFakeDmo(1);
    swap.op = FakeDmoConfig::Op::Swap;
    FakeDmoConfig& add = InstallFakeDmo(2);
    add.op = FakeDmoConfig::Op::AddLeft;
    add.add = 100;
    const std::vector<uint8_t> in = Frames({{1, 2}, {3, 4}});

    // Swap first: (L, R) -> (R, L) -> (R + 100, L).
    ASSERT_EQ(sinjo_test::RecordDspPlugin(FakeClsid(1), L"swap", 1), S_OK);
    ASSERT_EQ(sinjo_test::RecordDspPlugin(FakeClsid(2), L"add", 2), S_OK);
    {
        DmoChain chain;
        chain.Load();
        ASSERT_EQ(chain.SetFormat(kStereo), 2u);
        EXPECT_EQ(chain.ActiveNames(), (std::vector<std::wstring>{L"swap", L"add"}));
        std::vector<uint8_t> out;
        chain.Process(in.data(), in.size(), 5000, &out);
        EXPECT_EQ(out, Frames({{102, 1}, {104, 3}}));
    }
    // Priorities the other way round: (L + 100, R) -> (R, L + 100).
    ASSERT_EQ(sinjo_test::RecordDspPlugin(FakeClsid(1), L"swap", 9), S_OK);
    DmoChain chain;
    chain.Load();
    ASSERT_EQ(chain.SetFormat(kStereo), 2u);
    std::vector<uint8_t> out;
    chain.Process(in.data(), in.size(), 5000, &out);
    EXPECT_EQ(out, Frames({{2, 101}, {4, 103}}));
    EXPECT_EQ(add.lastTime.load(), 5000) << "the block's time stamp reaches the plug-in";
}

TEST_F(DmoChainTest, PluginsThatCannotLoadOrRefuseTheFormatAreSkippedWithOneMessageEach) {
    InstallFakeDmo(3).op = FakeDmoConfig::Op::Swap;
    InstallFakeDmo(4).refuseTypes = true;
    const std::vector<DspPluginRecord> records = {Record(3, L"good"), Record(4, L"picky"),
                                                  Record(77, L"missing")};  // 77: no such class
    const std::vector<uint8_t> in = Frames({{1, 2}});

    ::testing::internal::CaptureStderr();
    for (int song = 0; song < 3; ++song) {
        DmoChain chain;
        chain.Load(records);
        ASSERT_EQ(chain.SetFormat(kStereo), 1u);
        EXPECT_EQ(chain.ActiveNames(), std::vector<std::wstring>{L"good"});
        std::vector<uint8_t> out;
        chain.Process(in.data(), in.size(), -1, &out);
        EXPECT_EQ(out, Frames({{2, 1}}));
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("\"picky\""), 1u) << err;
    EXPECT_EQ(count("\"missing\""), 1u) << err;
    EXPECT_EQ(count("\"good\""), 0u) << err;
    EXPECT_NE(err.find("refuses 16-bit PCM, 2 channel(s), 44100 Hz"), std::string::npos) << err;

    // A format this plug-in refuses (mono) leaves it out; audio then passes unchanged.
    DmoChain chain;
    chain.Load(records);
    EXPECT_EQ(chain.SetFormat(PcmFormat{1, 8000, 0}), 0u);
    const std::vector<uint8_t> mono = {1, 2, 3, 4};
    std::vector<uint8_t> out;
    chain.Process(mono.data(), mono.size(), -1, &out);
    EXPECT_EQ(out, mono);
}

TEST_F(DmoChainTest, OutputGivenInPiecesIsCollectedWhole) {
    FakeDmoConfig& config = InstallFakeDmo(5);
    config.op = FakeDmoConfig::Op::Swap;
    config.maxOutputPerCall = 12;  // three frames per pull
    DmoChain chain;
    chain.Load({Record(5, L"slow")});
    ASSERT_EQ(chain.SetFormat(kStereo), 1u);
    std::vector<uint8_t> in;
    std::vector<uint8_t> expected;
    for (int16_t i = 0; i < 1000; ++i) {
        const auto frame = Frames({{i, static_cast<int16_t>(-i)}});
        const auto swapped = Frames({{static_cast<int16_t>(-i), i}});
        in.insert(in.end(), frame.begin(), frame.end());
        expected.insert(expected.end(), swapped.begin(), swapped.end());
    }
    std::vector<uint8_t> out;
    chain.Process(in.data(), in.size(), 0, &out);
    EXPECT_EQ(out, expected);
    // Nothing is left behind for the next block.
    out.clear();
    chain.Process(in.data(), 4, 0, &out);
    EXPECT_EQ(out, Frames({{0, 0}}));
}

TEST_F(DmoChainTest, APluginFailingWhileStreamingIsBypassedAndTheRestKeepsWorking) {
    FakeDmoConfig& broken = InstallFakeDmo(6);
    broken.failProcessOutput = true;
    FakeDmoConfig& add = InstallFakeDmo(7);
    add.op = FakeDmoConfig::Op::AddLeft;
    add.add = 1;
    DmoChain chain;
    chain.Load({Record(6, L"broken"), Record(7, L"add")});
    ASSERT_EQ(chain.SetFormat(kStereo), 2u);
    const std::vector<uint8_t> in = Frames({{10, 20}});
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> out;
        chain.Process(in.data(), in.size(), -1, &out);
        EXPECT_EQ(out, Frames({{11, 20}})) << "block " << i;
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\"broken\""), std::string::npos);
    EXPECT_EQ(err.find("\"broken\"", err.find("\"broken\"") + 1), std::string::npos) << "one message: " << err;
    EXPECT_EQ(chain.ActiveNames(), std::vector<std::wstring>{L"add"});
}

TEST_F(DmoChainTest, FlushReachesThePluginsAndReleaseLetsThemGo) {
    FakeDmoConfig& config = InstallFakeDmo(8);
    const int aliveBefore = config.alive;
    {
        DmoChain chain;
        chain.Load({Record(8, L"a"), Record(8, L"b")});
        EXPECT_EQ(config.alive, aliveBefore + 2);
        ASSERT_EQ(chain.SetFormat(kStereo), 2u);
        const int flushes = config.flushes;
        chain.Flush();
        EXPECT_EQ(config.flushes, flushes + 2);
        chain.Release();
        EXPECT_EQ(config.alive, aliveBefore);
        EXPECT_EQ(chain.ActiveCount(), 0u);
        chain.Load({Record(8, L"a")});
    }
    EXPECT_EQ(config.alive, aliveBefore) << "the destructor releases what is still loaded";
}

TEST(PcmMediaType, DescribesTheStreamAsThePlatformDoes) {
    struct Case {
        PcmFormat format;
        WORD tag;
        DWORD formatBytes;
    };
    const Case cases[] = {
        {{1, 22050, 0}, WAVE_FORMAT_PCM, 18},
        {{2, 44100, 0}, WAVE_FORMAT_PCM, 18},
        {{6, 48000, 0x3F}, WAVE_FORMAT_EXTENSIBLE, 40},
    };
    for (const Case& c : cases) {
        DMO_MEDIA_TYPE type{};
        ASSERT_EQ(MakePcmMediaType(c.format, &type), S_OK);
        EXPECT_EQ(type.majortype, MEDIATYPE_Audio);
        EXPECT_EQ(type.subtype, MEDIASUBTYPE_PCM);
        EXPECT_EQ(type.formattype, FORMAT_WaveFormatEx);
        ASSERT_EQ(type.cbFormat, c.formatBytes);
        WAVEFORMATEXTENSIBLE wave{};
        std::memcpy(&wave, type.pbFormat, type.cbFormat);
        EXPECT_EQ(wave.Format.wFormatTag, c.tag);
        EXPECT_EQ(wave.Format.nChannels, c.format.channels);
        EXPECT_EQ(wave.Format.nSamplesPerSec, static_cast<DWORD>(c.format.rate));
        EXPECT_EQ(wave.Format.nBlockAlign, c.format.channels * 2);
        EXPECT_EQ(wave.Format.nAvgBytesPerSec, static_cast<DWORD>(c.format.rate * c.format.channels * 2));
        EXPECT_EQ(wave.Format.wBitsPerSample, 16);
        EXPECT_EQ(type.lSampleSize, static_cast<ULONG>(c.format.channels * 2));
        if (c.tag == WAVE_FORMAT_EXTENSIBLE) {
            EXPECT_EQ(wave.Format.cbSize, 22);
            EXPECT_EQ(wave.Samples.wValidBitsPerSample, 16);
            EXPECT_EQ(wave.dwChannelMask, 0x3Fu);
            EXPECT_EQ(wave.SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
        }
        MoFreeMediaType(&type);
    }
    DMO_MEDIA_TYPE type{};
    EXPECT_EQ(MakePcmMediaType(PcmFormat{0, 44100, 0}, &type), E_INVALIDARG);
    EXPECT_EQ(MakePcmMediaType(PcmFormat{2, 0, 0}, &type), E_INVALIDARG);
}

}  // namespace
}  // namespace platform::media
