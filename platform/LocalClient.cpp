#include "platform/LocalClient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/CodePage.h"
#include "platform/DispatchWire.h"
#include "platform/FileSystem.h"
#include "platform/LocalServer.h"
#include "platform/Registry.h"
#include "platform/Spawn.h"
#include "platform/ThreadAnnotations.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kServerPollMs = 10;      // how often a starting server is looked for
constexpr int kMaxServerStarts = 3;    // servers started for one activation before giving up

thread_local std::string t_lastError;

void SetLastError(std::string text) { t_lastError = std::move(text); }

bool WriteAll(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadExact(int fd, char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = recv(fd, data + done, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// One request and its answer on `fd`. RPC_E_DISCONNECTED when the connection fails or the answer is
// malformed; otherwise the answer's result.
HRESULT Exchange(int fd, const wire::Request& request, wire::Response* response) {
    std::string frame;
    std::string error;
    if (!wire::EncodeRequest(request, &frame, &error)) {
        SetLastError(error);
        return E_INVALIDARG;
    }
    // A server that refuses the connection answers at once and closes, so the request may fail to go out
    // while the refusal waits to be read: read the answer either way.
    const bool sent = WriteAll(fd, frame);
    std::string header(wire::kFrameHeaderBytes, '\0');
    uint32_t length = 0;
    if (!ReadExact(fd, header.data(), header.size())) {
        SetLastError(sent ? "the server closed the connection" : "the connection to the server is lost");
        return RPC_E_DISCONNECTED;
    }
    if (!wire::ReadFrameLength(header, &length, &error)) {
        SetLastError("the server's answer is unreadable: " + error);
        return RPC_E_DISCONNECTED;
    }
    std::string body(length, '\0');
    if (!ReadExact(fd, body.data(), body.size()) || !wire::DecodeResponse(body, response, &error)) {
        SetLastError("the server's answer is unreadable: " + error);
        return RPC_E_DISCONNECTED;
    }
    SetLastError(response->message);
    return response->hr;
}

class DispatchProxy final : public IDispatch {
public:
    explicit DispatchProxy(int fd) : fd_(fd) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        wire::Request request;
        request.op = wire::Op::type_info;
        wire::Response response;
        const HRESULT hr = Call(request, &response);
        if (FAILED(hr)) return hr;
        if (!response.typeInfo) return E_UNEXPECTED;
        *info = wire::CreateTypeInfo(std::move(*response.typeInfo));
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, const std::wstring_view* names, UINT count, LCID, DISPID* ids) override {
        if (count == 0) return S_OK;
        if (names == nullptr || ids == nullptr) return E_POINTER;
        for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;  // named arguments do not exist
        wire::Request request;
        request.op = wire::Op::get_id;
        request.name = std::wstring(names[0]);
        wire::Response response;
        HRESULT hr = Call(request, &response);
        ids[0] = SUCCEEDED(hr) && response.value.vt == VT_I4 ? response.value.lVal : DISPID_UNKNOWN;
        if (SUCCEEDED(hr) && count > 1) hr = DISP_E_UNKNOWNNAME;
        return hr;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, std::span<const Variant> args, Variant* result,
                   UINT* argErr) override {
        wire::Request request;
        request.op = wire::Op::invoke;
        request.dispid = id;
        request.flags = flags;
        request.args.assign(args.begin(), args.end());
        wire::Response response;
        const HRESULT hr = Call(request, &response);
        if (result != nullptr) *result = SUCCEEDED(hr) ? std::move(response.value) : Variant();
        if (argErr != nullptr && FAILED(hr)) *argErr = response.argErr;
        return hr;
    }

private:
    ~DispatchProxy() { close(fd_); }

    HRESULT Call(const wire::Request& request, wire::Response* response) EXCLUDES(mu_) {
        MutexLock lock(mu_);
        if (broken_) {
            SetLastError("the connection to the server is lost");
            return RPC_E_DISCONNECTED;
        }
        const HRESULT hr = Exchange(fd_, request, response);
        if (hr == RPC_E_DISCONNECTED) broken_ = true;
        return hr;
    }

    std::atomic<ULONG> refs_{1};
    const int fd_;  // owned; closed with the proxy, which releases the server's object

    Mutex mu_;  // one call at a time on the connection
    bool broken_ GUARDED_BY(mu_) = false;
};

// Asks the server on `fd` for an object; on success the proxy owns `fd`.
HRESULT CreateOnConnection(int fd, REFCLSID clsid, REFIID iid, void** object) {
    wire::Request request;
    request.op = wire::Op::create;
    request.clsid = clsid;
    wire::Response response;
    const HRESULT hr = Exchange(fd, request, &response);
    if (FAILED(hr)) {
        close(fd);
        return hr;
    }
    auto* proxy = new DispatchProxy(fd);
    const HRESULT qi = proxy->QueryInterface(iid, object);
    proxy->Release();
    return qi;
}

HRESULT ConnectError(int error) {
    SetLastError(std::string("cannot reach the server's socket: ") + std::strerror(error));
    return error == EACCES || error == EPERM ? E_ACCESSDENIED : CO_E_SERVER_EXEC_FAILURE;
}

// The activation loop. With `start` false it never starts a server.
HRESULT Activate(REFCLSID clsid, REFIID iid, void** object, bool start) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    SetLastError({});
    if (!(iid == IID_IUnknown || iid == IID_IDispatch)) return E_NOINTERFACE;
    const LocalServerAddress address = GetLocalServerAddress();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kServerStartTimeoutMs);
    pid_t started = -1;
    int starts = 0;
    for (;;) {
        const int fd = ConnectLocalServer(address);
        if (fd >= 0) {
            const HRESULT hr = CreateOnConnection(fd, clsid, iid, object);
            // A server that stops makes way for the next one: try again until one serves (a client that
            // may not start one has nothing to wait for).
            if (hr != CO_E_SERVER_STOPPING || !start || Clock::now() >= deadline) return hr;
        } else if (errno != ENOENT && errno != ECONNREFUSED) {
            return ConnectError(errno);
        } else if (!start) {
            SetLastError("no server is running");
            return CO_E_SERVER_EXEC_FAILURE;
        } else if (!ProcessRunning(started)) {
            // Nobody serves and nobody we started is on the way: start the class's program.
            if (starts == kMaxServerStarts) {
                SetLastError("the server was started " + std::to_string(starts) + " times and never served");
                return CO_E_SERVER_EXEC_FAILURE;
            }
            std::string program;
            const HRESULT found = GetLocalServerProgram(clsid, &program);
            if (FAILED(found)) return found;
            ++starts;
            const int error = SpawnDetachedProcess(program, {"-Embedding"}, &started);
            if (error != 0) {
                SetLastError("cannot start " + program + ": " + std::strerror(error));
                return CO_E_SERVER_EXEC_FAILURE;
            }
        }
        if (Clock::now() >= deadline) {
            SetLastError("the server did not start serving within " + std::to_string(kServerStartTimeoutMs / 1000) +
                         " s");
            return CO_E_SERVER_EXEC_FAILURE;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kServerPollMs));
    }
}

}  // namespace

