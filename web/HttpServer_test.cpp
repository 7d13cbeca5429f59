#include "web/HttpServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dialogs.h"

namespace nutl {
namespace {

using namespace std::string_literals;

// --- parsing and serialising, in memory ---------------------------------------------------------------

struct ParseCase {
    std::vector<std::string> lines;
    HttpMethod method;
    std::string url;
    std::string urlPath;
    std::map<std::string, std::string> params;
};

TEST(ParseRequest, ParsesRequestLineAndQuery) {
    const ParseCase cases[] = {
        {{"GET /index.htm HTTP/1.1", "Host: x", "Accept: */*"}, MethodGet, "/index.htm", "/index.htm", {}},
        {{"get  /a?x=1&y=&z HTTP/1.0"}, MethodGet, "/a?x=1&y=&z", "/a", {{"x", "1"}, {"y", ""}, {"z", ""}}},
        {{"  PoSt   /c?cmd=next   HTTP/1.1  "}, MethodPost, "/c?cmd=next", "/c", {{"cmd", "next"}}},
        {{"DELETE / HTTP/1.1"}, MethodOther, "/", "/", {}},
        {{"GETX / HTTP/1.1"}, MethodOther, "/", "/", {}},
        // "+" is a space and %2B a plus; decoding comes before splitting.
        {{"GET /a?q=%41%2Bb+c HTTP/1.1"}, MethodGet, "/a?q=A+b c", "/a", {{"q", "A+b c"}}},
        {{"GET /a?v=1%262 HTTP/1.1"}, MethodGet, "/a?v=1&2", "/a", {{"v", "1"}, {"2", ""}}},
        {{"GET /a%3fk=v HTTP/1.1"}, MethodGet, "/a?k=v", "/a", {{"k", "v"}}},
        {{"GET /a%4 HTTP/1.1"}, MethodGet, "/a", "/a", {}},
        // Empty items are skipped, a later name replaces an earlier one, only the first "=" splits.
        {{"GET /p?&&a=1&&a=2&b=x=y& HTTP/1.1"}, MethodGet, "/p?&&a=1&&a=2&b=x=y&", "/p",
         {{"a", "2"}, {"b", "x=y"}}},
        // Only the first "?" splits path from query.
        {{"GET /p?a=?b HTTP/1.1"}, MethodGet, "/p?a=?b", "/p", {{"a", "?b"}}},
        // An escaped zero byte ends the query's items.
        {{"GET /p?a=1%00&b=2 HTTP/1.1"}, MethodGet, "/p?a=1\0&b=2"s, "/p", {{"a", "1"}}},
        // Extra tokens after the version are ignored.
        {{"GET /x HTTP/1.1 extra"}, MethodGet, "/x", "/x", {}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        HttpRequest request;
        ASSERT_TRUE(ParseRequest(c.lines, &request));
        EXPECT_EQ(request.method, c.method);
        EXPECT_EQ(request.url, c.url);
        EXPECT_EQ(request.urlPath, c.urlPath);
        EXPECT_EQ(request.params, c.params);
    }
}

TEST(ParseRequest, RefusesRequestLinesWithFewerThanThreeTokens) {
    for (const std::string line : {"", "   ", "GET", "GET /a", "  GET    /a  ", "GET\t/a\tHTTP/1.1"}) {
        SCOPED_TRACE(line);
        HttpRequest request;
        EXPECT_FALSE(ParseRequest({line, "Host: x"}, &request));
    }
}

TEST(ParseRequest, NoLinesIsAnInternalError) {
    HttpRequest request;
    try {
        ParseRequest({}, &request);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Empty request");
    }
}

TEST(HttpRequestRecord, GetParamGivesEmptyForMissingNames) {
    HttpRequest request;
    request.params["a"] = "1";
    request.params["b"] = "";
    EXPECT_EQ(request.GetParam("a"), "1");
    EXPECT_EQ(request.GetParam("b"), "");
    EXPECT_EQ(request.GetParam("A"), "");
    EXPECT_EQ(request.GetParam("zz"), "");
}

TEST(SerializeResponse, ExactBytes) {
    HttpResponse empty;
    EXPECT_EQ(SerializeResponse(empty),
              "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: text/plain\r\n\r\n");
    // The header fields are stored in the record too.
    EXPECT_EQ(empty.headers.at("Content-Length"), "0");
    EXPECT_EQ(empty.headers.at("Content-Type"), "text/plain");

    HttpResponse ok;
    ok.body = "OK";
    ok.SetCacheControl("no-cache");
    EXPECT_EQ(SerializeResponse(ok),
              "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Length: 2\r\n"
              "Content-Type: text/plain\r\n\r\nOK");

    // Keys go out in byte order (upper case before lower case); the body is copied byte for byte.
    HttpResponse page;
    page.contentType = "text/html";
    page.body = "<p>\0\xff</p>"s;
    page.headers["x-low"] = "1";
    page.headers["Accept-Ranges"] = "none";
    page.headers["Content-Length"] = "999";  // always replaced by the real length
    EXPECT_EQ(SerializeResponse(page),
              "HTTP/1.1 200 OK\r\nAccept-Ranges: none\r\nContent-Length: 9\r\n"
              "Content-Type: text/html\r\nx-low: 1\r\n\r\n<p>\0\xff</p>"s);
}

TEST(SerializeResponse, LineBreaksInHeaderTextCannotForgeHeaders) {
    HttpResponse response;
    response.contentType = "text/plain\r\nSet-Cookie: a=b";
    response.headers["X-A\n"] = "v\r\n\r\nbody";
    EXPECT_EQ(SerializeResponse(response),
              "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: text/plainSet-Cookie: a=b\r\n"
              "X-A: vbody\r\n\r\n");
}

// --- end to end over loopback sockets ----------------------------------------------------------------

// Answers with the parsed request: "<method> <urlPath>" and then "|name=value" per parameter. The path
// "/empty" leaves the response untouched, "/throw" throws, "/hold" leaves counted work running until ReleaseHold.
// 3 MiB in which every 4-byte group is different, so a lost, repeated or misplaced piece shows.
std::string PatternBody() {
    std::string body;
    body.reserve(3 << 20);
    for (uint32_t i = 0; body.size() < (3u << 20); ++i) body.append(reinterpret_cast<const char*>(&i), 4);
    return body;
}

class TestServer final : public HttpServer {
public:
    explicit TestServer(const HttpServerLimits& limits = HttpServerLimits{}) : HttpServer(limits) {}
    ~TestServer() override { Stop(10000); }

    std::atomic<int> handled{0};

    // Ends the work that "/hold" started.
    void ReleaseHold() {
        std::lock_guard<std::mutex> lock(holdMutex);
        released = true;
        holdReleased.notify_all();
    }
    std::mutex holdMutex;
    std::condition_variable holdReleased;
    bool released = false;  // guarded by holdMutex

protected:
    void HandleRequest(HttpRequest& request, HttpResponse& response) override {
        handled.fetch_add(1);
        if (request.urlPath == "/empty") return;
        if (request.urlPath == "/throw") throw std::runtime_error("handler failed");
        if (request.urlPath == "/big") {
            response.body.assign(4 << 20, 'b');
            return;
        }
        if (request.urlPath == "/pattern") {
            response.body = PatternBody();
            return;
        }
        if (request.urlPath == "/hold") {
            // Work counted busy that outlives the request and its connection, as a dispatcher's may.
            IncrementBusy();
            std::thread([this] {
                std::unique_lock<std::mutex> lock(holdMutex);
                holdReleased.wait(lock, [this] { return released; });
                DecrementBusy();
            }).detach();
        }
        response.body = std::to_string(request.method) + " " + request.urlPath;
        for (const auto& [name, value] : request.params) response.body += "|" + name + "=" + value;
    }
};

std::string Answer(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent-Type: text/plain\r\n\r\n" + body;
}

// A blocking loopback client whose receives give up after a few seconds, so a fault fails the test
// instead of hanging it.
class Client final {
public:
    explicit Client(uint16_t port, int timeoutMs = 5000) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }

    bool Send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Reads exactly n bytes; fewer when the connection ends or the receive times out.
    std::string Read(std::size_t n) {
        std::string out;
        char chunk[4096];
        while (out.size() < n) {
            const ssize_t got = recv(fd_, chunk, std::min(sizeof chunk, n - out.size()), 0);
            if (got <= 0) break;
            out.append(chunk, static_cast<std::size_t>(got));
        }
        return out;
    }

    // True when the server closed the connection (a receive gives end of file or a reset) before the
    // time-out; any bytes that came first are appended to *before.
    bool WaitClosed(std::string* before = nullptr) {
        char chunk[4096];
        for (;;) {
            const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
            if (got == 0) return true;
            if (got < 0) return errno == ECONNRESET;
            if (before) before->append(chunk, static_cast<std::size_t>(got));
        }
    }

    // True when nothing arrives (and the connection stays open) for ms milliseconds.
    bool Silent(int ms) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, ms) == 0;
    }

    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

uint16_t StartServer(HttpServer& server) {
    EXPECT_TRUE(server.Start(0));
    const uint16_t port = server.WaitForListening(5000);
    EXPECT_NE(port, 0);
    return port;
}

// Waits up to a second for the server's busy count to come down to `count`; returns the count.
int32_t SettleBusy(const HttpServer& server, int32_t count) {
    for (int i = 0; i < 500 && server.BusyCount() > count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return server.BusyCount();
}

// An orderly client still gets its answer.
void ExpectServes(uint16_t port) {
    Client client(port);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.Send("GET /alive?ok=1 HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(client.Read(Answer("0 /alive|ok=1").size()), Answer("0 /alive|ok=1"));
}

// One conversation on one connection: each step sends bytes and expects exactly `reply` back (an empty
// reply: silence while the connection stays open). With `closes`, the server must then close the
// connection without sending anything more.
struct WireStep {
    std::string send;
    std::string reply;
};
struct WireCase {
    const char* name;
    std::vector<WireStep> steps;
    bool closes = false;
};

TEST(HttpServerWire, ConversationsGiveExactBytes) {
    const std::string empty = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: text/plain\r\n\r\n";
    const WireCase cases[] = {
        {"request, then a second one on the persistent connection",
         {{"get  /a?x=1&y=&z HTTP/1.0\r\nHost: x\r\nUser-Agent: t\r\n\r\n", Answer("0 /a|x=1|y=|z=")},
          {"POST /b?q=%41%2Bb+c HTTP/1.1\r\n\r\n", Answer("1 /b|q=A+b c")}}},
        {"handler that sets nothing", {{"GET /empty HTTP/1.1\r\n\r\n", empty}, {"", ""}}},
        {"two-token request line is not answered, the next request is",
         {{"GET /broken\r\nHost: x\r\n\r\n", ""}, {"GET /next HTTP/1.1\r\n\r\n", Answer("0 /next")}}},
        {"two requests in one packet, answered in order",
         {{"GET /one HTTP/1.1\r\n\r\nGET /two?a=b HTTP/1.1\r\nHost: x\r\n\r\n",
           Answer("0 /one") + Answer("0 /two|a=b")}}},
        {"request split across packets, CR and LF apart",
         {{"GE", ""}, {"T /sp", ""}, {"lit HTTP/1.1\r", ""}, {"\nHost: x\r\n\r", ""}, {"\n", Answer("0 /split")}}},
        {"bare CR LF where a request line belongs closes the connection",
         {{"\r\nGET /never HTTP/1.1\r\n\r\n", ""}}, true},
        // The body is never read: after "abc" the next request line reads "abcGET /n HTTP/1.1".
        {"body bytes are read as the next request's line",
         {{"POST /p HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", Answer("1 /p")},
          {"GET /n HTTP/1.1\r\n\r\n", Answer("2 /n")}}},
    };
    TestServer server;
    const uint16_t port = StartServer(server);
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        Client client(port);
        ASSERT_TRUE(client.connected());
        for (const WireStep& step : c.steps) {
            ASSERT_TRUE(client.Send(step.send));
            if (!step.reply.empty()) {
                EXPECT_EQ(client.Read(step.reply.size()), step.reply);
            } else if (!c.closes) {
                EXPECT_TRUE(client.Silent(100));
            }
        }
        if (c.closes) {
            std::string before;
            EXPECT_TRUE(client.WaitClosed(&before));
            EXPECT_EQ(before, "");
        }
    }
    // Only the requests above that were meant to be answered reached the handler.
    EXPECT_EQ(server.handled.load(), 9);
}

TEST(HttpServerLifecycle, StopWithAnIdlePersistentClientClosesItAndReturns) {
    TestServer server;
    const uint16_t port = StartServer(server);
    Client client(port);
    ASSERT_TRUE(client.Send("GET /x HTTP/1.1\r\n\r\n"));
    ASSERT_EQ(client.Read(Answer("0 /x").size()), Answer("0 /x"));
    ASSERT_EQ(server.BusyCount(), 1);
    server.Stop(10000);
    EXPECT_EQ(server.BusyCount(), 0);
    EXPECT_TRUE(client.WaitClosed());
    // Nothing listens any more.
    Client late(port);
    EXPECT_FALSE(late.connected());
}

TEST(HttpServerLifecycle, StopWaitsForACountedRequestInProgress) {
    TestServer server;
    {
        Client client(StartServer(server));
        ASSERT_TRUE(client.Send("GET /hold HTTP/1.1\r\n\r\n"));
        client.Read(1);  // answered: the request's own worker is done with it
    }
    for (int i = 0; i < 5000 && server.BusyCount() != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(server.BusyCount(), 1);  // only the counted work is left
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        server.Stop(10000);
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(stopped.load()) << "Stop returned while counted work was still in progress";
    server.ReleaseHold();
    stopper.join();
    EXPECT_EQ(server.BusyCount(), 0);
}

TEST(HttpServerLifecycle, StopWakesAWorkerBlockedSendingToAClientThatDoesNotRead) {
    TestServer server;
    Client client(StartServer(server));
    ASSERT_TRUE(client.Send("GET /big HTTP/1.1\r\n\r\nGET /big HTTP/1.1\r\n\r\nGET /big HTTP/1.1\r\n\r\n"));
    for (int i = 0; i < 5000 && server.handled.load() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // 12 MiB never fit the buffers
    server.Stop(10000);  // the idle time-out (300 s) would end the send only much later
    EXPECT_EQ(server.BusyCount(), 0);
}

TEST(HttpServerLifecycle, LargeBodyReadSlowlyArrivesWholeBeforeTheNextAnswer) {
    TestServer server;
    const uint16_t port = StartServer(server);
    Client client(port);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.Send("GET /pattern HTTP/1.1\r\n\r\nGET /next HTTP/1.1\r\n\r\n"));
    // Read slowly at first, so that the server's sends are cut short and must go on where they stopped.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string first = Answer(PatternBody());
    std::string got;
    for (int i = 0; i < 20; ++i) {
        got += client.Read(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    got += client.Read(first.size() - got.size());
    ASSERT_EQ(got.size(), first.size());
    EXPECT_TRUE(got == first) << "the large answer arrived changed";
    EXPECT_EQ(client.Read(Answer("0 /next").size()), Answer("0 /next"));
}

TEST(HttpServerLifecycle, StopBeforeAnyClientAndRestart) {
    TestServer server;
    const uint16_t port = StartServer(server);
    server.Stop(10000);
    server.Stop(10000);  // a second Stop does nothing
    ASSERT_TRUE(server.Start(port));
    ASSERT_EQ(server.WaitForListening(5000), port);
    ExpectServes(port);
}

TEST(HttpServerLifecycle, ListeningFailureIsReportedOnceAndNothingServes) {
    TestServer first;
    const uint16_t port = StartServer(first);

    std::vector<std::wstring> reports;
    std::mutex reportsLock;
    platform::SetMessageBoxHook([&](std::wstring_view text, std::wstring_view, unsigned) {
        std::lock_guard<std::mutex> lock(reportsLock);
        reports.emplace_back(text);
        return platform::IDOK;
    });
    TestServer second;
    EXPECT_TRUE(second.Start(port));
    EXPECT_EQ(second.WaitForListening(5000), 0);
    second.Stop(10000);
    // The report is made by the accepting thread once it has let go of the server; wait for it, and
    // a little longer to see that it comes only once.
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard<std::mutex> lock(reportsLock);
            if (!reports.empty()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform::SetMessageBoxHook(nullptr);
    std::lock_guard<std::mutex> lock(reportsLock);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(L"port " + std::to_wstring(port)), std::wstring::npos);
    EXPECT_NE(reports[0].find(L"in use"), std::wstring::npos);
    // The first server is unharmed.
    ExpectServes(port);
}

TEST(HttpServerLifecycle, HandlerExceptionEndsOnlyThatConnection) {
    TestServer server;
    const uint16_t port = StartServer(server);
    Client client(port);
    ASSERT_TRUE(client.Send("GET /throw HTTP/1.1\r\n\r\n"));
    std::string before;
    EXPECT_TRUE(client.WaitClosed(&before));
    EXPECT_EQ(before, "");
    ExpectServes(port);
    server.Stop(10000);
    EXPECT_EQ(server.BusyCount(), 0);
}

TEST(HttpServerLifecycle, RemovingAnUnknownWorkerLeavesItAlone) {
    TestServer server;
    const uint16_t port = StartServer(server);
    Client client(port);
    ASSERT_TRUE(client.Send("GET /x HTTP/1.1\r\n\r\n"));
    ASSERT_EQ(client.Read(Answer("0 /x").size()), Answer("0 /x"));

    auto stranger = std::make_unique<HttpServer::WorkerThread>(std::make_unique<HttpConnection>(), &server);
    server.RemoveWorker(stranger.get());  // reported, not deleted (unique_ptr frees it), not uncounted
    EXPECT_EQ(server.BusyCount(), 1);
    ExpectServes(port);
    server.Stop(10000);
    EXPECT_EQ(server.BusyCount(), 0);
}

TEST(HttpServerLifecycle, BurstOfSimultaneousConnectionsIsServed) {
    TestServer server;
    const uint16_t port = StartServer(server);
    constexpr int kClients = 300;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kClients; ++i) clients.push_back(std::make_unique<Client>(port));
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(clients[i]->connected()) << i;
        ASSERT_TRUE(clients[i]->Send("GET /c?i=" + std::to_string(i) + " HTTP/1.1\r\n\r\n"));
    }
    for (int i = 0; i < kClients; ++i) {
        const std::string expected = Answer("0 /c|i=" + std::to_string(i));
        ASSERT_EQ(clients[i]->Read(expected.size()), expected) << i;
    }
    EXPECT_EQ(server.BusyCount(), kClients);
    server.Stop(10000);
    EXPECT_EQ(server.BusyCount(), 0);
}

// Thread creation fails for the first `failures` connections.
class NoThreadServer final : public HttpServer {
public:
    explicit NoThreadServer(int failures) : failures_(failures) {}
    ~NoThreadServer() override { Stop(10000); }

protected:
    bool StartWorker(WorkerThread* worker) override {
        if (failures_.fetch_sub(1) > 0) return false;
        return HttpServer::StartWorker(worker);
    }

private:
    std::atomic<int> failures_;
};

TEST(HttpServerLifecycle, ConnectionWithoutAThreadIsClosedAndForgotten) {
    NoThreadServer server(3);
    const uint16_t port = StartServer(server);
    for (int i = 0; i < 3; ++i) {
        Client client(port);
        client.Send("GET /x HTTP/1.1\r\n\r\n");
        std::string before;
        EXPECT_TRUE(client.WaitClosed(&before));
        EXPECT_EQ(before, "");
    }
    EXPECT_EQ(SettleBusy(server, 0), 0);
    Client client(port);
    ASSERT_TRUE(client.Send("GET /x HTTP/1.1\r\n\r\n"));
    const std::string expected = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: text/plain\r\n\r\n";
    EXPECT_EQ(client.Read(expected.size()), expected);
    server.Stop(10000);  // would wait for ever if a dropped worker were still counted
    EXPECT_EQ(server.BusyCount(), 0);
    EXPECT_TRUE(client.WaitClosed());
}

// --- hostile clients: each is cut off, and the server goes on serving and stops ----------------------

class HttpServerHostile : public ::testing::Test {
protected:
    static HttpServerLimits SmallLimits() {
        HttpServerLimits limits;
        limits.maxWorkers = 8;
        limits.idleTimeoutMs = 400;
        return limits;
    }
    void SetUp() override { port_ = StartServer(server_); }
    void TearDown() override {
        ExpectServes(port_);
        server_.Stop(10000);
        EXPECT_EQ(server_.BusyCount(), 0);
    }

    TestServer server_{SmallLimits()};
    uint16_t port_ = 0;
};

TEST_F(HttpServerHostile, OverLongLineClosesTheConnection) {
    Client client(port_);
    // Up to the cap a line is fine...
    ASSERT_TRUE(client.Send("GET /" + std::string(16384 - 14, 'a') + " HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.Read(Answer("0 /" + std::string(16384 - 14, 'a')).size()),
              Answer("0 /" + std::string(16384 - 14, 'a')));
    // ...one byte past it, the connection ends unanswered, however much more would come.
    client.Send("GET /" + std::string(16384 - 13, 'a') + " HTTP/1.1\r\n\r\n");
    std::string before;
    EXPECT_TRUE(client.WaitClosed(&before));
    EXPECT_EQ(before, "");
    Client endless(port_);
    std::string junk(64 * 1024, 'x');
    for (int i = 0; i < 64 && endless.Send(junk); ++i) {
    }
    EXPECT_TRUE(endless.WaitClosed());
}

TEST_F(HttpServerHostile, OverLongHeaderClosesTheConnection) {
    std::string manyLines = "GET /h HTTP/1.1\r\n";
    for (int i = 0; i < 100; ++i) manyLines += "X-" + std::to_string(i) + ": v\r\n";
    manyLines += "\r\n";
    std::string bigHeader = "GET /h HTTP/1.1\r\n";
    for (int i = 0; i < 5; ++i) bigHeader += "X: " + std::string(15000, 'v') + "\r\n";
    bigHeader += "\r\n";
    for (const std::string& request : {manyLines, bigHeader}) {
        Client client(port_);
        client.Send(request);
        std::string before;
        EXPECT_TRUE(client.WaitClosed(&before));
        EXPECT_EQ(before, "");
    }
    // Just under both caps is an ordinary request.
    std::string fits = "GET /h HTTP/1.1\r\n";
    for (int i = 0; i < 99; ++i) fits += "X: v\r\n";
    fits += "\r\n";
    Client client(port_);
    ASSERT_TRUE(client.Send(fits));
    EXPECT_EQ(client.Read(Answer("0 /h").size()), Answer("0 /h"));
    EXPECT_EQ(server_.handled.load(), 1);
}

TEST_F(HttpServerHostile, ZeroByteDropsTheRestOfItsChunk) {
    Client client(port_);
    ASSERT_TRUE(client.Send("GET /z\0dropped\r\n\r\n"s));
    EXPECT_TRUE(client.Silent(100));
    // The text before the zero byte waits for the rest of its line.
    ASSERT_TRUE(client.Send("?k=v HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.Read(Answer("0 /z|k=v").size()), Answer("0 /z|k=v"));
}

TEST_F(HttpServerHostile, SilentClientIsClosedAfterTheIdleTimeout) {
    Client client(port_);
    EXPECT_TRUE(client.WaitClosed());
    // A client that dribbles a request without ever finishing it is closed too: the time-out covers
    // the whole request, not each receive.
    Client dribbler(port_);
    bool closed = false;
    for (int i = 0; i < 60 && !closed; ++i) {
        closed = !dribbler.Send(i == 0 ? "GET /d HTTP/1.1\r\n" : "X: 1\r\n") || !dribbler.Silent(50);
    }
    EXPECT_TRUE(closed);
    EXPECT_TRUE(dribbler.WaitClosed());
    EXPECT_EQ(server_.handled.load(), 0);
}

TEST_F(HttpServerHostile, ClientVanishingMidRequestIsNotAnswered) {
    for (const std::string partial : {"GET /v", "GET /v HTTP/1.1\r\n", "GET /v HTTP/1.1\r\nHost: x\r\n"}) {
        Client client(port_);
        ASSERT_TRUE(client.Send(partial));
        client.Close();
    }
    // Each worker ends: only the orderly client of TearDown remains counted once it connects.
    EXPECT_EQ(SettleBusy(server_, 0), 0);
    EXPECT_EQ(server_.handled.load(), 0);
}

TEST_F(HttpServerHostile, ConnectionsPastTheWorkerBoundAreClosedAtOnce) {
    std::vector<std::unique_ptr<Client>> held;
    for (int i = 0; i < 8; ++i) {
        held.push_back(std::make_unique<Client>(port_));
        ASSERT_TRUE(held.back()->Send("GET /held HTTP/1.1\r\n\r\n"));
        ASSERT_EQ(held.back()->Read(Answer("0 /held").size()), Answer("0 /held"));
    }
    for (int i = 0; i < 20; ++i) {
        Client extra(port_);
        extra.Send("GET /extra HTTP/1.1\r\n\r\n");
        std::string before;
        EXPECT_TRUE(extra.WaitClosed(&before));
        EXPECT_EQ(before, "");
    }
    EXPECT_EQ(server_.BusyCount(), 8);
    // Held connections still work, and a freed place is taken by the next client.
    ASSERT_TRUE(held[3]->Send("GET /again HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(held[3]->Read(Answer("0 /again").size()), Answer("0 /again"));
    held[0]->Close();
    ASSERT_EQ(SettleBusy(server_, 7), 7);
    ExpectServes(port_);
    held.clear();
    EXPECT_EQ(SettleBusy(server_, 0), 0);
}

}  // namespace
}  // namespace nutl
