// Automation calls from a client on the same PC: the real jukebox (headless, simulated media, a catalogue of
// 20,000 songs with three songs queued) in its own temporary profile, registered with
// -Regserver, and this process as its client through the platform's activation (ProgID -> CLSID ->
// the running server's socket). It prints, for GetQSongCount:
//   - the median, 90th and 99th percentile round trip of one call by dispatch id, one client;
//   - calls per second for one client, and for four clients at once (every call runs on the jukebox's GUI
//     thread, one at a time, so more clients share the same thread);
//   - the round trip of a call by name (the name look-up is its own round trip);
//   - the time to create a Door (connect, create) and to start an automation server that was not running.
// Figures only; it never fails on them.
//
//   automation_bench [calls per figure, default 20000]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Com.h"
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/LocalClient.h"
#include "platform/LocalServer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr platform::DISPID kGetQSongCount = 12;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[at];
}

int RunAndWait(const std::string& program, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

platform::ComPtr<platform::IDispatch> CreateDoor() {
    platform::CLSID clsid;
    platform::ComPtr<platform::IDispatch> door;
    if (platform::FAILED(platform::CLSIDFromProgID(L"Sinjo.Door", &clsid))) return door;
    platform::CoCreateInstance(clsid, nullptr, platform::CLSCTX_LOCAL_SERVER, platform::IID_IDispatch,
                               door.ReleaseAndGetVoidAddress());
    return door;
}

bool Call(platform::IDispatch& door) {
    const platform::InvokeResult r = platform::InvokeById(door, kGetQSongCount, platform::DISPATCH_METHOD, {});
    return r.hr == platform::S_OK && r.value.vt == platform::VT_I4;
}

// Calls per second of `clients` clients calling at once for `calls` calls each.
double Throughput(int clients, int calls) {
    std::vector<platform::ComPtr<platform::IDispatch>> doors;
    for (int i = 0; i < clients; ++i) doors.push_back(CreateDoor());
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            for (int k = 0; k < calls; ++k) {
                if (!Call(*doors[static_cast<size_t>(i)].Get())) failures.fetch_add(1);
            }
        });
    }
    const Clock::time_point start = Clock::now();
    go.store(true);
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (failures.load() > 0) std::fprintf(stderr, "  %d calls failed\n", failures.load());
    return clients * calls / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path program = self.parent_path().parent_path() / "bin" / "Sinjo";
    if (!fs::exists(program)) {
        std::fprintf(stderr, "automation_bench: %s is missing; build the program first\n", program.c_str());
        return 1;
    }
    char pattern[] = "/tmp/sinjo-automation-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path root = pattern;
    const fs::path home = root / "home";
    fs::create_directories(home);
    fs::create_directories(root / "index");
    // 20,000 songs; the files of the three that get queued exist (the queue takes only songs it can play).
    std::string singers = "id,name,py,category,region\r\n1,Alpha,a,1,1\r\n";
    std::string songs = "no,title,a,b,artist,c,d,e,f,channel,g,h,i,path\r\n";
    for (int i = 0; i < 20000; ++i) {
        songs += std::to_string(i) + ",Song" + std::to_string(i) + ",x,x,1,x,x,x,x,1,x,x,x,\\mtv\\s" +
                 std::to_string(i) + ".avi\r\n";
    }
    fs::create_directories(root / "mtv");
    for (int i : {1, 2, 3}) std::ofstream(root / "mtv" / ("s" + std::to_string(i) + ".avi"));
    std::ofstream(root / "index" / "singer.csv", std::ios::binary) << singers;
    std::ofstream(root / "index" / "Songs.csv", std::ios::binary) << songs;
    std::ofstream(home / "user.reg")
        << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Nadusoft\\Sinjo\\Options]\n"
        << "\"setting:MtvIndexDir\"=\"" << (root / "index").string() << "\"\n"
        << "\"setting:MtvRootDir\"=\"" << (root / "mtv").string() << "\"\n"
        << "\"setting:WebServerPort\"=\"0\"\n";
    setenv("SINJO_HOME", home.c_str(), 1);
    setenv("SINJO_HEADLESS", "1", 1);
    setenv("SINJO_MEDIA_BACKEND", "simulated", 1);
    setenv("SINJO_CAPTURE", (root / "capture.txt").c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");

    RunAndWait(program.string(), {"-Regserver"});

    // An automation server started on demand (nothing runs yet), then gone again.
    Clock::time_point start = Clock::now();
    platform::ComPtr<platform::IDispatch> started = CreateDoor();
    const double startMs = Micros(Clock::now() - start) / 1000.0;
    if (!started) {
        std::fprintf(stderr, "automation_bench: no automation server: %s\n", platform::GetLastErrorDescription().c_str());
        return 1;
    }
    started.Reset();
    for (int i = 0; i < 1000 && fs::exists(home / platform::GetLocalServerAddress().socketName); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // The jukebox itself.
    const pid_t jukebox = fork();
    if (jukebox == 0) {
        freopen("/dev/null", "w", stdout);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    platform::ComPtr<platform::IDispatch> door;
    for (int i = 0; i < 3000 && !door; ++i) {
        platform::CLSID clsid;
        platform::CLSIDFromProgID(L"Sinjo.Door", &clsid);
        if (platform::FAILED(platform::ConnectLocalInstance(clsid, platform::IID_IDispatch, door.ReleaseAndGetVoidAddress()))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (!door) {
        std::fprintf(stderr, "automation_bench: the jukebox did not serve\n");
        kill(jukebox, SIGKILL);
        return 1;
    }
    for (int id : {1, 2, 3}) {
        platform::InvokeByName(*door.Get(), L"QueueSong", platform::DISPATCH_METHOD,
                               std::vector<platform::Variant>{platform::Variant::Long(id), platform::Variant::Bool(false)});
    }
    const platform::InvokeResult count = platform::InvokeById(*door.Get(), kGetQSongCount, platform::DISPATCH_METHOD, {});

    for (int i = 0; i < 1000; ++i) Call(*door.Get());  // warm up
    std::vector<double> trips;
    trips.reserve(static_cast<size_t>(calls));
    for (int i = 0; i < calls; ++i) {
        start = Clock::now();
        Call(*door.Get());
        trips.push_back(Micros(Clock::now() - start));
    }
    std::vector<double> byName;
    for (int i = 0; i < calls / 10; ++i) {
        start = Clock::now();
        platform::InvokeByName(*door.Get(), L"GetQSongCount", platform::DISPATCH_METHOD, {});
        byName.push_back(Micros(Clock::now() - start));
    }
    std::vector<double> creates;
    for (int i = 0; i < 200; ++i) {
        start = Clock::now();
        platform::ComPtr<platform::IDispatch> another = CreateDoor();
        creates.push_back(Micros(Clock::now() - start));
    }
    const double one = Throughput(1, calls);
    const double four = Throughput(4, calls / 4);

    std::printf("automation_bench: GetQSongCount (queue of %d) from a client on this PC, %d calls per figure\n",
                count.value.lVal, calls);
    std::printf("  round trip by dispatch id:  median %.1f us, p90 %.1f us, p99 %.1f us\n", Percentile(trips, 0.5),
                Percentile(trips, 0.9), Percentile(trips, 0.99));
    std::printf("  round trip by name:         median %.1f us (look-up and call)\n", Percentile(byName, 0.5));
    std::printf("  calls per second:           %.0f with 1 client, %.0f with 4 clients\n", one, four);
    std::printf("  creating a Door:            median %.1f us (connect and create)\n", Percentile(creates, 0.5));
    std::printf("  starting an automation server on demand: %.1f ms to the first object\n", startMs);

    door.Reset();
    kill(jukebox, SIGTERM);
    waitpid(jukebox, nullptr, 0);
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
