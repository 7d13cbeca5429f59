// Throughput and latency of the HTTP server core against nginx, on loopback, in one run.
//
// Our server answers every request with a small fixed body from a trivial handler; nginx serves a
// static file holding the same bytes, with its own temporary prefix and configuration on a free
// loopback port, and is stopped afterwards. wrk drives both with 1, 50 and 500 persistent connections.
// The program prints requests per second and median latency for each, and the ratio ours / nginx.
// It reports figures only; it never fails on them.
//
//   http_bench [seconds per run, default 5]
// Needs wrk and nginx (Debian packages wrk and nginx-light) on the PATH or in /usr/sbin.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "web/HttpServer.h"

namespace {

const char kBody[] = "Sinjobox says hello\n";

class TrivialServer final : public nutl::HttpServer {
public:
    ~TrivialServer() override { Stop(10000); }

protected:
    void HandleRequest(nutl::HttpRequest&, nutl::HttpResponse& response) override {
        response.body = kBody;
    }
};

struct Figures {
    double requestsPerSecond = 0;
    double medianUs = 0;
    bool ok = false;
};

std::string FindTool(const std::string& name) {
    for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/usr/local/bin/", "/usr/local/sbin/"}) {
        const std::string path = dir + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return std::string();
}

double ToMicroseconds(double value, const std::string& unit) {
    if (unit == "us") return value;
    if (unit == "ms") return value * 1000.0;
    if (unit == "s") return value * 1e6;
    return value / 1000.0;  // "ns"
}

Figures RunWrk(const std::string& wrk, uint16_t port, int connections, int seconds) {
    const int threads = connections < 2 ? 1 : 2;
    const std::string command = wrk + " -t" + std::to_string(threads) + " -c" +
                                std::to_string(connections) + " -d" + std::to_string(seconds) +
                                "s --latency http://127.0.0.1:" + std::to_string(port) + "/ 2>&1";
    Figures figures;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return figures;
    std::string output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = pclose(pipe);

    std::smatch m;
    const std::regex rps(R"(Requests/sec:\s+([0-9.]+))");
    const std::regex median(R"(\n\s*50%\s+([0-9.]+)(ns|us|ms|s)\b)");
    const std::regex errors(R"(Non-2xx or 3xx responses|Socket errors:[^\n]*)");
    if (std::regex_search(output, m, rps)) figures.requestsPerSecond = std::stod(m[1]);
    if (std::regex_search(output, m, median)) figures.medianUs = ToMicroseconds(std::stod(m[1]), m[2]);
    if (std::regex_search(output, m, errors)) std::fprintf(stderr, "  wrk: %s\n", m[0].str().c_str());
    figures.ok = status == 0 && figures.requestsPerSecond > 0;
    if (!figures.ok) std::fprintf(stderr, "wrk failed:\n%s\n", output.c_str());
    return figures;
}

uint16_t FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

bool Answers(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// A room of phones reconnecting at once: `clients` threads each connect, send one request and read
// the answer, all released together. Returns the slowest client's time in milliseconds (a connect
// refused or dropped by a full backlog would show as a retransmit second or more), or -1 on failure.
double Burst(uint16_t port, int clients) {
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<double> times(static_cast<size_t>(clients), 0.0);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            const auto start = std::chrono::steady_clock::now();
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const char request[] = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
            char answer[256];
            bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == sizeof request - 1;
            // The answer ends with the body.
            const size_t bodySize = sizeof kBody - 1;
            std::string got;
            while (ok && (got.size() < bodySize ||
                          got.compare(got.size() - bodySize, std::string::npos, kBody) != 0)) {
                const ssize_t n = recv(fd, answer, sizeof answer, 0);
                if (n <= 0) ok = false;
                else got.append(answer, static_cast<size_t>(n));
            }
            close(fd);
            if (!ok) failures.fetch_add(1);
            times[static_cast<size_t>(i)] =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        });
    }
    go.store(true);
    for (auto& t : threads) t.join();
    if (failures.load() > 0) {
        std::fprintf(stderr, "burst: %d of %d clients failed\n", failures.load(), clients);
        return -1;
    }
    return *std::max_element(times.begin(), times.end());
}

