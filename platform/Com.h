// The component-object stand-in: result codes, GUIDs, reference-counted interfaces, class factories,
// the task allocator and in-process activation by class id.
//
// Interfaces are C++ abstract classes whose first three virtual methods are QueryInterface, AddRef and
// Release, so an object built in one module (a plug-in loaded with dlopen) is used through the same
// vtable layout by the module that created it. A module that is loaded this way exports
//   extern "C" HRESULT DllGetClassObject(const GUID& clsid, const GUID& iid, void** object);
//   extern "C" HRESULT DllCanUnloadNow();
// and optionally DllRegisterServer / DllUnregisterServer (see tools/sinjo-regsvr.cpp).
//
// Activation (CoCreateInstance, CoGetClassObject) first looks in the table of built-in classes
// (classes that live inside the program itself, registered with RegisterBuiltinClass), then under
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 in classes.reg: the key's default value is the module's
// path, which is loaded once with dlopen and kept in a module cache for the life of the process (or
// until CoFreeUnusedLibraries finds it unused). Where the caller allows a local server, CoCreateInstance
// then goes on to the process that serves the class (platform/LocalServer.h, platform/LocalClient.h).
//
// Threads: every function here may be called from any thread. The built-in class table and the module
// cache are each guarded by their own mutex inside Com.cpp; no lock is held while a module's code runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// --- basic types, with the platform's widths ------------------------------------------------------
using HRESULT = int32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using BOOL = int32_t;
using UINT = uint32_t;
using LCID = uint32_t;
using REFERENCE_TIME = int64_t;  // 100-ns units
using VARIANT_BOOL = int16_t;
using OLECHAR = wchar_t;         // wide text: one code point per wchar_t on Linux
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

// C libraries (GLib among them) define TRUE and FALSE as macros with the same values; keep theirs.
#ifndef TRUE
constexpr BOOL TRUE = 1;
#endif
#ifndef FALSE
constexpr BOOL FALSE = 0;
#endif

