// Message boxes and the About box on the desktop, driven by keys and clicks as a person would.
//
// A modal dialog blocks the GUI thread's caller in its own loop, so the tests drive those dialogs from
// a second thread: it reads the dialog's state through tasks on the GUI thread (which the dialog's
// loop runs) and presses keys with xdotool.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>

#include "platform/Dialogs.h"
#include "platform/desktop/AboutBox.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/DesktopTestSupport.h"
#include "platform/desktop/HeaderBarMenu.h"

namespace platform {
namespace {

using namespace desktop_test;
using namespace std::chrono_literals;

// What a dialog shows, read on the GUI thread.
struct DialogView {
    bool open = false;
    std::string title;
    std::vector<std::string> labels;      // texts of its labels, in order
    std::vector<std::string> buttons;     // labels of its buttons
    std::vector<std::string> iconNames;   // icon names of its images (empty name: a picture)
    bool transientForOwner = false;
    bool okHasFocus = false;
};

DialogView ViewOf(const char* name, GtkWindow* owner = nullptr) {
    DialogView view;
    GtkWindow* dialog = FindWindowNamed(name);
    if (dialog == nullptr) return view;
    view.open = true;
    view.title = gtk_window_get_title(dialog) != nullptr ? gtk_window_get_title(dialog) : "";
    view.transientForOwner = owner != nullptr && gtk_window_get_transient_for(dialog) == owner;
    GtkWidget* focus = gtk_window_get_focus(dialog);
    view.okHasFocus = focus != nullptr && GTK_IS_BUTTON(focus) &&
                      g_strcmp0(gtk_button_get_label(GTK_BUTTON(focus)), "OK") == 0;
    for (GtkWidget* w : WidgetsOf(dialog, [](GtkWidget* w) { return GTK_IS_LABEL(w) || GTK_IS_IMAGE(w); })) {
        if (GTK_IS_LABEL(w)) {
            std::vector<std::string>& list = GTK_IS_BUTTON(gtk_widget_get_parent(w)) ? view.buttons : view.labels;
            list.push_back(gtk_label_get_text(GTK_LABEL(w)));
        } else if (gtk_widget_get_visible(w)) {
            const gchar* icon = nullptr;
            if (gtk_image_get_storage_type(GTK_IMAGE(w)) == GTK_IMAGE_ICON_NAME) gtk_image_get_icon_name(GTK_IMAGE(w), &icon, nullptr);
            view.iconNames.push_back(icon != nullptr ? icon : "");
        }
    }
    return view;
}

// Counts releases of Return in the dialog named `name`: the filter gives the press to the focused
// widget only, but the release takes the normal way, so once it is counted the press was handled.
std::shared_ptr<std::atomic<int>> CountReturnReleases(const char* name) {
    auto count = std::make_shared<std::atomic<int>>(0);
    GtkWindow* dialog = FindWindowNamed(name);
    if (dialog == nullptr) return count;
    g_signal_connect_data(dialog, "key-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* key, gpointer data) -> gboolean {
        if (key->keyval == GDK_KEY_Return) ++*static_cast<std::shared_ptr<std::atomic<int>>*>(data)->get();
        return FALSE;
    }), new std::shared_ptr<std::atomic<int>>(count), +[](gpointer data, GClosure*) {
        delete static_cast<std::shared_ptr<std::atomic<int>>*>(data);
    }, static_cast<GConnectFlags>(0));
    return count;
}

// Off the GUI thread: waits until the dialog is on screen with the keyboard focus (the window manager
// gives it to a new dialog), so that keys and clicks reach it where it stands.
bool DialogReady(const char* name) {
    return EventuallyOnGui([name] {
        GtkWindow* dialog = FindWindowNamed(name);
        return dialog != nullptr && gtk_widget_get_mapped(GTK_WIDGET(dialog)) && gtk_window_is_active(dialog);
    });
}

// Off the GUI thread: a click on the last button of the dialog (its OK button).
void ClickOk(const char* name) {
    const auto centre = OnGui<std::pair<int, int>>([name] {
        auto buttons = WidgetsOf(FindWindowNamed(name), [](GtkWidget* w) { return GTK_IS_BUTTON(w); });
        return buttons.empty() ? std::pair<int, int>{0, 0} : ScreenCentre(buttons.back());
    });
    Xdo({"mousemove", "--sync", std::to_string(centre.first), std::to_string(centre.second)});
    Xdo({"click", "1"});
}

// Off the GUI thread: presses Return in the dialog and says whether it is still open afterwards.
bool ReturnLeavesDialogOpen(const char* name) {
    auto releases = OnGui<std::shared_ptr<std::atomic<int>>>([name] { return CountReturnReleases(name); });
    Xdo({"key", "Return"});
    if (!EventuallyOnGui([releases] { return releases->load() >= 1; })) return false;
    std::this_thread::sleep_for(100ms);  // a click that Return could have caused would show by now
    return OnGui<bool>([name] { return FindWindowNamed(name) != nullptr; });
}

