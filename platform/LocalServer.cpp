// The local server: the socket, its owner lock, the accepting thread and one thread per connection.
//
// Structure:
//   - Server holds one open endpoint (lock file, listening socket, wake-up eventfd, hidden window) and the
//     connections. It exists from the first CoRegisterClassObject to the last CoRevokeClassObject.
//   - The accepting thread accepts, checks the peer's user, and starts a connection thread; it also joins
//     connection threads that have finished (they wake it through the eventfd).
//   - A connection thread reads requests, runs each on the GUI thread by SendMessage to the server's
//     window (holding callMu_, so that requests of all connections run one at a time), and writes the
//     answer. The served object lives in the Connection and is touched only on the GUI thread.
//   - Close (GUI thread) stops accepting, removes the socket, destroys the window (so every send that waits
//     for the GUI thread fails at once), wakes every connection with shutdown(), joins the threads, then
//     releases the objects that are left, and last of all drops the owner lock.
// Descriptors are closed only after every thread that could use them has been joined (numbers are reused
// at once).
#include "platform/LocalServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/DispatchWire.h"
#include "platform/FileSystem.h"
#include "platform/Gui.h"
#include "platform/ThreadAnnotations.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kRunJobMessage = WM_USER + 1;
constexpr int kListenBacklog = 128;
constexpr uint32_t kRefusalWriteMs = 200;  // a refused client gets this long to take the answer

std::atomic<size_t> g_connectionCount{0};

uint64_t Fnv1a64(std::string_view text) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

// A socket address for folder/name. A path too long for sun_path is reached through the folder's
// descriptor ("/proc/self/fd/N/name"); the descriptor lives as long as this object.
class SocketTarget {
public:
    SocketTarget() = default;
    ~SocketTarget() {
        if (dirFd_ >= 0) close(dirFd_);
    }
    SocketTarget(const SocketTarget&) = delete;
    SocketTarget& operator=(const SocketTarget&) = delete;

    bool Make(const std::string& folder, const std::string& name) {
        std::string path = folder + "/" + name;
        if (path.size() >= sizeof addr_.sun_path) {
            dirFd_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (dirFd_ < 0) return false;
            path = "/proc/self/fd/" + std::to_string(dirFd_) + "/" + name;
            if (path.size() >= sizeof addr_.sun_path) {
                errno = ENAMETOOLONG;
                return false;
            }
        }
        std::memset(&addr_, 0, sizeof addr_);
        addr_.sun_family = AF_UNIX;
        std::memcpy(addr_.sun_path, path.data(), path.size());
        length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
        return true;
    }
    const sockaddr* addr() const { return reinterpret_cast<const sockaddr*>(&addr_); }
    socklen_t length() const { return length_; }

private:
    sockaddr_un addr_{};
    socklen_t length_ = 0;
    int dirFd_ = -1;
};

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

enum class ReadResult { ok, closed, timed_out, failed };

// Reads exactly `size` bytes from a non-blocking socket. The first byte may wait `firstWaitMs` (-1: no
// limit); once it has come, the rest must come within `restWaitMs`.
ReadResult ReadExact(int fd, char* data, size_t size, int firstWaitMs, int restWaitMs) {
    size_t done = 0;
    Clock::time_point deadline{};
    bool limited = firstWaitMs >= 0;
    if (limited) deadline = Clock::now() + std::chrono::milliseconds(firstWaitMs);
    while (done < size) {
        const ssize_t n = recv(fd, data + done, size - done, MSG_DONTWAIT);
        if (n > 0) {
            if (done == 0) {
                limited = true;
                deadline = Clock::now() + std::chrono::milliseconds(restWaitMs);
            }
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return ReadResult::closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return ReadResult::failed;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, limited ? RemainingMs(deadline) : -1);
        if (ready < 0 && errno != EINTR) return ReadResult::failed;
        if (ready == 0) return ReadResult::timed_out;
    }
    return ReadResult::ok;
}

