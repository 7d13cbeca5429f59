#include "platform/desktop/InputFilter.h"

#include <gtk/gtk.h>

#include <utility>

namespace platform {
namespace {

// The hook, touched on the GUI thread only (set by the application, called by the filter).
SystemKeyHook& Hook() {
    static SystemKeyHook* hook = new SystemKeyHook();
    return *hook;
}

bool IsEnter(unsigned keyval) {
    return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}

InputEvent Describe(const GdkEvent* event) {
    InputEvent info;
    switch (event->type) {
        case GDK_KEY_PRESS:
        case GDK_KEY_RELEASE:
            info.kind = event->type == GDK_KEY_PRESS ? InputEvent::Kind::KeyDown : InputEvent::Kind::KeyUp;
            info.keyval = event->key.keyval;
            info.alt = (event->key.state & GDK_MOD1_MASK) != 0;
            info.control = (event->key.state & GDK_CONTROL_MASK) != 0;
            break;
        case GDK_BUTTON_PRESS:
        case GDK_2BUTTON_PRESS:
        case GDK_3BUTTON_PRESS:
        case GDK_BUTTON_RELEASE:
            info.kind = event->type == GDK_BUTTON_RELEASE ? InputEvent::Kind::ButtonUp
                                                          : InputEvent::Kind::ButtonDown;
            info.button = event->button.button;
            info.alt = (event->button.state & GDK_MOD1_MASK) != 0;
            info.control = (event->button.state & GDK_CONTROL_MASK) != 0;
            break;
        default:
            break;
    }
    return info;
}

// The normal window of the event, or null for pop-ups (menus, combo lists, tooltips), which keep
// GTK's own handling: Enter in an open menu chooses the item.
GtkWindow* NormalWindowOf(GdkEvent* event) {
    GtkWidget* widget = gtk_get_event_widget(event);
    if (widget == nullptr) return nullptr;
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    if (!GTK_IS_WINDOW(top) || gtk_window_get_window_type(GTK_WINDOW(top)) != GTK_WINDOW_TOPLEVEL) return nullptr;
    return GTK_WINDOW(top);
}

void DeliverToFocusedWidget(GdkEvent* event, GtkWindow* window) {
    GtkWidget* focus = gtk_window_get_focus(window);
    if (focus == nullptr || !gtk_widget_is_sensitive(focus)) return;
    // A modal dialog holds the grab: the windows behind it get no keys.
    GtkWidget* grab = gtk_grab_get_current();
    if (grab != nullptr && focus != grab && !gtk_widget_is_ancestor(focus, grab)) return;
    // The widget's own key handling only: in GTK it is the window that turns Enter into a click of
    // the default or focused button, so a focused button does not take Enter as a click here.
    gtk_widget_event(focus, event);
}

void FilterEvent(GdkEvent* event, gpointer /*data*/) {
    const InputEvent info = Describe(event);
    InputAction action = ClassifyInput(info);
    GtkWindow* window = nullptr;
    if (action == InputAction::ToFocusedWidget) {
        window = NormalWindowOf(event);
        if (window == nullptr) action = InputAction::Normal;
    }
    switch (action) {
        case InputAction::Normal:
            gtk_main_do_event(event);
            return;
        case InputAction::Drop:
            return;
        case InputAction::ToFocusedWidget:
            DeliverToFocusedWidget(event, window);
            return;
        case InputAction::SystemKeyThenNormal: {
            // A copy: the hook may replace itself.
            const SystemKeyHook hook = Hook();
            if (hook) hook(VirtualKeyOf(info.keyval));
            gtk_main_do_event(event);
            return;
        }
    }
}

}  // namespace

unsigned VirtualKeyOf(unsigned keyval) {
    const unsigned upper = gdk_keyval_to_upper(keyval);
    if (upper >= GDK_KEY_A && upper <= GDK_KEY_Z) return 'A' + (upper - GDK_KEY_A);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return '0' + (keyval - GDK_KEY_0);
    return 0;
}

InputAction ClassifyInput(const InputEvent& event) {
    switch (event.kind) {
        case InputEvent::Kind::KeyDown: {
            const unsigned key = event.keyval;
            // Alt with Control is how some layouts type characters (AltGr): not a system key.
            const bool system = event.alt && !event.control;
            if (!event.alt && (IsEnter(key) || key == GDK_KEY_BackSpace)) return InputAction::ToFocusedWidget;
            if (!event.alt && key == GDK_KEY_F5) return InputAction::Drop;
            if (system && (key == GDK_KEY_Left || key == GDK_KEY_Right || key == GDK_KEY_KP_Left ||
                           key == GDK_KEY_KP_Right)) {
                return InputAction::ToFocusedWidget;
            }
            if (system && VirtualKeyOf(key) != 0) return InputAction::SystemKeyThenNormal;
            return InputAction::Normal;
        }
        case InputEvent::Kind::ButtonDown:
        case InputEvent::Kind::ButtonUp:
            if (event.button == 2 || event.button == 8 || event.button == 9) return InputAction::Drop;
            return InputAction::Normal;
        case InputEvent::Kind::KeyUp:
        case InputEvent::Kind::Other:
            return InputAction::Normal;
    }
    return InputAction::Normal;
}

void SetSystemKeyHook(SystemKeyHook hook) { Hook() = std::move(hook); }

namespace desktop_detail {
void InstallInputFilter() { gdk_event_handler_set(&FilterEvent, nullptr, nullptr); }
}  // namespace desktop_detail

}  // namespace platform