class DesktopDialogsTest : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        CloseDialogsAfter(60);
    }
};

TEST_F(DesktopDialogsTest, MessageBoxFromAWorkerIsAGtkDialogThatOnlyEscapeOrOkCloses) {
    auto box = std::async(std::launch::async, [] {
        return MessageBox(nullptr, L"Failed to create registry key", L"Sinjo", MB_ICONEXCLAMATION);
    });
    // The box runs on the GUI thread: from here on this thread is inside its loop, and a second
    // thread looks and presses keys.
    auto driver = std::async(std::launch::async, [&box] {
        if (!DialogReady("message-box")) return DialogView{};
        const DialogView view = OnGui<DialogView>([] { return ViewOf("message-box"); });
        EXPECT_EQ(box.wait_for(0s), std::future_status::timeout) << "the worker did not wait for the box";
        EXPECT_TRUE(ReturnLeavesDialogOpen("message-box")) << "Enter closed the box";
        EXPECT_EQ(box.wait_for(0s), std::future_status::timeout);
        Xdo({"key", "Escape"});
        return view;
    });
    ASSERT_TRUE(WaitFor([&] { return box.wait_for(0s) == std::future_status::ready; }, 30000));
    EXPECT_EQ(box.get(), IDOK);
    const DialogView view = driver.get();
    EXPECT_TRUE(view.open);
    EXPECT_EQ(view.title, "Sinjo");
    EXPECT_EQ(view.labels, (std::vector<std::string>{"Failed to create registry key"}));
    EXPECT_EQ(view.buttons, (std::vector<std::string>{"OK"}));
    EXPECT_EQ(view.iconNames, (std::vector<std::string>{"dialog-warning"}));
    EXPECT_TRUE(view.okHasFocus) << "Enter went to a focused OK button and still did not close the box";
    EXPECT_EQ(FindWindowNamed("message-box"), nullptr);
}

TEST_F(DesktopDialogsTest, PlainMessageBoxOnTheGuiThreadOpensOverItsOwnerWithoutIconAndSpacePressesOk) {
    GtkWidget* ownerWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(ownerWindow), 500, 400);
    gtk_widget_show(ownerWindow);
    HWND owner = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    SetNativeWindow(owner, GTK_WINDOW(ownerWindow));
    ASSERT_EQ(NativeWindowOf(owner), GTK_WINDOW(ownerWindow));

    auto driver = std::async(std::launch::async, [ownerWindow] {
        if (!DialogReady("message-box")) return DialogView{};
        const DialogView view = OnGui<DialogView>([ownerWindow] { return ViewOf("message-box", GTK_WINDOW(ownerWindow)); });
        Xdo({"key", "space"});  // presses the focused OK button
        return view;
    });
    const auto started = std::chrono::steady_clock::now();
    const int pressed = MessageBox(owner, L"Cannot find the ripper window.", L"Sinjo", MB_OK);
    const DialogView view = driver.get();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << "closed only by the watchdog";
    EXPECT_EQ(pressed, IDOK);
    EXPECT_TRUE(view.open);
    EXPECT_TRUE(view.transientForOwner);
    EXPECT_EQ(view.labels, (std::vector<std::string>{"Cannot find the ripper window."}));
    EXPECT_TRUE(view.iconNames.empty());

    // The tie ends with the GTK window.
    gtk_widget_destroy(ownerWindow);
    EXPECT_EQ(NativeWindowOf(owner), nullptr);
    DestroyWindow(owner);
}

TEST_F(DesktopDialogsTest, HeadlessOrCapturedMessagesShowNoDialog) {
    setenv("SINJO_HEADLESS", "1", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox(nullptr, L"Failed to initialize winsock.", L"Sinjo", MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Sinjo: Failed to initialize winsock.\n");
    unsetenv("SINJO_HEADLESS");

    const std::string capture = std::string(std::getenv("SINJO_TEST_TMP")) + "/capture.txt";
    setenv("SINJO_CAPTURE", capture.c_str(), 1);
    EXPECT_EQ(MessageBox(nullptr, L"Failed to set registry value", L"Sinjo", MB_ICONEXCLAMATION), IDOK);
    unsetenv("SINJO_CAPTURE");
    std::ifstream in(capture);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "messagebox\tSinjo\tFailed to set registry value\t48");
    EXPECT_EQ(FindWindowNamed("message-box"), nullptr);
}

// A 32 x 32 picture for the program icon.
std::string WriteIcon() {
    const std::string path = std::string(std::getenv("SINJO_TEST_TMP")) + "/icon.png";
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 32, 32);
    gdk_pixbuf_fill(pixbuf, 0xd03070ff);
    gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixbuf);
    return path;
}