// Writes all of `data` to a non-blocking socket within `timeoutMs`.
bool WriteAll(int fd, std::string_view data, uint32_t timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, RemainingMs(deadline));
        if (ready == 0) return false;
        if (ready < 0 && errno != EINTR) return false;
        if ((p.revents & (POLLERR | POLLHUP)) != 0 && (p.revents & POLLOUT) == 0) return false;
    }
    return true;
}

bool SendResponse(int fd, const wire::Response& response, uint32_t timeoutMs) {
    std::string frame;
    std::string error;
    if (!wire::EncodeResponse(response, &frame, &error)) {
        // The object's answer cannot travel (too large): say so instead.
        wire::Response failure;
        failure.hr = E_FAIL;
        failure.message = "the answer cannot be sent: " + error;
        if (!wire::EncodeResponse(failure, &frame, &error)) return false;
    }
    return WriteAll(fd, frame, timeoutMs);
}

wire::Response Failure(HRESULT hr, std::string message) {
    wire::Response r;
    r.hr = hr;
    r.message = std::move(message);
    return r;
}

HRESULT ResultFromErrno(int error) { return error == EACCES || error == EPERM ? E_ACCESSDENIED : E_FAIL; }

// Makes $XDG_RUNTIME_DIR/sinjo private to this user: created with mode 0700, and refused when it is not a
// folder of this user's own (a link, or someone else's).
HRESULT PrepareRuntimeFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return ResultFromErrno(errno);
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) return ResultFromErrno(errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return E_ACCESSDENIED;
    if ((st.st_mode & 07777) != 0700 && chmod(folder.c_str(), 0700) != 0) return ResultFromErrno(errno);
    return S_OK;
}

// One client connection: its socket, its thread, and the object it holds.
struct Connection {
    explicit Connection(int socket) : fd(socket) {}
    const int fd;                      // owned by the Server; closed after `thread` has been joined
    std::thread thread;                // set by the accepting thread, joined by it or by Close
    std::atomic<bool> finished{false};
    ComPtr<IDispatch> object;          // GUI thread only
};

class Server final {
public:
    Server() = default;
    ~Server() = default;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // GUI thread. Takes the owner lock, makes the socket, starts the accepting thread.
    HRESULT Open();
    // GUI thread. See the file comment.
    void Close();

    // GUI thread only: the registered class objects and whether new objects are refused.
    std::map<DWORD, std::pair<CLSID, ComPtr<IClassFactory>>> classes;
    bool suspended = false;

private:
    void AcceptLoop();
    void Accept();
    void Serve(Connection* connection);
    // Fills `response`; false when the connection must close after it is sent.
    bool Handle(Connection* connection, const wire::Request& request, bool created, wire::Response* response);
    HRESULT CreateObject(Connection* connection, const CLSID& clsid);
    // Runs `job` on the GUI thread, after any other connection's job; false when the server is closing.
    bool RunOnGui(const std::function<void()>& job) EXCLUDES(callMu_);
    void Refuse(int fd, HRESULT hr, const std::string& message);
    void ReapFinished() EXCLUDES(mu_);
    void Wake();
    void RemoveSocket();

    // Constant after Open.
    LocalServerAddress address_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    HWND window_ = nullptr;
    std::thread acceptThread_;

    // Guards the connection list and the stopping flag. Never held while waiting for the GUI thread.
    Mutex mu_;
    std::vector<std::unique_ptr<Connection>> connections_ GUARDED_BY(mu_);
    bool stopping_ GUARDED_BY(mu_) = false;

    // Held by a connection thread while its job runs on the GUI thread, so that jobs of different
    // connections never interleave (even when a job runs a nested loop: a message box). The GUI thread
    // never takes it.
    Mutex callMu_;
};

// The open server, from the first registration to the last revocation. GUI thread only.
Server* g_server = nullptr;
DWORD g_lastCookie = 0;

