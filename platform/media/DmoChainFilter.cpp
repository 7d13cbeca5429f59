#include "platform/media/DmoChainFilter.h"

#include <gst/audio/audio.h>
#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/media/DmoChain.h"
#include "platform/ThreadAnnotations.h"

namespace platform::media {

namespace {

// Everything C++ that the element keeps; created in instance_init, deleted in finalize.
struct FilterState {
    // Guards every field below: the streaming thread processes, other threads read the names and
    // stop the element.
    Mutex mutex;
    DmoChain chain GUARDED_BY(mutex);
    int rate GUARDED_BY(mutex) = 0;
    int blockAlign GUARDED_BY(mutex) = 0;
};

struct SinjoDmoChain {
    GstBaseTransform parent;
    // Set once by instance_init on the thread that makes the element; read by the streaming thread. The
    // element reaches that thread through GStreamer's own locking, which is enough, but the sanitizer
    // build cannot see inside GStreamer: the release store and acquire loads say the same in our code.
    std::atomic<FilterState*> state;
};

struct SinjoDmoChainClass {
    GstBaseTransformClass parent_class;
};

enum { PROP_0, PROP_ACTIVE_PLUGINS };

#define SINJO_AUDIO_CAPS "audio/x-raw, format=(string)S16LE, layout=(string)interleaved, " \
                         "rate=(int)[1, MAX], channels=(int)[1, MAX]"

GstStaticPadTemplate g_sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(SINJO_AUDIO_CAPS));
GstStaticPadTemplate g_srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(SINJO_AUDIO_CAPS));

GstBaseTransformClass* g_parentClass = nullptr;

FilterState* StateOf(gpointer object) {
    return reinterpret_cast<SinjoDmoChain*>(object)->state.load(std::memory_order_acquire);
}

// Speaker bits for more than two channels, from GStreamer's channel positions.
uint64_t ChannelMask(const GstAudioInfo& info) {
    if (GST_AUDIO_INFO_CHANNELS(&info) <= 2 || GST_AUDIO_INFO_IS_UNPOSITIONED(&info)) {
        return 0;
    }
    guint64 mask = 0;
    if (!gst_audio_channel_positions_to_mask(info.position, GST_AUDIO_INFO_CHANNELS(&info), FALSE, &mask)) {
        return 0;
    }
    // GStreamer's first nine positions line up with the platform's speaker bits.
    static const GstAudioChannelPosition kOrder[] = {
        GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT,   GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT,
        GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER, GST_AUDIO_CHANNEL_POSITION_LFE1,
        GST_AUDIO_CHANNEL_POSITION_REAR_LEFT,    GST_AUDIO_CHANNEL_POSITION_REAR_RIGHT,
        GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER, GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
        GST_AUDIO_CHANNEL_POSITION_REAR_CENTER,  GST_AUDIO_CHANNEL_POSITION_SIDE_LEFT,
        GST_AUDIO_CHANNEL_POSITION_SIDE_RIGHT,
    };
    uint64_t speakers = 0;
    for (size_t bit = 0; bit < sizeof kOrder / sizeof kOrder[0]; ++bit) {
        if (mask & (G_GUINT64_CONSTANT(1) << kOrder[bit])) {
            speakers |= uint64_t{1} << bit;
        }
    }
    return speakers;
}

gboolean SetCaps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* /*outcaps*/) {
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, incaps)) {
        return FALSE;
    }
    FilterState* state = StateOf(trans);
    MutexLock lock(state->mutex);
    if (!state->chain.IsLoaded()) {
        state->chain.Load();
    }
    PcmFormat format;
    format.channels = GST_AUDIO_INFO_CHANNELS(&info);
    format.rate = GST_AUDIO_INFO_RATE(&info);
    format.channelMask = ChannelMask(info);
    state->chain.SetFormat(format);
    state->rate = format.rate;
    state->blockAlign = format.BlockAlign();
    return TRUE;
}

// Wraps bytes made by the chain into a buffer carrying the input's time stamp; its duration follows
// from its own length, which a plug-in may have changed.
GstBuffer* MakeOutput(const std::vector<uint8_t>& bytes, GstBuffer* like, int rate, int blockAlign) {
    GstBuffer* out = gst_buffer_new_allocate(nullptr, bytes.size(), nullptr);
    if (out == nullptr) {
        return nullptr;
    }
    gst_buffer_fill(out, 0, bytes.data(), bytes.size());
    if (like != nullptr) {
        gst_buffer_copy_into(out, like, static_cast<GstBufferCopyFlags>(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS),
                             0, static_cast<gsize>(-1));
    }
    if (rate > 0 && blockAlign > 0) {
        GST_BUFFER_DURATION(out) = gst_util_uint64_scale(bytes.size() / static_cast<size_t>(blockAlign), GST_SECOND,
                                                         static_cast<guint64>(rate));
    }
    GST_BUFFER_OFFSET(out) = GST_BUFFER_OFFSET_NONE;
    GST_BUFFER_OFFSET_END(out) = GST_BUFFER_OFFSET_NONE;
    return out;
}

