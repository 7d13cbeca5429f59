// Door: the program's automation object. Script drives the jukebox through it: the page in the main window
// (as the page's external object) and outside programs (through the local server, one fresh Door per
// client connection). Every member is a thin wrapper that forwards to the catalogue manager (g_songMan),
// the settings store (g_settings), the main window (g_mainDlg) or the player; Door adds the script mailbox
// (NextScriptToExecute), the address of the web server (ServeUrl, OpenBrowser; LanUrl and GetQrCode for
// phones joining) and, for the main window's Door, the suppression of the browser's error pages.
//
// The invoke path. Every caller reaches a member the same way: platform::InvokeByName or
// platform::InvokeById (platform/Dispatch.h) on the Door's IDispatch, with a member name (letter case
// ignored) or a dispatch id, an invoke kind (DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT)
// and typed arguments in call order; the answer is an HRESULT and a typed value. The type information is
// the static table of resources/SinjoTypeLib.h; arguments are converted to the declared types as the
// platform's automation does. The dual interface IDoor below is the same members as C++ calls.
//
// Results. A member returns S_OK whatever the forwarded call did, except: a member that needs an object
// the run lacks (no catalogue, settings store or main window in the automation-server run) returns E_FAIL;
// GetQSong and GetAlbum return E_FAIL for a position or index outside the list and E_INVALIDARG for an
// unknown property name. ServeUrl, LanUrl, GetQrCode, OpenBrowser and ControlImToo need none of them.
//
// Lifetime: reference counted (not atomically: a single-threaded object). Every Door adds one to the
// module's lock count while it exists (app/SinjoModule.h), which ends an automation-server run when the
// last one goes.
//
// Threads: GUI thread only, every member. A member may wait for the catalogue lock (the GUI thread always
// may; no thread waits for the GUI thread while holding it).
#pragma once

#include <string>

#include "platform/Com.h"
#include "platform/Dispatch.h"
#include "platform/WebBrowser.h"

struct Song;

// The dual interface: IDispatch's members, then these, in slot order (slots 7 to 32). An "out" parameter
// is the member's return value in script. A null default_value of GetSetting means "no default".
class IDoor : public platform::IDispatch {
public:
    using BSTR = platform::BSTR;
    using HRESULT = platform::HRESULT;
    using LONG = platform::LONG;
    using VARIANT_BOOL = platform::VARIANT_BOOL;

    virtual HRESULT ExecScript(const BSTR& frame, const BSTR& script) = 0;
    virtual HRESULT QueueSong(LONG id, VARIANT_BOOL begin) = 0;
    virtual HRESULT GetQSongCount(LONG* pVal) = 0;
    virtual HRESULT GetQSong(LONG index, const BSTR& prop, BSTR* pVal) = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Play() = 0;
    virtual HRESULT Next() = 0;
    virtual HRESULT MoveQSongFront(LONG id, LONG songid) = 0;
    virtual HRESULT GetSetting(const BSTR& name, const BSTR* default_value, BSTR* value) = 0;
    virtual HRESULT MoveQSongUp(LONG id, LONG songid) = 0;
    virtual HRESULT RemoveQSong(LONG id, LONG songid) = 0;
    virtual HRESULT SetSetting(const BSTR& name, const BSTR& value) = 0;
    virtual HRESULT GetAlbumCount(LONG* ret) = 0;
    virtual HRESULT GetAlbum(LONG id, const BSTR& prop, BSTR* value) = 0;
    virtual HRESULT RenameAlbum(LONG id, const BSTR& type) = 0;
    virtual HRESULT Reload() = 0;
    virtual HRESULT ControlImToo(LONG audio_index, LONG subtitle_index) = 0;
    virtual HRESULT get_AudioSource(BSTR* pVal) = 0;
    virtual HRESULT put_AudioSource(const BSTR& newVal) = 0;
    virtual HRESULT Jump(LONG Seconds) = 0;
    virtual HRESULT PlayPause() = 0;
    virtual HRESULT OpenBrowser() = 0;
    virtual HRESULT get_ServeUrl(BSTR* pVal) = 0;
    virtual HRESULT get_NextScriptToExecute(BSTR* pVal) = 0;
    virtual HRESULT put_NextScriptToExecute(const BSTR& newVal) = 0;
    virtual HRESULT RenameFolder(const BSTR& folder, const BSTR& album_index) = 0;
    virtual HRESULT get_LanUrl(BSTR* pVal) = 0;
    virtual HRESULT GetQrCode(const BSTR& text, BSTR* rows) = 0;

protected:
    ~IDoor() = default;
};

class Door final : public IDoor, private platform::MemberCaller {
public:
    // A new Door; the caller owns its one reference.
    static platform::ComPtr<Door> Create();

    // IUnknown: IDoor, IDispatch and IUnknown.
    HRESULT QueryInterface(platform::REFIID iid, void** object) override;
    platform::ULONG AddRef() override;
    platform::ULONG Release() override;

    // IDispatch, over the static type information.
    HRESULT GetTypeInfoCount(platform::UINT* count) override;
    HRESULT GetTypeInfo(platform::UINT index, platform::LCID lcid, platform::ITypeInfo** info) override;
    HRESULT GetIDsOfNames(platform::REFIID riid, const std::wstring_view* names, platform::UINT count,
                          platform::LCID lcid, platform::DISPID* ids) override;
    HRESULT Invoke(platform::DISPID id, platform::REFIID riid, platform::LCID lcid, platform::WORD flags,
                   std::span<const platform::Variant> args, platform::Variant* result,
                   platform::UINT* argErr) override;

