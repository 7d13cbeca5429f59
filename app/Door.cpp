#include "app/Door.h"

#include <mutex>

#include "app/QrCode.h"
#include "app/SinjoDlg.h"
#include "app/SinjoModule.h"
#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/LanAddress.h"
#include "player/ImTooAutomation.h"
#include "player/PlayerCommands.h"
#include "protocol/SettingKeys.h"
#include "resources/SinjoGuids.h"
#include "resources/SinjoTypeLib.h"

using platform::E_FAIL;
using platform::E_INVALIDARG;
using platform::E_POINTER;
using platform::HRESULT;
using platform::S_OK;

namespace {

using CatalogueLock = platform::RecursiveMutexLock;

// The port setting as the settings store would give it. Without a store (the automation-server run) the
// profile is read directly, and nothing is cached or written back.
int32_t WebServerPort() {
    if (g_settings != nullptr) {
        return g_settings->GetInt(setting_keys::kWebServerPort, setting_keys::kDefaultWebServerPort);
    }
    Settings profile;
    return profile.GetInt(setting_keys::kWebServerPort, setting_keys::kDefaultWebServerPort);
}

HRESULT FromProperty(SongMan::PropertyResult result) {
    switch (result) {
        case SongMan::PropertyResult::ok: return S_OK;
        case SongMan::PropertyResult::no_record: return E_FAIL;
        case SongMan::PropertyResult::unknown_name: return E_INVALIDARG;
    }
    return E_FAIL;
}

}  // namespace

platform::HRESULT GetSongProperty(const Song* song, const std::wstring& prop, platform::BSTR* value) {
    if (value == nullptr) return E_POINTER;
    std::wstring text;
    const HRESULT hr = FromProperty(SongMan::GetSongProperty(song, prop, &text));
    if (platform::SUCCEEDED(hr)) *value = std::move(text);
    return hr;
}

// --- lifetime ----------------------------------------------------------------------------------------------

Door::Door() { SinjoModule().Lock(); }

Door::~Door() {
    if (m_spBrowser && m_eventCookie != kNotConnected) m_spBrowser->Unadvise(m_eventCookie);
    m_spBrowser.Reset();
    SinjoModule().Unlock();
}

platform::ComPtr<Door> Door::Create() {
    platform::ComPtr<Door> door;
    door.Attach(new Door());
    return door;
}

HRESULT Door::QueryInterface(platform::REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == platform::IID_IUnknown || iid == platform::IID_IDispatch || iid == IID_IDoor) {
        *object = static_cast<IDoor*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return platform::E_NOINTERFACE;
}

platform::ULONG Door::AddRef() { return ++m_refs; }

platform::ULONG Door::Release() {
    const platform::ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
}

// --- IDispatch ------------------------------------------------------------------------------------------------