// nginx in the foreground with a prefix of its own; stopped and cleaned up by the destructor.
class Nginx final {
public:
    Nginx(const std::string& binary, uint16_t port) : port_(port) {
        char pattern[] = "/tmp/sinjo-nginx-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        prefix_ = pattern;
        // nginx's workers may run as an unprivileged user: the files must be readable by all.
        chmod(prefix_.c_str(), 0755);
        std::filesystem::create_directories(prefix_ + "/html");
        std::filesystem::create_directories(prefix_ + "/logs");
        std::ofstream(prefix_ + "/html/index.html") << kBody;
        chmod((prefix_ + "/html").c_str(), 0755);
        chmod((prefix_ + "/html/index.html").c_str(), 0644);
        const std::string p = prefix_;
        std::ofstream(p + "/nginx.conf")
            << "daemon off;\nmaster_process on;\nworker_processes auto;\nworker_rlimit_nofile 8192;\n"
            << "pid " << p << "/nginx.pid;\nerror_log " << p << "/logs/error.log warn;\n"
            << "events { worker_connections 4096; }\n"
            << "http {\n  access_log off;\n  default_type text/plain;\n"
            << "  keepalive_requests 100000000;\n  keepalive_timeout 300s;\n"
            << "  client_body_temp_path " << p << "/body;\n  proxy_temp_path " << p << "/proxy;\n"
            << "  fastcgi_temp_path " << p << "/fastcgi;\n  uwsgi_temp_path " << p << "/uwsgi;\n"
            << "  scgi_temp_path " << p << "/scgi;\n"
            << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << p << "/html;\n"
            << "    index index.html;\n  }\n}\n";
        pid_ = fork();
        if (pid_ == 0) {
            execl(binary.c_str(), binary.c_str(), "-p", (p + "/").c_str(), "-c", (p + "/nginx.conf").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            if (Answers(port_)) {
                ready_ = true;
                break;
            }
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ready_) {
            std::ifstream log(p + "/logs/error.log");
            std::string line;
            std::fprintf(stderr, "nginx did not start:\n");
            while (std::getline(log, line)) std::fprintf(stderr, "  %s\n", line.c_str());
        }
    }
    ~Nginx() {
        if (pid_ > 0) {
            kill(pid_, SIGQUIT);  // graceful: the master ends its workers and exits
            int status;
            waitpid(pid_, &status, 0);
        }
        if (!prefix_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(prefix_, ec);
        }
    }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool ready() const { return ready_; }

private:
    uint16_t port_;
    std::string prefix_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string wrk = FindTool("wrk");
    const std::string nginx = FindTool("nginx");
    if (wrk.empty()) {
        std::fprintf(stderr, "http_bench: wrk is not installed (apt-get install wrk)\n");
        return 1;
    }

    const int connectionCounts[] = {1, 50, 500};
    std::vector<Figures> ours;
    std::vector<Figures> theirs;
    constexpr int kBurstClients = 300;
    double burstMs = -1;

    {
        TrivialServer server;
        server.Start(0);
        const uint16_t port = server.WaitForListening(5000);
        if (port == 0) {
            std::fprintf(stderr, "http_bench: our server does not listen\n");
            return 1;
        }
        burstMs = Burst(port, kBurstClients);
        for (int c : connectionCounts) {
            std::fprintf(stderr, "ours, %d connections...\n", c);
            ours.push_back(RunWrk(wrk, port, c, seconds));
        }
        server.Stop(10000);
    }

    if (nginx.empty()) {
        std::fprintf(stderr, "http_bench: nginx is not installed (apt-get install nginx-light)\n");
    } else {
        const uint16_t port = FreeLoopbackPort();
        Nginx server(nginx, port);
        if (server.ready()) {
            for (int c : connectionCounts) {
                std::fprintf(stderr, "nginx, %d connections...\n", c);
                theirs.push_back(RunWrk(wrk, port, c, seconds));
            }
        }
    }

    std::printf("HTTP server core vs nginx on loopback, %d s per run, body of %zu bytes, %u cores\n",
                seconds, sizeof kBody - 1, std::thread::hardware_concurrency());
    std::printf("%-12s %14s %12s %14s %12s %14s\n", "connections", "ours req/s", "ours p50 us",
                "nginx req/s", "nginx p50 us", "ratio req/s");
    for (size_t i = 0; i < ours.size(); ++i) {
        const bool have = i < theirs.size() && theirs[i].ok;
        std::printf("%-12d %14.0f %12.1f", connectionCounts[i], ours[i].requestsPerSecond, ours[i].medianUs);
        if (have) {
            std::printf(" %14.0f %12.1f %14.2f\n", theirs[i].requestsPerSecond, theirs[i].medianUs,
                        ours[i].requestsPerSecond / theirs[i].requestsPerSecond);
        } else {
            std::printf(" %14s %12s %14s\n", "-", "-", "-");
        }
    }
    if (theirs.size() > 1 && theirs[1].ok) {
        std::printf("ratio ours/nginx at 50 connections: %.2f (target: at least 0.50)\n",
                    ours[1].requestsPerSecond / theirs[1].requestsPerSecond);
    }
    if (burstMs >= 0) {
        std::printf("burst of %d simultaneous new connections, one request each: slowest answered in %.1f ms\n",
                    kBurstClients, burstMs);
    } else {
        std::printf("burst of %d simultaneous new connections: some failed\n", kBurstClients);
    }
    return 0;
}
