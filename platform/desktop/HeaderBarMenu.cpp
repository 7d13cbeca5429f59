#include "platform/desktop/HeaderBarMenu.h"

#include <gtk/gtk.h>

#include <utility>

#include "platform/desktop/ScriptText.h"

namespace platform {
namespace {

// Keys of the data a window with a header bar carries: its menu and the button that opens it.
constexpr char kMenuKey[] = "platform-header-bar-menu";
constexpr char kButtonKey[] = "platform-header-bar-menu-button";

void RunAction(GtkMenuItem*, gpointer data) {
    // A copy: the action may destroy the window, and with it the menu that owns the stored one.
    const std::function<void()> action = *static_cast<std::function<void()>*>(data);
    if (action) action();
}

void FreeAction(gpointer data, GClosure*) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

void EnsureHeaderBar(GtkWindow* window) {
    if (window == nullptr || g_object_get_data(G_OBJECT(window), kMenuKey) != nullptr) return;
    GtkWidget* bar = gtk_header_bar_new();
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(bar), "menu:minimize,maximize,close");
    const char* title = gtk_window_get_title(window);
    gtk_header_bar_set_title(GTK_HEADER_BAR(bar), title != nullptr ? title : "");

    GtkWidget* menu = gtk_menu_new();
    GtkWidget* button = gtk_menu_button_new();
    gtk_menu_button_set_popup(GTK_MENU_BUTTON(button), menu);
    gtk_button_set_image(GTK_BUTTON(button), gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_BUTTON));
    gtk_widget_set_tooltip_text(button, "Menu");
    gtk_widget_set_name(button, "window-menu-button");
    gtk_header_bar_pack_end(GTK_HEADER_BAR(bar), button);
    gtk_widget_show_all(bar);
    gtk_widget_hide(button);  // until the first item
    gtk_window_set_titlebar(window, bar);

    g_object_set_data(G_OBJECT(window), kMenuKey, menu);
    g_object_set_data(G_OBJECT(window), kButtonKey, button);
}

void AddHeaderBarMenuItem(GtkWindow* window, std::wstring_view menuText, std::function<void()> action) {
    if (window == nullptr) return;
    EnsureHeaderBar(window);
    GtkWidget* menu = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(window), kMenuKey));
    GtkWidget* button = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(window), kButtonKey));
    if (menu == nullptr || button == nullptr) return;
    GtkWidget* item = nullptr;
    if (menuText == L"-") {
        item = gtk_separator_menu_item_new();
    } else {
        item = gtk_menu_item_new_with_mnemonic(GtkMnemonicLabel(menuText).c_str());
        g_signal_connect_data(item, "activate", G_CALLBACK(&RunAction), new std::function<void()>(std::move(action)),
                              &FreeAction, static_cast<GConnectFlags>(0));
    }
    gtk_widget_show(item);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    gtk_widget_show(button);
}

}  // namespace platform
