// Registry stand-in figures: the cost of a read when the hive has not changed (what the plug-in pays
// on every 100 ms poll), of a read right after another program changed the hive (stat, read, parse),
// and of one atomic write (lock, re-read, write, fsync, rename).
//
// Runs in a private profile folder under $TMPDIR (or /tmp); nothing of the user's is touched.
#include "platform/Registry.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::RegRoot;

const wchar_t kOptions[] = L"Software\\Nadusoft\\Sinjo\\Options";
const wchar_t kPlugin[] = L"Software\\Nadusoft\\Sinjo\\Plugin";

// Fills the hive with `values` settings plus the plug-in's value, and lets the file age past the
// window in which a fresh time stamp is not trusted.
void MakeHive(int values) {
    platform::RegDeleteTree(RegRoot::CurrentUser, L"");
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    for (int i = 0; i < values; ++i)
        pairs.emplace_back(L"setting:Value" + std::to_wstring(i), L"C:\\Mtv\\folder " + std::to_wstring(i));
    platform::RegSetStrings(RegRoot::CurrentUser, kOptions, pairs);
    platform::RegSetDword(RegRoot::CurrentUser, kPlugin, L"AudioSource", 1);
    usleep(100'000);
}

void BM_PollUnchangedHive(benchmark::State& state) {
    MakeHive(static_cast<int>(state.range(0)));
    platform::RegValue v;
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::RegQueryValue(RegRoot::CurrentUser, kPlugin, L"AudioSource", &v));
    }
    state.SetLabel("values in hive: " + std::to_string(state.range(0)));
}
BENCHMARK(BM_PollUnchangedHive)->Arg(20)->Arg(2000);

void BM_ReadAfterOutsideChange(benchmark::State& state) {
    MakeHive(static_cast<int>(state.range(0)));
    const std::string path = platform::RegHivePath(RegRoot::CurrentUser);
    platform::RegValue v;
    int64_t stamp = 1'000'000'000;
    for (auto _ : state) {
        state.PauseTiming();
        // Another program's change, as the stat sees it: a new time stamp.
        const timespec times[2] = {{stamp, 0}, {stamp, 0}};
        ++stamp;
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        state.ResumeTiming();
        benchmark::DoNotOptimize(platform::RegQueryValue(RegRoot::CurrentUser, kPlugin, L"AudioSource", &v));
    }
    state.SetLabel("values in hive: " + std::to_string(state.range(0)));
}
BENCHMARK(BM_ReadAfterOutsideChange)->Arg(20)->Arg(2000);

void BM_WriteOneValue(benchmark::State& state) {
    MakeHive(static_cast<int>(state.range(0)));
    uint32_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::RegSetDword(RegRoot::CurrentUser, kPlugin, L"AudioSource", ++n));
    }
    state.SetLabel("values in hive: " + std::to_string(state.range(0)));
}
BENCHMARK(BM_WriteOneValue)->Arg(20)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sinjo-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return 2;
    setenv("SINJO_HOME", pattern.c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(pattern, ec);
    return 0;
}
