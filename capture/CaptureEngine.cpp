#include "capture/CaptureEngine.h"

#include "capture/DemoRoom.h"
#include "capture/FfmpegUtil.h"
#include "capture/JpegFrameDecoder.h"
#include "capture/V4l2Device.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <thread>

using namespace capture_detail;
using Clock = std::chrono::steady_clock;

namespace {

// Clears the fourth byte of every 32-bit BGRX pixel (the top byte of each little-endian pixel),
// sixteen bytes at a time where SSE2 is there: this runs over every decoded frame.
void ClearUnusedPixelBytes(uint8_t* px, size_t size) {
    static_assert(std::endian::native == std::endian::little);
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i mask = _mm_set1_epi32(0x00FFFFFF);
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px + i), _mm_and_si128(v, mask));
    }
#endif
    for (; i + 4 <= size; i += 4)
        px[i + 3] = 0;
}

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

struct CaptureEngine::Session {
    enum class Status { Frame, End, Error };

    CaptureEngine* engine;
    std::string spec;
    InputSpec input;
    VideoFormatOption requested; // device format, or output size for scaled sources (0 = native)
    Interrupter intr;
    std::thread thread;
    std::mutex waitMutex;
    std::condition_variable waitCv;

    AVFormatContext* fmt = nullptr;
    AVCodecContext* dec = nullptr;
    int stream = -1;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    Scaler scaler;
    // Motion-JPEG sources (most webcams and many network cameras): TurboJPEG decodes their
    // pictures straight into the 32-bit frame, a good deal cheaper than FFmpeg's decoder
    // followed by the colour conversion.
    std::unique_ptr<JpegFrameDecoder> jpeg;
    // The frame being made, and the buffers it is made in: a buffer is reused only once nobody
    // but this pool holds it any more (readers may keep published frames).
    std::shared_ptr<std::vector<uint8_t>> out;
    // Enough for the frame being made, the latest one, the one on screen, the detector's
    // reference and the alarm picture, with room to spare while they change hands.
    static constexpr size_t kPoolSize = 8;
    std::vector<std::shared_ptr<std::vector<uint8_t>>> pool;
    int outW = 0, outH = 0;
    std::atomic<int> wantW{0}, wantH{0};
    // Size the source itself delivers; written by the decoding thread, read by formats().
    std::atomic<int> nativeW{0}, nativeH{0};

    std::unique_ptr<DemoRoom> demo;
    std::vector<uint8_t> demoBits; // the room before scaling to another size
    int64_t demoIndex = 0;

    // Pacing of files and filter graphs, which would otherwise decode as fast as the CPU allows.
    bool paced = false;
    bool haveBase = false;
    Clock::time_point wallBase{};
    double tsBase = 0;
    Clock::time_point lastTarget{};
    double frameDuration = 1.0 / 25;

    Session(CaptureEngine* e, std::string s, VideoFormatOption f)
        : engine(e), spec(std::move(s)), requested(std::move(f)) {
        input = ParseInputSpec(spec);
        if (!input.device) {
            wantW = requested.width;
            wantH = requested.height;
        }
    }

    ~Session() {
        stopThread();
        closeInput();
    }

    // Ends whatever the session is waiting for (an open, a read, a pause); any thread may call it.
    void cancel() {
        intr.stop = true;
        { std::lock_guard lock(waitMutex); }
        waitCv.notify_all();
    }

    void stopThread() {
        cancel();
        if (thread.joinable())
            thread.join();
    }

    // Sleeps until `t` unless the session is stopped first; false when stopped.
    bool sleepUntil(Clock::time_point t) {
        std::unique_lock lock(waitMutex);
        return !waitCv.wait_until(lock, t, [this] { return intr.stop.load(); });
    }

