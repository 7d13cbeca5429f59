#include "plugin/CSinjoPluginPropPage.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/Dialogs.h"
#include "plugin/PluginSettings.h"
#include "plugin/Resources.h"
#include "plugin/SinjoPluginModule.h"

namespace sinjoplugin {

using namespace platform;

namespace {

// GetDlgItemText buffer of the design: up to 1024 characters are read.
constexpr size_t kEditBufferChars = 1025;

}  // namespace

std::wstring FormatScaleFactor(double factor) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, factor, std::chars_format::fixed, 2);
    if (result.ec != std::errc()) return L"";
    return std::wstring(text, result.ptr);
}

std::optional<double> ParseScaleFactor(std::wstring_view text) {
    // Only ASCII can be part of a number; the first other character ends the text to read.
    std::string ascii;
    for (wchar_t c : text) {
        if (c <= 0 || c >= 0x80) break;
        ascii.push_back(static_cast<char>(c));
    }
    // Always the C locale's decimal dot: a desktop locale with a decimal comma must not turn "0.5"
    // into 0.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const char* begin = ascii.c_str();
    char* end = nullptr;
    const double value = strtod_l(begin, &end, cLocale);
    if (end == begin) return std::nullopt;
    return value;
}

CSinjoPluginPropPage::CSinjoPluginPropPage() { ModuleObjectCreated(); }

CSinjoPluginPropPage::~CSinjoPluginPropPage() { ModuleObjectDestroyed(); }

HRESULT CSinjoPluginPropPage::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* page = new (std::nothrow) CSinjoPluginPropPage;
    if (page == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = page->QueryInterface(iid, object);
    page->Release();
    return hr;
}

HRESULT CSinjoPluginPropPage::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPropertyPage) {
        *object = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CSinjoPluginPropPage::AddRef() { return ++m_refs; }

ULONG CSinjoPluginPropPage::Release() {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
}

HRESULT CSinjoPluginPropPage::SetPageSite(IPropertyPageSite* site) {
    if (site == nullptr) {
        m_site.Reset();
        return S_OK;
    }
    if (m_site) return E_UNEXPECTED;
    m_site = ComPtr<IPropertyPageSite>(site);
    return S_OK;
}

HRESULT CSinjoPluginPropPage::Activate(HWND parent, const RECT* rect, BOOL /*modal*/) {
    if (rect == nullptr) return E_POINTER;
    if (m_dialog) return E_UNEXPECTED;
    m_dialog = std::make_unique<PropertyDialog>(PropertyPageTemplate(), parent, *rect);
    m_dialog->SetEditChangeHandler([this](int controlId) { OnEditChange(controlId); });
    // The frame moves the focus between pages with the keyboard; a page is a control parent for that.
    m_dialog->SetStyleChangingHandler([](DWORD* style) { *style |= WS_EX_CONTROLPARENT; });
    OnInitDialog();
    return S_OK;
}

HRESULT CSinjoPluginPropPage::Deactivate() {
    if (!m_dialog) return E_UNEXPECTED;
    m_dialog.reset();
    return S_OK;
}

HRESULT CSinjoPluginPropPage::GetPageInfo(PROPPAGEINFO* info) {
    if (info == nullptr) return E_POINTER;
    const DialogTemplate& dlg = PropertyPageTemplate();
    PROPPAGEINFO filled{};
    filled.cb = sizeof(PROPPAGEINFO);
    filled.size = DialogUnitsToPixels(dlg.width, dlg.height);
    filled.dwHelpContext = 0;
    filled.pszTitle = CoTaskMemStrDup(LoadString(IDS_TITLEPROPPAGE));
    filled.pszHelpFile = CoTaskMemStrDup(LoadString(IDS_HELPFILEPROPPAGE));
    filled.pszDocString = CoTaskMemStrDup(LoadString(IDS_DOCSTRINGPROPPAGE));
    if (filled.pszTitle == nullptr || filled.pszHelpFile == nullptr || filled.pszDocString == nullptr) {
        CoTaskMemFree(filled.pszTitle);
        CoTaskMemFree(filled.pszHelpFile);
        CoTaskMemFree(filled.pszDocString);
        return E_OUTOFMEMORY;
    }
    *info = filled;
    return S_OK;
}

HRESULT CSinjoPluginPropPage::SetObjects(ULONG count, IUnknown** objects) {
    // The frame calls SetObjects(0, null) to make the page let its objects go.
    m_plugin.Reset();
    if (count == 0) return S_OK;
    if (objects == nullptr) return E_POINTER;
    for (ULONG i = 0; i < count; ++i) {
        if (objects[i] == nullptr) continue;
        ISinjoPlugin* plugin = nullptr;
        if (SUCCEEDED(objects[i]->QueryInterface(IID_ISinjoPlugin, reinterpret_cast<void**>(&plugin))) &&
            plugin != nullptr) {
            m_plugin.Attach(plugin);
            break;
        }
    }
    return S_OK;
}

HRESULT CSinjoPluginPropPage::Show(UINT command) {
    if (!m_dialog) return E_UNEXPECTED;
    m_dialog->Show(command != SW_HIDE);
    return S_OK;
}

HRESULT CSinjoPluginPropPage::Move(const RECT* rect) {
    if (rect == nullptr) return E_POINTER;
    if (!m_dialog) return E_UNEXPECTED;
    m_dialog->Move(*rect);
    return S_OK;
}

HRESULT CSinjoPluginPropPage::IsPageDirty() { return m_dirty ? S_OK : S_FALSE; }

HRESULT CSinjoPluginPropPage::Apply() {
    if (!m_dialog) return S_OK;
    double value = 1.0;
    if (const std::optional<double> typed = ParseScaleFactor(m_dialog->GetItemText(IDC_SCALEFACTOR, kEditBufferChars))) {
        value = *typed;
    }
    // "nan" reads as a number but is no factor; it is refused like any other value out of range.
    if (!(value >= 0.0 && value <= 1.0)) {
        MessageBox(m_dialog->Handle(), LoadString(IDS_SCALERANGEERROR), L"", MB_OK);
        return E_FAIL;
    }
    WriteScaleFactorSetting(value);  // a failure here is silent; the object is still updated
    if (m_plugin) m_plugin->put_ScaleFactor(value);
    m_dirty = false;
    return S_OK;
}

HRESULT CSinjoPluginPropPage::Help(LPCOLESTR helpDir) {
    std::wstring path = helpDir != nullptr ? std::wstring(helpDir) : std::wstring();
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += LoadString(IDS_HELPFILEPROPPAGE);
    return ShellOpen(path) ? S_OK : E_FAIL;
}

HRESULT CSinjoPluginPropPage::TranslateAccelerator(MSG* message) {
    if (message == nullptr) return E_POINTER;
    if (m_dialog && m_dialog->IsDialogMessage(*message)) return S_OK;
    return S_FALSE;
}

void CSinjoPluginPropPage::OnInitDialog() {
    double factor = 1.0;
    if (m_plugin) {
        m_plugin->get_ScaleFactor(&factor);
    } else if (const std::optional<double> stored = ReadScaleFactorSetting()) {
        factor = *stored;
    }
    m_dialog->SetItemText(IDC_SCALEFACTOR, FormatScaleFactor(factor));
}

void CSinjoPluginPropPage::OnEditChange(int controlId) {
    if (controlId != IDC_SCALEFACTOR) return;
    const bool wasDirty = m_dirty;
    m_dirty = true;
    if (!wasDirty && m_site) m_site->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

}  // namespace sinjoplugin
