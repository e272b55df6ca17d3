#include "capture/FfmpegUtil.h"

#include "settings/LoadedLibrary.h"

extern "C" {
#include <libavdevice/version_major.h>
#include <libavutil/macros.h>
}

#include <mutex>

namespace capture_detail {

void InitFfmpeg() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

bool LoadInputDevices() {
    static std::once_flag once;
    static bool loaded = false;
    std::call_once(once, [] {
        InitFfmpeg();
        // The same major version the program was built against: its devices register into the
        // libavformat already loaded.
        const LoadedLibrary lib("libavdevice.so." AV_STRINGIFY(LIBAVDEVICE_VERSION_MAJOR),
                                "camera and sound devices unavailable");
        void (*registerAll)() = nullptr;
        if (!lib || !lib.find("avdevice_register_all", registerAll))
            return;
        registerAll(); // the library stays loaded for the rest of the run
        loaded = true;
    });
    return loaded;
}

void LimitPictureSize(AVDictionary** opts) {
    av_dict_set_int(opts, "max_pixels", kMaxPicturePixels, 0);
}

static int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Interrupter::arm(int milliseconds) {
    deadlineNs = nowNs() + static_cast<int64_t>(milliseconds) * 1000000;
}

bool Interrupter::expired() const {
    if (stop)
        return true;
    int64_t d = deadlineNs;
    return d != 0 && nowNs() > d;
}

int Interrupter::callback(void* self) {
    return static_cast<Interrupter*>(self)->expired() ? 1 : 0;
}

void Interrupter::cancel() {
    stop = true;
    // Taking the lock orders the switch before a sleeper's check of it, so no wake-up is lost.
    { std::lock_guard lock(m_sleepMutex); }
    m_sleepCv.notify_all();
}

bool Interrupter::sleepUntil(std::chrono::steady_clock::time_point t) {
    std::unique_lock lock(m_sleepMutex);
    return !m_sleepCv.wait_until(lock, t, [this] { return stop.load(); });
}

InputSpec ParseInputSpec(const std::string& spec) {
    InitFfmpeg();
    InputSpec in;
    in.url = spec;
    if (spec.rfind("/dev/video", 0) == 0) {
        LoadInputDevices();
        in.format = av_find_input_format("video4linux2");
        in.device = true;
        return in;
    }
    if (spec.find("://") != std::string::npos) {
        in.network = true;
        return in;
    }
    auto colon = spec.find(':');
    // A one-letter prefix would be a drive letter, never an input format.
    if (colon != std::string::npos && colon > 1) {
        std::string name = spec.substr(0, colon);
        // A demuxer is found at once; a device only once the devices are loaded.
        const AVInputFormat* f = av_find_input_format(name.c_str());
        if (!f && LoadInputDevices())
            f = av_find_input_format(name.c_str());
        if (f) {
            in.format = f;
            in.url = spec.substr(colon + 1);
            in.device = name == "video4linux2" || name == "v4l2";
        }
    }
    return in;
}

std::string AvError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

Scaler::~Scaler() {
    reset();
}

SwsContext* Scaler::get(int w, int h, AVPixelFormat from, int tw, int th, AVPixelFormat to) {
    const Key key{w, h, static_cast<int>(from), tw, th, static_cast<int>(to)};
    if (m_sws && key == m_key)
        return m_sws;
    sws_freeContext(m_sws);
    m_sws = sws_getContext(w, h, from, tw, th, to, SWS_BILINEAR, nullptr, nullptr, nullptr);
    m_key = m_sws ? key : Key{};
    ++m_made;
    return m_sws;
}

void Scaler::reset() {
    sws_freeContext(m_sws);
    m_sws = nullptr;
    m_key = Key{};
}

} // namespace capture_detail