HRESULT Server::Open() {
    address_ = GetLocalServerAddress();
    if (address_.runtimeFolder) {
        const HRESULT hr = PrepareRuntimeFolder(address_.folder);
        if (FAILED(hr)) return hr;
    } else if (!EnsureFolder(address_.folder)) {
        return ResultFromErrno(errno);
    }

    const std::string lockPath = address_.folder + "/" + address_.lockName;
    lockFd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) return ResultFromErrno(errno);
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(lockFd_);
        lockFd_ = -1;
        return error == EWOULDBLOCK ? CO_E_OBJISREG : ResultFromErrno(error);
    }
    // The owner's process id, for a person who wonders who serves.
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(lockFd_, 0) == 0) {
        ssize_t ignored = pwrite(lockFd_, pid.data(), pid.size(), 0);
        (void)ignored;
    }

    auto fail = [this](HRESULT hr) {
        if (listenFd_ >= 0) close(listenFd_);
        if (wakeFd_ >= 0) close(wakeFd_);
        close(lockFd_);
        listenFd_ = wakeFd_ = lockFd_ = -1;
        return hr;
    };
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) return fail(ResultFromErrno(errno));
    SocketTarget target;
    if (!target.Make(address_.folder, address_.socketName)) return fail(ResultFromErrno(errno));
    // A socket left by an owner that died: ours now, since we hold the lock.
    RemoveSocket();
    if (bind(listenFd_, target.addr(), target.length()) != 0) return fail(ResultFromErrno(errno));
    const std::string socketPath = address_.folder + "/" + address_.socketName;
    if (chmod(socketPath.c_str(), 0700) != 0) return fail(ResultFromErrno(errno));
    if (listen(listenFd_, kListenBacklog) != 0) return fail(ResultFromErrno(errno));
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) return fail(ResultFromErrno(errno));

    window_ = CreateWindowHandle([](HWND, UINT message, WPARAM, LPARAM lParam) -> LRESULT {
        if (message == kRunJobMessage) (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    });
    if (window_ == nullptr) return fail(E_FAIL);

    // The server's threads take no signal: SIGINT and SIGTERM belong to the GUI thread's watcher, which
    // may start after them. The accepting thread inherits this mask and hands it to every connection thread.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    try {
        acceptThread_ = std::thread(&Server::AcceptLoop, this);
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        DestroyWindow(window_);
        window_ = nullptr;
        RemoveSocket();
        return fail(E_OUTOFMEMORY);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return S_OK;
}

void Server::RemoveSocket() {
    // unlink takes paths of any length; only bind and connect are limited to a socket address.
    unlink((address_.folder + "/" + address_.socketName).c_str());
}

void Server::Wake() {
    const uint64_t one = 1;
    ssize_t ignored = write(wakeFd_, &one, sizeof one);
    (void)ignored;
}

void Server::Close() {
    {
        MutexLock lock(mu_);
        stopping_ = true;
    }
    Wake();
    if (acceptThread_.joinable()) acceptThread_.join();
    close(listenFd_);
    listenFd_ = -1;
    RemoveSocket();
    // Every send that waits for the GUI thread fails from here on, so no connection thread can wait on us.
    // The handle itself stays as it is (connection threads still read it): a destroyed handle is never
    // reused, and sends to it fail.
    DestroyWindow(window_);
    std::vector<std::unique_ptr<Connection>> all;
    {
        MutexLock lock(mu_);
        all.swap(connections_);
    }
    for (const auto& c : all) shutdown(c->fd, SHUT_RDWR);
    for (const auto& c : all) {
        if (c->thread.joinable()) c->thread.join();
    }
    for (const auto& c : all) {
        c->object.Reset();  // on the GUI thread, as every call on it was
        close(c->fd);
        g_connectionCount.fetch_sub(1);
    }
    close(wakeFd_);
    wakeFd_ = -1;
    // Last: the socket is gone, so the next owner never has its own socket removed by us.
    close(lockFd_);
    lockFd_ = -1;
}

void Server::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            uint64_t count = 0;
            ssize_t ignored = read(wakeFd_, &count, sizeof count);
            (void)ignored;
        }
        {
            MutexLock lock(mu_);
            if (stopping_) return;
        }
        ReapFinished();
        if ((fds[0].revents & POLLIN) != 0) Accept();
    }
}