    bool openInput(int timeoutMs) {
        closeInput();
        if (isDemo(spec)) {
            demo = std::make_unique<DemoRoom>(
                static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
            demoIndex = 0;
            haveBase = false;
            return true;
        }
        InitFfmpeg();
        AVDictionary* opts = nullptr;
        if (input.device) {
            if (requested.width > 0 && requested.height > 0)
                av_dict_set(
                    &opts, "video_size",
                    (std::to_string(requested.width) + "x" + std::to_string(requested.height))
                        .c_str(),
                    0);
            if (!requested.pixelFormat.empty())
                av_dict_set(&opts, "input_format", requested.pixelFormat.c_str(), 0);
        }
        if (input.network) {
            av_dict_set(&opts, "rw_timeout", "5000000", 0);
            av_dict_set(&opts, "timeout", "5000000", 0);
        }
        fmt = avformat_alloc_context();
        fmt->interrupt_callback = {&Interrupter::callback, &intr};
        // A device read otherwise blocks in the driver with no way out: a camera that stops
        // delivering would hang the decoding thread and with it closing the program.
        if (input.device)
            fmt->flags |= AVFMT_FLAG_NONBLOCK;
        // Opening and probing the stream share the deadline.
        ArmedDeadline deadline(intr, timeoutMs);
        int r = avformat_open_input(&fmt, input.url.c_str(), input.format, &opts);
        av_dict_free(&opts);
        if (r < 0) {
            fmt = nullptr; // freed by avformat_open_input on failure
            return false;
        }
        // Probing decodes pictures too: FFmpeg's decoders get the size limit there as well.
        std::vector<AVDictionary*> probeOpts(fmt->nb_streams, nullptr);
        for (AVDictionary*& o : probeOpts)
            LimitPictureSize(&o);
        r = avformat_find_stream_info(fmt, probeOpts.empty() ? nullptr : probeOpts.data());
        for (AVDictionary*& o : probeOpts)
            av_dict_free(&o);
        if (r < 0) {
            closeInput();
            return false;
        }
        const AVCodec* codec = nullptr;
        stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (stream < 0 || !codec) {
            closeInput();
            return false;
        }
        dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, fmt->streams[stream]->codecpar);
        dec->thread_count = 1;
        AVDictionary* decOpts = nullptr;
        LimitPictureSize(&decOpts);
        r = avcodec_open2(dec, codec, &decOpts);
        av_dict_free(&decOpts);
        if (r < 0) {
            closeInput();
            return false;
        }
        pkt = av_packet_alloc();
        frame = av_frame_alloc();
        if (codec->id == AV_CODEC_ID_MJPEG && DecodeJpegDirectly)
            jpeg = std::make_unique<JpegFrameDecoder>();
        paced = !input.device && !input.network;
        haveBase = false;
        AVRational rate = fmt->streams[stream]->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = fmt->streams[stream]->r_frame_rate;
        frameDuration = (rate.num > 0 && rate.den > 0) ? av_q2d(av_inv_q(rate)) : 1.0 / 25;
        frameDuration = std::clamp(frameDuration, 1.0 / 120, 2.0);
        return true;
    }

