// CSinjoPluginPropPage: the property page on which the user edits the plug-in's scale factor (0.0 to
// 1.0). It shows the factor of the object being edited (or, without one, the stored setting) in edit
// box 201 and, on Apply, checks the typed value, stores it in the registry and hands it to the object.
//
// Ownership: holds one reference to the page site and one to the ISinjoPlugin being edited, and owns
// its dialog between Activate and Deactivate.
// Threads: the GUI thread only, like every page; the reference count is atomic.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/PropertyPage.h"
#include "plugin/ISinjoPlugin.h"

namespace sinjoplugin {

class CSinjoPluginPropPage final : public platform::IPropertyPage {
public:
    using HRESULT = platform::HRESULT;

    // The class factory's work. Pages are not aggregated (CLASS_E_NOAGGREGATION with an outer object).
    static HRESULT CreateInstance(platform::IUnknown* outer, platform::REFIID iid, void** object);

    CSinjoPluginPropPage(const CSinjoPluginPropPage&) = delete;
    CSinjoPluginPropPage& operator=(const CSinjoPluginPropPage&) = delete;

    // IUnknown
    HRESULT QueryInterface(platform::REFIID iid, void** object) override;
    platform::ULONG AddRef() override;
    platform::ULONG Release() override;

    // IPropertyPage
    HRESULT SetPageSite(platform::IPropertyPageSite* site) override;  // null lets the site go
    HRESULT Activate(platform::HWND parent, const platform::RECT* rect, platform::BOOL modal) override;
    HRESULT Deactivate() override;
    HRESULT GetPageInfo(platform::PROPPAGEINFO* info) override;
    HRESULT SetObjects(platform::ULONG count, platform::IUnknown** objects) override;
    HRESULT Show(platform::UINT command) override;
    HRESULT Move(const platform::RECT* rect) override;
    HRESULT IsPageDirty() override;
    // Without an active dialog there is nothing the user could have typed: S_OK, nothing changes.
    HRESULT Apply() override;
    HRESULT Help(platform::LPCOLESTR helpDir) override;
    HRESULT TranslateAccelerator(platform::MSG* message) override;

    // The dialog while the page is active, else null (tests and a drawing front end type into it).
    platform::PropertyDialog* Dialog() const { return m_dialog.get(); }

private:
    CSinjoPluginPropPage();
    ~CSinjoPluginPropPage();

    void OnInitDialog();
    void OnEditChange(int controlId);

    std::atomic<platform::ULONG> m_refs{1};
    // GUI thread only.
    platform::ComPtr<platform::IPropertyPageSite> m_site;
    platform::ComPtr<ISinjoPlugin> m_plugin;
    bool m_dirty = false;
    std::unique_ptr<platform::PropertyDialog> m_dialog;
};

// The text the page shows for a factor: two decimals ("%0.2f"), with a dot whatever the locale.
std::wstring FormatScaleFactor(double factor);
// Reads a factor the way "%lf" does in the C locale: leading white space, an optional sign, then the
// longest number prefix (decimal, hexadecimal, "inf", "nan"). Nothing when no number starts the text.
std::optional<double> ParseScaleFactor(std::wstring_view text);

}  // namespace sinjoplugin