HRESULT CLSIDFromProgID(std::wstring_view progId, CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    std::wstring name(progId);
    for (int step = 0; step < 2 && !name.empty(); ++step) {
        RegValue value;
        if (RegQueryValue(RegRoot::ClassesRoot, name + L"\\CLSID", L"", &value) == ERROR_SUCCESS &&
            value.type == REG_SZ && GuidFromString(value.text, clsid)) {
            return S_OK;
        }
        // A version-independent ProgID may name its class only through its current version.
        RegValue current;
        if (RegQueryValue(RegRoot::ClassesRoot, name + L"\\CurVer", L"", &current) != ERROR_SUCCESS ||
            current.type != REG_SZ) {
            break;
        }
        name = current.text;
    }
    return CO_E_CLASSSTRING;
}

HRESULT GetLocalServerProgram(REFCLSID clsid, std::string* program) {
    RegValue value;
    if (RegQueryValue(RegRoot::ClassesRoot, L"CLSID\\" + GuidToString(clsid) + L"\\LocalServer32", L"", &value) !=
            ERROR_SUCCESS ||
        value.type != REG_SZ) {
        SetLastError("the class has no LocalServer32 in classes.reg (register the program with -Regserver)");
        return REGDB_E_CLASSNOTREG;
    }
    // A command line: the program is its first word, or the text inside its leading quotes.
    std::wstring_view line = value.text;
    while (!line.empty() && line.front() == L' ') line.remove_prefix(1);
    std::wstring_view path;
    if (!line.empty() && line.front() == L'"') {
        const size_t end = line.find(L'"', 1);
        path = line.substr(1, end == std::wstring_view::npos ? std::wstring_view::npos : end - 1);
    } else {
        path = line.substr(0, line.find(L' '));
    }
    if (path.empty()) {
        SetLastError("the class's LocalServer32 names no program");
        return REGDB_E_CLASSNOTREG;
    }
    *program = NativePath(path);
    return S_OK;
}

HRESULT CoCreateLocalInstance(REFCLSID clsid, REFIID iid, void** object) { return Activate(clsid, iid, object, true); }

HRESULT ConnectLocalInstance(REFCLSID clsid, REFIID iid, void** object) { return Activate(clsid, iid, object, false); }

std::string GetLastErrorDescription() { return t_lastError; }

}  // namespace platform