const AboutBoxText kAbout{L"About Sinjobox", L"Sinjobox", L"Version 1.0.0.2", L"Nadusoft"};

TEST_F(DesktopDialogsTest, AboutItemOfTheHeaderBarMenuOpensTheAboutBoxWhichEnterDoesNotClose) {
    ASSERT_TRUE(SetProgramIcon(WriteIcon()));
    EXPECT_FALSE(SetProgramIcon("/nonexistent/icon.png"));
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Main");
    gtk_window_set_default_size(GTK_WINDOW(window), 600, 400);
    int aboutShown = 0;
    AddHeaderBarMenuItem(GTK_WINDOW(window), L"&About Sinjobox...", [&] {
        ++aboutShown;
        ShowAboutBox(GTK_WINDOW(window), kAbout);
    });
    gtk_widget_show(window);
    ASSERT_TRUE(WaitFor([&] { return gtk_widget_get_mapped(window) && gtk_window_is_active(GTK_WINDOW(window)); }));

    auto driver = std::async(std::launch::async, [window] {
        const auto button = OnGui<std::pair<int, int>>([window] {
            auto found = WidgetsOf(GTK_WINDOW(window), [](GtkWidget* w) {
                return g_strcmp0(gtk_widget_get_name(w), "window-menu-button") == 0 && gtk_widget_get_visible(w);
            });
            return found.empty() ? std::pair<int, int>{0, 0} : ScreenCentre(found.front());
        });
        if (button.first == 0) return std::string("no menu button");
        Xdo({"mousemove", "--sync", std::to_string(button.first), std::to_string(button.second)});
        Xdo({"click", "1"});
        if (!EventuallyOnGui([] { return VisiblePopups() > 0; })) return std::string("no menu");
        // The item, by its text with the access key underlined ("_About Sinjobox...").
        const std::string label = OnGui<std::string>([] {
            GList* toplevels = gtk_window_list_toplevels();
            std::string text;
            for (GList* t = toplevels; t != nullptr; t = t->next) {
                if (gtk_window_get_window_type(GTK_WINDOW(t->data)) != GTK_WINDOW_POPUP) continue;
                for (GtkWidget* item : WidgetsOf(GTK_WINDOW(t->data), [](GtkWidget* w) { return GTK_IS_MENU_ITEM(w); })) {
                    text = gtk_menu_item_get_label(GTK_MENU_ITEM(item));
                }
            }
            g_list_free(toplevels);
            return text;
        });
        if (label != "_About Sinjobox...") return "item is " + label;
        // In an open menu Enter chooses the item (the filter leaves pop-ups alone).
        Xdo({"key", "Down"});
        Xdo({"key", "Return"});
        if (!DialogReady("about-box")) return std::string("no About box");
        if (!ReturnLeavesDialogOpen("about-box")) return std::string("Enter closed the About box");
        Xdo({"key", "Escape"});
        if (!EventuallyOnGui([] { return FindWindowNamed("about-box") == nullptr; })) return std::string("Escape left it open");
        return std::string("ok");
    });
    ASSERT_TRUE(WaitFor([&] { return driver.wait_for(0s) == std::future_status::ready; }, 60000));
    EXPECT_EQ(driver.get(), "ok");
    EXPECT_EQ(aboutShown, 1);
    gtk_widget_destroy(window);
}

TEST_F(DesktopDialogsTest, AboutBoxShowsItsTextsAndClosesByOkAndByTheCloseBox) {
    ASSERT_TRUE(SetProgramIcon(WriteIcon()));
    for (const std::string way : {"OK", "close box"}) {
        SCOPED_TRACE(way);
        auto driver = std::async(std::launch::async, [way] {
            if (!DialogReady("about-box")) return DialogView{};
            const DialogView view = OnGui<DialogView>([] { return ViewOf("about-box"); });
            if (way == "OK") {
                ClickOk("about-box");
            } else {
                Xdo({"key", "alt+F4"});  // the window manager's close, as its close box does
            }
            return view;
        });
        const auto started = std::chrono::steady_clock::now();
        ShowAboutBox(nullptr, kAbout);
        const DialogView view = driver.get();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << "closed only by the watchdog";
        EXPECT_TRUE(view.open);
        EXPECT_EQ(view.title, "About Sinjobox");
        EXPECT_EQ(view.labels, (std::vector<std::string>{"Sinjobox", "Version 1.0.0.2", "Nadusoft"}));
        EXPECT_EQ(view.buttons, (std::vector<std::string>{"OK"}));
        EXPECT_EQ(view.iconNames, (std::vector<std::string>{""})) << "the program icon";
        EXPECT_TRUE(view.okHasFocus);
    }
}

}  // namespace
}  // namespace platform
