#include "platform/media/GstMediaPlayer.h"

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/PlayerWindow.h"
#include "platform/Tick.h"
#include "platform/media/DmoChainFilter.h"
#include "platform/ThreadAnnotations.h"

namespace platform::media {

namespace {

constexpr uintptr_t kFailTimerId = 1;
constexpr uintptr_t kOpenTimerId = 2;

// The plug-in step of the audio path: the chain works on 16-bit interleaved samples; the converters
// after it give the sink what it prefers. It runs inside the audio sink bin, right before the device,
// and not as playbin's audio filter: playbin keeps about a second of sound queued after its filter,
// so a channel change made there would be heard a second late.
constexpr const char* kDspStep =
    "audioconvert ! audio/x-raw,format=S16LE,layout=interleaved ! sinjodmochain ! audioconvert ! audioresample";

bool InitGstreamer() {
    static const bool ok = [] {
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            std::fprintf(stderr, "Sinjo: GStreamer could not be started: %s\n",
                         error != nullptr ? error->message : "unknown error");
            g_clear_error(&error);
            return false;
        }
        if (!RegisterDmoChainElement()) {
            std::fprintf(stderr, "Sinjo: the DSP plug-in element could not be registered with GStreamer\n");
            return false;
        }
        GstElementFactory* playbin = gst_element_factory_find("playbin");
        if (playbin == nullptr) {
            std::fprintf(stderr, "Sinjo: GStreamer has no playbin (package gstreamer1.0-plugins-base)\n");
            return false;
        }
        gst_object_unref(playbin);
        return true;
    }();
    return ok;
}

// One line on standard error per distinct text for the life of the process.
void WarnOnce(const std::string& line) {
    struct Said {
        Mutex mutex;
        std::set<std::string> lines GUARDED_BY(mutex);
    };
    static Said* said = new Said;  // never destroyed: streaming threads may warn late
    {
        MutexLock lock(said->mutex);
        if (!said->lines.insert(line).second) {
            return;
        }
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

// A sink made from the description in `variable`, or null when it is unset or does not parse.
GstElement* SinkFromEnvironment(const char* variable) {
    const char* description = std::getenv(variable);
    if (description == nullptr || *description == '\0') {
        return nullptr;
    }
    GError* error = nullptr;
    GstElement* sink = gst_parse_bin_from_description(description, TRUE, &error);
    if (sink == nullptr || error != nullptr) {
        WarnOnce(std::string("Sinjo: ") + variable + "=\"" + description + "\" is not a usable sink (" +
                 (error != nullptr ? error->message : "unknown error") + "); using the default sink");
        g_clear_error(&error);
        if (sink != nullptr) {
            gst_object_unref(sink);
        }
        return nullptr;
    }
    return sink;
}

GstElement* MakeDeviceSink() {
    if (GstElement* sink = SinkFromEnvironment("SINJO_AUDIO_SINK")) {
        return sink;
    }
    return gst_element_factory_make("autoaudiosink", nullptr);
}

// The audio sink handed to playbin: the plug-in step followed by the device (or replacement) sink.
// When the step cannot be made, the device sink alone, with one line saying the plug-ins are unused.
GstElement* MakeAudioSink() {
    GstElement* device = MakeDeviceSink();
    if (device == nullptr) {
        return nullptr;
    }
    GError* error = nullptr;
    GstElement* step = gst_parse_bin_from_description(kDspStep, TRUE, &error);
    if (step == nullptr || error != nullptr) {
        WarnOnce(std::string("Sinjo: the DSP plug-in step could not be made (") +
                 (error != nullptr ? error->message : "unknown error") + "); DSP plug-ins are not used");
        g_clear_error(&error);
        if (step != nullptr) {
            gst_object_unref(step);
        }
        return device;
    }
    GstElement* bin = gst_bin_new("sinjo-audio-sink");
    gst_bin_add_many(GST_BIN(bin), step, device, nullptr);
    if (!gst_element_link(step, device)) {
        WarnOnce("Sinjo: the audio sink does not take PCM audio; DSP plug-ins are not used");
        gst_object_unref(bin);
        return MakeDeviceSink();
    }
    GstPad* pad = gst_element_get_static_pad(step, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    return bin;
}

// A sink that shows nothing but keeps the picture in time with the sound, as a screen would.
GstElement* MakeTimedFakeVideoSink() {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink != nullptr) {
        g_object_set(sink, "sync", TRUE, nullptr);
    }
    return sink;
}

// The URI for a path text; empty when none can be made.
std::string UriFor(std::wstring_view url) {
    const std::string native = NativePath(url);
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(native.c_str(), &error);
    g_clear_error(&error);
    if (uri == nullptr) {
        return std::string();
    }
    std::string result(uri);
    g_free(uri);
    return result;
}

std::string ErrorText(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    g_free(debug);
    return text;
}

}  // namespace

// What the bus's sync handler needs; owned by the bus (freed when the handler is replaced).
struct GstMediaPlayer::BusContext {
    std::weak_ptr<int> alive;
    GstMediaPlayer* player;
    uint64_t generation;
    GstElement* pipeline;  // compared only, never dereferenced here
    // Set (release) once the fields above are written, before the bus gets the context; read (acquire)
    // first by every call of Handle. The bus's own lock already orders the two, but the sanitizer build
    // cannot see inside GStreamer, so the hand-over is stated in our code.
    std::atomic<bool> published{false};

    // Streaming threads: hands the messages the control cares about to the GUI thread and drops
    // them from the bus (nobody pops the bus).
    static GstBusSyncReply Handle(GstBus* /*bus*/, GstMessage* message, gpointer data) {
        const BusContext* context = static_cast<BusContext*>(data);
        if (!context->published.load(std::memory_order_acquire)) return GST_BUS_DROP;
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
        case GST_MESSAGE_ERROR:
        case GST_MESSAGE_ASYNC_DONE:
            break;
        case GST_MESSAGE_STATE_CHANGED:
            if (GST_MESSAGE_SRC(message) != GST_OBJECT_CAST(context->pipeline)) {
                return GST_BUS_DROP;
            }
            break;
        default:
            return GST_BUS_DROP;
        }
        std::shared_ptr<GstMessage> held(gst_message_ref(message), [](GstMessage* m) { gst_message_unref(m); });
        std::weak_ptr<int> alive = context->alive;
        GstMediaPlayer* player = context->player;
        const uint64_t generation = context->generation;
        RunOnGuiThread([alive, player, generation, held] {
            if (alive.lock() && player->m_generation == generation && player->m_pipeline != nullptr) {
                player->OnBusMessage(held.get());
            }
        });
        return GST_BUS_DROP;
    }
    static void Free(gpointer data) { delete static_cast<BusContext*>(data); }
};

std::unique_ptr<MediaPlayer> GstMediaPlayer::Create() {
    if (!InitGstreamer()) {
        return nullptr;
    }
    return std::unique_ptr<MediaPlayer>(new GstMediaPlayer());
}

GstMediaPlayer::GstMediaPlayer()
    : m_transport(std::make_unique<TransportFacet>(this)),
      m_settings(std::make_unique<SettingsFacet>(this)),
      m_alive(std::make_shared<int>(0)) {
    if (IsGuiThread()) {
        m_timerWindow = CreateWindowHandle([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
            if (message == WM_TIMER) {
                OnTimer(wParam);
            }
            return 0;
        });
    }
}

GstMediaPlayer::~GstMediaPlayer() {
    m_handler = nullptr;
    if (PlayerWindow* window = PlayerWindowOf(m_window)) {
        window->AttachControl(nullptr);
    }
    m_alive.reset();
    DestroyPipeline();
    if (m_timerWindow != nullptr) {
        DestroyWindow(m_timerWindow);
    }
}

MediaTransport* GstMediaPlayer::Transport() { return m_transport.get(); }
MediaSettings* GstMediaPlayer::Settings() { return m_settings.get(); }

bool GstMediaPlayer::BuildPipeline(const std::string& uri) {
    DestroyPipeline();
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    if (playbin == nullptr) {
        return false;
    }
    g_object_set(playbin, "uri", uri.c_str(), "volume", m_volume / 100.0, nullptr);
    if (GstElement* audio = MakeAudioSink()) {
        g_object_set(playbin, "audio-sink", audio, nullptr);
    }
    if (GstElement* video = MakeVideoSink()) {
        m_videoSink = GST_ELEMENT(gst_object_ref(video));
        g_object_set(playbin, "video-sink", video, nullptr);
    }
    m_pipeline = GST_ELEMENT(gst_object_ref_sink(playbin));
    InstallBusHandler();
    return true;
}

void GstMediaPlayer::InstallBusHandler() {
    ++m_generation;
    GstBus* bus = gst_element_get_bus(m_pipeline);
    // A sync handler cannot be replaced, only cleared and set again; clearing frees the old context.
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    auto* context = new BusContext{m_alive, this, m_generation, m_pipeline};
    context->published.store(true, std::memory_order_release);
    gst_bus_set_sync_handler(bus, &BusContext::Handle, context, &BusContext::Free);
    gst_object_unref(bus);
}

void GstMediaPlayer::DestroyPipeline() {
    ++m_generation;
    GstElement* pipeline = m_pipeline;
    m_pipeline = nullptr;
    if (pipeline == nullptr) {
        return;
    }
    // Synchronous: the streaming threads have stopped when this returns, so the sync handler is
    // not running while it is removed.
    gst_element_set_state(pipeline, GST_STATE_NULL);
    if (m_videoSink != nullptr) {
        // The widget of a gtksink must not outlive its element in the window (it hands pointer
        // events to it): the window lets it go with the pipeline.
        if (PlayerWindow* window = PlayerWindowOf(m_window)) {
            window->SetVideoWidget(nullptr);
        }
        gst_object_unref(m_videoSink);
        m_videoSink = nullptr;
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
}

bool GstMediaPlayer::StartPipeline() {
    m_wantPlaying = true;
    m_opened = false;
    m_putTick = GetTickCount();
    ArmTimer(kOpenTimerId, kOpenTimeoutMs);
    return gst_element_set_state(m_pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

MediaStatus GstMediaPlayer::PutUrl(std::wstring_view url) {
    DisarmTimer(kFailTimerId);
    DisarmTimer(kOpenTimerId);
    m_failurePending = false;
    DestroyPipeline();
    m_url.assign(url);
    m_uri.clear();
    m_putTick = GetTickCount();
    m_pendingSeek = -1.0;
    m_fullScreen = false;
    m_videoOff = false;
    m_wantPlaying = true;
    m_opened = false;

    if (m_url.empty()) {
        SetState(kPlayStateTransitioning);
        ItemFailed("no file given");
        return kMediaOk;
    }
    if (!CanOpenForRead(m_url)) {
        SetState(kPlayStateTransitioning);
        ItemFailed("the file cannot be opened");
        return kMediaOk;
    }
    m_uri = UriFor(m_url);
    if (m_uri.empty() || !BuildPipeline(m_uri)) {
        m_uri.clear();
        SetState(kPlayStateTransitioning);
        ItemFailed("no pipeline could be made for it");
        return kMediaOk;
    }
    SetState(kPlayStateTransitioning);
    if (m_pipeline != nullptr && !StartPipeline()) {
        ItemFailed("the pipeline refused to start");
    }
    return kMediaOk;
}

MediaStatus GstMediaPlayer::GetPlayState(int32_t* state) {
    if (state == nullptr) {
        return kMediaFail;
    }
    *state = m_state;
    return kMediaOk;
}

MediaStatus GstMediaPlayer::GetFullScreen(bool* fullScreen) {
    if (fullScreen == nullptr) {
        return kMediaFail;
    }
    const PlayerWindow* window = PlayerWindowOf(m_window);
    *fullScreen = window != nullptr ? window->IsFullScreen() : m_fullScreen;
    return kMediaOk;
}

MediaStatus GstMediaPlayer::GetDuration(double* seconds) {
    if (seconds == nullptr) {
        return kMediaFail;
    }
    *seconds = 0.0;
    gint64 duration = 0;
    if (m_pipeline == nullptr || !m_opened || !gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &duration) ||
        duration <= 0) {
        return kMediaFail;
    }
    *seconds = static_cast<double>(duration) / GST_SECOND;
    return kMediaOk;
}

void GstMediaPlayer::AttachToWindow(HWND window) {
    if (PlayerWindow* old = PlayerWindowOf(m_window)) {
        old->AttachControl(nullptr);
    }
    m_window = window;
    if (PlayerWindow* host = PlayerWindowOf(m_window)) {
        host->AttachControl(this);
    }
}

GstElement* GstMediaPlayer::MakeVideoSink() {
    if (GstElement* sink = SinkFromEnvironment("SINJO_VIDEO_SINK")) {
        return sink;
    }
    if (IsHeadless() || m_videoOff) {
        return MakeTimedFakeVideoSink();
    }
    if (PlayerWindow* window = PlayerWindowOf(m_window)) {
        // The picture goes inside the player window: gtksink draws into a widget the window shows.
        if (GstElement* sink = gst_element_factory_make("gtksink", nullptr)) {
            gpointer widget = nullptr;
            g_object_get(sink, "widget", &widget, nullptr);
            if (widget != nullptr) {
                window->SetVideoWidget(widget);
                g_object_unref(widget);
                return sink;
            }
            gst_object_unref(sink);
        }
        WarnOnce("Sinjo: GStreamer's gtksink is missing (package gstreamer1.0-gtk3); the picture opens in a window of its own");
    }
    return gst_element_factory_make("autovideosink", nullptr);
}

bool GstMediaPlayer::FromVideoSink(GstMessage* message) const {
    if (m_videoSink == nullptr || GST_MESSAGE_SRC(message) == nullptr) {
        return false;
    }
    GstObject* source = GST_MESSAGE_SRC(message);
    return source == GST_OBJECT_CAST(m_videoSink) || gst_object_has_as_ancestor(source, GST_OBJECT_CAST(m_videoSink));
}

void GstMediaPlayer::VideoOutputFailed(const std::string& why) {
    WarnOnce("Sinjo: the picture cannot be shown (" + why + "); the song goes on without it");
    if (m_uri.empty()) {
        return;
    }
    double position = 0.0;
    gint64 at = 0;
    if (m_opened && gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &at) && at > 0) {
        position = static_cast<double>(at) / GST_SECOND;
    }
    const bool wantPlaying = m_wantPlaying;
    m_videoOff = true;
    if (!BuildPipeline(m_uri)) {
        ItemFailed("no pipeline could be made for it");
        return;
    }
    m_opened = false;
    m_pendingSeek = position > 0.0 ? position : -1.0;
    m_wantPlaying = wantPlaying;
    if (gst_element_set_state(m_pipeline, wantPlaying ? GST_STATE_PLAYING : GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        ItemFailed("the pipeline refused to start");
    }
}

MediaStatus GstMediaPlayer::PutFullScreen(bool fullScreen) {
    if (fullScreen && m_state != kPlayStatePlaying) {
        return kMediaUnexpected;
    }
    m_fullScreen = fullScreen;
    if (PlayerWindow* window = PlayerWindowOf(m_window)) {
        window->SetFullScreen(fullScreen);
        return kMediaOk;
    }
    ApplyFullScreen();
    return kMediaOk;
}

void GstMediaPlayer::ApplyFullScreen() {
    // Headless there is nothing to show; with a display, a video sink that can go full screen by
    // itself (one with a "fullscreen" switch) is told to.
    if (m_pipeline == nullptr || IsHeadless()) {
        return;
    }
    GstElement* sink = nullptr;
    g_object_get(m_pipeline, "video-sink", &sink, nullptr);
    if (sink == nullptr) {
        return;
    }
    auto apply = [this](GstElement* element) {
        GParamSpec* property = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "fullscreen");
        if (property != nullptr && property->value_type == G_TYPE_BOOLEAN && (property->flags & G_PARAM_WRITABLE) != 0) {
            g_object_set(element, "fullscreen", m_fullScreen ? TRUE : FALSE, nullptr);
        }
    };
    apply(sink);
    if (GST_IS_BIN(sink)) {
        GstIterator* it = gst_bin_iterate_recurse(GST_BIN(sink));
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            apply(GST_ELEMENT(g_value_get_object(&item)));
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
    }
    gst_object_unref(sink);
}

void GstMediaPlayer::OnBusMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        EndItem();
        break;
    case GST_MESSAGE_ERROR:
        if (FromVideoSink(message)) {
            VideoOutputFailed(ErrorText(message));
        } else {
            ItemFailed(ErrorText(message));
        }
        break;
    case GST_MESSAGE_ASYNC_DONE:
        ApplyPendingSeek();
        break;
    case GST_MESSAGE_STATE_CHANGED: {
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        if (newState == GST_STATE_PAUSED || newState == GST_STATE_PLAYING) {
            if (!m_opened) {
                m_opened = true;
                DisarmTimer(kOpenTimerId);
            }
            ApplyPendingSeek();
        }
        if (newState == GST_STATE_PLAYING && m_wantPlaying && m_state != kPlayStatePlaying) {
            SetState(kPlayStatePlaying);
        }
        break;
    }
    default:
        break;
    }
}

