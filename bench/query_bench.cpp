// Catalogue query figures on a generated collection of 100,000 songs and 10,000 artists: the first query of
// each song order (the sort included), a repeated query (cache hit), one- and three-term searches over a
// sorted list, and the artist query.
//
//   build/bench/query_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "core/Globals.h"
#include "core/Settings.h"
#include "bench/CollectionGenerator.h"
#include "library/SongMan.h"

namespace {

struct Catalogue {
    std::unique_ptr<Settings> settings;
    std::unique_ptr<SongMan> songMan;
};

Catalogue& Shared() {
    static Catalogue* catalogue = [] {
        auto* c = new Catalogue;
        const std::string dir = std::filesystem::temp_directory_path() / ("sinjo-query-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        setenv("SINJO_HOME", dir.c_str(), 1);
        sinjo_bench::CollectionGenerator generator(sinjo_bench::CollectionSpec{});
        if (!generator.WriteFiles(dir)) std::abort();
        c->settings = std::make_unique<Settings>(L"SinjoQueryBench");
        c->settings->Load();
        c->settings->Set(L"setting:MtvIndexDir", std::wstring(dir.begin(), dir.end()));
        g_settings = c->settings.get();
        c->songMan = std::make_unique<SongMan>();
        if (!c->songMan->Reload()) std::abort();
        std::filesystem::remove_all(dir);
        return c;
    }();
    return *catalogue;
}

// Drops the sorted lists and the cached result, so that the next query sorts again.
void ForgetSortedLists(SongMan& sm) {
    sm.song_query_cache.Clear();
    for (auto*& list : sm.sorted_song_lists) {
        delete list;
        list = nullptr;
    }
}

void BM_FirstQuerySongs(benchmark::State& state) {
    SongMan& sm = *Shared().songMan;
    const wchar_t* orders[] = {L"artist", L"album", L"name", L"ext"};
    const wchar_t* order = orders[state.range(0)];
    platform::RecursiveMutexLock lock(sm.lock);
    for (auto _ : state) {
        state.PauseTiming();
        ForgetSortedLists(sm);
        state.ResumeTiming();
        benchmark::DoNotOptimize(sm.QuerySongs(L"", order));
    }
    state.SetLabel(std::to_string(sm.songs.size()) + " songs");
}
BENCHMARK(BM_FirstQuerySongs)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_CacheHit(benchmark::State& state) {
    SongMan& sm = *Shared().songMan;
    platform::RecursiveMutexLock lock(sm.lock);
    sm.QuerySongs(L"love", L"artist");
    for (auto _ : state) benchmark::DoNotOptimize(sm.QuerySongs(L"love", L"artist"));
}
BENCHMARK(BM_CacheHit)->Unit(benchmark::kNanosecond);

void BM_Search(benchmark::State& state, const wchar_t* query) {
    SongMan& sm = *Shared().songMan;
    platform::RecursiveMutexLock lock(sm.lock);
    sm.QuerySongs(L"", L"artist");  // the sorted list exists; each iteration filters it again
    size_t found = 0;
    for (auto _ : state) {
        sm.song_query_cache.Clear();
        found = sm.QuerySongs(query, L"artist")->size();
    }
    state.SetLabel(std::to_string(found) + " found");
}
BENCHMARK_CAPTURE(BM_Search, one_term, L"爱")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, one_latin_term, L"LIVE")->Unit(benchmark::kMillisecond);
// The first two terms match every song (all are .dat files), so all three are looked for.
BENCHMARK_CAPTURE(BM_Search, three_terms, L"d t 爱")->Unit(benchmark::kMillisecond);

void BM_QueryArtists(benchmark::State& state) {
    SongMan& sm = *Shared().songMan;
    platform::RecursiveMutexLock lock(sm.lock);
    for (auto _ : state) {
        sm.artist_query_cache.Clear();
        benchmark::DoNotOptimize(sm.QueryArtists(state.range(0) ? L"male,mainland" : L"", L"song_count"));
    }
    state.SetLabel(std::to_string(sm.artists.size()) + " artists");
}
BENCHMARK(BM_QueryArtists)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
