// Rendering figures for the web pages on a generated collection of 100,000 songs: one page of the song
// list (200 songs), the artist list, the queue list and the control script, without the network.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "core/Globals.h"
#include "core/Settings.h"
#include "bench/CollectionGenerator.h"
#include "library/SongMan.h"
#include "web/PageFragments.h"
#include "web/SongListCache.h"

namespace {

void EnsureCatalogue() {
    static bool ready = [] {
        const std::string dir =
            std::filesystem::temp_directory_path() / ("sinjo-page-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        setenv("SINJO_HOME", dir.c_str(), 1);
        if (!sinjo_bench::CollectionGenerator(sinjo_bench::CollectionSpec{}).WriteFiles(dir)) std::abort();
        g_settings = new Settings(L"SinjoPageBench");
        g_settings->Load();
        g_settings->Set(L"setting:MtvIndexDir", std::wstring(dir.begin(), dir.end()));
        g_songMan = new SongMan();
        if (!g_songMan->Reload()) std::abort();
        std::filesystem::remove_all(dir);
        platform::RecursiveMutexLock lock(g_songMan->lock);
        for (int32_t id = 0; id < 10; ++id) g_songMan->queue.push_back(g_songMan->songs[static_cast<size_t>(id)]);
        return true;
    }();
    (void)ready;
}

void BM_SongListPage(benchmark::State& state) {
    EnsureCatalogue();
    platform::RecursiveMutexLock lock(g_songMan->lock);
    const std::vector<Song*>& songs = *g_songMan->QuerySongs(L"", L"artist");
    size_t bytes = 0;
    for (auto _ : state) bytes = RenderSongList(songs, static_cast<int32_t>(state.range(0))).size();
    state.SetLabel(std::to_string(bytes) + " bytes");
}
BENCHMARK(BM_SongListPage)->Arg(1)->Arg(250)->Unit(benchmark::kMicrosecond);

// The same page as the web server serves it: the pager and table kept from an earlier request, only the
// batch-queue bar made afresh.
void BM_SongListPageKept(benchmark::State& state) {
    EnsureCatalogue();
    platform::RecursiveMutexLock lock(g_songMan->lock);
    const std::vector<Song*>& songs = *g_songMan->QuerySongs(L"", L"artist");
    SongListCache cache;
    size_t bytes = 0;
    for (auto _ : state) bytes = cache.Render(L"artist", songs, static_cast<int32_t>(state.range(0))).size();
    state.SetLabel(std::to_string(bytes) + " bytes");
}
BENCHMARK(BM_SongListPageKept)->Arg(1)->Arg(250)->Unit(benchmark::kMicrosecond);

void BM_ArtistList(benchmark::State& state) {
    EnsureCatalogue();
    platform::RecursiveMutexLock lock(g_songMan->lock);
    const std::vector<Artist*>& artists = *g_songMan->QueryArtists(L"", L"");
    for (auto _ : state) benchmark::DoNotOptimize(RenderArtistList(artists, L""));
}
BENCHMARK(BM_ArtistList)->Unit(benchmark::kMicrosecond);

void BM_QueueList(benchmark::State& state) {
    EnsureCatalogue();
    platform::RecursiveMutexLock lock(g_songMan->lock);
    for (auto _ : state) benchmark::DoNotOptimize(RenderQueueList());
}
BENCHMARK(BM_QueueList)->Unit(benchmark::kMicrosecond);

void BM_ControlStatus(benchmark::State& state) {
    EnsureCatalogue();
    platform::RecursiveMutexLock lock(g_songMan->lock);
    for (auto _ : state) benchmark::DoNotOptimize(RenderControlStatus());
}
BENCHMARK(BM_ControlStatus)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
