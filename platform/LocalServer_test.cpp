// The local server in one process: a test class served over the real socket, with clients on other
// threads (the proxy, or raw bytes) while this thread, the GUI thread, runs the loop.
#include "platform/LocalServer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/DispatchWire.h"
#include "platform/FileSystem.h"
#include "platform/Gui.h"
#include "platform/LocalClient.h"

namespace platform {
namespace {

constexpr CLSID kCounterClass{0xC0FFEE00, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};

constexpr ParamDesc kAddParams[] = {{L"n", VT_I4, PARAMFLAG_FIN}};
constexpr ParamDesc kLongResult[] = {{L"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kBoolResult[] = {{L"v", VT_BOOL, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr FuncDesc kCounterFuncs[] = {
    {1, INVOKE_FUNC, L"Add", kAddParams, L"method Add", 7},
    {2, INVOKE_PROPERTYGET, L"Total", kLongResult, L"property Total", 8},
    {3, INVOKE_PROPERTYGET, L"OnGuiThread", kBoolResult, L"property OnGuiThread", 9},
};
constexpr InterfaceDesc kCounterInterface{L"ICounter", GUID{0xC0FFEE01, 0, 0, {}}, L"ICounter Interface",
                                          TYPEFLAG_FDUAL, kCounterFuncs};
constexpr const InterfaceDesc* kCounterInterfaces[] = {&kCounterInterface};
constexpr TypeLibDesc kCounterLib{L"CounterLib", GUID{0xC0FFEE02, 0, 0, {}}, 1, 0, 0x409, SYS_WIN32, 0,
                                  L"Counter 1.0", kCounterInterfaces, {}};

std::atomic<int> g_liveCounters{0};
std::atomic<int> g_callsOffGuiThread{0};

// A served object: a running total. Its count is not atomic, as a served object's need not be: the
// server touches it on the GUI thread only, which every member checks.
class Counter final : public IDispatch, private MemberCaller {
public:
    Counter() { ++g_liveCounters; }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        Check();
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override {
        Check();
        return ++refs_;
    }
    ULONG Release() override {
        Check();
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        *info = CreateStaticTypeInfo(kCounterLib, kCounterInterface);
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, const std::wstring_view* names, UINT count, LCID, DISPID* ids) override {
        Check();
        return DispGetIDsOfNames(kCounterInterface, names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, std::span<const Variant> args, Variant* result,
                   UINT* argErr) override {
        return DispInvoke(kCounterInterface, *this, id, flags, args, result, argErr);
    }

private:
    ~Counter() { --g_liveCounters; }
    static void Check() {
        if (!IsGuiThread()) ++g_callsOffGuiThread;
    }
    HRESULT CallMember(const FuncDesc& member, std::span<const Variant> in, Variant* result) override {
        Check();
        if (member.memid == 1) total_ += in[0].lVal;
        if (member.memid == 2) *result = Variant::Long(total_);
        if (member.memid == 3) *result = Variant::Bool(IsGuiThread());
        return S_OK;
    }
    ULONG refs_ = 1;
    LONG total_ = 0;
};

class CounterFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown*, REFIID iid, void** object) override {
        Counter* counter = new Counter();
        const HRESULT hr = counter->QueryInterface(iid, object);
        counter->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

CounterFactory g_factory;

class LocalServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGuiThread();
        unsetenv("XDG_RUNTIME_DIR");
        g_callsOffGuiThread = 0;
    }
    void TearDown() override {
        if (cookie_ != 0) CoRevokeClassObject(cookie_);
        EXPECT_EQ(g_liveCounters.load(), 0);
        EXPECT_EQ(g_callsOffGuiThread.load(), 0) << "a served object was touched off the GUI thread";
    }

    void Register() { ASSERT_EQ(CoRegisterClassObject(kCounterClass, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie_), S_OK); }
    void Revoke() {
        ASSERT_EQ(CoRevokeClassObject(cookie_), S_OK);
        cookie_ = 0;
    }

    // Runs `client` on another thread while this thread serves; fails the test if it does not finish.
    void OnClientThread(const std::function<void()>& client, uint32_t timeoutMs = 60000) {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            client();
            done = true;
        });
        EXPECT_TRUE(PumpMessagesUntil([&] { return done.load(); }, timeoutMs));
        thread.join();
    }
    // Serves until `condition` holds.
    void ServeUntil(const std::function<bool()>& condition) { EXPECT_TRUE(PumpMessagesUntil(condition, 20000)); }