void GstMediaPlayer::ApplyPendingSeek() {
    if (m_pendingSeek < 0.0 || m_pipeline == nullptr || !m_opened) {
        return;
    }
    const double seconds = m_pendingSeek;
    if (gst_element_seek_simple(m_pipeline, GST_FORMAT_TIME,
                                static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                static_cast<gint64>(seconds * GST_SECOND))) {
        m_pendingSeek = -1.0;
    }
}

void GstMediaPlayer::ItemFailed(const std::string& why) {
    WarnOnce("Sinjo: cannot play \"" + (m_url.empty() ? std::string() : NativePath(m_url)) + "\": " + why);
    // The item is not tried again: Play on it does nothing, so a later play command cannot make a
    // bad file report "stopped" a second time and skip the song after it.
    m_uri.clear();
    DestroyPipeline();
    DisarmTimer(kOpenTimerId);
    m_opened = false;
    m_failurePending = true;
    // Report the end a little later, never from inside the call that started the item, and never
    // so fast that a queue of bad files keeps the GUI thread busy.
    const uint32_t elapsed = GetTickCount() - m_putTick;
    const uint32_t wait = elapsed >= kFailedItemDelayMs ? 1 : kFailedItemDelayMs - elapsed;
    if (m_timerWindow != nullptr) {
        ArmTimer(kFailTimerId, wait);
        return;
    }
    std::weak_ptr<int> alive = m_alive;
    const uint64_t generation = m_generation;
    RunOnGuiThread([this, alive, generation] {
        if (alive.lock() && m_generation == generation && m_failurePending) {
            EndItem();
        }
    });
}

