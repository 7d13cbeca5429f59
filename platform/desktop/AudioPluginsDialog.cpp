#include "platform/desktop/AudioPluginsDialog.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/PropertyPage.h"
#include "platform/RunningPlugins.h"
#include "platform/WmpPlugins.h"
#include "platform/desktop/PropertyFrame.h"

namespace platform::desktop {
namespace {

constexpr int kResponseProperties = 1;

struct PluginRow {
    DspPluginRecord record;
    ComPtr<IUnknown> object;  // the running object, else a fresh one; null when the class cannot be made
    bool hasPages = false;
};

ComPtr<IUnknown> ObjectFor(const CLSID& clsid) {
    if (ComPtr<IUnknown> running = FindRunningPlugin(clsid)) return running;
    ComPtr<IUnknown> fresh;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                     reinterpret_cast<void**>(fresh.ReleaseAndGetAddressOf()));
    return fresh;
}

template <class T>
ComPtr<T> As(IUnknown* object, REFIID iid) {
    ComPtr<T> result;
    if (object != nullptr) object->QueryInterface(iid, reinterpret_cast<void**>(result.ReleaseAndGetAddressOf()));
    return result;
}

void OnEnableToggled(GtkToggleButton* toggle, gpointer data) {
    auto* row = static_cast<PluginRow*>(data);
    if (ComPtr<IWMPPluginEnable> enable = As<IWMPPluginEnable>(row->object.Get(), IID_IWMPPluginEnable)) {
        enable->SetEnable(gtk_toggle_button_get_active(toggle) ? TRUE : FALSE);
    }
}

GtkWidget* MakeRow(PluginRow& row) {
    GtkWidget* line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(line), 6);
    GtkWidget* check = gtk_check_button_new();
    gtk_widget_set_tooltip_text(check, "Enabled");
    BOOL enabled = TRUE;
    ComPtr<IWMPPluginEnable> enable = As<IWMPPluginEnable>(row.object.Get(), IID_IWMPPluginEnable);
    if (enable) enable->GetEnable(&enabled);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), enabled != FALSE);
    gtk_widget_set_sensitive(check, enable ? TRUE : FALSE);  // without IWMPPluginEnable it is always on
    g_signal_connect(check, "toggled", G_CALLBACK(&OnEnableToggled), &row);
    gtk_widget_set_valign(check, GTK_ALIGN_CENTER);

    GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    GtkWidget* name = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("<b>%s</b>", ToUtf8(row.record.friendlyName).c_str());
    gtk_label_set_markup(GTK_LABEL(name), markup);
    g_free(markup);
    gtk_label_set_xalign(GTK_LABEL(name), 0.0f);
    GtkWidget* description = gtk_label_new(ToUtf8(row.record.description).c_str());
    gtk_label_set_xalign(GTK_LABEL(description), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(description), TRUE);
    gtk_box_pack_start(GTK_BOX(texts), name, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(texts), description, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(line), check, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(line), texts, TRUE, TRUE, 0);
    return line;
}

PluginRow* SelectedRow(GtkListBox* list, std::vector<PluginRow>& rows) {
    GtkListBoxRow* selected = gtk_list_box_get_selected_row(list);
    if (selected == nullptr) return nullptr;
    const int index = gtk_list_box_row_get_index(selected);
    return index >= 0 && static_cast<size_t>(index) < rows.size() ? &rows[static_cast<size_t>(index)] : nullptr;
}

}  // namespace

void ShowAudioPluginsDialog(GtkWindow* parent) {
    std::vector<PluginRow> rows;
    for (DspPluginRecord& record : ListDspPlugins()) {
        PluginRow row;
        row.object = ObjectFor(record.clsid);
        row.hasPages = static_cast<bool>(As<ISpecifyPropertyPages>(row.object.Get(), IID_ISpecifyPropertyPages));
        row.record = std::move(record);
        rows.push_back(std::move(row));
    }

    GtkWidget* dialog = gtk_dialog_new();
    gtk_widget_set_name(dialog, kNameAudioPlugins);
    gtk_window_set_title(GTK_WINDOW(dialog), "Audio plug-ins");
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 460, 260);
    if (parent != nullptr) {
        gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
        gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    }
    GtkWidget* properties = gtk_dialog_add_button(GTK_DIALOG(dialog), "_Properties", kResponseProperties);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "_Close", GTK_RESPONSE_CLOSE);

    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(content), 8);
    GtkWidget* list = gtk_list_box_new();
    gtk_list_box_set_selection_mode(GTK_LIST_BOX(list), GTK_SELECTION_BROWSE);
    for (PluginRow& row : rows) gtk_container_add(GTK_CONTAINER(list), MakeRow(row));
    if (rows.empty()) {
        GtkWidget* none = gtk_label_new("No audio plug-in is installed.");
        gtk_list_box_set_placeholder(GTK_LIST_BOX(list), none);
        gtk_widget_show(none);
    }
    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scroller), list);
    gtk_box_pack_start(GTK_BOX(content), scroller, TRUE, TRUE, 0);
    gtk_widget_show_all(content);
    if (GtkListBoxRow* first = gtk_list_box_get_row_at_index(GTK_LIST_BOX(list), 0)) {
        gtk_list_box_select_row(GTK_LIST_BOX(list), first);
    }

    // Plug-ins without pages say so when asked; the button is there whenever there is a plug-in.
    gtk_widget_set_sensitive(properties, !rows.empty());
    for (;;) {
        const int response = gtk_dialog_run(GTK_DIALOG(dialog));
        if (response != kResponseProperties) break;
        if (PluginRow* row = SelectedRow(GTK_LIST_BOX(list), rows); row != nullptr && row->hasPages) {
            ShowPropertyFrame(GTK_WINDOW(dialog), row->record.friendlyName, row->object.Get());
        } else if (row != nullptr) {
            GtkWidget* note = gtk_message_dialog_new(GTK_WINDOW(dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                                     GTK_BUTTONS_OK, "This plug-in has no properties.");
            gtk_dialog_run(GTK_DIALOG(note));
            gtk_widget_destroy(note);
        }
    }
    gtk_widget_destroy(dialog);
}

}  // namespace platform::desktop