GstFlowReturn GenerateOutput(GstBaseTransform* trans, GstBuffer** outbuf) {
    *outbuf = nullptr;
    GstBuffer* in = trans->queued_buf;
    trans->queued_buf = nullptr;
    if (in == nullptr) {
        return GST_FLOW_OK;
    }
    FilterState* state = StateOf(trans);
    std::vector<uint8_t> bytes;
    int rate = 0;
    int blockAlign = 0;
    {
        MutexLock lock(state->mutex);
        if (state->chain.ActiveCount() == 0) {
            *outbuf = in;  // nothing to run: the buffer passes as it is
            return GST_FLOW_OK;
        }
        GstMapInfo map;
        if (!gst_buffer_map(in, &map, GST_MAP_READ)) {
            gst_buffer_unref(in);
            return GST_FLOW_ERROR;
        }
        const int64_t time = GST_BUFFER_PTS_IS_VALID(in) ? static_cast<int64_t>(GST_BUFFER_PTS(in) / 100) : -1;
        bytes.reserve(map.size);
        state->chain.Process(map.data, map.size, time, &bytes);
        gst_buffer_unmap(in, &map);
        rate = state->rate;
        blockAlign = state->blockAlign;
    }
    if (!bytes.empty()) {
        *outbuf = MakeOutput(bytes, in, rate, blockAlign);
    }
    gst_buffer_unref(in);
    return GST_FLOW_OK;
}

gboolean SinkEvent(GstBaseTransform* trans, GstEvent* event) {
    FilterState* state = StateOf(trans);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_STOP: {
        MutexLock lock(state->mutex);
        state->chain.Flush();
        break;
    }
    case GST_EVENT_EOS: {
        std::vector<uint8_t> rest;
        int rate = 0, blockAlign = 0;
        {
            MutexLock lock(state->mutex);
            state->chain.Drain(&rest);
            rate = state->rate;
            blockAlign = state->blockAlign;
        }
        if (!rest.empty()) {
            if (GstBuffer* out = MakeOutput(rest, nullptr, rate, blockAlign)) {
                gst_pad_push(GST_BASE_TRANSFORM_SRC_PAD(trans), out);
            }
        }
        break;
    }
    default:
        break;
    }
    return g_parentClass->sink_event(trans, event);
}

gboolean Stop(GstBaseTransform* trans) {
    FilterState* state = StateOf(trans);
    MutexLock lock(state->mutex);
    state->chain.Release();
    return TRUE;
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    if (id != PROP_ACTIVE_PLUGINS) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    FilterState* state = StateOf(object);
    std::wstring joined;
    {
        MutexLock lock(state->mutex);
        for (const std::wstring& name : state->chain.ActiveNames()) {
            if (!joined.empty()) joined += L"; ";
            joined += name;
        }
    }
    g_value_set_string(value, ToUtf8(joined).c_str());
}

void Finalize(GObject* object) {
    delete StateOf(object);
    reinterpret_cast<SinjoDmoChain*>(object)->state = nullptr;
    G_OBJECT_CLASS(g_parentClass)->finalize(object);
}

void ClassInit(gpointer klass, gpointer /*data*/) {
    g_parentClass = static_cast<GstBaseTransformClass*>(g_type_class_peek_parent(klass));
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->finalize = Finalize;
    objectClass->get_property = GetProperty;
    g_object_class_install_property(
        objectClass, PROP_ACTIVE_PLUGINS,
        g_param_spec_string("active-plugins", "Active plug-ins", "Names of the DSP plug-ins in the chain", "",
                            static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(elementClass, &g_sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &g_srcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Sinjo DSP plug-in chain", "Filter/Effect/Audio",
                                          "Runs the registered DSP plug-ins over 16-bit PCM", "Sinjobox");

    GstBaseTransformClass* transformClass = GST_BASE_TRANSFORM_CLASS(klass);
    transformClass->set_caps = SetCaps;
    transformClass->generate_output = GenerateOutput;
    transformClass->sink_event = SinkEvent;
    transformClass->stop = Stop;
    transformClass->passthrough_on_same_caps = FALSE;
}

void InstanceInit(GTypeInstance* instance, gpointer /*klass*/) {
    reinterpret_cast<SinjoDmoChain*>(instance)->state.store(new FilterState(), std::memory_order_release);
}

GType DmoChainType() {
    static const GType type = [] {
        GTypeInfo info{};
        info.class_size = sizeof(SinjoDmoChainClass);
        info.class_init = ClassInit;
        info.instance_size = sizeof(SinjoDmoChain);
        info.instance_init = InstanceInit;
        return g_type_register_static(GST_TYPE_BASE_TRANSFORM, "SinjoDmoChain", &info, static_cast<GTypeFlags>(0));
    }();
    return type;
}

}  // namespace

bool RegisterDmoChainElement() {
    static const bool registered =
        gst_element_register(nullptr, kDmoChainElementName, GST_RANK_NONE, DmoChainType()) != FALSE;
    return registered;
}

}  // namespace platform::media
