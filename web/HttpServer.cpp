#include "web/HttpServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/Dialogs.h"
#include "platform/Socket.h"
#include "platform/Tick.h"
#include "core/ByteString.h"
#include "core/Text.h"

namespace nutl {

namespace {

constexpr std::size_t kChunkBytes = 1000;  // receives are made in chunks of at most this size

enum ListenState { kNotListening = 0, kListening = 1, kListenFailed = 2 };

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Header text goes on the wire as it is, so a CR or LF inside a name or value would end the line early
// and let the rest pose as further headers or body. Such bytes are left out.
void AppendHeaderText(std::string* out, const std::string& text) {
    if (text.find_first_of("\r\n") == std::string::npos) {
        out->append(text);
        return;
    }
    for (char c : text) {
        if (c != '\r' && c != '\n') out->push_back(c);
    }
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

// --- records ----------------------------------------------------------------------------------------

std::string HttpRequest::GetParam(const std::string& name) const {
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

bool ParseRequest(const std::vector<std::string>& lines, HttpRequest* request) {
    if (lines.empty()) throw std::invalid_argument("Empty request");
    const std::vector<std::string> tokens = Tokenize(lines[0], " ");
    if (tokens.size() < 3) return false;

    if (EqualsAsciiNoCase(tokens[0], "GET")) {
        request->method = MethodGet;
    } else if (EqualsAsciiNoCase(tokens[0], "POST")) {
        request->method = MethodPost;
    } else {
        request->method = MethodOther;
    }
    // Decoding comes first, so an encoded "?", "&" or "=" splits the target like a plain one.
    request->url = UrlDecode(tokens[1]);
    std::string query;
    SplitAt(request->url, '?', &request->urlPath, &query);
    request->params.clear();
    for (const std::string& item : Tokenize(query, "&")) {
        std::string name;
        std::string value;
        SplitAt(item, '=', &name, &value);
        request->params[name] = value;
    }
    return true;
}

std::string SerializeResponseHead(HttpResponse& response) {
    response.headers["Content-Type"] = response.contentType;
    response.headers["Content-Length"] = std::to_string(response.body.size());
    std::string out;
    std::size_t size = 19;
    for (const auto& [key, value] : response.headers) size += key.size() + value.size() + 4;
    out.reserve(size);
    out.append("HTTP/1.1 200 OK\r\n");
    for (const auto& [key, value] : response.headers) {
        AppendHeaderText(&out, key);
        out.append(": ");
        AppendHeaderText(&out, value);
        out.append("\r\n");
    }
    out.append("\r\n");
    return out;
}

std::string SerializeResponse(HttpResponse& response) {
    std::string out = SerializeResponseHead(response);
    out.append(response.body);
    return out;
}

// --- server: owner's thread ---------------------------------------------------------------------------

HttpServer::HttpServer(const HttpServerLimits& limits) : m_limits(limits) {}

HttpServer::~HttpServer() {
    // An orderly owner has stopped already; then there is nothing left to wait for. Otherwise the
    // accepting thread and the workers must be gone before the members they use are.
    if (IsRunning() || m_busyCount.load() > 0) Stop(10000);
}

bool HttpServer::Start(uint32_t port) {
    if (IsRunning()) return true;
    {
        platform::MutexLock lock(m_listenLock);
        m_stopping = false;
        m_listenState = kNotListening;
        m_boundPort = 0;
    }
    {
        platform::RecursiveMutexLock lock(m_workersLock);
        m_acceptClosed = false;
    }
    m_port = port;
    if (!CMiniThread::Start()) {
        SetListening(kListenFailed, 0);
        platform::MessageBox(nullptr,
                             L"The web server cannot start: no thread could be created for it.",
                             L"Web server", platform::MB_OK | platform::MB_ICONEXCLAMATION);
        return false;
    }
    return true;
}

void HttpServer::Stop(uint32_t timeoutMs) {
    {
        // The stop event is set before the listener is shut down, so the accept that fails because of
        // the shutdown finds it set and the loop ends at once.
        platform::MutexLock lock(m_listenLock);
        m_stopping = true;
        m_stopEvent.Set();
        if (m_listenSocket >= 0) platform::ShutdownSocket(m_listenSocket);
        m_listenChanged.notify_all();
    }
    CMiniThread::Stop(timeoutMs);
    {
        platform::RecursiveMutexLock lock(m_workersLock);
        m_acceptClosed = true;
        // Shutting a socket down wakes its worker's receive (or send); the worker closes the
        // descriptor itself, under this lock, when it ends.
        for (WorkerThread* worker : m_workers) {
            if (worker->m_connection && worker->m_connection->socket >= 0) {
                platform::ShutdownSocket(worker->m_connection->socket);
            }
        }
    }
    while (m_busyCount.load() > 0) platform::Sleep(10);
}

uint16_t HttpServer::WaitForListening(uint32_t timeoutMs) {
    platform::UniqueMutexLock lock(m_listenLock);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_listenState == kNotListening && !m_stopping) {
        if (m_listenChanged.wait_until(lock.native(), deadline) == std::cv_status::timeout) break;
    }
    return m_listenState == kListening ? m_boundPort : 0;
}

void HttpServer::SetListening(int state, uint16_t port) {
    platform::MutexLock lock(m_listenLock);
    m_listenState = state;
    m_boundPort = port;
    m_listenChanged.notify_all();
}

void HttpServer::HandleRequest(HttpRequest&, HttpResponse&) {}

// --- server: accepting thread ---------------------------------------------------------------------------

uint32_t HttpServer::Run() {
    std::string error;
    // As many pending connections as the system allows: room for a burst of a few hundred simultaneous
    // connects. A restarted jukebox listens again at once while connections of its previous run linger.
    const int fd =
        platform::ListenTcp(static_cast<uint16_t>(m_port & 0xFFFF), platform::MaxListenBacklog(), &error);
    if (fd < 0) {
        const unsigned port = m_port & 0xFFFF;
        SetListening(kListenFailed, 0);
        ReleaseThreadHandle();
        // Reported after the handle is released, so that a message box waiting for the user never
        // holds up Stop. Nothing of the server is used from here on.
        const std::wstring text = L"The web server cannot listen on port " + std::to_wstring(port) +
                                  L": " + Widen(error) +
                                  L". Phones and browsers cannot reach the jukebox.";
        platform::MessageBox(nullptr, text, L"Web server",
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
        return 1;
    }
    const uint16_t boundPort = platform::LocalPort(fd);
    bool listening = false;
    {
        platform::MutexLock lock(m_listenLock);
        if (m_stopping) {
            platform::CloseSocket(fd);  // Stop came before listening began: nothing to accept on
        } else {
            m_listenSocket = fd;
            m_listenState = kListening;
            m_boundPort = boundPort;
            listening = true;
        }
        m_listenChanged.notify_all();
    }
    while (listening && !m_stopEvent.Wait(0)) {
        platform::AcceptFailure failure = platform::AcceptFailure::kOther;
        const int accepted = platform::AcceptConnection(fd, &failure);
        if (accepted < 0) {
            if (failure == platform::AcceptFailure::kOutOfResources) {
                // Out of descriptors or memory: the pending connection stays queued; try again soon
                // rather than spinning.
                platform::Sleep(50);
            } else if (failure == platform::AcceptFailure::kOther) {
                platform::Sleep(1);  // e.g. the listener was shut down: the stop event ends the loop
            }
            continue;
        }
        ServeAccepted(accepted);
    }

    {
        platform::MutexLock lock(m_listenLock);
        if (m_listenSocket >= 0) {
            platform::CloseSocket(m_listenSocket);
            m_listenSocket = -1;
        }
        m_listenState = kNotListening;
    }
    ReleaseThreadHandle();
    return 0;
}

void HttpServer::ServeAccepted(int socket) {
    // The lock is held until the worker's thread has been started: a worker that ends at once must
    // not remove and delete itself (RemoveWorker and CloseConnection take this lock) while Start is
    // still using the object.
    platform::RecursiveMutexLock lock(m_workersLock);
    if (m_acceptClosed || m_workers.size() >= m_limits.maxWorkers) {
        platform::CloseSocket(socket);  // stopping, or the bound of live connections is reached
        return;
    }
    // Every response goes out in one send; there is nothing to gain from holding its tail back.
    platform::SetNoDelay(socket);
    // A peer that stops reading must not hold its worker for ever.
    platform::SetSendTimeout(socket, m_limits.idleTimeoutMs);
    platform::SetReceiveTimeout(socket, m_limits.idleTimeoutMs);

    auto connection = std::make_unique<HttpConnection>();
    connection->socket = socket;
    WorkerThread* worker = new WorkerThread(std::move(connection), this);
    m_busyCount.fetch_add(1);
    m_workers.push_back(worker);
    if (StartWorker(worker)) return;  // the worker now belongs to its thread

    // The thread could not be created: the worker never runs, so take it back out and close the
    // connection, or Stop would wait for it for ever.
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true)) {
        std::fprintf(stderr, "Web server: no thread could be created for a connection; closing it.\n");
    }
    m_workers.remove(worker);
    platform::CloseSocket(socket);
    worker->m_connection.reset();
    delete worker;
    m_busyCount.fetch_sub(1);
}

// --- worker threads -------------------------------------------------------------------------------------

void HttpServer::CloseConnection(WorkerThread* worker) {
    platform::RecursiveMutexLock lock(m_workersLock);
    if (worker->m_connection) {
        if (worker->m_connection->socket >= 0) platform::CloseSocket(worker->m_connection->socket);
        worker->m_connection->socket = -1;
        worker->m_connection.reset();
    }
}

void HttpServer::RemoveWorker(WorkerThread* worker) {
    bool found = false;
    {
        platform::RecursiveMutexLock lock(m_workersLock);
        const auto it = std::find(m_workers.begin(), m_workers.end(), worker);
        if (it != m_workers.end()) {
            m_workers.erase(it);
            found = true;
        }
    }
    if (!found) {
        std::fprintf(stderr, "Can't find worker.\n");
        return;
    }
    delete worker;
    // Last: once the count drops, Stop may return and the server may be deleted.
    m_busyCount.fetch_sub(1);
}

HttpServer::WorkerThread::WorkerThread(std::unique_ptr<HttpConnection> connection, HttpServer* server)
    : m_connection(std::move(connection)), m_server(server) {}

void HttpServer::WorkerThread::OnExit() {
    HttpServer* server = m_server;
    ReleaseThreadHandle();
    server->RemoveWorker(this);
}

bool HttpServer::WorkerThread::ReadLine(std::string* line) {
    HttpConnection& connection = *m_connection;
    std::string& buffer = connection.receiveBuffer;
    const HttpServerLimits& limits = m_server->m_limits;
    for (;;) {
        if (buffer.size() >= 2) {
            const std::size_t p = buffer.find("\r\n", m_scanFrom);
            if (p != std::string::npos) {
                if (p > limits.maxLineBytes) return false;
                line->assign(buffer, 0, p);
                buffer.erase(0, p + 2);
                m_scanFrom = 0;
                return true;
            }
            m_scanFrom = buffer.size() - 1;  // a CR at the very end may still meet its LF
        }
        // A line longer than the cap: buffer holds more than the cap plus a trailing CR.
        if (buffer.size() > limits.maxLineBytes + 1) return false;

        const int64_t left = m_deadlineMs - NowMs();
        if (left <= 0) return false;
        // Once part of the request has taken a while to arrive, the rest must come within what is
        // left. The slack keeps the ordinary request, read at once, free of extra system calls.
        const int64_t idle = limits.idleTimeoutMs;
        if (left < idle - std::min<int64_t>(idle / 8, 1000)) {
            platform::SetReceiveTimeout(connection.socket, static_cast<uint32_t>(left));
            m_receiveTimeoutShortened = true;
        }
        char chunk[kChunkBytes];
        const long n = platform::Receive(connection.socket, chunk, sizeof chunk);
        if (n <= 0) return false;  // peer closed, receive failed or timed out, or Stop shut it down
        // A zero byte ends the chunk's text; what follows it in this chunk is dropped.
        const void* zero = std::memchr(chunk, 0, static_cast<std::size_t>(n));
        const std::size_t take =
            zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - chunk)
                 : static_cast<std::size_t>(n);
        buffer.append(chunk, take);
    }
}

void HttpServer::WorkerThread::Serve() {
    HttpServer* const server = m_server;
    const HttpServerLimits& limits = server->m_limits;
    std::vector<std::string> lines;
    std::string line;
    for (;;) {
        m_deadlineMs = NowMs() + limits.idleTimeoutMs;
        if (m_receiveTimeoutShortened) {
            platform::SetReceiveTimeout(m_connection->socket, limits.idleTimeoutMs);
            m_receiveTimeoutShortened = false;
        }
        // The peer closed, a receive failed, or a blank line came where a request line belongs.
        if (!ReadLine(&line) || line.empty()) break;

        lines.clear();
        std::size_t headerBytes = line.size() + 2;
        lines.push_back(std::move(line));
        bool complete = false;
        for (;;) {
            if (!ReadLine(&line)) break;
            if (line.empty()) {
                complete = true;
                break;
            }
            headerBytes += line.size() + 2;
            if (lines.size() >= limits.maxHeaderLines || headerBytes > limits.maxHeaderBytes) break;
            lines.push_back(std::move(line));
        }
        // A request whose header never ended is dropped with its connection, unanswered.
        if (!complete) break;

        HttpRequest request;
        if (!ParseRequest(lines, &request)) continue;  // no answer; the connection stays open

        HttpResponse response;
        try {
            server->HandleRequest(request, response);
        } catch (const std::exception& e) {
            // The handler's failure ends this connection only; the jukebox goes on.
            std::fprintf(stderr, "Web server: a request failed: %s\n", e.what());
            break;
        } catch (...) {
            std::fprintf(stderr, "Web server: a request failed\n");
            break;
        }
        // Head and body go out together in one call, without first copying the body behind the head.
        const std::string head = SerializeResponseHead(response);
        if (!platform::SendAll(m_connection->socket, head, response.body)) break;
    }
}

uint32_t HttpServer::WorkerThread::Run() {
    HttpServer* const server = m_server;
    try {
        Serve();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Web server: connection ended by an error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Web server: connection ended by an error\n");
    }
    server->CloseConnection(this);
    OnExit();  // deletes this worker
    return 0;
}

}  // namespace nutl
