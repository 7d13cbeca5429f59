#include "platform/desktop/PropertyFrame.h"

#include <gtk/gtk.h>

#include <atomic>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/CodePage.h"
#include "platform/HostServices.h"
#include "platform/PropertyPage.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/DesktopStart.h"

namespace platform {
std::optional<int> ShowGtkMessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, unsigned type);
}

namespace platform::desktop {
namespace {

constexpr int kPageMargin = 8;

// The tab areas of open frames, by the handle each page was given as its parent. GUI thread only.
std::unordered_map<HWND, GtkWidget*>& PageHosts() {
    static auto* hosts = new std::unordered_map<HWND, GtkWidget*>();
    return *hosts;
}

// --- the dialog front end --------------------------------------------------------------------------

class GtkDialogView final : public PropertyDialogView {
public:
    GtkDialogView(PropertyDialogEvents* events, HWND dialog, GtkWidget* host, const RECT& rect,
                  const DialogTemplate& dialogTemplate)
        : m_events(events), m_dialog(dialog), m_host(host) {
        m_fixed = gtk_fixed_new();
        gtk_widget_set_name(m_fixed, "property-dialog");
        const SIZE size = DialogUnitsToPixels(dialogTemplate.width, dialogTemplate.height);
        gtk_widget_set_size_request(m_fixed, size.cx, size.cy);
        g_signal_connect(m_fixed, "destroy", G_CALLBACK(&OnFixedDestroyed), this);
        for (int i = 0; i < dialogTemplate.controlCount; ++i) AddControl(dialogTemplate.controls[i]);
        gtk_fixed_put(GTK_FIXED(m_host), m_fixed, rect.left, rect.top);
        gtk_widget_show_all(m_fixed);
        gtk_widget_set_visible(m_fixed, FALSE);  // until the page's Show
        // Message boxes the dialog owns open over the frame.
        if (GtkWidget* top = gtk_widget_get_toplevel(m_host); GTK_IS_WINDOW(top)) SetNativeWindow(m_dialog, GTK_WINDOW(top));
    }

    void SetItemText(int controlId, std::wstring_view text) override {
        auto it = m_edits.find(controlId);
        if (it == m_edits.end() || m_fixed == nullptr) return;
        m_programSets = true;
        gtk_entry_set_text(GTK_ENTRY(it->second), ToUtf8(text).c_str());
        m_programSets = false;
    }

    void Show(bool show) override {
        if (m_fixed != nullptr) gtk_widget_set_visible(m_fixed, show);
    }

    void Move(const RECT& rect) override {
        if (m_fixed != nullptr) gtk_fixed_move(GTK_FIXED(m_host), m_fixed, rect.left, rect.top);
    }

    void Destroy() override {
        SetNativeWindow(m_dialog, nullptr);
        if (m_fixed != nullptr) {
            GtkWidget* fixed = m_fixed;
            m_fixed = nullptr;
            g_signal_handlers_disconnect_by_data(fixed, this);
            gtk_widget_destroy(fixed);
        }
        for (auto& [id, entry] : m_edits) g_signal_handlers_disconnect_by_data(entry, this);
        delete this;
    }

private:
    ~GtkDialogView() = default;

    void AddControl(const DialogControl& control) {
        const SIZE at = DialogUnitsToPixels(control.x, control.y);
        const SIZE size = DialogUnitsToPixels(control.width, control.height);
        const std::wstring kind = control.kind != nullptr ? control.kind : L"";
        GtkWidget* widget = nullptr;
        if (kind == L"EDIT") {
            widget = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
            gtk_widget_set_size_request(widget, size.cx, -1);
            gtk_widget_set_name(widget, ("control-" + std::to_string(control.id)).c_str());
            if (control.text != nullptr) gtk_entry_set_text(GTK_ENTRY(widget), ToUtf8(control.text).c_str());
            g_signal_connect(widget, "changed", G_CALLBACK(&OnEntryChanged), this);
            g_object_set_data(G_OBJECT(widget), "control-id", GINT_TO_POINTER(control.id));
            m_edits[control.id] = widget;
        } else {
            widget = gtk_label_new(control.text != nullptr ? ToUtf8(control.text).c_str() : "");
            gtk_label_set_xalign(GTK_LABEL(widget), 0.0f);
            if (control.id >= 0) gtk_widget_set_name(widget, ("control-" + std::to_string(control.id)).c_str());
        }
        gtk_fixed_put(GTK_FIXED(m_fixed), widget, at.cx, at.cy);
    }