    static std::string SocketPath() {
        const LocalServerAddress a = GetLocalServerAddress();
        return a.folder + "/" + a.socketName;
    }

    DWORD cookie_ = 0;
};

ComPtr<IDispatch> Connect() {
    ComPtr<IDispatch> object;
    EXPECT_EQ(ConnectLocalInstance(kCounterClass, IID_IDispatch, object.ReleaseAndGetVoidAddress()), S_OK)
        << GetLastErrorDescription();
    return object;
}

LONG Total(IDispatch& object) {
    const InvokeResult r = InvokeByName(object, L"total", DISPATCH_PROPERTYGET, {});
    EXPECT_EQ(r.hr, S_OK);
    return r.value.lVal;
}

// A client speaking raw bytes.
class RawClient {
public:
    RawClient() : fd_(ConnectLocalServer(GetLocalServerAddress())) {}
    ~RawClient() {
        if (fd_ >= 0) close(fd_);
    }
    bool connected() const { return fd_ >= 0; }
    void Send(const std::string& bytes) { ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())); }
    void SendFrame(const std::string& body) {
        std::string header(4, '\0');
        for (int i = 0; i < 4; ++i) header[i] = static_cast<char>((body.size() >> (8 * i)) & 0xFF);
        Send(header + body);
    }
    void SendRequest(const wire::Request& request) {
        std::string frame, error;
        ASSERT_TRUE(wire::EncodeRequest(request, &frame, &error));
        Send(frame);
    }
    // The next answer, or nothing when the connection closes (or nothing comes within the time-out).
    std::optional<wire::Response> Read(int timeoutMs = 20000) {
        std::string header = ReadBytes(4, timeoutMs);
        if (header.size() != 4) return std::nullopt;
        uint32_t length = 0;
        std::string error;
        if (!wire::ReadFrameLength(header, &length, &error)) return std::nullopt;
        wire::Response response;
        if (!wire::DecodeResponse(ReadBytes(length, timeoutMs), &response, &error)) return std::nullopt;
        return response;
    }
    bool Closed(int timeoutMs = 20000) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char c;
        return recv(fd_, &c, 1, 0) == 0;
    }

private:
    std::string ReadBytes(size_t n, int timeoutMs) {
        std::string out;
        while (out.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) break;
            char buffer[4096];
            const ssize_t got = recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
            if (got <= 0) break;
            out.append(buffer, static_cast<size_t>(got));
        }
        return out;
    }
    int fd_;
};

struct SocketTargetPath {
    explicit SocketTargetPath(const std::string& path) {
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    }
    sockaddr_un addr{};
};

wire::Request CreateRequest(const CLSID& clsid = kCounterClass) {
    wire::Request r;
    r.op = wire::Op::create;
    r.clsid = clsid;
    return r;
}

wire::Request AddRequest(std::vector<Variant> args) {
    wire::Request r;
    r.op = wire::Op::invoke;
    r.dispid = 1;
    r.flags = DISPATCH_METHOD;
    r.args = std::move(args);
    return r;
}

