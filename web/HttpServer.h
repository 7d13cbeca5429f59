// nutl::HttpServer: a small multi-threaded HTTP/1.1 server that knows nothing of the application.
//
// It listens on one TCP port on every local IPv4 address, gives each accepted connection a thread
// of its own (WorkerThread), reads requests line by line, parses the request line and its query
// string into an HttpRequest, hands request and response to the virtual HandleRequest and writes the
// response back with the fixed status line "HTTP/1.1 200 OK". Connections are persistent; a request
// body is never read (its bytes are read as the next request's lines).
//
// Hostile clients are bounded (HttpServerLimits): a line or a header past its cap, a connection that
// sends no complete request for the idle time-out, and connections beyond the worker bound are closed.
// A port that cannot be listened on is reported once through platform::MessageBox (standard error
// when headless); the program goes on without a web server.
//
// Threads:
//   - the owner's thread calls Start and Stop (the application's GUI thread);
//   - the accepting thread (the server's own CMiniThread) listens and accepts;
//   - one worker thread per open connection calls HandleRequest, many at once. The core takes no lock
//     around HandleRequest: a derived class serializes what it needs.
// Ownership: the server owns its workers (m_workers); a worker owns its HttpConnection and deletes
// itself through RemoveWorker as the last act of its thread. The owner must call Stop before deleting
// a derived server (the destructor stops again, but by then a derived HandleRequest is gone).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web/MiniThread.h"
#include "platform/ThreadAnnotations.h"

namespace nutl {

enum HttpMethod { MethodGet = 0, MethodPost = 1, MethodOther = 2 };

// One parsed request. All text is bytes as received, after URL decoding.
struct HttpRequest {
    HttpMethod method = MethodOther;
    std::string url;                            // the URL-decoded request target
    std::string urlPath;                        // url before its first "?"
    std::map<std::string, std::string> params;  // query parameters, keys compared byte-wise

    // The value stored under `name`, or an empty string.
    std::string GetParam(const std::string& name) const;
};

// The response a handler fills in. Headers go on the wire in map order (byte-wise key order).
struct HttpResponse {
    std::string body;
    std::string contentType = "text/plain";
    std::map<std::string, std::string> headers;

    void SetCacheControl(const std::string& value) { headers["Cache-Control"] = value; }
};

// An accepted connection: the socket (-1 once closed) and the received bytes not yet consumed.
struct HttpConnection {
    int socket = -1;
    std::string receiveBuffer;
};

// Parses the lines of one request (request line first, header lines after it; the header lines are not
// examined). Returns false when the request line has fewer than three space-separated tokens; then
// *request is left unspecified. Throws std::invalid_argument("Empty request") when `lines` is empty.
bool ParseRequest(const std::vector<std::string>& lines, HttpRequest* request);

// Stores Content-Type and Content-Length in response.headers and returns the bytes to send: the status
// line, each header in map order, a blank line and the body.
std::string SerializeResponse(HttpResponse& response);
// The same without the body: everything up to and including the blank line.
std::string SerializeResponseHead(HttpResponse& response);

// Bounds that protect the server from hostile or broken clients. An orderly client never meets them.
struct HttpServerLimits {
    std::size_t maxWorkers = 1024;      // live connections; one more is closed at once
    uint32_t idleTimeoutMs = 300000;    // from waiting for a request until its header is complete
    std::size_t maxLineBytes = 16384;   // one line, without its CR LF
    std::size_t maxHeaderBytes = 65536; // all lines of one request, CR LF included
    std::size_t maxHeaderLines = 100;   // all lines of one request, request line included
};

class HttpServer : private CMiniThread {
public:
    // Serves one connection on a thread of its own and deletes itself (through the server's
    // RemoveWorker) when the connection ends. Created only by the accepting thread.
    class WorkerThread : public ::nutl::CMiniThread {
    public:
        WorkerThread(std::unique_ptr<HttpConnection> connection, HttpServer* server);

        uint32_t Run() override;
        // Releases the thread handle, then has the server remove and delete this worker. Nothing of the
        // worker may be touched after it returns.
        virtual void OnExit();

    private:
        friend class HttpServer;
        // Reads one line into *line; false when the connection must end (peer closed, receive failed
        // or timed out, line over its cap, or the server shut the socket down).
        bool ReadLine(std::string* line);
        // Reads requests and answers them until the connection must end.
        void Serve();