    static void OnEntryChanged(GtkEditable* editable, gpointer self) {
        auto* me = static_cast<GtkDialogView*>(self);
        if (me->m_programSets) return;
        const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(editable), "control-id"));
        me->m_events->OnUserEdit(id, FromUtf8(gtk_entry_get_text(GTK_ENTRY(editable))));
    }

    static void OnFixedDestroyed(GtkWidget*, gpointer self) {
        auto* me = static_cast<GtkDialogView*>(self);
        me->m_fixed = nullptr;  // the frame went first; the dialog still calls Destroy later
        me->m_edits.clear();
    }

    PropertyDialogEvents* const m_events;  // the dialog; it outlives the view
    const HWND m_dialog;
    GtkWidget* const m_host;
    GtkWidget* m_fixed = nullptr;
    std::unordered_map<int, GtkWidget*> m_edits;
    bool m_programSets = false;
};

class GtkDialogViewFactory final : public PropertyDialogViewFactory {
public:
    PropertyDialogView* CreateView(PropertyDialogEvents* events, HWND dialog, HWND parent, const RECT& rect,
                                   const DialogTemplate& dialogTemplate) override {
        if (!IsGuiThread() || events == nullptr) return nullptr;
        auto it = PageHosts().find(parent);
        if (it == PageHosts().end()) return nullptr;
        return new GtkDialogView(events, dialog, it->second, rect, dialogTemplate);
    }
};

GtkDialogViewFactory g_viewFactory;

const HostServices g_services = {sizeof(HostServices), &ShowGtkMessageBox, &g_viewFactory};

// --- the frame -------------------------------------------------------------------------------------

// The frame's side of one page: a dirty page enables Apply.
class FrameSite final : public SingleInterfaceObject<IPropertyPageSite, IID_IPropertyPageSite> {
public:
    explicit FrameSite(GtkWidget* apply) : m_apply(apply) { g_object_ref(m_apply); }

    HRESULT OnStatusChange(DWORD flags) override {
        if ((flags & PROPPAGESTATUS_DIRTY) != 0) gtk_widget_set_sensitive(m_apply, TRUE);
        return S_OK;
    }
    HRESULT GetLocaleID(LCID* locale) override {
        if (locale == nullptr) return E_POINTER;
        *locale = 0x0409;
        return S_OK;
    }
    HRESULT GetPageContainer(IUnknown** container) override {
        if (container != nullptr) *container = nullptr;
        return E_NOTIMPL;
    }
    HRESULT TranslateAccelerator(MSG*) override { return S_FALSE; }

private:
    ~FrameSite() override { g_object_unref(m_apply); }

    GtkWidget* const m_apply;  // one reference of ours
};

struct FramePage {
    ComPtr<IPropertyPage> page;
    ComPtr<FrameSite> site;
    HWND host = nullptr;
};

std::string TakeCoString(LPOLESTR text) {
    std::string utf8 = text != nullptr ? ToUtf8(std::wstring_view(text)) : std::string();
    CoTaskMemFree(text);
    return utf8;
}

GtkWidget* FirstEntry(GtkWidget* root) {
    if (GTK_IS_ENTRY(root)) return root;
    if (!GTK_IS_CONTAINER(root)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    GtkWidget* found = nullptr;
    for (GList* item = children; item != nullptr && found == nullptr; item = item->next) {
        found = FirstEntry(GTK_WIDGET(item->data));
    }
    g_list_free(children);
    return found;
}

// Applies every dirty page, stopping at the first that refuses. True when none refused. Apply stays
// enabled while a page is dirty.
bool ApplyPages(std::vector<FramePage>& pages, GtkWidget* apply) {
    bool ok = true;
    for (FramePage& page : pages) {
        if (page.page->IsPageDirty() != S_OK) continue;
        if (FAILED(page.page->Apply())) {
            ok = false;
            break;
        }
    }
    bool dirty = false;
    for (FramePage& page : pages) dirty = dirty || page.page->IsPageDirty() == S_OK;
    gtk_widget_set_sensitive(apply, dirty);
    return ok;
}

}  // namespace

void RegisterPropertyDialogViews() { SetHostServices(&g_services); }