TEST_F(LocalServerTest, EachConnectionHasItsOwnObjectCalledOnTheGuiThread) {
    Register();
    OnClientThread([] {
        ComPtr<IDispatch> a = Connect();
        ComPtr<IDispatch> b = Connect();
        ASSERT_TRUE(a && b);
        EXPECT_EQ(InvokeByName(*a.Get(), L"ADD", DISPATCH_METHOD, std::vector<Variant>{Variant::Bstr(L"40")}).hr, S_OK);
        EXPECT_EQ(InvokeById(*a.Get(), 1, DISPATCH_METHOD, std::vector<Variant>{Variant::Long(2)}).hr, S_OK);
        EXPECT_EQ(Total(*a.Get()), 42);
        EXPECT_EQ(Total(*b.Get()), 0);
        EXPECT_EQ(InvokeByName(*a.Get(), L"OnGuiThread", DISPATCH_PROPERTYGET, {}).value, Variant::Bool(true));
        // The dispatch errors travel as the object gave them, with the argument's position.
        const InvokeResult bad = InvokeByName(*a.Get(), L"Add", DISPATCH_METHOD,
                                              std::vector<Variant>{Variant::Bstr(L"many")});
        EXPECT_EQ(bad.hr, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(bad.argErr, 0u);
        EXPECT_EQ(InvokeByName(*a.Get(), L"Subtract", DISPATCH_METHOD, {}).hr, DISP_E_UNKNOWNNAME);
        EXPECT_EQ(InvokeByName(*a.Get(), L"Add", DISPATCH_METHOD, {}).hr, DISP_E_BADPARAMCOUNT);
        ITypeInfo* info = nullptr;
        ASSERT_EQ(a->GetTypeInfo(0, 0, &info), S_OK);
        EXPECT_EQ(info->Library().name, L"CounterLib");
        EXPECT_EQ(info->Interface().funcs.size(), 3u);
        info->Release();
        EXPECT_EQ(LocalServerConnectionCount(), 2u);
    });
    // The clients are gone: so are their objects, and their connections.
    ServeUntil([] { return g_liveCounters.load() == 0 && LocalServerConnectionCount() == 0; });
}

TEST_F(LocalServerTest, TheSocketIsPrivateAndGoesWithTheLastRevocation) {
    const std::string runtime = std::string(std::getenv("SINJO_HOME")) + "/run";
    ASSERT_EQ(mkdir(runtime.c_str(), 0755), 0);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // A folder left with a looser mode is tightened.
    ASSERT_EQ(mkdir((runtime + "/sinjo").c_str(), 0755), 0);
    Register();
    struct stat st {};
    ASSERT_EQ(stat((runtime + "/sinjo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(SocketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    Revoke();
    EXPECT_NE(access(SocketPath().c_str(), F_OK), 0);

    // A folder of another user is refused: nothing is served from it.
    if (geteuid() == 0) {
        ASSERT_EQ(chown((runtime + "/sinjo").c_str(), 65534, 65534), 0);
        DWORD cookie = 0;
        EXPECT_EQ(CoRegisterClassObject(kCounterClass, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie),
                  E_ACCESSDENIED);
        EXPECT_EQ(cookie, 0u);
    }
}

TEST_F(LocalServerTest, AnotherOwnerKeepsItsSocketAndADeadOnesSocketIsReplaced) {
    const LocalServerAddress address = GetLocalServerAddress();
    ASSERT_TRUE(EnsureFolder(address.folder));
    // Another process owns the profile's endpoint: it holds the lock and listens.
    const int lock = open((address.folder + "/" + address.lockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const int other = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", SocketPath().c_str());
    ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(other, 4), 0);

    DWORD cookie = 0;
    EXPECT_EQ(CoRegisterClassObject(kCounterClass, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              CO_E_OBJISREG);
    // Its socket is still the one clients reach.
    const int client = ConnectLocalServer(address);
    ASSERT_GE(client, 0);
    const int accepted = accept(other, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    close(accepted);
    close(client);

    // It dies: its lock goes with it, its socket stays behind, and the next server replaces it.
    close(other);
    close(lock);
    Register();
    OnClientThread([] {
        ComPtr<IDispatch> counter = Connect();
        ASSERT_TRUE(counter);
        EXPECT_EQ(Total(*counter.Get()), 0);
    });
    // The same class twice in one process is refused too.
    EXPECT_EQ(CoRegisterClassObject(kCounterClass, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              CO_E_OBJISREG);
    ServeUntil([] { return g_liveCounters.load() == 0; });
}

TEST_F(LocalServerTest, HostileClientsGetClearErrorsAndNothingIsLost) {
    Register();
    std::atomic<bool> stop{false};
    std::atomic<bool> ready{false};
    std::atomic<LONG> totalAfter{-1};
    // A well-behaved client holds its object through everything below.
    std::thread keeper([&] {
        ComPtr<IDispatch> counter = Connect();
        InvokeById(*counter.Get(), 1, DISPATCH_METHOD, std::vector<Variant>{Variant::Long(5)});
        ready = true;
        while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        totalAfter = Total(*counter.Get());
    });
    ServeUntil([&] { return ready.load(); });

    OnClientThread([] {
        RawClient raw;
        ASSERT_TRUE(raw.connected());
        // A call before the object exists.
        raw.SendRequest(AddRequest({Variant::Long(1)}));
        std::optional<wire::Response> r = raw.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hr, E_UNEXPECTED);
        EXPECT_NE(r->message.find("first request creates"), std::string::npos) << r->message;
        // Garbage in a well-formed frame: refused with the reason, and the connection stays usable.
        raw.SendFrame("\x01garbage");
        r = raw.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hr, RPC_E_INVALID_DATAPACKET);
        EXPECT_NE(r->message.find("kind 0x01 is unknown"), std::string::npos) << r->message;
        // A class the server does not serve, then the one it does.
        raw.SendRequest(CreateRequest(GUID{1, 2, 3, {}}));
        r = raw.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hr, REGDB_E_CLASSNOTREG);
        raw.SendRequest(CreateRequest());
        r = raw.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hr, S_OK);
        raw.SendRequest(CreateRequest());
        r = raw.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hr, E_UNEXPECTED) << "one connection, one object";
        // Wrong argument count and type.
        raw.SendRequest(AddRequest({}));
        EXPECT_EQ(raw.Read()->hr, DISP_E_BADPARAMCOUNT);
        raw.SendRequest(AddRequest({Variant::Long(1), Variant::Long(2)}));
        EXPECT_EQ(raw.Read()->hr, DISP_E_BADPARAMCOUNT);
        raw.SendRequest(AddRequest({Variant::Null()}));
        EXPECT_EQ(raw.Read()->hr, DISP_E_TYPEMISMATCH);
        // A huge name within the limit: an unknown name, nothing worse.
        wire::Request name;
        name.op = wire::Op::get_id;
        name.name.assign(wire::kMaxFrameBytes - 16, L'x');
        raw.SendRequest(name);
        r = raw.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hr, DISP_E_UNKNOWNNAME);
        // A header announcing 4 GiB cannot be skipped: the answer says why, then the connection closes.
        raw.Send("\xFF\xFF\xFF\xFF");
        r = raw.Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hr, RPC_E_INVALID_DATAPACKET);
        EXPECT_NE(r->message.find("over the limit"), std::string::npos) << r->message;
        EXPECT_TRUE(raw.Closed());
    });
    OnClientThread([] {
        // Cut off in the middle of a request, then gone.
        {
            RawClient raw;
            raw.SendRequest(CreateRequest());
            ASSERT_TRUE(raw.Read());
            std::string frame, error;
            wire::EncodeRequest(AddRequest({Variant::Bstr(L"12345")}), &frame, &error);
            raw.Send(frame.substr(0, frame.size() - 3));
        }
        // A thousand connections opened and dropped, some after creating their object.
        for (int i = 0; i < 1000; ++i) {
            RawClient raw;
            ASSERT_TRUE(raw.connected()) << i;
            if (i % 10 == 0) raw.SendRequest(CreateRequest());
        }
    });
    ServeUntil([] { return LocalServerConnectionCount() == 1 && g_liveCounters.load() == 1; });
    stop = true;
    ServeUntil([&] { return totalAfter.load() != -1; });
    keeper.join();
    EXPECT_EQ(totalAfter.load(), 5) << "the well-behaved client's object was kept through the storm";
    ServeUntil([] { return g_liveCounters.load() == 0; });
}

TEST_F(LocalServerTest, ClientsBeyondTheLimitAreToldTheServerIsBusy) {
    Register();
    std::vector<std::unique_ptr<RawClient>> clients;
    OnClientThread([&] {
        for (size_t i = 0; i < kMaxLocalConnections + 5; ++i) clients.push_back(std::make_unique<RawClient>());
    });
    ServeUntil([] { return LocalServerConnectionCount() == kMaxLocalConnections; });
    OnClientThread([&] {
        const std::optional<wire::Response> r = clients.back()->Read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hr, HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY));
        EXPECT_NE(r->message.find("automation clients already"), std::string::npos) << r->message;
    });
    clients.clear();
    ServeUntil([] { return LocalServerConnectionCount() == 0; });
}

