#include "capture/CaptureEngine.h"

#include "capture/DemoProducer.h"
#include "capture/FfmpegProducer.h"
#include "capture/FfmpegUtil.h"
#include "capture/FramePool.h"
#include "capture/FrameProducer.h"
#include "capture/V4l2Device.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

using namespace capture_detail;
using Clock = std::chrono::steady_clock;

namespace {

// A live source that delivers nothing for this long counts as gone.
constexpr int kReadTimeoutMs = 5000;
// Pause between attempts to bring a failed source back.
constexpr int kReopenPauseMs = 1000;

bool isDemo(const std::string& spec) {
    return spec == "demo";
}

// The sizes offered for sources whose frames the engine scales itself.
const std::pair<int, int> kScaledSizes[] = {
    {160, 120}, {320, 240}, {640, 480}, {800, 600}, {1280, 720}};

std::string sizeLabel(int w, int h, const std::string& pix) {
    return std::to_string(w) + " x " + std::to_string(h) +
           (pix.empty() ? " BGRX 32bit" : " " + pix);
}

} // namespace

// One opened source: its producer, the buffers its frames are made in, and the decoding thread
// that runs it once the source is installed.
struct CaptureEngine::Session {
    CaptureEngine* engine;
    std::string spec;
    InputSpec input;
    VideoFormatOption requested; // device format, or output size for scaled sources (0 = native)
    Interrupter intr;
    FramePool pool;
    std::unique_ptr<FrameProducer> producer;
    ProducedFrame out; // the latest frame made
    std::thread thread;

    Session(CaptureEngine* e, std::string s, VideoFormatOption f)
        : engine(e), spec(std::move(s)), requested(std::move(f)) {
        input = ParseInputSpec(spec);
        if (isDemo(spec))
            producer = std::make_unique<DemoProducer>(intr, pool);
        else
            producer =
                std::make_unique<FfmpegProducer>(input, requested, intr, pool, &e->m_jpegTap,
                                                 e->m_jpegDecoding == JpegDecoding::TurboJpegFirst);
        if (!input.device)
            producer->setOutputSize(requested.width, requested.height);
    }

    ~Session() { stopThread(); }

    // Ends whatever the session is waiting for (an open, a read, a pause); any thread may call it.
    void cancel() { intr.cancel(); }

    void stopThread() {
        cancel();
        if (thread.joinable())
            thread.join();
    }

    void run() {
        bool failed = false;
        while (!intr.stop) {
            if (failed) {
                if (!intr.sleepUntil(Clock::now() + std::chrono::milliseconds(kReopenPauseMs)))
                    break;
                if (!producer->open(kReadTimeoutMs))
                    continue;
                failed = false;
            }
            const FrameProducer::Result r = producer->next(out, kReadTimeoutMs, false);
            if (intr.stop)
                break;
            if (r == FrameProducer::Result::Frame) {
                engine->publish(out.bits, out.width, out.height, this);
            } else if (r == FrameProducer::Result::End) {
                if (!producer->rewind(kReadTimeoutMs)) {
                    engine->markFailed(this);
                    failed = true;
                }
            } else {
                engine->markFailed(this);
                producer->close();
                failed = true;
            }
        }
    }

    // Opens the source and makes its first frame within `timeoutMs`.
    bool start(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (!producer->open(timeoutMs))
            return false;
        const int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        // False for a file too short to show a picture, or a source that refuses to deliver.
        return producer->next(out, left, true) == FrameProducer::Result::Frame;
    }

    void launch() {
        thread = std::thread([this] { run(); });
    }
};

CaptureEngine::CaptureEngine(JpegDecoding jpeg) : m_jpegDecoding(jpeg) {}

CaptureEngine::~CaptureEngine() {
    close();
}

