#include "platform/desktop/GtkPlayerWindow.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/CodePage.h"
#include "platform/MediaPlayer.h"
#include "platform/PlayerWindow.h"
#include "platform/desktop/AudioPluginsDialog.h"
#include "platform/desktop/Desktop.h"

namespace platform::desktop {
namespace {

constexpr int kBarButtonWidth = 40;
constexpr int kBarHeight = 34;     // the row of buttons
constexpr int kSliderHeight = 20;  // the position slider's row, above the buttons

std::string FormatTime(double seconds) {
    if (!(seconds > 0.0)) seconds = 0.0;
    const long total = static_cast<long>(seconds);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

GtkWidget* BarButton(const char* name, const char* icon, const char* tip) {
    GtkWidget* button = gtk_button_new_from_icon_name(icon, GTK_ICON_SIZE_BUTTON);
    gtk_widget_set_name(button, name);
    gtk_widget_set_tooltip_text(button, tip);
    gtk_widget_set_size_request(button, kBarButtonWidth, -1);
    gtk_widget_set_can_focus(button, FALSE);  // keys belong to the window (Escape leaves full screen)
    gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
    return button;
}

void ApplyCss() {
    static bool done = false;
    if (done) return;
    done = true;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
        "#player-picture { background-color: black; }\n"
        "#transport-bar { background-color: rgba(24, 24, 24, 0.92); padding: 0 4px; }\n"
        "#transport-bar, #transport-bar label, #transport-bar button { color: #e8e8e8; }\n",
        -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

class GtkPlayerWindow final : public PlayerWindow {
public:
    explicit GtkPlayerWindow(const PlayerWindowSetup& setup) : m_owner(setup.owner) {
        ApplyCss();
        m_window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
        gtk_widget_set_name(GTK_WIDGET(m_window), kNamePlayerWindow);
        gtk_window_set_role(m_window, kNamePlayerWindow);  // how other programs (and tests) tell it apart
        gtk_window_set_title(m_window, ToUtf8(setup.title).c_str());
        gtk_window_set_default_size(m_window, setup.width > 0 ? setup.width : 640, setup.height > 0 ? setup.height : 480);
        gtk_window_set_keep_above(m_window, FALSE);
        gtk_widget_add_events(GTK_WIDGET(m_window), GDK_POINTER_MOTION_MASK);
        g_signal_connect(m_window, "delete-event", G_CALLBACK(&OnDeleteEvent), this);
        g_signal_connect(m_window, "destroy", G_CALLBACK(&OnDestroy), this);
        g_signal_connect(m_window, "window-state-event", G_CALLBACK(&OnWindowState), this);
        g_signal_connect(m_window, "key-press-event", G_CALLBACK(&OnKeyPress), this);
        g_signal_connect(m_window, "motion-notify-event", G_CALLBACK(&OnMotion), this);

        m_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        m_overlay = gtk_overlay_new();
        m_picture = gtk_event_box_new();
        gtk_widget_set_name(m_picture, "player-picture");
        gtk_widget_set_hexpand(m_picture, TRUE);
        gtk_widget_set_vexpand(m_picture, TRUE);
        gtk_widget_add_events(m_picture, GDK_BUTTON_PRESS_MASK | GDK_POINTER_MOTION_MASK);
        g_signal_connect(m_picture, "button-press-event", G_CALLBACK(&OnPictureButton), this);
        g_signal_connect(m_picture, "size-allocate", G_CALLBACK(&OnPictureSize), this);
        gtk_container_add(GTK_CONTAINER(m_overlay), m_picture);
        gtk_box_pack_start(GTK_BOX(m_box), m_overlay, TRUE, TRUE, 0);
        BuildBar();
        gtk_box_pack_start(GTK_BOX(m_box), m_bar, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(m_window), m_box);
        gtk_widget_show_all(m_box);
        SetNativeWindow(setup.handle, m_window);
    }

    ~GtkPlayerWindow() override {
        StopTimers();
        if (m_window != nullptr) {
            GtkWindow* window = m_window;
            m_window = nullptr;
            g_signal_handlers_disconnect_by_data(window, this);
            gtk_widget_destroy(GTK_WIDGET(window));
        }
        if (m_bar != nullptr) g_object_unref(m_bar);
    }

    void Show(bool show) override {
        if (m_window == nullptr) return;
        if (!show) {
            StopTimers();
            if (m_fullScreen) gtk_window_unfullscreen(m_window);
            gtk_widget_hide(GTK_WIDGET(m_window));
            return;
        }
        // The owner's window may have been made after this one.
        if (GtkWindow* owner = NativeWindowOf(m_owner); owner != nullptr && owner != m_window) {
            gtk_window_set_transient_for(m_window, owner);
            gtk_window_set_destroy_with_parent(m_window, TRUE);
        }
        gtk_window_present(m_window);
        if (m_refreshTimer == 0) m_refreshTimer = g_timeout_add(kBarRefreshMs, &OnRefresh, this);
        Refresh();
    }

    void AttachControl(MediaPlayer* control) override {
        m_control = control;
        Refresh();
    }

    void SetVideoWidget(void* widget) override {
        if (m_video != nullptr) {
            gtk_container_remove(GTK_CONTAINER(m_picture), m_video);
            m_video = nullptr;
        }
        if (widget == nullptr || m_window == nullptr) return;
        m_video = GTK_WIDGET(widget);
        // Clicks and motion over the picture reach the event box under it.
        gtk_widget_set_hexpand(m_video, TRUE);
        gtk_widget_set_vexpand(m_video, TRUE);
        gtk_container_add(GTK_CONTAINER(m_picture), m_video);
        gtk_widget_show(m_video);
    }

    void SetFullScreen(bool fullScreen) override {
        if (m_window == nullptr) return;
        if (fullScreen) {
            gtk_window_fullscreen(m_window);
        } else {
            gtk_window_unfullscreen(m_window);
        }
    }

    bool IsFullScreen() const override { return m_window != nullptr && m_fullScreen; }

private:
    void BuildBar() {
        // Two rows: the position slider across the whole width (so it stays usable in a small window),
        // and the buttons below it.
        m_bar = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        g_object_ref_sink(m_bar);  // moved between the box and the overlay
        gtk_widget_set_name(m_bar, kNameTransportBar);
        gtk_widget_set_valign(m_bar, GTK_ALIGN_END);
        GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
        gtk_widget_set_size_request(buttons, -1, kBarHeight);

        m_playPause = BarButton(kNamePlayPause, "media-playback-start", "Play");
        g_signal_connect(m_playPause, "clicked", G_CALLBACK(&OnPlayPause), this);
        GtkWidget* stop = BarButton(kNameStop, "media-playback-stop", "Stop");
        g_signal_connect(stop, "clicked", G_CALLBACK(&OnStop), this);

        m_position = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0.0, 1.0, 1.0);
        gtk_widget_set_name(m_position, kNamePosition);
        gtk_scale_set_draw_value(GTK_SCALE(m_position), FALSE);
        gtk_widget_set_hexpand(m_position, TRUE);
        gtk_widget_set_can_focus(m_position, FALSE);
        gtk_widget_set_valign(m_position, GTK_ALIGN_CENTER);
        g_signal_connect(m_position, "change-value", G_CALLBACK(&OnSeek), this);
        g_signal_connect(m_position, "button-release-event", G_CALLBACK(&OnSliderReleased), this);

        m_time = gtk_label_new("0:00 / 0:00");
        gtk_widget_set_name(m_time, kNameTime);
        gtk_widget_set_margin_start(m_time, 6);
        gtk_widget_set_margin_end(m_time, 6);

        m_volume = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0.0, 100.0, 1.0);
        gtk_widget_set_name(m_volume, kNameVolume);
        gtk_scale_set_draw_value(GTK_SCALE(m_volume), FALSE);
        gtk_widget_set_size_request(m_volume, 90, -1);
        gtk_widget_set_can_focus(m_volume, FALSE);
        gtk_widget_set_valign(m_volume, GTK_ALIGN_CENTER);
        gtk_widget_set_tooltip_text(m_volume, "Volume");
        g_signal_connect(m_volume, "change-value", G_CALLBACK(&OnVolume), this);
        GtkWidget* speaker = gtk_image_new_from_icon_name("audio-volume-high", GTK_ICON_SIZE_BUTTON);

        m_fullScreenButton = BarButton(kNameFullScreen, "view-fullscreen", "Full screen");
        g_signal_connect(m_fullScreenButton, "clicked", G_CALLBACK(&OnFullScreenButton), this);

        GtkWidget* menuButton = gtk_menu_button_new();
        gtk_widget_set_name(menuButton, kNamePlayerMenu);
        gtk_widget_set_tooltip_text(menuButton, "More");
        gtk_widget_set_size_request(menuButton, kBarButtonWidth, -1);
        gtk_widget_set_can_focus(menuButton, FALSE);
        gtk_button_set_relief(GTK_BUTTON(menuButton), GTK_RELIEF_NONE);
        gtk_button_set_image(GTK_BUTTON(menuButton), gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_BUTTON));
        GtkWidget* menu = gtk_menu_new();
        GtkWidget* plugins = gtk_menu_item_new_with_mnemonic("Audio _plug-ins...");
        g_signal_connect(plugins, "activate", G_CALLBACK(&OnPluginsItem), this);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), plugins);
        gtk_widget_show_all(menu);
        gtk_menu_button_set_popup(GTK_MENU_BUTTON(menuButton), menu);

