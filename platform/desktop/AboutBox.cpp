#include "platform/desktop/AboutBox.h"

#include <gtk/gtk.h>

#include "platform/CodePage.h"
#include "platform/desktop/Desktop.h"

namespace platform {
namespace {

constexpr int kIconPixels = 48;

// The program icon at kIconPixels, or null when none was set.
GtkWidget* ProgramIconImage() {
    GList* icons = gtk_window_get_default_icon_list();
    if (icons == nullptr) return nullptr;
    GdkPixbuf* icon = GDK_PIXBUF(icons->data);
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(icon, kIconPixels, kIconPixels, GDK_INTERP_BILINEAR);
    g_list_free(icons);
    if (scaled == nullptr) return nullptr;
    GtkWidget* image = gtk_image_new_from_pixbuf(scaled);
    g_object_unref(scaled);
    return image;
}

GtkWidget* TextLabel(const std::wstring& text, bool bold) {
    GtkWidget* label = gtk_label_new(nullptr);
    if (bold) {
        gchar* markup = g_markup_printf_escaped("<b>%s</b>", ToUtf8(text).c_str());
        gtk_label_set_markup(GTK_LABEL(label), markup);
        g_free(markup);
    } else {
        gtk_label_set_text(GTK_LABEL(label), ToUtf8(text).c_str());
    }
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_selectable(GTK_LABEL(label), FALSE);
    return label;
}

}  // namespace

void ShowAboutBox(GtkWindow* parent, const AboutBoxText& text) {
    if (!DesktopRunning()) return;
    GtkWidget* dialog = gtk_dialog_new_with_buttons(ToUtf8(text.title).c_str(), parent,
                                                    static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                                    "OK", GTK_RESPONSE_OK, nullptr);
    gtk_widget_set_name(dialog, "about-box");
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    // Wide enough that a window manager's title bar shows the whole title, not "About... jobox".
    gtk_widget_set_size_request(dialog, 320, -1);
    gtk_window_set_position(GTK_WINDOW(dialog), parent != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    gtk_container_set_border_width(GTK_CONTAINER(row), 16);
    if (GtkWidget* icon = ProgramIconImage()) {
        gtk_widget_set_valign(icon, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
    }
    GtkWidget* lines = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_box_pack_start(GTK_BOX(lines), TextLabel(text.programName, true), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(lines), TextLabel(text.version, false), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(lines), TextLabel(text.company, false), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), lines, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row, TRUE, TRUE, 0);
    gtk_widget_show_all(row);

    // OK has the focus: Space presses it; Enter does not (the input filter keeps Enter from buttons).
    if (GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK)) gtk_widget_grab_focus(ok);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

}  // namespace platform