// --- result codes ------------------------------------------------------------------------------------
constexpr HRESULT MakeHresult(uint32_t value) { return static_cast<HRESULT>(value); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002u);
constexpr HRESULT E_POINTER = MakeHresult(0x80004003u);
constexpr HRESULT E_ABORT = MakeHresult(0x80004004u);
constexpr HRESULT E_FAIL = MakeHresult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = MakeHresult(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHresult(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHresult(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(0x80040154u);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeHresult(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = MakeHresult(0x800401F9u);
constexpr HRESULT SELFREG_E_CLASS = MakeHresult(0x80040201u);
// Activation of and calls to objects in another process (the local server).
constexpr HRESULT CO_E_CLASSSTRING = MakeHresult(0x800401F3u);      // no such ProgID
constexpr HRESULT CO_E_OBJISREG = MakeHresult(0x800401FBu);         // the class object is registered already
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHresult(0x80080005u);
constexpr HRESULT CO_E_SERVER_STOPPING = MakeHresult(0x80080008u);
constexpr HRESULT RPC_E_INVALID_DATAPACKET = MakeHresult(0x80010009u);
constexpr HRESULT RPC_E_DISCONNECTED = MakeHresult(0x80010108u);
constexpr long RPC_S_SERVER_TOO_BUSY = 1723;  // a system error: HRESULT_FROM_WIN32 makes it 0x800706BB

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// A system error code (the registry's LSTATUS values) as a failure result; 0 stays S_OK.
constexpr HRESULT HRESULT_FROM_WIN32(long error) {
    return error <= 0 ? static_cast<HRESULT>(error)
                      : MakeHresult((static_cast<uint32_t>(error) & 0xFFFFu) | 0x80070000u);
}

// "0x80004005": the form tools and messages print results in.
std::string FormatHresult(HRESULT hr);

// --- GUID --------------------------------------------------------------------------------------------
struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {0, 0, 0, 0, 0, 0, 0, 0};

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i) {
            if (a.Data4[i] != b.Data4[i]) return false;
        }
        return true;
    }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

constexpr GUID GUID_NULL{};

// Total order on GUIDs (field by field), so they can key ordered containers.
bool GuidLess(const GUID& a, const GUID& b);

// Registry text form: "{6BF52A52-394A-11D3-B153-00C04F79FAA6}" (upper-case hex, braces).
std::wstring GuidToString(const GUID& guid);
// Reads the registry text form; hex digits in either case, braces required, nothing around it.
// False (and *guid untouched) for anything else.
bool GuidFromString(std::wstring_view text, GUID* guid);

// --- interfaces --------------------------------------------------------------------------------------
// The root of every interface. Objects delete themselves when their count reaches zero, so the
// destructor is not public: nobody deletes an object through an interface pointer.
class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    IUnknown() = default;
    ~IUnknown() = default;
};

// Makes objects of one class.
class IClassFactory : public IUnknown {
public:
    // outer: the controlling object when aggregating (then iid must be IID_IUnknown), else null.
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    // Keeps the module loaded while a lock is outstanding.
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The IUnknown part of an object that offers one interface (with IID `kIid`) besides IUnknown: it
// starts with one reference, which its creator owns, and deletes itself with the last Release. The
// count is atomic, so references may be taken and dropped on any thread.
template <class Interface, IID kIid>
class SingleInterfaceObject : public Interface {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == kIid) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

protected:
    SingleInterfaceObject() = default;
    virtual ~SingleInterfaceObject() = default;

private:
    std::atomic<ULONG> m_refs{1};
};

// --- task allocator ----------------------------------------------------------------------------------
// Memory that crosses an interface (format blocks, page lists, strings handed out) comes from here and
// is freed by the receiver with CoTaskMemFree. CoTaskMemAlloc returns null when memory is exhausted.
void* CoTaskMemAlloc(size_t bytes);
void CoTaskMemFree(void* block);
// A task-allocated zero-terminated copy of `text`; null when memory is exhausted.
LPOLESTR CoTaskMemStrDup(std::wstring_view text);

// --- activation --------------------------------------------------------------------------------------
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Signatures of a module's entry points.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();

// The class object for `clsid` (usually asked for as IID_IClassFactory). Only in-process activation
// exists: a context without CLSCTX_INPROC_SERVER gives REGDB_E_CLASSNOTREG. Results:
//   REGDB_E_CLASSNOTREG   no built-in class and no InprocServer32 path in classes.reg
//   CO_E_DLLNOTFOUND      the module could not be loaded
//   CO_E_ERRORINDLL       the module has no DllGetClassObject
//   anything the module's DllGetClassObject returns.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** object);

// Creates one object of `clsid` through its class factory and asks it for `iid`. With CLSCTX_LOCAL_SERVER
// in `context`, a class that no module of this process offers is created in the process that serves it
// (started when none runs; see platform/LocalClient.h).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);

// Makes a class of the program itself creatable by class id, without classes.reg. `factory` must live
// for the rest of the process (a static object); it is AddRef'ed for each caller.
void RegisterBuiltinClass(REFCLSID clsid, IClassFactory* factory);

// Unloads cached modules whose DllCanUnloadNow answers S_OK. Interface pointers into them must be gone.
void CoFreeUnusedLibraries();

// The native path of the module that holds `address` (dladdr), e.g. for DllRegisterServer to write
// its own path; empty when unknown.
std::string ModulePathOf(const void* address);

// --- smart pointer -----------------------------------------------------------------------------------
// Holds one reference to an interface; releases it when reset or destroyed.
template <class T>
class ComPtr final {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit ComPtr(T* p) : p_(p) {
        if (p_ != nullptr) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& other) {
        ComPtr copy(other);
        Swap(copy);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr moved(std::move(other));
        Swap(moved);
        return *this;
    }

    void Reset() {
        T* p = p_;
        p_ = nullptr;
        if (p != nullptr) p->Release();
    }
    // Adopts a reference the caller already owns (an out-parameter just filled).
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    T* Detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    // For out-parameters: releases what is held, then returns the address to fill.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &p_;
    }
    void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Swap(ComPtr& other) noexcept {
        T* p = p_;
        p_ = other.p_;
        other.p_ = p;
    }

private:
    T* p_ = nullptr;
};

}  // namespace platform
