// Helpers for end-to-end tests: a throw-away installation of the real program (a copy of build/bin/Sinjo
// with its own html folder and profile folder), a small collection on disk, and a plain HTTP client over
// real loopback sockets.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <iconv.h>

namespace e2e {

namespace fs = std::filesystem;

inline std::string Gbk(const std::string& utf8) {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A free TCP port on the loopback interface (bound once and released).
inline int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    close(s);
    return ntohs(addr.sin_port);
}

struct HttpReply {
    bool ok = false;        // a complete response arrived
    std::string raw;        // status line, headers and body, as received
    std::string headers;    // up to and including the blank line
    std::string body;
};

// One persistent HTTP connection to 127.0.0.1:port.
class HttpClient {
public:
    explicit HttpClient(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd_);
            fd_ = -1;
        }
        int one = 1;
        if (fd_ >= 0) setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~HttpClient() {
        if (fd_ >= 0) close(fd_);
    }
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    bool connected() const { return fd_ >= 0; }

    bool SendRaw(const std::string& bytes) {
        return fd_ >= 0 && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    // GET target and read one response (by its Content-Length).
    HttpReply Get(const std::string& target, int timeoutMs = 10000) {
        SendRaw("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
        return Read(timeoutMs);
    }

    HttpReply Read(int timeoutMs = 10000) {
        HttpReply reply;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t end = buffer_.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::string head = buffer_.substr(0, end + 4);
                size_t length = 0;
                const size_t at = head.find("Content-Length: ");
                if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 16, nullptr, 10);
                if (buffer_.size() >= end + 4 + length) {
                    reply.ok = true;
                    reply.headers = head;
                    reply.body = buffer_.substr(end + 4, length);
                    reply.raw = head + reply.body;
                    buffer_.erase(0, end + 4 + length);
                    return reply;
                }
            }
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  deadline - std::chrono::steady_clock::now())
                                                  .count());
            if (left <= 0 || fd_ < 0) return reply;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) return reply;
            char chunk[65536];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return reply;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // True when the server closed the connection within the time-out.
    bool WaitClosed(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char c;
        return recv(fd_, &c, 1, MSG_PEEK) == 0;
    }

private:
    int fd_ = -1;
    std::string buffer_;
};

// A whole installation in a temporary folder: bin/Sinjo (a copy of the built program, so that it finds
// bin/html beside itself), bin/html/web, home/ (the profile folder) and a collection.
class Installation {
public:
    Installation() {
        const char* tmp = std::getenv("SINJO_TEST_TMP");
        root_ = fs::path(tmp != nullptr ? tmp : "/tmp") / ("inst-" + std::to_string(getpid()) + "-" +
                                                          std::to_string(counter()++));
        fs::create_directories(root_ / "bin");
        fs::create_directories(home());
        fs::copy_file(fs::path(SINJO_BIN_DIR) / "Sinjo", program(), fs::copy_options::overwrite_existing);
        fs::permissions(program(), fs::perms::owner_all);
        fs::copy(fs::path(SINJO_BIN_DIR) / "html", root_ / "bin" / "html", fs::copy_options::recursive);
        port_ = FreePort();
    }
    ~Installation() {
        Stop();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path root() const { return root_; }
    fs::path home() const { return root_ / "home"; }
    fs::path program() const { return root_ / "bin" / "Sinjo"; }
    fs::path webDir() const { return root_ / "bin" / "html" / "web"; }
    int port() const { return port_; }

    // Settings written to user.reg before the start (UTF-8 values, registry escapes applied here).
    void SetSetting(const std::string& key, const std::string& value) { settings_[key] = value; }

    // A collection of `count` songs by a few artists, every file present (empty files do for the
    // simulated player), the index in code page 936.
    void MakeCollection(int count) {
        const fs::path index = root_ / "mtvindex";
        std::string singers = "id,name,py,category,region\r\n";
        singers += "1," + Gbk("张学友") + ",zxy,1,2\r\n";
        singers += "2,Beyond,by,3,2\r\n";
        singers += "3," + Gbk("王菲") + ",wf,2,1\r\n";
        std::string songs = "no,title,a,b,artist,c,d,e,f,channel,g,h,i,path\r\n";
        for (int i = 0; i < count; ++i) {
            const std::string title = "Song" + std::to_string(i);
            const int artist = 1 + i % 3;
            const std::string rel = "a" + std::to_string(artist) + "\\" + title + ".avi";
            songs += std::to_string(i) + "," + title + ",x,x," + std::to_string(artist) + ",x,x,x,x," +
                     std::to_string(i % 2) + ",x,x,x,\\mtv\\" + rel + "\r\n";
            WriteFile(root_ / "mtv" / ("a" + std::to_string(artist)) / (title + ".avi"), "");
        }
        WriteFile(index / "singer.csv", singers);
        WriteFile(index / "Songs.csv", songs);
        SetSetting("setting:MtvIndexDir", index.string());
        SetSetting("setting:MtvRootDir", (root_ / "mtv").string());
    }

    // Starts the program with `args` (none: a normal run) and waits until it serves the web port (unless
    // `waitForServer` is false: then it returns once the process is started).
    bool Start(const std::vector<std::pair<std::string, std::string>>& extraEnv = {},
               const std::vector<std::string>& args = {}, bool waitForServer = true) {
        SetSetting("setting:WebServerPort", std::to_string(port_));
        std::string reg = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Nadusoft\\Sinjo\\Options]\n";
        for (const auto& [k, v] : settings_) reg += "\"" + Escape(k) + "\"=\"" + Escape(v) + "\"\n";
        WriteFile(home() / "user.reg", reg);
        const fs::path log = root_ / "stdout.txt";
        const std::string exe = program().string();
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setenv("SINJO_HOME", home().c_str(), 1);
            setenv("SINJO_HEADLESS", "1", 1);
            setenv("SINJO_MEDIA_BACKEND", "simulated", 1);
            setenv("SINJO_CAPTURE", (root_ / "capture.txt").c_str(), 1);
            for (const auto& [k, v] : extraEnv) setenv(k.c_str(), v.c_str(), 1);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (!waitForServer) return pid_ > 0;
        // Ready once it accepts connections.
        for (int i = 0; i < 400; ++i) {
            HttpClient probe(port_);
            if (probe.connected()) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }

    // SIGTERM and wait; returns the milliseconds until the process ended, or -1 when it did not end
    // within timeoutMs (it is then killed).
    int Stop(int timeoutMs = 10000) {
        if (pid_ <= 0) return 0;
        kill(pid_, SIGTERM);
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exitStatus_ = status;
                return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
            }
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs)) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    int exitStatus() const { return exitStatus_; }
    pid_t pid() const { return pid_; }
    std::string output() const { return ReadFile(root_ / "stdout.txt"); }
    std::string userReg() const { return ReadFile(home() / "user.reg"); }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }
    static std::string Escape(const std::string& text) {
        std::string out;
        for (char c : text) {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
        return out;
    }

    fs::path root_;
    int port_ = 0;
    pid_t pid_ = -1;
    int exitStatus_ = 0;
    std::map<std::string, std::string> settings_;
};

}  // namespace e2e