void GstMediaPlayer::EndItem() {
    DisarmTimer(kFailTimerId);
    DisarmTimer(kOpenTimerId);
    m_failurePending = false;
    if (m_pipeline != nullptr) {
        // Kept (at NULL) so that Play starts the item again; messages still queued from before are
        // stale once the generation moves on.
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        InstallBusHandler();
    }
    m_opened = false;
    m_wantPlaying = false;
    m_pendingSeek = -1.0;
    m_fullScreen = false;
    SetState(kPlayStateStopped);
}

void GstMediaPlayer::SetState(int32_t state) {
    m_state = state;
    PlayStateHandler handler = m_handler;  // the handler may replace itself
    if (handler) {
        handler(state);
    }
}

void GstMediaPlayer::ArmTimer(uintptr_t id, uint32_t ms) {
    if (m_timerWindow != nullptr) {
        SetTimer(m_timerWindow, id, std::max<uint32_t>(ms, 1));
    }
}

void GstMediaPlayer::DisarmTimer(uintptr_t id) {
    if (m_timerWindow != nullptr) {
        KillTimer(m_timerWindow, id);
    }
}

void GstMediaPlayer::OnTimer(uintptr_t id) {
    DisarmTimer(id);  // window timers repeat; ours fire once
    if (id == kFailTimerId) {
        if (m_failurePending) {
            EndItem();
        }
    } else if (id == kOpenTimerId) {
        if (m_pipeline != nullptr && !m_opened && !m_failurePending) {
            ItemFailed("it did not start within " + std::to_string(kOpenTimeoutMs / 1000) + " s");
        }
    }
}