TEST_F(LocalServerTest, SuspendingRefusesNewObjectsAndRevokingDisconnectsClients) {
    Register();
    std::atomic<int> step{0};
    std::atomic<HRESULT> refused{S_OK};
    std::atomic<HRESULT> afterRevoke{S_OK};
    std::thread client([&] {
        ComPtr<IDispatch> counter = Connect();
        InvokeById(*counter.Get(), 1, DISPATCH_METHOD, std::vector<Variant>{Variant::Long(1)});
        step = 1;
        while (step != 2) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ComPtr<IDispatch> another;
        refused = ConnectLocalInstance(kCounterClass, IID_IDispatch, another.ReleaseAndGetVoidAddress());
        EXPECT_EQ(Total(*counter.Get()), 1) << "objects already made keep working";
        step = 3;
        while (step != 4) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        afterRevoke = InvokeById(*counter.Get(), 2, DISPATCH_PROPERTYGET, {}).hr;
        step = 5;
    });
    ServeUntil([&] { return step.load() == 1; });
    CoSuspendClassObjects();
    step = 2;
    ServeUntil([&] { return step.load() == 3; });
    EXPECT_EQ(refused.load(), CO_E_SERVER_STOPPING);
    // The last revocation closes the client's connection and releases its object here.
    Revoke();
    EXPECT_EQ(g_liveCounters.load(), 0);
    EXPECT_EQ(LocalServerConnectionCount(), 0u);
    step = 4;
    client.join();
    EXPECT_EQ(afterRevoke.load(), RPC_E_DISCONNECTED);
    // The owner lock is free again.
    const LocalServerAddress address = GetLocalServerAddress();
    const int lock = open((address.folder + "/" + address.lockName).c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    close(lock);
}

// The socket's mode is not the guard: a process of another user that reaches the socket anyway (here the
// folders are opened up on purpose) is refused by its credentials.
TEST_F(LocalServerTest, AnotherUserIsRefusedByItsCredentials) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
    Register();
    const LocalServerAddress address = GetLocalServerAddress();
    ASSERT_EQ(chmod(address.folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(std::filesystem::path(address.folder).parent_path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(SocketPath().c_str(), 0777), 0);
    // Everything the child needs is made before the fork: after it, the child only makes system calls.
    std::string request, error;
    ASSERT_TRUE(wire::EncodeRequest(CreateRequest(), &request, &error));
    SocketTargetPath target{SocketPath()};
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        char answer[4096];
        ssize_t got = 0;
        if (setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0) {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            if (connect(fd, reinterpret_cast<const sockaddr*>(&target.addr), sizeof target.addr) == 0) {
                // The refusal may come before the request is sent (the send then fails): read it anyway.
                ssize_t ignored = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                (void)ignored;
                got = recv(fd, answer, sizeof answer, MSG_WAITALL);
            }
        }
        if (got > 0) {
            ssize_t ignored = write(pipeFds[1], answer, static_cast<size_t>(got));
            (void)ignored;
        }
        _exit(0);
    }
    close(pipeFds[1]);
    std::string answer;
    std::atomic<bool> got{false};
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) answer.append(buffer, static_cast<size_t>(n));
        got = true;
    });
    ServeUntil([&] { return got.load(); });
    reader.join();
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    wire::Response response;
    ASSERT_GT(answer.size(), 4u) << "the other user's client got no answer";
    ASSERT_TRUE(wire::DecodeResponse(std::string_view(answer).substr(4), &response, &error)) << error;
    const HRESULT seen = response.hr;
    EXPECT_NE(response.message.find("serves only its own user"), std::string::npos) << response.message;
    EXPECT_EQ(seen, E_ACCESSDENIED);
    EXPECT_EQ(g_liveCounters.load(), 0);
}

}  // namespace
}  // namespace platform