    // IDoor.
    HRESULT ExecScript(const BSTR& frame, const BSTR& script) override;
    HRESULT QueueSong(LONG id, VARIANT_BOOL begin) override;
    HRESULT GetQSongCount(LONG* pVal) override;
    HRESULT GetQSong(LONG index, const BSTR& prop, BSTR* pVal) override;
    HRESULT Pause() override;
    HRESULT Play() override;
    HRESULT Next() override;
    HRESULT MoveQSongFront(LONG id, LONG songid) override;
    HRESULT GetSetting(const BSTR& name, const BSTR* default_value, BSTR* value) override;
    HRESULT MoveQSongUp(LONG id, LONG songid) override;
    HRESULT RemoveQSong(LONG id, LONG songid) override;
    HRESULT SetSetting(const BSTR& name, const BSTR& value) override;
    HRESULT GetAlbumCount(LONG* ret) override;
    HRESULT GetAlbum(LONG id, const BSTR& prop, BSTR* value) override;
    HRESULT RenameAlbum(LONG id, const BSTR& type) override;
    HRESULT Reload() override;
    HRESULT ControlImToo(LONG audio_index, LONG subtitle_index) override;
    HRESULT get_AudioSource(BSTR* pVal) override;
    HRESULT put_AudioSource(const BSTR& newVal) override;
    HRESULT Jump(LONG Seconds) override;
    HRESULT PlayPause() override;
    HRESULT OpenBrowser() override;
    HRESULT get_ServeUrl(BSTR* pVal) override;
    HRESULT get_NextScriptToExecute(BSTR* pVal) override;
    HRESULT put_NextScriptToExecute(const BSTR& newVal) override;
    HRESULT RenameFolder(const BSTR& folder, const BSTR& album_index) override;
    // The address phones on the local network open: "http://" + this PC's LAN address (platform/
    // LanAddress.h) + ":" + the port setting; the empty text when the PC has no such address.
    HRESULT get_LanUrl(BSTR* pVal) override;
    // A QR code of `text` (its UTF-8 bytes) as rows of "1" (dark) and "0" (light) joined by "\n", without
    // the quiet zone (app/QrCode.h). E_INVALIDARG for a text too long for one.
    HRESULT GetQrCode(const BSTR& text, BSTR* rows) override;

    // The main window's browser, called once by the main window after its browser exists: keeps a
    // reference (releasing any earlier one) and, for a browser that is not null, connects the event sink,
    // which from then on keeps failed navigations from showing error pages. E_FAIL when the sink is
    // connected already.
    HRESULT SetBrowser(platform::IWebBrowser2* browser);
    // The event sink's one event: a status other than 200 (or one that is not a number) stops the browser
    // and sets *cancel, so the browser keeps the page it had and shows no error page.
    void OnNavigateError(const platform::Variant& statusCode, VARIANT_BOOL* cancel);
    // The event sink, as the browser sees it (tests deliver events through it).
    platform::IDispatch* EventSink() { return &m_sink; }

private:
    // Receives the browser's events: NavigateError only. Lives inside its Door and counts no references
    // of its own; the Door disconnects it before it goes.
    class BrowserEventSink final : public platform::IDispatch {
    public:
        explicit BrowserEventSink(Door& owner) : m_owner(owner) {}
        HRESULT QueryInterface(platform::REFIID iid, void** object) override;
        platform::ULONG AddRef() override { return 1; }
        platform::ULONG Release() override { return 1; }
        HRESULT GetTypeInfoCount(platform::UINT* count) override;
        HRESULT GetTypeInfo(platform::UINT index, platform::LCID lcid, platform::ITypeInfo** info) override;
        HRESULT GetIDsOfNames(platform::REFIID riid, const std::wstring_view* names, platform::UINT count,
                              platform::LCID lcid, platform::DISPID* ids) override;
        HRESULT Invoke(platform::DISPID id, platform::REFIID riid, platform::LCID lcid, platform::WORD flags,
                       std::span<const platform::Variant> args, platform::Variant* result,
                       platform::UINT* argErr) override;

    private:
        Door& m_owner;
    };

    Door();
    ~Door();
    Door(const Door&) = delete;
    Door& operator=(const Door&) = delete;

    // Calls one IDoor member with arguments already converted to their declared types (DoorDispatch.cpp).
    HRESULT CallMember(const platform::FuncDesc& member, std::span<const platform::Variant> inputs,
                       platform::Variant* result) override;

    static constexpr platform::DWORD kNotConnected = 0;

    platform::ULONG m_refs = 1;                           // not atomic: GUI thread only
    platform::ComPtr<platform::IWebBrowser2> m_spBrowser;  // the main window's browser, or null
    platform::DWORD m_eventCookie = kNotConnected;        // the sink's connection to m_spBrowser
    BrowserEventSink m_sink{*this};
};

// A property of a song by its name (ASCII letter case ignored): "name", "artist", "album", "audio_type",
// "ext" (lower case) or "id" (decimal). E_FAIL without a song, E_INVALIDARG for another name.
platform::HRESULT GetSongProperty(const Song* song, const std::wstring& prop, platform::BSTR* value);