        // Owned. Set to null, under the server's m_workersLock, once the socket is closed.
        std::unique_ptr<HttpConnection> m_connection;
        HttpServer* m_server;  // the owner; not owned

        // Used by the worker's own thread only.
        std::size_t m_scanFrom = 0;           // receiveBuffer holds no CR LF that starts before this
        int64_t m_deadlineMs = 0;             // end of the idle time-out for the request being read
        bool m_receiveTimeoutShortened = false;
    };

    explicit HttpServer(const HttpServerLimits& limits = HttpServerLimits{});
    ~HttpServer() override;
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Starts the accepting thread on `port` (its low 16 bits; 0 picks a free port). Returns false only
    // when that thread could not be created; a port that cannot be listened on is reported once by the
    // accepting thread. A server that runs already is left as it is. Owner's thread.
    bool Start(uint32_t port);

    // Stops accepting (waiting up to timeoutMs for the accepting thread), shuts every connection down
    // and returns once no worker is left and no counted request is in progress. Owner's thread.
    void Stop(uint32_t timeoutMs);

    // Waits up to timeoutMs for the accepting thread to listen; returns the bound TCP port, or 0 when
    // listening failed or has not happened in time. Any thread.
    uint16_t WaitForListening(uint32_t timeoutMs);

    // Live workers plus counted requests in progress. Any thread.
    int32_t BusyCount() const { return m_busyCount.load(); }

    // Removes `worker` from m_workers, deletes it and uncounts it. Called by a worker's OnExit on the
    // worker's own thread. A worker that is not in the list is an internal error: it is reported on
    // standard error as "Can't find worker." and left alone (neither deleted nor uncounted), since the
    // process must not die of it and nothing else may own it.
    void RemoveWorker(WorkerThread* worker);

protected:
    // Handles one request on the worker thread of its connection. The base leaves the response as
    // constructed (empty body, "text/plain"). An exception that escapes it ends that connection.
    virtual void HandleRequest(HttpRequest& request, HttpResponse& response);

    // Counts a request in progress, so that Stop waits for it. A derived handler brackets its dispatch
    // with these (also when the dispatch ends by an exception). Any thread.
    void IncrementBusy() { m_busyCount.fetch_add(1); }
    void DecrementBusy() { m_busyCount.fetch_sub(1); }

    // Starts a new worker's thread; false when the thread could not be created (the server then closes
    // that connection and drops the worker). Called by the accepting thread. Tests override it to
    // make thread creation fail.
    virtual bool StartWorker(WorkerThread* worker) { return worker->Start(); }

private:
    uint32_t Run() override;  // the accepting loop
    void ServeAccepted(int socket);
    void CloseConnection(WorkerThread* worker);
    void SetListening(int state, uint16_t port);

    // Constant after construction.
    const HttpServerLimits m_limits;

    uint32_t m_port = 0;  // written by Start before the accepting thread starts

    // The listening socket (-1 when not listening), with m_stopping and the listening state below,
    // guarded by m_listenLock. The accepting thread creates and closes the socket; Stop only shuts it
    // down, under the lock, so that the descriptor number cannot be reused while Stop still uses it.
    platform::Mutex m_listenLock;
    std::condition_variable m_listenChanged;
    int m_listenSocket GUARDED_BY(m_listenLock) = -1;
    bool m_stopping GUARDED_BY(m_listenLock) = false;   // set by Stop, cleared by Start
    int m_listenState GUARDED_BY(m_listenLock) = 0;     // 0 not yet, 1 listening, 2 failed
    uint16_t m_boundPort GUARDED_BY(m_listenLock) = 0;

    // Every live worker, in order of acceptance. Guarded by m_workersLock, which is also held while a
    // worker closes its socket (so that Stop never shuts down a reused descriptor number) and while the
    // accepting thread starts a worker (so that a worker ending at once cannot delete itself while its
    // Start is still running). Never held while waiting for another thread.
    platform::RecursiveMutex m_workersLock;
    std::list<WorkerThread*> m_workers GUARDED_BY(m_workersLock);
    bool m_acceptClosed GUARDED_BY(m_workersLock) = false;  // no new worker may be added

    // Live workers plus counted requests in progress. Changed only by atomic increments and
    // decrements; read by Stop without a lock.
    std::atomic<int32_t> m_busyCount{0};
};

}  // namespace nutl