HRESULT ShowPropertyFrame(GtkWindow* parent, const std::wstring& caption, IUnknown* object) {
    if (object == nullptr) return E_POINTER;
    if (!DesktopRunning()) return E_FAIL;
    ComPtr<ISpecifyPropertyPages> specify;
    if (FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(specify.ReleaseAndGetAddressOf()))) ||
        !specify) {
        return E_NOINTERFACE;
    }
    CAUUID ids{0, nullptr};
    if (HRESULT hr = specify->GetPages(&ids); FAILED(hr)) return hr;

    GtkWidget* dialog = gtk_dialog_new();
    gtk_widget_set_name(dialog, kNamePropertyFrame);
    gtk_window_set_title(GTK_WINDOW(dialog), (ToUtf8(caption) + " Properties").c_str());
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    if (parent != nullptr) {
        gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
        gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    }
    gtk_dialog_add_button(GTK_DIALOG(dialog), "_OK", GTK_RESPONSE_OK);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "_Cancel", GTK_RESPONSE_CANCEL);
    GtkWidget* apply = gtk_dialog_add_button(GTK_DIALOG(dialog), "_Apply", GTK_RESPONSE_APPLY);
    gtk_widget_set_name(apply, "apply");
    gtk_widget_set_sensitive(apply, FALSE);
    GtkWidget* notebook = gtk_notebook_new();
    gtk_container_set_border_width(GTK_CONTAINER(notebook), kPageMargin);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), notebook, TRUE, TRUE, 0);

    std::vector<FramePage> pages;
    HRESULT firstFailure = S_OK;
    IUnknown* objects[] = {object};
    for (ULONG i = 0; i < ids.cElems; ++i) {
        FramePage entry;
        HRESULT hr = CoCreateInstance(ids.pElems[i], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                      reinterpret_cast<void**>(entry.page.ReleaseAndGetAddressOf()));
        if (FAILED(hr) || !entry.page) {
            if (SUCCEEDED(firstFailure)) firstFailure = FAILED(hr) ? hr : E_NOINTERFACE;
            continue;
        }
        entry.site.Attach(new FrameSite(apply));
        entry.page->SetPageSite(entry.site.Get());
        entry.page->SetObjects(1, objects);
        PROPPAGEINFO info{};
        info.cb = sizeof info;
        std::string title = "Page " + std::to_string(i + 1);
        SIZE size{300, 200};
        if (SUCCEEDED(entry.page->GetPageInfo(&info))) {
            const std::string given = TakeCoString(info.pszTitle);
            if (!given.empty()) title = given;
            CoTaskMemFree(info.pszDocString);
            CoTaskMemFree(info.pszHelpFile);
            if (info.size.cx > 0 && info.size.cy > 0) size = info.size;
        }
        GtkWidget* area = gtk_fixed_new();
        gtk_widget_set_size_request(area, size.cx, size.cy);
        gtk_notebook_append_page(GTK_NOTEBOOK(notebook), area, gtk_label_new(title.c_str()));
        entry.host = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
        PageHosts()[entry.host] = area;
        const RECT rect{0, 0, size.cx, size.cy};
        if (FAILED(entry.page->Activate(entry.host, &rect, TRUE))) {
            PageHosts().erase(entry.host);
            DestroyWindow(entry.host);
            entry.page->SetObjects(0, nullptr);
            entry.page->SetPageSite(nullptr);
            gtk_notebook_remove_page(GTK_NOTEBOOK(notebook), -1);
            continue;
        }
        entry.page->Show(SW_SHOW);
        pages.push_back(std::move(entry));
    }
    CoTaskMemFree(ids.pElems);

    HRESULT result = S_OK;
    if (pages.empty()) {
        result = FAILED(firstFailure) ? firstFailure : E_NOINTERFACE;
    } else {
        gtk_widget_show(notebook);
        for (int i = 0; i < gtk_notebook_get_n_pages(GTK_NOTEBOOK(notebook)); ++i) {
            gtk_widget_show(gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebook), i));
        }
        gtk_widget_show(dialog);
        if (GtkWidget* entry = FirstEntry(notebook)) gtk_widget_grab_focus(entry);
        for (;;) {
            const int response = gtk_dialog_run(GTK_DIALOG(dialog));
            if (response == GTK_RESPONSE_APPLY) {
                ApplyPages(pages, apply);
                continue;
            }
            if (response == GTK_RESPONSE_OK && !ApplyPages(pages, apply)) continue;
            break;  // OK applied, or Cancel, Escape, the close box
        }
    }
    for (FramePage& page : pages) {
        page.page->Deactivate();
        page.page->SetObjects(0, nullptr);
        page.page->SetPageSite(nullptr);
        PageHosts().erase(page.host);
        DestroyWindow(page.host);
    }
    pages.clear();
    gtk_widget_destroy(dialog);
    return result;
}

}  // namespace platform::desktop

// The program's services for the modules it loads (platform/HostServices.h); exported from the program
// (see CMakeLists.txt), found by name from a plug-in module.
extern "C" __attribute__((visibility("default"))) const platform::HostServices* SinjoHostServices() {
    return platform::desktop_detail::GtkStarted() ? &platform::desktop::g_services : nullptr;
}