    void closeInput() {
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&dec);
        if (fmt)
            avformat_close_input(&fmt);
        stream = -1;
        demo.reset();
        jpeg.reset();
    }

    // Reads the next packet of the video stream into `pkt` (Frame), or says the input ended or
    // failed. The caller has armed the deadline.
    Status readPacket() {
        for (;;) {
            if (intr.stop)
                return Status::Error;
            const int r = av_read_frame(fmt, pkt);
            if (r == AVERROR_EOF)
                return Status::End;
            if (r == AVERROR(EAGAIN)) {
                // A device opened non-blocking has no frame yet.
                if (intr.expired())
                    return Status::Error;
                std::this_thread::sleep_for(std::chrono::milliseconds(4));
                continue;
            }
            if (r < 0)
                return Status::Error;
            if (pkt->stream_index == stream)
                return Status::Frame;
            av_packet_unref(pkt);
        }
    }

    // Hands `pkt` to FFmpeg's decoder. A damaged packet costs one frame, not the source: false
    // only when the decoder itself fails.
    bool sendPacket() {
        const int s = avcodec_send_packet(dec, pkt);
        av_packet_unref(pkt);
        return s >= 0 || s == AVERROR(EAGAIN) || s == AVERROR_INVALIDDATA;
    }

    bool rewind() {
        haveBase = false;
        if (fmt && av_seek_frame(fmt, -1, fmt->start_time == AV_NOPTS_VALUE ? 0 : fmt->start_time,
                                 AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(dec);
            return true;
        }
        // Not seekable (a filter graph that ended, a pipe): start it afresh.
        return openInput(kReadTimeoutMs);
    }

    // False for a picture too large to take, which then counts as damaged.
    bool convert(const uint8_t* const* data, const int* linesize, int w, int h, AVPixelFormat pf) {
        int tw = wantW > 0 ? wantW.load() : w;
        int th = wantH > 0 ? wantH.load() : h;
        if (!PictureSizeAcceptable(w, h) || !PictureSizeAcceptable(tw, th))
            return false;
        nativeW = w;
        nativeH = h;
        SwsContext* sws = scaler.get(w, h, pf, tw, th, AV_PIX_FMT_BGR0);
        outW = tw;
        outH = th;
        std::vector<uint8_t>& buf = freshBuffer();
        buf.resize(static_cast<size_t>(tw) * th * 4);
        if (!sws) {
            std::fill(buf.begin(), buf.end(), 0);
            return true;
        }
        uint8_t* dst[4] = {buf.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {tw * 4, 0, 0, 0};
        sws_scale(sws, data, linesize, 0, h, dst, dstStride);
        // The fourth byte is compared like every other byte by the detector; whatever the
        // converter leaves there must not look like motion.
        ClearUnusedPixelBytes(buf.data(), buf.size());
        return true;
    }

    std::vector<uint8_t>& freshBuffer() {
        for (auto& b : pool)
            if (b.use_count() == 1 && b != out) {
                // Pairs with the release of the last reader's reference: its reads are done.
                std::atomic_thread_fence(std::memory_order_acquire);
                out = b;
                return *out;
            }
        out = std::make_shared<std::vector<uint8_t>>();
        if (pool.size() < kPoolSize)
            pool.push_back(out);
        return *out;
    }

    // Produces the next frame into `out`, paced to the source's own rate. False on failure.
    Status produce() {
        if (demo) {
            double t = static_cast<double>(demoIndex) / DemoRoom::kFrameRate;
            if (!haveBase) {
                wallBase = Clock::now();
                haveBase = true;
            }
            if (!sleepUntil(wallBase + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(t))))
                return Status::Error;
            ++demoIndex;
            if (wantW > 0 && (wantW != DemoRoom::kWidth || wantH != DemoRoom::kHeight)) {
                demo->render(t, demoBits);
                const uint8_t* src[4] = {demoBits.data(), nullptr, nullptr, nullptr};
                int srcStride[4] = {DemoRoom::kWidth * 4, 0, 0, 0};
                if (!convert(src, srcStride, DemoRoom::kWidth, DemoRoom::kHeight, AV_PIX_FMT_BGR0))
                    return Status::Error;
            } else {
                nativeW = DemoRoom::kWidth;
                nativeH = DemoRoom::kHeight;
                demo->render(t, freshBuffer());
                outW = DemoRoom::kWidth;
                outH = DemoRoom::kHeight;
            }
            return Status::Frame;
        }
        return decodePicture(kReadTimeoutMs, paced);
    }

    // Decodes the source's next picture into `out`, waiting for its time when `withPacing`.
    // The deadline covers the whole search for a picture, so a camera that keeps the connection
    // busy without pictures counts as silent too.
    Status decodePicture(int timeoutMs, bool withPacing) {
        ArmedDeadline deadline(intr, timeoutMs);
        for (;;) {
            // Damaged pictures are skipped, so only the deadline ends a stream of nothing else.
            if (intr.expired())
                return Status::Error;
            const int r = avcodec_receive_frame(dec, frame);
            if (r == 0) {
                if (convertDecoded(withPacing))
                    return Status::Frame;
                continue;
            }
            if (r == AVERROR_EOF)
                return Status::End;
            // A picture the decoder refuses (damage, or a size beyond the limit) costs that
            // picture only.
            if (r == AVERROR_INVALIDDATA || r == AVERROR(EINVAL))
                continue;
            if (r != AVERROR(EAGAIN))
                return Status::Error;
            const Status read = readPacket();
            if (read == Status::End) {
                avcodec_send_packet(dec, nullptr); // drain what the decoder still holds
                continue;
            }
            if (read != Status::Frame)
                return read;
            const JpegOutcome viaJpeg = jpeg ? decodeJpegPacket(withPacing) : JpegOutcome::NotTaken;
            if (viaJpeg == JpegOutcome::Decoded)
                return Status::Frame;
            if (viaJpeg == JpegOutcome::Refused) {
                av_packet_unref(pkt);
                continue;
            }
            if (!sendPacket())
                return Status::Error;
        }
    }

    bool convertDecoded(bool withPacing) {
        if (withPacing)
            pace(frame->best_effort_timestamp);
        const bool taken = convert(frame->data, frame->linesize, frame->width, frame->height,
                                   static_cast<AVPixelFormat>(frame->format));
        av_frame_unref(frame);
        return taken;
    }

    enum class JpegOutcome { Decoded, NotTaken, Refused };

    // The Motion-JPEG way: each packet is one picture for TurboJPEG. A picture it cannot take
    // (a size the stream did not announce, a pair of interlaced fields, damage beyond repair,
    // or another output size chosen) is left in `pkt` for FFmpeg's decoder, so nothing shows
    // differently from the plain way but the cost. A picture declaring a size beyond the limit is
    // refused outright, before anything is allocated for it.
    JpegOutcome decodeJpegPacket(bool withPacing) {
        int w = 0, h = 0;
        const int tw = wantW.load(), th = wantH.load();
        if (!jpeg->size(pkt->data, size_t(pkt->size), w, h))
            return JpegOutcome::NotTaken;
        if (!PictureSizeAcceptable(w, h))
            return JpegOutcome::Refused;
        if ((dec->width > 0 && (w != dec->width || h != dec->height)) ||
            (tw > 0 && (tw != w || th != h)))
            return JpegOutcome::NotTaken;
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        std::vector<uint8_t>& buf = freshBuffer();
        buf.resize(size_t(w) * size_t(h) * 4);
        if (!jpeg->decode(pkt->data, size_t(pkt->size), buf.data(), w, h))
            return JpegOutcome::NotTaken;
        av_packet_unref(pkt);
        if (withPacing)
            pace(ts);
        ClearUnusedPixelBytes(buf.data(), buf.size());
        nativeW = w;
        nativeH = h;
        outW = w;
        outH = h;
        return JpegOutcome::Decoded;
    }

    // Waits until the picture stamped `ts` (in the stream's time base) is due.
    void pace(int64_t ts) {
        Clock::time_point now = Clock::now();
        auto asDur = [](double s) {
            return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
        };
        if (ts == AV_NOPTS_VALUE) {
            // No timestamps (some raw streams): one frame per nominal frame period.
            Clock::time_point target = std::max(now, lastTarget + asDur(frameDuration));
            if (target > now + std::chrono::seconds(2))
                target = now;
            lastTarget = target;
            haveBase = false;
            sleepUntil(target);
            return;
        }
        double sec = ts * av_q2d(fmt->streams[stream]->time_base);
        if (!haveBase) {
            // After a loop the first frame follows the last one by one frame period.
            wallBase =
                lastTarget == Clock::time_point{}
                    ? now
                    : std::max(now - asDur(frameDuration), lastTarget + asDur(frameDuration));
            tsBase = sec;
            haveBase = true;
        }
        Clock::time_point target = wallBase + asDur(sec - tsBase);
        // Far behind (a slow machine) or a jump in the timestamps: start counting again.
        if (target < now - std::chrono::seconds(1) || target > now + std::chrono::seconds(2)) {
            wallBase = now;
            tsBase = sec;
            target = now;
        }
        lastTarget = target;
        sleepUntil(target);
    }

    void run() {
        bool failed = false;
        while (!intr.stop) {
            if (failed) {
                if (!sleepUntil(Clock::now() + std::chrono::milliseconds(kReopenPauseMs)))
                    break;
                if (!openInput(kReadTimeoutMs))
                    continue;
                failed = false;
            }
            Status s = produce();
            if (intr.stop)
                break;
            if (s == Status::Frame) {
                engine->publish(out, outW, outH, this);
            } else if (s == Status::End) {
                if (!rewind()) {
                    engine->markFailed(this);
                    failed = true;
                }
            } else {
                engine->markFailed(this);
                closeInput();
                failed = true;
            }
        }
    }

    // Opens the source and decodes its first frame within `timeoutMs`.
    bool start(int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (!openInput(timeoutMs))
            return false;
        if (demo)
            return produce() == Status::Frame;
        const int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        // False for a file too short to show a picture, or a source that refuses to deliver.
        return left > 0 && decodePicture(left, false) == Status::Frame;
    }

    void launch() {
        thread = std::thread([this] { run(); });
    }
};

CaptureEngine::CaptureEngine() = default;

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
        if (raw->out) {
            m_latestHeader = BitmapHeader{0, raw->outW, raw->outH, raw->outW * 4, 1, 32, 0};
            m_latestBits = raw->out;
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
        nativeW = m_session->nativeW;
        nativeH = m_session->nativeH;
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
            m_session->wantW = format.width;
            m_session->wantH = format.height;
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
