// The client half of the local server: finding a class that another process serves, starting that
// process when none runs (as the platform's activation does), and the proxy through which the client calls
// the object it gets.
//
// Finding the server: the ProgID leads to the class id in classes.reg ("<ProgID>\CLSID", or its "CurVer"
// ProgID's), and the class id to the program ("CLSID\{...}\LocalServer32", a command line whose first word
// is the program). The running server of this profile is reached at GetLocalServerAddress(); when nobody
// listens there, the program is started with "-Embedding" and the client waits for it to serve. A server
// that is stopping answers CO_E_SERVER_STOPPING, and the client tries again (a new server starts once the
// stopping one has gone).
//
// The proxy is an IDispatch whose every call is one request and one answer on its own connection (see
// platform/DispatchWire.h); releasing the last reference closes the connection, which releases the object
// in the server. Calls on one proxy are serialised; a proxy may be used from any thread. A lost connection
// makes every later call fail with RPC_E_DISCONNECTED.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Com.h"
#include "platform/Dispatch.h"

namespace platform {

constexpr uint32_t kServerStartTimeoutMs = 30000;

// CO_E_CLASSSTRING when the ProgID is not registered (or names no valid class id).
HRESULT CLSIDFromProgID(std::wstring_view progId, CLSID* clsid);

// The native path of the class's LocalServer32 program; REGDB_E_CLASSNOTREG when there is none.
HRESULT GetLocalServerProgram(REFCLSID clsid, std::string* program);

// A new object of `clsid` in the server of this profile, started when none runs. `iid`: IID_IDispatch or
// IID_IUnknown (the proxy offers nothing else). Failures: REGDB_E_CLASSNOTREG (no LocalServer32),
// CO_E_SERVER_EXEC_FAILURE (the program could not be started or never served), E_ACCESSDENIED (the socket
// is not ours to use, or the server refused us), or what the server answered.
HRESULT CoCreateLocalInstance(REFCLSID clsid, REFIID iid, void** object);
// The same, but only with a server that runs already: CO_E_SERVER_EXEC_FAILURE when none does, and
// CO_E_SERVER_STOPPING at once from a server that is stopping.
HRESULT ConnectLocalInstance(REFCLSID clsid, REFIID iid, void** object);

// The sentence that came with this thread's last failed call or activation (why the server refused it, or
// why the connection failed), or empty.
std::string GetLastErrorDescription();

}  // namespace platform
