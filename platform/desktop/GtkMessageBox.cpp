// Message boxes on the desktop: a modal GTK dialog with the text, an OK button and, for the icon
// types, the matching icon; shown on the GUI thread over the owner's window.
#include <gtk/gtk.h>

#include <future>
#include <memory>
#include <optional>
#include <string>

#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/desktop/Desktop.h"

namespace platform {
namespace {

constexpr unsigned kIconMask = 0xF0;

// The platform's icon types: MB_ICONHAND 0x10, MB_ICONQUESTION 0x20, MB_ICONEXCLAMATION 0x30,
// MB_ICONASTERISK 0x40. Null: no icon.
const char* IconNameOf(unsigned type) {
    switch (type & kIconMask) {
        case 0x10: return "dialog-error";
        case 0x20: return "dialog-question";
        case 0x30: return "dialog-warning";
        case 0x40: return "dialog-information";
        default: return nullptr;
    }
}

// The owner's window, else the window of ours that is active, else any visible one: a dialog
// without a parent would open anywhere and could hide behind the program's window.
GtkWindow* DialogParent(HWND owner) {
    if (GtkWindow* window = NativeWindowOf(owner)) return window;
    GtkWindow* visible = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    GtkWindow* active = nullptr;
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        if (gtk_window_get_window_type(window) != GTK_WINDOW_TOPLEVEL || !gtk_widget_get_visible(GTK_WIDGET(window))) {
            continue;
        }
        if (gtk_window_is_active(window)) active = window;
        if (visible == nullptr) visible = window;
    }
    g_list_free(toplevels);
    return active != nullptr ? active : visible;
}

int RunMessageDialog(HWND owner, const std::string& text, const std::string& caption, unsigned type) {
    GtkWindow* parent = DialogParent(owner);
    GtkWidget* dialog = gtk_dialog_new_with_buttons(caption.c_str(), parent,
                                                    static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                                    "OK", GTK_RESPONSE_OK, nullptr);
    gtk_widget_set_name(dialog, "message-box");
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_position(GTK_WINDOW(dialog), parent != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    gtk_container_set_border_width(GTK_CONTAINER(row), 16);
    if (const char* icon = IconNameOf(type)) {
        GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(image, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    }
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row, TRUE, TRUE, 0);
    gtk_widget_show_all(row);

    // OK, Escape and the close box all end it; the answer is OK whichever it was, as with an OK-only box.
    // OK has the focus: Space presses it; Enter does not (the input filter keeps Enter from buttons).
    if (GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK)) gtk_widget_grab_focus(ok);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return IDOK;
}

}  // namespace

// The presenter registered with platform::MessageBox (platform/DialogsBackend.h) once GTK runs.
std::optional<int> ShowGtkMessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, unsigned type) {
    if (!DesktopRunning()) return std::nullopt;
    std::string utf8Text = ToUtf8(text);
    std::string utf8Caption = ToUtf8(caption);
    if (IsGuiThread()) return RunMessageDialog(owner, utf8Text, utf8Caption, type);
    // GTK belongs to the GUI thread: the box is shown there, and this thread waits for its answer.
    auto answer = std::make_shared<std::promise<int>>();
    std::future<int> pressed = answer->get_future();
    const bool queued = RunOnGuiThread([answer, owner, utf8Text, utf8Caption, type] {
        answer->set_value(RunMessageDialog(owner, utf8Text, utf8Caption, type));
    });
    if (!queued) return std::nullopt;
    return pressed.get();
}

}  // namespace platform
