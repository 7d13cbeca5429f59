#include "platform/desktop/InputFilter.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

namespace platform {
namespace {

using Kind = InputEvent::Kind;

InputEvent Key(unsigned keyval, bool alt = false, bool control = false, Kind kind = Kind::KeyDown) {
    InputEvent e;
    e.kind = kind;
    e.keyval = keyval;
    e.alt = alt;
    e.control = control;
    return e;
}

InputEvent Button(unsigned button, Kind kind = Kind::ButtonDown) {
    InputEvent e;
    e.kind = kind;
    e.button = button;
    return e;
}

TEST(InputFilter, ClassifiesEveryRowOfTheTable) {
    struct Case {
        const char* what;
        InputEvent event;
        InputAction expected;
    };
    const Case cases[] = {
        {"Enter", Key(GDK_KEY_Return), InputAction::ToFocusedWidget},
        {"keypad Enter", Key(GDK_KEY_KP_Enter), InputAction::ToFocusedWidget},
        {"Ctrl+Enter", Key(GDK_KEY_Return, false, true), InputAction::ToFocusedWidget},
        {"Backspace", Key(GDK_KEY_BackSpace), InputAction::ToFocusedWidget},
        {"Alt+Enter is a system key, not the table's Enter", Key(GDK_KEY_Return, true), InputAction::Normal},
        {"Alt+Backspace", Key(GDK_KEY_BackSpace, true), InputAction::Normal},
        {"F5", Key(GDK_KEY_F5), InputAction::Drop},
        {"Ctrl+F5", Key(GDK_KEY_F5, false, true), InputAction::Drop},
        {"Alt+F5", Key(GDK_KEY_F5, true), InputAction::Normal},
        {"F5 released", Key(GDK_KEY_F5, false, false, Kind::KeyUp), InputAction::Normal},
        {"Enter released", Key(GDK_KEY_Return, false, false, Kind::KeyUp), InputAction::Normal},
        {"Alt+Left", Key(GDK_KEY_Left, true), InputAction::ToFocusedWidget},
        {"Alt+Right", Key(GDK_KEY_Right, true), InputAction::ToFocusedWidget},
        {"Alt+keypad Left", Key(GDK_KEY_KP_Left, true), InputAction::ToFocusedWidget},
        {"Left alone", Key(GDK_KEY_Left), InputAction::Normal},
        {"Ctrl+Alt+Left (not a system key)", Key(GDK_KEY_Left, true, true), InputAction::Normal},
        {"Alt+d", Key(GDK_KEY_d, true), InputAction::SystemKeyThenNormal},
        {"Alt+D", Key(GDK_KEY_D, true), InputAction::SystemKeyThenNormal},
        {"Alt+7", Key(GDK_KEY_7, true), InputAction::SystemKeyThenNormal},
        {"AltGr-style Ctrl+Alt+d", Key(GDK_KEY_d, true, true), InputAction::Normal},
        {"d", Key(GDK_KEY_d), InputAction::Normal},
        {"Escape", Key(GDK_KEY_Escape), InputAction::Normal},
        {"Alt+F4", Key(GDK_KEY_F4, true), InputAction::Normal},
        {"left button", Button(1), InputAction::Normal},
        {"right button", Button(3), InputAction::Normal},
        {"middle button down", Button(2), InputAction::Drop},
        {"middle button up", Button(2, Kind::ButtonUp), InputAction::Drop},
        {"back button", Button(8), InputAction::Drop},
        {"forward button", Button(9), InputAction::Drop},
        {"something else", InputEvent{}, InputAction::Normal},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyInput(c.event), c.expected) << c.what;
    }
}

TEST(InputFilter, VirtualKeysOfLettersAndDigits) {
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_d), 'D');
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_D), 'D');
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_a), 'A');
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_z), 'Z');
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_0), '0');
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_9), '9');
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_Left), 0u);
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_odiaeresis), 0u);
    EXPECT_EQ(VirtualKeyOf(GDK_KEY_space), 0u);
}

}  // namespace
}  // namespace platform