MediaStatus GstMediaPlayer::DoPlay() {
    if (m_uri.empty() || m_failurePending) {
        return kMediaOk;  // nothing playable
    }
    switch (m_state) {
    case kPlayStatePaused:
        m_wantPlaying = true;
        if (m_pipeline != nullptr && gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            ItemFailed("the pipeline refused to play");
            return kMediaOk;
        }
        // Until the item has opened, "playing" is reported when the pipeline gets there.
        SetState(m_opened ? kPlayStatePlaying : kPlayStateTransitioning);
        return kMediaOk;
    case kPlayStateStopped:
        // After the end or a stop: the same item again from the start.
        if (m_pipeline == nullptr && !BuildPipeline(m_uri)) {
            SetState(kPlayStateTransitioning);
            ItemFailed("no pipeline could be made for it");
            return kMediaOk;
        }
        SetState(kPlayStateTransitioning);
        if (m_pipeline != nullptr && !StartPipeline()) {
            ItemFailed("the pipeline refused to start");
        }
        return kMediaOk;
    default:
        return kMediaOk;  // already playing or opening
    }
}

MediaStatus GstMediaPlayer::DoPause() {
    if (m_pipeline == nullptr || (m_state != kPlayStatePlaying && m_state != kPlayStateTransitioning)) {
        return kMediaOk;
    }
    m_wantPlaying = false;
    if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        ItemFailed("the pipeline refused to pause");
        return kMediaOk;
    }
    SetState(kPlayStatePaused);
    return kMediaOk;
}

