// Code-page conversion figures for the texts a catalogue load converts: short song and artist names,
// mostly Chinese in code page 936, some plain ASCII. A load converts about 100,000 of them, so the
// per-call cost is what matters; the last benchmark converts a whole such set per iteration.
#include "platform/CodePage.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using platform::CP_BIG5;
using platform::CP_GBK;
using platform::CP_UTF8;

// 100,000 distinct titles of 4 to 12 characters, about one in five plain ASCII.
const std::vector<std::wstring>& Titles() {
    static const std::vector<std::wstring> titles = [] {
        const std::wstring chars = L"爱情的歌你我他中国人心月亮星光朋友再见时间梦想天空海";
        std::vector<std::wstring> out;
        out.reserve(100000);
        unsigned seed = 12345;
        for (int i = 0; i < 100000; ++i) {
            seed = seed * 1103515245u + 12345u;
            const size_t length = 4 + (seed >> 16) % 9;
            std::wstring title;
            if (i % 5 == 0) {
                title = L"Song " + std::to_wstring(i);
            } else {
                for (size_t k = 0; k < length; ++k) {
                    seed = seed * 1103515245u + 12345u;
                    title += chars[(seed >> 16) % chars.size()];
                }
            }
            out.push_back(std::move(title));
        }
        return out;
    }();
    return titles;
}

void BM_GbkToWide_ShortChinese(benchmark::State& state) {
    const std::string bytes = platform::WideToMultiByte(CP_GBK, L"月亮代表我的心");
    for (auto _ : state) benchmark::DoNotOptimize(platform::MultiByteToWide(CP_GBK, bytes));
}
BENCHMARK(BM_GbkToWide_ShortChinese);

void BM_GbkToWide_ShortAscii(benchmark::State& state) {
    const std::string bytes = "Hotel California";
    for (auto _ : state) benchmark::DoNotOptimize(platform::MultiByteToWide(CP_GBK, bytes));
}
BENCHMARK(BM_GbkToWide_ShortAscii);

void BM_WideToGbk_ShortChinese(benchmark::State& state) {
    const std::wstring text = L"月亮代表我的心";
    for (auto _ : state) benchmark::DoNotOptimize(platform::WideToMultiByte(CP_GBK, text));
}
BENCHMARK(BM_WideToGbk_ShortChinese);

void BM_Big5ToWide_ShortChinese(benchmark::State& state) {
    const std::string bytes = platform::WideToMultiByte(CP_BIG5, L"月亮代表我的心");
    for (auto _ : state) benchmark::DoNotOptimize(platform::MultiByteToWide(CP_BIG5, bytes));
}
BENCHMARK(BM_Big5ToWide_ShortChinese);

void BM_Utf8ToWide_ShortChinese(benchmark::State& state) {
    const std::string bytes = platform::ToUtf8(L"月亮代表我的心");
    for (auto _ : state) benchmark::DoNotOptimize(platform::FromUtf8(bytes));
}
BENCHMARK(BM_Utf8ToWide_ShortChinese);

void BM_GbkToWide_BadBytes(benchmark::State& state) {
    const std::string bytes = "\xD6\xD0\xFF\xCE\xC4\x81 abc\xD6";
    for (auto _ : state) benchmark::DoNotOptimize(platform::MultiByteToWide(CP_GBK, bytes));
}
BENCHMARK(BM_GbkToWide_BadBytes);

// A catalogue load's worth: 100,000 titles from code page 936 bytes to wide text.
void BM_GbkToWide_100kTitles(benchmark::State& state) {
    std::vector<std::string> encoded;
    for (const auto& t : Titles()) encoded.push_back(platform::WideToMultiByte(CP_GBK, t));
    size_t chars = 0;
    for (auto _ : state) {
        for (const auto& bytes : encoded) chars += platform::MultiByteToWide(CP_GBK, bytes).size();
    }
    benchmark::DoNotOptimize(chars);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(encoded.size()));
}
BENCHMARK(BM_GbkToWide_100kTitles)->Unit(benchmark::kMillisecond);

// The reverse, as the catalogue's text order converts names to code page 936 for comparison.
void BM_WideToGbk_100kTitles(benchmark::State& state) {
    const auto& titles = Titles();
    size_t bytes = 0;
    for (auto _ : state) {
        for (const auto& t : titles) bytes += platform::WideToMultiByte(CP_GBK, t).size();
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(titles.size()));
}
BENCHMARK(BM_WideToGbk_100kTitles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