bool CaptureEngine::open(const std::string& spec, int timeoutMs) {
    if (spec.empty())
        return false;
    VideoFormatOption oldFormat;
    bool reopenSame = false;
    uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        generation = m_generation;
        if (m_session && m_session->spec == spec && m_session->input.device) {
            reopenSame = true;
            oldFormat = m_session->requested;
        }
    }
    // A device node streams to one opener only: let go of it before opening it again.
    std::unique_ptr<Session> old;
    if (reopenSame) {
        std::lock_guard lock(m_mutex);
        old = std::move(m_session);
        m_publisher = nullptr;
    }
    if (old)
        old.reset();

    auto s = std::make_unique<Session>(this, spec, VideoFormatOption{});
    if (startSession(*s, timeoutMs, generation))
        return install(s, generation);
    s.reset();
    if (reopenSame) {
        auto back = std::make_unique<Session>(this, spec, oldFormat);
        if (startSession(*back, timeoutMs, generation))
            install(back, generation);
    }
    return false;
}

bool CaptureEngine::startSession(Session& s, int timeoutMs, uint64_t generation) {
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return false; // closed already: nothing more is opened
        m_starting.push_back(&s);
    }
    const bool started = s.start(timeoutMs);
    std::lock_guard lock(m_mutex);
    m_starting.erase(std::find(m_starting.begin(), m_starting.end(), &s));
    return started && !s.intr.stop;
}

bool CaptureEngine::install(std::unique_ptr<Session>& s, uint64_t generation) {
    std::unique_ptr<Session> old;
    {
        std::lock_guard lock(m_mutex);
        // A close since the open began wins: the program is ending or the camera was let go.
        if (generation != m_generation)
            return false;
        Session* raw = s.get();
        old = std::move(m_session);
        m_session = std::move(s);
        m_publisher = raw;
        if (raw->out.bits) {
            m_latestHeader =
                BitmapHeader{0, raw->out.width, raw->out.height, raw->out.width * 4, 1, 32, 0};
            m_latestBits = raw->out.bits;
            m_latestValid = true;
            ++m_serial;
        }
        // Launched under the lock, so a close from another thread finds it whole.
        raw->launch();
    }
    m_frameCv.notify_all();
    old.reset(); // joins the old decoding thread; its frames no longer count
    return true;
}

void CaptureEngine::close() {
    std::unique_ptr<Session> old;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        for (Session* starting : m_starting)
            starting->cancel();
        old = std::move(m_session);
        m_publisher = nullptr;
        m_latestValid = false;
    }
    old.reset();
    m_frameCv.notify_all();
}

bool CaptureEngine::isOpen() const {
    std::lock_guard lock(m_mutex);
    return m_session != nullptr;
}

std::string CaptureEngine::spec() const {
    std::lock_guard lock(m_mutex);
    return m_session ? m_session->spec : std::string();
}

std::string CaptureEngine::devicePath() const {
    std::lock_guard lock(m_mutex);
    return m_session && m_session->input.device ? m_session->input.url : std::string();
}

void CaptureEngine::publish(FrameBits bits, int width, int height, Session* from) {
    {
        std::lock_guard lock(m_mutex);
        if (from != m_publisher || !bits)
            return;
        m_latestHeader = BitmapHeader{0, width, height, width * 4, 1, 32, 0};
        m_latestBits = std::move(bits);
        m_latestValid = true;
        ++m_serial;
    }
    m_frameCv.notify_all();
}

void CaptureEngine::markFailed(Session* from) {
    std::lock_guard lock(m_mutex);
    if (from == m_publisher)
        m_latestValid = false;
}

bool CaptureEngine::latestFrame(Frame& out, uint64_t* serial) const {
    BitmapHeader header;
    FrameBits bits;
    if (!latestShared(header, bits, serial))
        return false;
    out.header = header;
    out.bits.assign(bits->begin(), bits->end()); // the copy is made outside the lock
    return true;
}

bool CaptureEngine::latestShared(BitmapHeader& header, FrameBits& bits, uint64_t* serial) const {
    std::lock_guard lock(m_mutex);
    if (!m_session || !m_latestValid || !m_latestBits)
        return false;
    header = m_latestHeader;
    bits = m_latestBits;
    if (serial)
        *serial = m_serial;
    return true;
}

uint64_t CaptureEngine::frameSerial() const {
    std::lock_guard lock(m_mutex);
    return m_serial;
}