MediaStatus GstMediaPlayer::DoStop() {
    if (m_state != kPlayStatePlaying && m_state != kPlayStatePaused && m_state != kPlayStateTransitioning) {
        return kMediaOk;
    }
    EndItem();
    return kMediaOk;
}

MediaStatus GstMediaPlayer::DoGetPosition(double* seconds) {
    if (seconds == nullptr) {
        return kMediaFail;
    }
    *seconds = 0.0;
    if (m_pipeline == nullptr || (m_state != kPlayStatePlaying && m_state != kPlayStatePaused)) {
        return kMediaOk;
    }
    if (m_pendingSeek >= 0.0) {
        *seconds = m_pendingSeek;
        return kMediaOk;
    }
    gint64 position = 0;
    if (gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &position) && position > 0) {
        *seconds = static_cast<double>(position) / GST_SECOND;
    }
    return kMediaOk;
}

MediaStatus GstMediaPlayer::DoSetPosition(double seconds) {
    if (m_pipeline == nullptr || (m_state != kPlayStatePlaying && m_state != kPlayStatePaused &&
                                  m_state != kPlayStateTransitioning)) {
        return kMediaOk;
    }
    if (!(seconds > 0.0)) {  // negative or NaN
        seconds = 0.0;
    }
    gint64 duration = 0;
    if (gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &duration) && duration > 0 &&
        seconds * GST_SECOND >= static_cast<double>(duration)) {
        EndItem();  // at or past the end: the item is over, as at its natural end
        return kMediaOk;
    }
    // A position the pipeline cannot take yet (still opening) is applied once it can.
    m_pendingSeek = std::min(seconds, 1e9);
    ApplyPendingSeek();
    return kMediaOk;
}

MediaStatus GstMediaPlayer::DoGetVolume(int32_t* volume) {
    if (volume == nullptr) {
        return kMediaFail;
    }
    *volume = m_volume;
    return kMediaOk;
}

MediaStatus GstMediaPlayer::DoSetVolume(int32_t volume) {
    m_volume = std::clamp<int32_t>(volume, 0, 100);
    if (m_pipeline != nullptr) {
        g_object_set(m_pipeline, "volume", m_volume / 100.0, nullptr);
    }
    return kMediaOk;
}

// The back end is known as "gstreamer" as soon as this object file is part of the program.
static MediaBackendRegistrar g_gstreamerBackend("gstreamer", [] { return GstMediaPlayer::Create(); });

extern "C" void SinjoGstreamerBackendAnchor() {}

}  // namespace platform::media