void Server::Accept() {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        // Out of descriptors: the connection waits in the backlog; do not spin on it.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        Refuse(fd, E_ACCESSDENIED, "refused: the connecting process cannot be identified");
        return;
    }
    if (peer.uid != geteuid()) {
        Refuse(fd, E_ACCESSDENIED,
               "refused: this jukebox serves only its own user (uid " + std::to_string(geteuid()) +
                   "); the connecting process runs as uid " + std::to_string(peer.uid));
        return;
    }
    MutexLock lock(mu_);
    if (connections_.size() >= kMaxLocalConnections) {
        Refuse(fd, HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY),
               "refused: the jukebox has " + std::to_string(kMaxLocalConnections) +
                   " automation clients already; try again when one has finished");
        return;
    }
    auto connection = std::make_unique<Connection>(fd);
    Connection* raw = connection.get();
    try {
        raw->thread = std::thread(&Server::Serve, this, raw);
    } catch (const std::system_error&) {
        Refuse(fd, HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY), "refused: no thread could be started for the client");
        return;
    }
    connections_.push_back(std::move(connection));
    g_connectionCount.fetch_add(1);
}

void Server::Refuse(int fd, HRESULT hr, const std::string& message) {
    SendResponse(fd, Failure(hr, message), kRefusalWriteMs);
    close(fd);
}

void Server::ReapFinished() {
    std::vector<std::unique_ptr<Connection>> done;
    {
        MutexLock lock(mu_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->finished.load()) {
                done.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& c : done) {
        c->thread.join();
        close(c->fd);
        g_connectionCount.fetch_sub(1);
    }
}

bool Server::RunOnGui(const std::function<void()>& job) {
    MutexLock lock(callMu_);
    LRESULT ignored = 0;
    return SendMessageChecked(window_, kRunJobMessage, 0, reinterpret_cast<LPARAM>(&job), &ignored);
}

HRESULT Server::CreateObject(Connection* connection, const CLSID& clsid) {
    if (suspended) return CO_E_SERVER_STOPPING;
    IClassFactory* factory = nullptr;
    for (auto& [cookie, entry] : classes) {
        if (entry.first == clsid) factory = entry.second.Get();
    }
    if (factory == nullptr) return REGDB_E_CLASSNOTREG;
    IDispatch* object = nullptr;
    const HRESULT hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) return hr;
    if (object == nullptr) return E_UNEXPECTED;
    connection->object.Attach(object);
    return S_OK;
}

bool Server::Handle(Connection* connection, const wire::Request& request, bool created, wire::Response* response) {
    const bool creating = request.op == wire::Op::create;
    if (creating && created) {
        *response = Failure(E_UNEXPECTED, "this connection holds its object already; open another connection for another");
        return true;
    }
    if (!creating && !created) {
        *response = Failure(E_UNEXPECTED, "no object yet: a connection's first request creates its object");
        return true;
    }
    // Runs on the GUI thread: the only place the connection's object is touched.
    auto job = [&] {
        try {
            switch (request.op) {
                case wire::Op::create:
                    response->hr = CreateObject(connection, request.clsid);
                    if (response->hr == CO_E_SERVER_STOPPING) response->message = "the server is stopping";
                    break;
                case wire::Op::get_id: {
                    const std::wstring_view name = request.name;
                    DISPID id = DISPID_UNKNOWN;
                    response->hr = connection->object->GetIDsOfNames(GUID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
                    response->value = Variant::Long(id);
                    break;
                }
                case wire::Op::invoke:
                    response->hr = connection->object->Invoke(request.dispid, GUID_NULL, LOCALE_USER_DEFAULT,
                                                              request.flags, request.args, &response->value,
                                                              &response->argErr);
                    break;
                case wire::Op::type_info: {
                    ITypeInfo* info = nullptr;
                    response->hr = connection->object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
                    if (SUCCEEDED(response->hr) && info != nullptr) {
                        response->typeInfo = wire::TypeInfoRecord::From(info->Library(), info->Interface());
                    }
                    if (info != nullptr) info->Release();
                    break;
                }
            }
        } catch (const std::bad_alloc&) {
            *response = Failure(E_OUTOFMEMORY, "the server ran out of memory");
        } catch (...) {
            *response = Failure(E_UNEXPECTED, "the call failed inside the server");
        }
    };
    if (!RunOnGui(job)) {
        *response = Failure(creating ? CO_E_SERVER_STOPPING : RPC_E_DISCONNECTED, "the server is stopping");
        return false;
    }
    return true;
}

void Server::Serve(Connection* connection) {
    const int fd = connection->fd;
    const Clock::time_point firstDeadline = Clock::now() + std::chrono::milliseconds(kFirstRequestTimeoutMs);
    bool created = false;
    std::string header(wire::kFrameHeaderBytes, '\0');
    std::string body;
    for (;;) {
        const int firstWait = created ? -1 : RemainingMs(firstDeadline);
        if (ReadExact(fd, header.data(), header.size(), firstWait, kRequestTimeoutMs) != ReadResult::ok) break;
        uint32_t length = 0;
        std::string error;
        if (!wire::ReadFrameLength(header, &length, &error)) {
            // What follows cannot be told apart from the next request: answer, then close.
            SendResponse(fd, Failure(RPC_E_INVALID_DATAPACKET, "refused: " + error), kReplyTimeoutMs);
            break;
        }
        body.resize(length);
        if (length > 0 &&
            ReadExact(fd, body.data(), length, kRequestTimeoutMs, kRequestTimeoutMs) != ReadResult::ok) {
            break;
        }
        wire::Request request;
        if (!wire::DecodeRequest(body, &request, &error)) {
            if (!SendResponse(fd, Failure(RPC_E_INVALID_DATAPACKET, "malformed request: " + error), kReplyTimeoutMs)) {
                break;
            }
            continue;
        }
        wire::Response response;
        const bool keep = Handle(connection, request, created, &response);
        if (request.op == wire::Op::create && SUCCEEDED(response.hr)) created = true;
        if (!SendResponse(fd, response, kReplyTimeoutMs) || !keep) break;
    }
    // The client is gone: its object goes on the GUI thread. When the server is closing, Close does it.
    if (created) RunOnGui([connection] { connection->object.Reset(); });
    connection->finished.store(true);
    Wake();
}

}  // namespace