void CaptureEngine::frameSize(int& width, int& height) const {
    std::lock_guard lock(m_mutex);
    if (!m_session) {
        width = height = 0;
        return;
    }
    width = m_latestHeader.bmWidth;
    height = m_latestHeader.bmHeight;
}

bool CaptureEngine::sourceHealthy() const {
    std::lock_guard lock(m_mutex);
    return m_session && m_latestValid;
}

bool CaptureEngine::waitForFrameAfter(uint64_t serial, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_frameCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_serial > serial && m_latestValid; });
}

void CaptureEngine::setClipQuality(int quality) {
    m_clipQuality = std::clamp(quality, 1, 100);
}

std::vector<VideoFormatOption> CaptureEngine::formats() const {
    std::string deviceUrl;
    int w = 0, h = 0, nativeW = 0, nativeH = 0;
    bool device = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_session)
            return {};
        deviceUrl = m_session->input.url;
        device = m_session->input.device;
        w = m_latestHeader.bmWidth;
        h = m_latestHeader.bmHeight;
        m_session->producer->sourceSize(nativeW, nativeH);
    }
    std::vector<VideoFormatOption> list;
    if (device) {
        for (auto& f : ListV4l2Formats(deviceUrl))
            list.push_back(
                {f.width, f.height, f.pixelFormat, sizeLabel(f.width, f.height, f.pixelFormat)});
        if (!list.empty())
            return list;
    }
    auto add = [&](int fw, int fh) {
        if (fw <= 0 || fh <= 0)
            return;
        for (auto& o : list)
            if (o.width == fw && o.height == fh)
                return;
        list.push_back({fw, fh, "", sizeLabel(fw, fh, "")});
    };
    add(nativeW, nativeH);
    for (auto [sw, sh] : kScaledSizes)
        add(sw, sh);
    add(w, h);
    std::sort(list.begin(), list.end(),
              [](auto& a, auto& b) { return a.width * a.height < b.width * b.height; });
    return list;
}

VideoFormatOption CaptureEngine::currentFormat() const {
    std::lock_guard lock(m_mutex);
    if (!m_session)
        return {};
    VideoFormatOption f;
    f.width = m_latestHeader.bmWidth;
    f.height = m_latestHeader.bmHeight;
    if (m_session->input.device)
        f.pixelFormat = m_session->requested.pixelFormat;
    f.label = sizeLabel(f.width, f.height, f.pixelFormat);
    return f;
}

bool CaptureEngine::setFormat(const VideoFormatOption& format, int timeoutMs) {
    if (format.width <= 0 || format.height <= 0)
        return false;
    std::string spec;
    bool device = false;
    uint64_t serial = 0;
    uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_session)
            return false;
        spec = m_session->spec;
        device = m_session->input.device;
        serial = m_serial;
        generation = m_generation;
    }
    if (!device) {
        {
            std::lock_guard lock(m_mutex);
            m_session->producer->setOutputSize(format.width, format.height);
            m_session->requested.width = format.width;
            m_session->requested.height = format.height;
        }
        // Hand out no frame of the old size once the caller has been told the new one.
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock lock(m_mutex);
        return m_frameCv.wait_until(lock, deadline, [&] {
            return m_serial > serial && m_latestValid && m_latestHeader.bmWidth == format.width &&
                   m_latestHeader.bmHeight == format.height;
        });
    }
    // A device has to be stopped and opened again with the new format.
    VideoFormatOption oldFormat;
    std::unique_ptr<Session> old;
    {
        std::lock_guard lock(m_mutex);
        oldFormat = m_session->requested;
        old = std::move(m_session);
        m_publisher = nullptr;
    }
    old.reset();
    for (const VideoFormatOption* f :
         {&format, static_cast<const VideoFormatOption*>(&oldFormat)}) {
        auto s = std::make_unique<Session>(this, spec, *f);
        if (startSession(*s, timeoutMs, generation))
            return install(s, generation) && f == &format;
    }
    std::lock_guard lock(m_mutex);
    m_latestValid = false;
    return false;
}
