// Test support (header only, used by the playback tests): short media clips in every format the
// jukebox plays, made once per build folder with gst-launch-1.0, and a reader for the WAV files that
// the tests' audio sink writes.
//
// Every clip is 16-bit stereo 44.1 kHz sound with a 440 Hz tone on the left channel and a 1000 Hz tone
// on the right, so a test can tell which source channel reached which output by its frequency.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace sinjo_test {

namespace fs = std::filesystem;

constexpr double kLeftHz = 440.0;
constexpr double kRightHz = 1000.0;

inline void PutLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Writes the two-tone stereo WAV described above.
inline void WriteToneWav(const fs::path& path, double seconds, int rate = 44100) {
    const uint32_t frames = static_cast<uint32_t>(seconds * rate);
    std::string data;
    data.reserve(frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        PutLe(data, static_cast<uint16_t>(static_cast<int16_t>(16000 * std::sin(2 * M_PI * kLeftHz * t))), 2);
        PutLe(data, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(2 * M_PI * kRightHz * t))), 2);
    }
    std::string file = "RIFF";
    PutLe(file, 36 + static_cast<uint32_t>(data.size()), 4);
    file += "WAVEfmt ";
    PutLe(file, 16, 4);
    PutLe(file, 1, 2);
    PutLe(file, 2, 2);
    PutLe(file, static_cast<uint32_t>(rate), 4);
    PutLe(file, static_cast<uint32_t>(rate) * 4, 4);
    PutLe(file, 4, 2);
    PutLe(file, 16, 2);
    file += "data";
    PutLe(file, static_cast<uint32_t>(data.size()), 4);
    file += data;
    std::ofstream(path, std::ios::binary) << file;
}

// Where the clips are kept: beside the build's bin folder, so each test process does not make them again.
inline fs::path ClipFolder() { return fs::path(SINJO_BIN_DIR).parent_path() / "test-clips"; }

// The clip with extension `ext` (mp3, wma, avi, dat, wmv, rmvb) lasting `seconds`; made when missing.
// Empty path when it cannot be made.
inline fs::path Clip(const std::string& ext, int seconds = 2) {
    const fs::path folder = ClipFolder();
    const fs::path clip = folder / ("tone" + std::to_string(seconds) + "s." + ext);
    if (fs::exists(clip) && fs::file_size(clip) > 0) {
        return clip;
    }
    fs::create_directories(folder);
    const std::string tag = std::to_string(getpid());
    const fs::path wav = folder / ("source" + std::to_string(seconds) + "-" + tag + ".wav");
    const fs::path part = folder / ("part-" + tag + "." + ext);
    WriteToneWav(wav, seconds);
    const std::string audio = "filesrc location='" + wav.string() + "' ! wavparse ! audioconvert ! audioresample";
    const std::string video = "videotestsrc num-buffers=" + std::to_string(seconds * 25) +
                              " ! video/x-raw,width=176,height=144,framerate=25/1";
    const std::string out = "filesink location='" + part.string() + "'";
    std::string pipeline;
    if (ext == "mp3") {
        pipeline = audio + " ! lamemp3enc ! " + out;
    } else if (ext == "wma") {
        pipeline = audio + " ! avenc_wmav2 ! asfmux ! " + out;
    } else if (ext == "rmvb") {
        // RealMedia container (AC-3 sound): the muxer available here writes no RealVideo.
        pipeline = audio + " ! avenc_ac3 bitrate=128000 ! avmux_rm ! " + out;
    } else if (ext == "avi") {
        pipeline = video + " ! avenc_mpeg4 ! avimux name=m ! " + out + " " + audio + " ! lamemp3enc ! mpegaudioparse ! m.";
    } else if (ext == "dat") {
        pipeline = video + " ! mpeg2enc format=0 ! mpegvideoparse ! avmux_mpeg name=m ! " + out + " " + audio +
                   " ! avenc_mp2 ! mpegaudioparse ! m.";
    } else if (ext == "wmv") {
        pipeline = video + " ! avenc_wmv2 ! identity single-segment=true ! asfmux name=m ! " + out + " " + audio +
                   " ! avenc_wmav2 ! m.";
    } else {
        return fs::path();
    }
    const int status = std::system(("gst-launch-1.0 -q -e " + pipeline + " > /dev/null 2>&1").c_str());
    std::error_code ec;
    fs::remove(wav, ec);
    if (status != 0 || !fs::exists(part)) {
        fs::remove(part, ec);
        return fs::path();
    }
    fs::rename(part, clip, ec);  // atomic: another test process may have made it meanwhile
    return clip;
}

// A WAV file as the tests' sink writes it. The sizes in the header are not trusted (a pipeline that
// was stopped leaves them unfinished): the samples run from the "data" chunk to the end of the file.
struct Wav {
    int channels = 0;
    int rate = 0;
    std::vector<int16_t> samples;  // interleaved

    size_t frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
    int16_t at(size_t frame, int channel) const { return samples[frame * channels + channel]; }
};

inline Wav ReadWav(const fs::path& path) {
    Wav wav;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0) return wav;
    size_t at = 12;
    auto le = [&](size_t pos, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[pos + i])) << (8 * i);
        return v;
    };
    while (at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = le(at + 4, 4);
        if (id == "fmt " && at + 24 <= bytes.size()) {
            wav.channels = static_cast<int>(le(at + 10, 2));
            wav.rate = static_cast<int>(le(at + 12, 4));
        } else if (id == "data") {
            const size_t start = at + 8;
            const size_t count = (bytes.size() - start) / 2;
            wav.samples.resize(count);
            std::memcpy(wav.samples.data(), bytes.data() + start, count * 2);
            wav.samples.resize(wav.channels > 0 ? count - count % wav.channels : 0);
            return wav;
        }
        at += 8 + size + (size & 1);
    }
    return wav;
}

// Frequency of one channel over [from, to) frames, from its upward zero crossings; 0 for silence.
inline double Frequency(const Wav& wav, int channel, size_t from, size_t to) {
    to = std::min(to, wav.frames());
    if (from + 2 >= to || wav.rate <= 0) return 0.0;
    int crossings = 0;
    for (size_t f = from + 1; f < to; ++f) {
        if (wav.at(f - 1, channel) < 0 && wav.at(f, channel) >= 0) ++crossings;
    }
    return crossings * static_cast<double>(wav.rate) / static_cast<double>(to - from);
}

inline double Rms(const Wav& wav, int channel, size_t from, size_t to) {
    to = std::min(to, wav.frames());
    if (from >= to) return 0.0;
    double sum = 0;
    for (size_t f = from; f < to; ++f) sum += static_cast<double>(wav.at(f, channel)) * wav.at(f, channel);
    return std::sqrt(sum / static_cast<double>(to - from));
}

// True when both channels hold the very same samples over [from, to).
inline bool ChannelsIdentical(const Wav& wav, size_t from, size_t to) {
    to = std::min(to, wav.frames());
    for (size_t f = from; f < to; ++f) {
        if (wav.at(f, 0) != wav.at(f, 1)) return false;
    }
    return from < to;
}

}  // namespace sinjo_test