LocalServerAddress GetLocalServerAddress() {
    LocalServerAddress address;
    const std::string profile = ProfileFolder();
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a64(profile)));
    address.socketName = std::string("door-") + hash + ".sock";
    address.lockName = std::string("door-") + hash + ".lock";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
        std::string folder = runtime;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        address.folder = folder + "/sinjo";
        address.runtimeFolder = true;
    } else {
        address.folder = profile;
    }
    return address;
}

int ConnectLocalServer(const LocalServerAddress& address) {
    SocketTarget target;
    if (!target.Make(address.folder, address.socketName)) return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int rc;
    do {
        rc = connect(fd, target.addr(), target.length());
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags, DWORD* cookie) {
    if (factory == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if ((context & CLSCTX_LOCAL_SERVER) == 0 || flags != REGCLS_MULTIPLEUSE) return E_INVALIDARG;
    ComPtr<IClassFactory> classFactory;
    if (FAILED(factory->QueryInterface(IID_IClassFactory, classFactory.ReleaseAndGetVoidAddress()))) {
        return E_NOINTERFACE;
    }
    if (g_server != nullptr) {
        for (const auto& [existing, entry] : g_server->classes) {
            if (entry.first == clsid) return CO_E_OBJISREG;
        }
    } else {
        auto server = std::make_unique<Server>();
        const HRESULT hr = server->Open();
        if (FAILED(hr)) return hr;
        g_server = server.release();
    }
    *cookie = ++g_lastCookie;
    g_server->classes.emplace(*cookie, std::make_pair(clsid, std::move(classFactory)));
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    if (g_server == nullptr || g_server->classes.erase(cookie) == 0) return E_INVALIDARG;
    if (g_server->classes.empty()) {
        Server* server = g_server;
        g_server = nullptr;
        server->Close();
        delete server;
    }
    return S_OK;
}

HRESULT CoSuspendClassObjects() {
    if (g_server != nullptr) g_server->suspended = true;
    return S_OK;
}

HRESULT CoResumeClassObjects() {
    if (g_server != nullptr) g_server->suspended = false;
    return S_OK;
}

size_t LocalServerConnectionCount() { return g_connectionCount.load(); }

}  // namespace platform