HRESULT Door::GetTypeInfoCount(platform::UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT Door::GetTypeInfo(platform::UINT index, platform::LCID, platform::ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return platform::DISP_E_BADINDEX;
    *info = platform::CreateStaticTypeInfo(sinjo_typelib::kSinjoLib, sinjo_typelib::kIDoor);
    return S_OK;
}

HRESULT Door::GetIDsOfNames(platform::REFIID, const std::wstring_view* names, platform::UINT count, platform::LCID,
                            platform::DISPID* ids) {
    return platform::DispGetIDsOfNames(sinjo_typelib::kIDoor, names, count, ids);
}

HRESULT Door::Invoke(platform::DISPID id, platform::REFIID, platform::LCID, platform::WORD flags,
                     std::span<const platform::Variant> args, platform::Variant* result, platform::UINT* argErr) {
    return platform::DispInvoke(sinjo_typelib::kIDoor, *this, id, flags, args, result, argErr);
}

// --- IDoor ------------------------------------------------------------------------------------------------------

HRESULT Door::ExecScript(const BSTR& frame, const BSTR& script) {
    if (g_mainDlg == nullptr) return E_FAIL;
    g_mainDlg->ExecScript(frame, script);  // what the script did is not reported
    return S_OK;
}

HRESULT Door::QueueSong(LONG id, VARIANT_BOOL begin) {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->QueueSong(id, begin != 0);
    return S_OK;
}

HRESULT Door::GetQSongCount(LONG* pVal) {
    if (pVal == nullptr) return E_POINTER;
    if (g_songMan == nullptr) return E_FAIL;
    CatalogueLock guard(g_songMan->lock);
    *pVal = g_songMan->GetQSongCount();
    return S_OK;
}

HRESULT Door::GetQSong(LONG index, const BSTR& prop, BSTR* pVal) {
    if (pVal == nullptr) return E_POINTER;
    if (g_songMan == nullptr) return E_FAIL;
    CatalogueLock guard(g_songMan->lock);
    return GetSongProperty(g_songMan->GetQSong(index), prop, pVal);
}

// The player belongs to the main window: without one (the automation-server run) there is nothing to play.
HRESULT Door::Pause() {
    if (g_mainDlg == nullptr) return E_FAIL;
    ::Pause();
    return S_OK;
}

HRESULT Door::Play() {
    if (g_mainDlg == nullptr) return E_FAIL;
    ::Play();
    return S_OK;
}

HRESULT Door::Next() {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->Next();
    return S_OK;
}

HRESULT Door::MoveQSongFront(LONG id, LONG songid) {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->MoveQSongFront(id, songid);
    return S_OK;
}

HRESULT Door::GetSetting(const BSTR& name, const BSTR* default_value, BSTR* value) {
    if (value == nullptr) return E_POINTER;
    if (g_settings == nullptr) return E_FAIL;
    *value = g_settings->Get(name, default_value != nullptr ? default_value->c_str() : nullptr);
    return S_OK;
}

HRESULT Door::MoveQSongUp(LONG id, LONG songid) {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->MoveQSongUp(id, songid);
    return S_OK;
}

HRESULT Door::RemoveQSong(LONG id, LONG songid) {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->RemoveQSong(id, songid);
    return S_OK;
}

HRESULT Door::SetSetting(const BSTR& name, const BSTR& value) {
    if (g_settings == nullptr) return E_FAIL;
    g_settings->Set(name, value);  // reaches the profile when the program ends
    return S_OK;
}

HRESULT Door::GetAlbumCount(LONG* ret) {
    if (ret == nullptr) return E_POINTER;
    if (g_songMan == nullptr) return E_FAIL;
    CatalogueLock guard(g_songMan->lock);
    *ret = g_songMan->GetAlbumCount();
    return S_OK;
}

HRESULT Door::GetAlbum(LONG id, const BSTR& prop, BSTR* value) {
    if (value == nullptr) return E_POINTER;
    if (g_songMan == nullptr) return E_FAIL;
    std::wstring text;
    HRESULT hr;
    {
        CatalogueLock guard(g_songMan->lock);
        hr = FromProperty(SongMan::GetAlbumProperty(g_songMan->GetAlbum(id), prop, &text));
    }
    if (platform::SUCCEEDED(hr)) *value = std::move(text);
    return hr;
}

HRESULT Door::RenameAlbum(LONG id, const BSTR& type) {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->RenameAlbum(id, type);
    return S_OK;
}

HRESULT Door::Reload() {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->Reload();
    return S_OK;
}

HRESULT Door::ControlImToo(LONG audio_index, LONG subtitle_index) {
    // The ripper sequence shows its own failures; the caller always hears of success.
    ::ControlImToo(static_cast<uint32_t>(audio_index), static_cast<uint32_t>(subtitle_index));
    return S_OK;
}

HRESULT Door::get_AudioSource(BSTR* pVal) {
    if (pVal == nullptr) return E_POINTER;
    if (g_songMan == nullptr) return E_FAIL;
    CatalogueLock guard(g_songMan->lock);
    *pVal = g_songMan->AudioSourceName();
    return S_OK;
}

HRESULT Door::put_AudioSource(const BSTR& newVal) {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->SetAudioSource(newVal);
    return S_OK;
}

HRESULT Door::Jump(LONG Seconds) {
    if (g_mainDlg == nullptr) return E_FAIL;
    ::Jump(Seconds);
    return S_OK;
}

HRESULT Door::PlayPause() {
    if (g_mainDlg == nullptr) return E_FAIL;
    ::PlayPause();
    return S_OK;
}

HRESULT Door::OpenBrowser() {
    BSTR url;
    get_ServeUrl(&url);
    platform::ShellOpen(url);
    return S_OK;
}

HRESULT Door::get_ServeUrl(BSTR* pVal) {
    if (pVal == nullptr) return E_POINTER;
    // Always the loopback name, whatever address the server listens on: the page runs on this PC.
    *pVal = L"http://localhost:" + FormatInt(WebServerPort());
    return S_OK;
}

HRESULT Door::get_NextScriptToExecute(BSTR* pVal) {
    if (pVal == nullptr) return E_POINTER;
    if (g_songMan == nullptr) return E_FAIL;
    CatalogueLock guard(g_songMan->lock);
    *pVal = g_songMan->next_script;  // reading leaves the mailbox as it is
    return S_OK;
}

HRESULT Door::put_NextScriptToExecute(const BSTR& newVal) {
    if (g_songMan == nullptr) return E_FAIL;
    CatalogueLock guard(g_songMan->lock);
    g_songMan->next_script = newVal;
    return S_OK;
}

HRESULT Door::RenameFolder(const BSTR& folder, const BSTR& album_index) {
    if (g_songMan == nullptr) return E_FAIL;
    g_songMan->RenameFolder(folder, album_index);  // the log's text is not passed on
    return S_OK;
}

HRESULT Door::get_LanUrl(BSTR* pVal) {
    if (pVal == nullptr) return E_POINTER;
    const std::string address = platform::LanAddress();
    // No network, no address: the page says so rather than showing one that only this PC can open.
    *pVal = address.empty() ? std::wstring() : L"http://" + platform::FromUtf8(address) + L":" + FormatInt(WebServerPort());
    return S_OK;
}

HRESULT Door::GetQrCode(const BSTR& text, BSTR* rows) {
    if (rows == nullptr) return E_POINTER;
    const std::optional<QrCode> code = QrCode::Encode(platform::ToUtf8(text));
    if (!code) return E_INVALIDARG;
    *rows = platform::FromUtf8(code->Rows());
    return S_OK;
}

// --- the browser ---------------------------------------------------------------------------------------------

HRESULT Door::SetBrowser(platform::IWebBrowser2* browser) {
    if (browser != nullptr && m_eventCookie != kNotConnected) return E_FAIL;
    m_spBrowser = platform::ComPtr<platform::IWebBrowser2>(browser);
    if (browser == nullptr) return S_OK;
    platform::DWORD cookie = kNotConnected;
    const HRESULT hr = browser->Advise(&m_sink, &cookie);
    if (platform::SUCCEEDED(hr)) m_eventCookie = cookie;
    return hr;
}

void Door::OnNavigateError(const platform::Variant& statusCode, VARIANT_BOOL* cancel) {
    platform::Variant code;
    // A status that is no number at all is no success either.
    if (platform::SUCCEEDED(platform::VariantChangeType(&code, statusCode, platform::VT_I4)) && code.lVal == 200) {
        return;
    }
    if (m_spBrowser) m_spBrowser->Stop();
    if (cancel != nullptr) *cancel = platform::VARIANT_TRUE;
}

HRESULT Door::BrowserEventSink::QueryInterface(platform::REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == platform::IID_IUnknown || iid == platform::IID_IDispatch || iid == platform::DIID_DWebBrowserEvents2) {
        *object = static_cast<platform::IDispatch*>(this);
        return S_OK;
    }
    *object = nullptr;
    return platform::E_NOINTERFACE;
}