        gtk_widget_set_size_request(m_position, -1, kSliderHeight);
        gtk_box_pack_start(GTK_BOX(m_bar), m_position, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(buttons), m_playPause, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(buttons), stop, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(buttons), m_time, FALSE, FALSE, 0);
        gtk_box_pack_end(GTK_BOX(buttons), menuButton, FALSE, FALSE, 0);
        gtk_box_pack_end(GTK_BOX(buttons), m_fullScreenButton, FALSE, FALSE, 0);
        gtk_box_pack_end(GTK_BOX(buttons), m_volume, FALSE, FALSE, 0);
        gtk_box_pack_end(GTK_BOX(buttons), speaker, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(m_bar), buttons, FALSE, FALSE, 0);
    }

    // Reads the control's state into the bar.
    void Refresh() {
        if (m_window == nullptr) return;
        // A seek just made shows where it goes, not where the pipeline still reports.
        const double seekedTo = gtk_widget_has_grab(m_position) ? -1.0 : ApplyPendingSeek();
        int32_t state = kPlayStateUndefined;
        double position = 0.0, duration = 0.0;
        int32_t volume = 50;
        if (m_control != nullptr) {
            m_control->GetPlayState(&state);
            if (MediaTransport* transport = m_control->Transport()) transport->GetCurrentPosition(&position);
            if (seekedTo >= 0.0) position = seekedTo;
            if (!MediaSucceeded(m_control->GetDuration(&duration))) duration = 0.0;
            if (MediaSettings* settings = m_control->Settings()) settings->GetVolume(&volume);
        }
        const bool playing = state == kPlayStatePlaying || state == kPlayStateTransitioning;
        gtk_button_set_image(GTK_BUTTON(m_playPause),
                             gtk_image_new_from_icon_name(playing ? "media-playback-pause" : "media-playback-start",
                                                          GTK_ICON_SIZE_BUTTON));
        gtk_widget_set_tooltip_text(m_playPause, playing ? "Pause" : "Play");
        // Until the length is known there is nowhere sensible to seek to.
        gtk_widget_set_sensitive(m_position, duration > 0.0);
        const double upper = duration > 0.0 ? duration : 1.0;
        // While a person holds the slider (the range holds the grab) the knob stays under the pointer and
        // the time shows where it is going; the song's own position would pull it back four times a second.
        // The seek is made when the slider is let go (see OnSeek).
        if (gtk_widget_has_grab(m_position)) {
            position = gtk_range_get_value(GTK_RANGE(m_position));
        } else {
            gtk_range_set_range(GTK_RANGE(m_position), 0.0, upper);
            gtk_range_set_value(GTK_RANGE(m_position), std::min(position, upper));
        }
        if (!gtk_widget_has_grab(m_volume)) gtk_range_set_value(GTK_RANGE(m_volume), volume);
        gtk_label_set_text(GTK_LABEL(m_time), (FormatTime(position) + " / " + FormatTime(duration)).c_str());
    }

    // Seeks to where the slider was put, if anywhere; returns that position, or -1.
    double ApplyPendingSeek() {
        if (m_seekTo < 0.0) return -1.0;
        const double to = m_seekTo;
        m_seekTo = -1.0;
        if (m_control == nullptr || m_control->Transport() == nullptr) return -1.0;
        m_control->Transport()->SetCurrentPosition(to);
        return to;
    }

    void StopTimers() {
        if (m_seekIdle != 0) g_source_remove(m_seekIdle);
        m_seekIdle = 0;
        if (m_refreshTimer != 0) g_source_remove(m_refreshTimer);
        m_refreshTimer = 0;
        if (m_hideTimer != 0) g_source_remove(m_hideTimer);
        m_hideTimer = 0;
    }

    // In full screen the bar floats over the bottom of the picture; otherwise it sits below it, so it
    // never covers the lyrics at the bottom of a karaoke picture.
    void PlaceBar(bool overPicture) {
        GtkWidget* parent = gtk_widget_get_parent(m_bar);
        GtkWidget* wanted = overPicture ? m_overlay : m_box;
        if (parent == wanted) return;
        if (parent != nullptr) gtk_container_remove(GTK_CONTAINER(parent), m_bar);
        if (overPicture) {
            gtk_overlay_add_overlay(GTK_OVERLAY(m_overlay), m_bar);
        } else {
            gtk_box_pack_start(GTK_BOX(m_box), m_bar, FALSE, FALSE, 0);
        }
        gtk_widget_show(m_bar);
    }

    void PointerMoved() {
        if (!m_fullScreen) return;
        gtk_widget_show(m_bar);
        if (m_hideTimer != 0) g_source_remove(m_hideTimer);
        m_hideTimer = g_timeout_add(kBarHideMs, &OnHideBar, this);
    }

    void ToggleFullScreen() { SetFullScreen(!m_fullScreen); }

    void OnFullScreenChanged(bool fullScreen) {
        m_fullScreen = fullScreen;
        gtk_button_set_image(GTK_BUTTON(m_fullScreenButton),
                             gtk_image_new_from_icon_name(fullScreen ? "view-restore" : "view-fullscreen",
                                                          GTK_ICON_SIZE_BUTTON));
        gtk_widget_set_tooltip_text(m_fullScreenButton, fullScreen ? "Leave full screen" : "Full screen");
        PlaceBar(fullScreen);
        if (fullScreen) {
            PointerMoved();  // shown now, hidden after a while without motion
        } else {
            if (m_hideTimer != 0) g_source_remove(m_hideTimer);
            m_hideTimer = 0;
            gtk_widget_show(m_bar);
        }
    }

    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        // The owner decides what closing means (the player pauses and hides the window).
        SendMessage(me->Handle(), WM_CLOSE, 0, 0);
        return TRUE;
    }

    static void OnDestroy(GtkWidget*, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        me->StopTimers();
        me->m_window = nullptr;  // destroyed with its owner's window
        me->m_video = nullptr;
    }

    static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self) {
        if ((event->changed_mask & GDK_WINDOW_STATE_FULLSCREEN) != 0) {
            static_cast<GtkPlayerWindow*>(self)->OnFullScreenChanged(
                (event->new_window_state & GDK_WINDOW_STATE_FULLSCREEN) != 0);
        }
        return FALSE;
    }

    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        if (event->keyval == GDK_KEY_Escape && me->m_fullScreen) {
            me->SetFullScreen(false);
            return TRUE;
        }
        return FALSE;
    }

    static gboolean OnMotion(GtkWidget*, GdkEventMotion*, gpointer self) {
        static_cast<GtkPlayerWindow*>(self)->PointerMoved();
        return FALSE;
    }

    static gboolean OnPictureButton(GtkWidget*, GdkEventButton* event, gpointer self) {
        if (event->type == GDK_2BUTTON_PRESS && event->button == 1) {
            static_cast<GtkPlayerWindow*>(self)->ToggleFullScreen();
            return TRUE;
        }
        return FALSE;
    }

    static void OnPictureSize(GtkWidget*, GdkRectangle* box, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        if (box->width == me->m_lastWidth && box->height == me->m_lastHeight) return;
        me->m_lastWidth = box->width;
        me->m_lastHeight = box->height;
        const LPARAM size = static_cast<LPARAM>((box->width & 0xFFFF) | ((box->height & 0xFFFF) << 16));
        PostMessage(me->Handle(), WM_SIZE, 0, size);
    }

    static gboolean OnRefresh(gpointer self) {
        static_cast<GtkPlayerWindow*>(self)->Refresh();
        return G_SOURCE_CONTINUE;
    }

    static gboolean OnHideBar(gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        me->m_hideTimer = 0;
        if (me->m_fullScreen) gtk_widget_hide(me->m_bar);
        return G_SOURCE_REMOVE;
    }

    static void OnPlayPause(GtkButton*, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        if (me->m_control == nullptr || me->m_control->Transport() == nullptr) return;
        int32_t state = kPlayStateUndefined;
        me->m_control->GetPlayState(&state);
        if (state == kPlayStatePlaying || state == kPlayStateTransitioning) {
            me->m_control->Transport()->Pause();
        } else {
            me->m_control->Transport()->Play();
        }
        me->Refresh();
    }

    static void OnStop(GtkButton*, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        if (me->m_control != nullptr && me->m_control->Transport() != nullptr) me->m_control->Transport()->Stop();
        me->Refresh();
    }

    // A click or a drag with the mouse seeks once, where the slider is let go: a seek per motion event
    // would flush the pipeline dozens of times a second and stutter the sound. Keys and the wheel (no
    // grab) seek at once.
    static gboolean OnSeek(GtkRange* range, GtkScrollType, gdouble value, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        me->m_seekTo = std::max(value, 0.0);
        if (!gtk_widget_has_grab(GTK_WIDGET(range))) me->Refresh();
        return FALSE;  // the slider moves to where it was put
    }

    // Runs before the range lets go of its grab; the seek follows once it has.
    static gboolean OnSliderReleased(GtkWidget*, GdkEventButton*, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        if (me->m_seekIdle == 0) me->m_seekIdle = g_idle_add(&OnSeekIdle, me);
        return FALSE;
    }

    static gboolean OnSeekIdle(gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        me->m_seekIdle = 0;
        me->Refresh();  // applies the seek once the grab is gone
        return G_SOURCE_REMOVE;
    }

    static gboolean OnVolume(GtkRange*, GtkScrollType, gdouble value, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        if (me->m_control != nullptr && me->m_control->Settings() != nullptr) {
            me->m_control->Settings()->SetVolume(static_cast<int32_t>(std::lround(std::clamp(value, 0.0, 100.0))));
        }
        return FALSE;
    }

    static void OnFullScreenButton(GtkButton*, gpointer self) { static_cast<GtkPlayerWindow*>(self)->ToggleFullScreen(); }

    static void OnPluginsItem(GtkMenuItem*, gpointer self) {
        auto* me = static_cast<GtkPlayerWindow*>(self);
        if (me->m_window != nullptr) ShowAudioPluginsDialog(me->m_window);
    }

    // Constant after construction.
    const HWND m_owner;

    // GUI thread only.
    GtkWindow* m_window = nullptr;  // owned; null once destroyed (with the owner's window)
    GtkWidget* m_box = nullptr;
    GtkWidget* m_overlay = nullptr;
    GtkWidget* m_picture = nullptr;  // black event box holding the video widget
    GtkWidget* m_video = nullptr;    // the control's video widget, or null
    GtkWidget* m_bar = nullptr;      // one reference of ours: it moves between m_box and m_overlay
    GtkWidget* m_playPause = nullptr;
    GtkWidget* m_position = nullptr;
    GtkWidget* m_time = nullptr;
    GtkWidget* m_volume = nullptr;
    GtkWidget* m_fullScreenButton = nullptr;
    MediaPlayer* m_control = nullptr;  // not owned; detaches itself before it goes
    bool m_fullScreen = false;         // as the window manager reports it
    guint m_refreshTimer = 0;
    guint m_hideTimer = 0;
    guint m_seekIdle = 0;              // the seek after the slider was let go
    double m_seekTo = -1.0;            // where the slider was put while held; negative: nowhere
    int m_lastWidth = -1;
    int m_lastHeight = -1;
};

std::unique_ptr<PlayerWindow> MakeGtkPlayerWindow(const PlayerWindowSetup& setup) {
    if (!DesktopRunning()) return nullptr;
    return std::make_unique<GtkPlayerWindow>(setup);
}

}  // namespace

void RegisterGtkPlayerWindow() { RegisterPlayerWindowFactory(&MakeGtkPlayerWindow); }

}  // namespace platform::desktop
