// The local-server role: class objects of this process served to other processes of the same user.
//
// CoRegisterClassObject with CLSCTX_LOCAL_SERVER makes this process the automation server of its profile.
// Clients reach it through one Unix domain socket per profile (LocalServerAddress):
//   $XDG_RUNTIME_DIR/sinjo/door-<hash>.sock, else <profile folder>/door-<hash>.sock,
// where <hash> is taken from the profile folder's path, so that programs with different profiles never
// meet. The folder $XDG_RUNTIME_DIR/sinjo is made with mode 0700 and must belong to this user; the socket
// gets mode 0700. Modes are not the guard, though (root passes any mode): every connection's peer
// credentials are read, and a process of another user is refused with E_ACCESSDENIED.
//
// One owner at a time. The socket belongs to whoever holds an exclusive lock on door-<hash>.lock beside it.
// A second process that registers while the first still serves gets CO_E_OBJISREG and never touches the
// first one's socket; a socket left behind by a process that died (its lock died with it) is replaced.
//
// Connections. One connection is one object: the client's first request creates it through the registered
// class factory; closing the connection (or the client's death) releases it. Every request (create, name
// look-up, invoke, type information, release) runs on the GUI thread, one at a time across all
// connections, through SendMessage to a hidden window of the server: nothing of a served object is ever
// touched by another thread. The wire format is platform/DispatchWire.h. Limits: kMaxLocalConnections at
// once (more are answered HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY) and closed); a new connection must ask
// for its object within kFirstRequestTimeoutMs; a request, once begun, must arrive whole within kRequestTimeoutMs; an answer a
// client does not read within kReplyTimeoutMs closes its connection. A malformed request is answered with
// RPC_E_INVALID_DATAPACKET and a sentence saying why, and the connection stays usable; an announced body
// over the size limit cannot be skipped safely and closes the connection after that answer.
//
// Threads: register, revoke, suspend and resume run on the GUI thread (the first registration creates the
// server's window). The server has an accepting thread and one thread per connection; those threads never
// take any lock of the program's own (in particular not the catalogue lock) while they wait for the GUI
// thread, and the GUI thread never waits for them except when the last class object is revoked.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Com.h"

namespace platform {

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;

constexpr size_t kMaxLocalConnections = 256;
constexpr uint32_t kFirstRequestTimeoutMs = 10000;
constexpr uint32_t kRequestTimeoutMs = 30000;
constexpr uint32_t kReplyTimeoutMs = 30000;

// Where this profile's server listens.
struct LocalServerAddress {
    std::string folder;      // native path of the folder
    std::string socketName;  // "door-<hash>.sock"
    std::string lockName;    // "door-<hash>.lock"
    bool runtimeFolder = false;  // true: $XDG_RUNTIME_DIR/sinjo, which the server makes private
};
LocalServerAddress GetLocalServerAddress();

// Connects a new socket to `address` (a path too long for a socket address is reached through the
// folder's descriptor). The connected descriptor (close-on-exec), or -1 with errno set.
int ConnectLocalServer(const LocalServerAddress& address);

// Registers `factory` (an IClassFactory) as the class object of `clsid`. context must include
// CLSCTX_LOCAL_SERVER; flags REGCLS_MULTIPLEUSE (one factory serves every client). The first registration
// opens the server:
//   CO_E_OBJISREG       another process serves this profile, or `clsid` is registered already
//   E_ACCESSDENIED      the socket's folder is not this user's own
//   E_FAIL              the folder, lock or socket could not be made (errno-level failures)
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags, DWORD* cookie);
// Revokes one registration. The last one closes the server: the socket goes, every connection is closed,
// and the objects still held for clients are released (on this, the GUI thread). E_INVALIDARG for an
// unknown cookie.
HRESULT CoRevokeClassObject(DWORD cookie);
// While suspended, requests for new objects are answered with CO_E_SERVER_STOPPING (clients then start
// another server); calls on existing objects go on.
HRESULT CoSuspendClassObjects();
HRESULT CoResumeClassObjects();

// The number of client connections open now (for tests and figures). Any thread.
size_t LocalServerConnectionCount();

}  // namespace platform