HRESULT Door::BrowserEventSink::GetTypeInfoCount(platform::UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT Door::BrowserEventSink::GetTypeInfo(platform::UINT, platform::LCID, platform::ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    return platform::E_NOTIMPL;
}

HRESULT Door::BrowserEventSink::GetIDsOfNames(platform::REFIID, const std::wstring_view*, platform::UINT count,
                                              platform::LCID, platform::DISPID* ids) {
    for (platform::UINT i = 0; ids != nullptr && i < count; ++i) ids[i] = platform::DISPID_UNKNOWN;
    return platform::DISP_E_UNKNOWNNAME;
}

HRESULT Door::BrowserEventSink::Invoke(platform::DISPID id, platform::REFIID, platform::LCID, platform::WORD,
                                       std::span<const platform::Variant> args, platform::Variant* result,
                                       platform::UINT*) {
    if (result != nullptr) *result = platform::Variant();
    if (id != platform::DISPID_NAVIGATEERROR) return platform::DISP_E_MEMBERNOTFOUND;
    // The browser, the address, the frame, the status code, the cancel flag.
    if (args.size() != 5) return platform::DISP_E_BADPARAMCOUNT;
    if (args[4].vt != (platform::VT_BOOL | platform::VT_BYREF) || args[4].pboolVal == nullptr) {
        return platform::DISP_E_TYPEMISMATCH;
    }
    m_owner.OnNavigateError(args[3], args[4].pboolVal);
    return S_OK;
}
