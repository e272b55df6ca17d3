#include "capture/AviRecorder.h"

#include "capture/AudioInput.h"
#include "capture/CaptureEngine.h"
#include "capture/FfmpegUtil.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace capture_detail;
using Clock = std::chrono::steady_clock;

int QualityToQscale(int quality) {
    quality = std::clamp(quality, 1, 100);
    return 2 + (100 - quality) * 29 / 99;
}

struct AviRecorder::Impl {
    AviRecorderSettings settings;
    AVFormatContext* out = nullptr;
    std::mutex writeMutex; // the muxer is shared by the video and the audio worker

    // Video
    AVCodecContext* venc = nullptr;
    AVStream* vst = nullptr;
    Scaler scaler;
    AVFrame* yuv = nullptr;
    int width = 0, height = 0;
    std::atomic<int> frames{0};
    int64_t preFrames = 0; // slots of the seconds before the start

    // Sound
    AudioInput audioIn;
    AVCodecContext* aenc = nullptr;
    AVStream* ast = nullptr;
    std::atomic<int64_t> audioCap{INT64_MAX}; // samples the sound may still reach

    std::atomic<bool> stopFlag{false};
    std::atomic<bool> writeFailed{false};
    std::atomic<bool> videoDone{false};
    std::atomic<bool> audioDone{true};
    std::atomic<double> elapsed{0};
    std::mutex waitMutex;
    std::condition_variable waitCv;
    std::thread videoThread;
    std::thread audioThread;
    bool finished = false;

    ~Impl() { release(); }

    void release() {
        avcodec_free_context(&venc);
        avcodec_free_context(&aenc);
        audioIn.close();
        scaler.reset();
        av_frame_free(&yuv);
        if (out) {
            if (out->pb)
                avio_closep(&out->pb);
            avformat_free_context(out);
            out = nullptr;
        }
    }

    bool sleepUntil(Clock::time_point t) {
        std::unique_lock lock(waitMutex);
        return !waitCv.wait_until(lock, t, [this] { return stopFlag.load(); });
    }

    void writePacket(AVCodecContext* enc, AVStream* st, AVPacket* pkt) {
        av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
        pkt->stream_index = st->index;
        std::lock_guard lock(writeMutex);
        if (writeFailed)
            return;
        int r = av_interleaved_write_frame(out, pkt);
        // Each picture goes to the disk at once, so a full disk shows at the frame it cuts and
        // the frame count says what the file really holds.
        if (r >= 0 && st == vst)
            avio_flush(out->pb);
        if (r < 0 || out->pb->error < 0) {
            // A full disk: end the recording here and keep what is already written.
            writeFailed = true;
            {
                std::lock_guard stopLock(waitMutex);
                stopFlag = true;
            }
            waitCv.notify_all();
        }
    }

    void encode(AVCodecContext* enc, AVStream* st, AVFrame* f) {
        if (avcodec_send_frame(enc, f) < 0)
            return;
        AVPacket* pkt = av_packet_alloc();
        while (avcodec_receive_packet(enc, pkt) == 0) {
            writePacket(enc, st, pkt);
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
    }

    bool openVideo(int w, int h) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        if (!codec)
            return false;
        venc = avcodec_alloc_context3(codec);
        venc->width = w;
        venc->height = h;
        venc->pix_fmt = AV_PIX_FMT_YUVJ420P;
        venc->color_range = AVCOL_RANGE_JPEG;
        av_reduce(&venc->time_base.num, &venc->time_base.den, settings.microSecPerFrame, 1000000,
                  INT32_MAX);
        venc->framerate = av_inv_q(venc->time_base);
        venc->flags |= AV_CODEC_FLAG_QSCALE;
        venc->global_quality = QualityToQscale(settings.quality) * FF_QP2LAMBDA;
        venc->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
        if (out->oformat->flags & AVFMT_GLOBALHEADER)
            venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(venc, codec, nullptr) < 0)
            return false;
        vst = avformat_new_stream(out, nullptr);
        avcodec_parameters_from_context(vst->codecpar, venc);
        vst->time_base = venc->time_base;
        vst->avg_frame_rate = venc->framerate;
        yuv = av_frame_alloc();
        yuv->format = venc->pix_fmt;
        yuv->width = w;
        yuv->height = h;
        return av_frame_get_buffer(yuv, 0) >= 0;
    }

    // Opens the sound input and its encoder; any failure leaves the clip silent.
    void openAudio() {
        if (!audioIn.open(settings.audioSource))
            return;
        const AVCodec* ecodec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
        aenc = avcodec_alloc_context3(ecodec);
        aenc->sample_fmt = AV_SAMPLE_FMT_S16;
        aenc->sample_rate = audioIn.rate();
        av_channel_layout_copy(&aenc->ch_layout, audioIn.layout());
        aenc->time_base = {1, aenc->sample_rate};
        if (avcodec_open2(aenc, ecodec, nullptr) < 0)
            return closeAudio();
        ast = avformat_new_stream(out, nullptr);
        avcodec_parameters_from_context(ast->codecpar, aenc);
        ast->time_base = aenc->time_base;
    }

    void closeAudio() {
        avcodec_free_context(&aenc);
        audioIn.close();
        ast = nullptr;
    }

    double period() const { return settings.microSecPerFrame / 1e6; }

    // Encodes a 32-bit frame as the picture of slot `pts`; false when it did not reach the file.
    bool encodeBgrx(const uint8_t* bits, int stride, int w, int h, int64_t pts) {
        const uint8_t* src[4] = {bits, nullptr, nullptr, nullptr};
        int srcStride[4] = {stride, 0, 0, 0};
        SwsContext* sws = scaler.get(w, h, AV_PIX_FMT_BGR0, width, height, AV_PIX_FMT_YUVJ420P);
        if (!sws || av_frame_make_writable(yuv) < 0)
            return false;
        sws_scale(sws, src, srcStride, 0, h, yuv->data, yuv->linesize);
        yuv->pts = pts;
        yuv->quality = venc->global_quality;
        encode(venc, vst, yuv);
        return !writeFailed;
    }

    // A picture of the clip's size goes into the file as the camera or the ring compressed it;
    // any other is decoded and takes the encoder's way.
    bool writeJpeg(const PreAlarmRing::Picture& p, int64_t pts, tjhandle tj,
                   std::vector<uint8_t>& scratch) {
        if (p.width == width && p.height == height) {
            AVPacket* pkt = av_packet_alloc();
            if (!pkt || av_new_packet(pkt, static_cast<int>(p.jpeg->size())) < 0) {
                av_packet_free(&pkt);
                return false;
            }
            std::copy(p.jpeg->begin(), p.jpeg->end(), pkt->data);
            pkt->pts = pkt->dts = pts;
            pkt->duration = 1;
            pkt->flags |= AV_PKT_FLAG_KEY;
            writePacket(venc, vst, pkt);
            av_packet_free(&pkt);
            return !writeFailed;
        }
        int w = 0, h = 0, sub = 0, cs = 0;
        if (!tj ||
            tjDecompressHeader3(tj, p.jpeg->data(), p.jpeg->size(), &w, &h, &sub, &cs) != 0 ||
            w <= 0 || h <= 0 || w > 16384 || h > 16384)
            return false;
        scratch.resize(size_t(w) * size_t(h) * 4);
        if (tjDecompress2(tj, p.jpeg->data(), p.jpeg->size(), scratch.data(), w, w * 4, h,
                          TJPF_BGRX, 0) != 0)
            return false;
        return encodeBgrx(scratch.data(), w * 4, w, h, pts);
    }

    // The seconds before the start: slot k shows the latest picture taken by its time. A slot
    // whose picture is the one before gets nothing of its own; the muxer fills the gap with an
    // empty chunk, which players show as the picture before.
    void writePreAlarm() {
        const auto& pics = settings.preAlarm.pictures;
        if (preFrames <= 0 || pics.empty())
            return;
        std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitDecompress(), tjDestroy);
        std::vector<uint8_t> scratch;
        const auto end = settings.preAlarm.end;
        size_t next = 0;
        std::ptrdiff_t shown = -1;
        for (int64_t k = 0; k < preFrames && !stopFlag; ++k) {
            const auto slot = end - std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>((preFrames - k) * period()));
            // Half a slot of slack: a picture taken a hair after its slot still belongs there.
            const auto due = slot + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(period() / 2));
            while (next < pics.size() && pics[next].time <= due)
                ++next;
            const std::ptrdiff_t pick = next == 0 ? 0 : std::ptrdiff_t(next) - 1;
            if (pick == shown)
                continue;
            if (writeJpeg(pics[size_t(pick)], k, tj.get(), scratch)) {
                shown = pick;
                ++frames;
            } else if (writeFailed) {
                return;
            }
        }
    }

    void runVideo() {
        const double period = this->period();
        const int64_t maxFrames =
            settings.limitEnabled ? std::max<int64_t>(1, std::llround(settings.limitSeconds * 1e6 /
                                                                      settings.microSecPerFrame))
                                  : INT64_MAX;
        writePreAlarm();
        // The live part starts when the seconds before it are in the file; its slots follow them.
        const int64_t first = preFrames;
        const Clock::time_point t0 = Clock::now();
        for (int64_t i = 0; i < maxFrames && !writeFailed;) {
            auto target = t0 + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(i * period));
            if (!sleepUntil(target))
                break;
            // Behind schedule (a slow encode): skip to the frame that is due now; the AVI keeps
            // its timing with empty chunks for the skipped ones.
            double now = std::chrono::duration<double>(Clock::now() - t0).count();
            int64_t due = static_cast<int64_t>(now / period);
            if (due > i)
                i = std::min(due, maxFrames - 1);
            BitmapHeader fh;
            CaptureEngine::FrameBits bits;
            if (engine->latestShared(fh, bits) && fh.bmWidth > 0 && fh.bmHeight > 0) {
                if (encodeBgrx(bits->data(), fh.bmWidthBytes, fh.bmWidth, fh.bmHeight, first + i))
                    ++frames;
                else if (writeFailed)
                    break;
            }
            ++i;
            elapsed = i * period;
        }
        encode(venc, vst, nullptr);
        // The sound may run up to the length of the picture, not beyond it.
        if (aenc)
            audioCap = std::llround((first * period + elapsed.load()) * aenc->sample_rate);
        videoDone = true;
    }

    // Writes `n` interleaved samples as the sound from sample `pts` on.
    void writePcm(AVFrame* s16, const int16_t* pcm, int64_t n, int64_t pts) {
        const int channels = aenc->ch_layout.nb_channels;
        constexpr int64_t kChunk = 4096;
        for (int64_t done = 0; done < n && !writeFailed; done += kChunk) {
            av_frame_unref(s16);
            s16->format = AV_SAMPLE_FMT_S16;
            av_channel_layout_copy(&s16->ch_layout, &aenc->ch_layout);
            s16->sample_rate = aenc->sample_rate;
            s16->nb_samples = static_cast<int>(std::min(kChunk, n - done));
            if (av_frame_get_buffer(s16, 0) < 0)
                return;
            std::copy_n(pcm + done * channels, size_t(s16->nb_samples) * size_t(channels),
                        reinterpret_cast<int16_t*>(s16->data[0]));
            s16->pts = pts + done;
            encode(aenc, ast, s16);
        }
    }

    // The sound of the seconds before the start: the snapshot's sound where it has the input's
    // format, silence elsewhere. Returns the samples written.
    int64_t writePreAlarmSound(AVFrame* s16) {
        const int rate = aenc->sample_rate;
        const int channels = aenc->ch_layout.nb_channels;
        const int64_t total = std::llround(preFrames * period() * rate);
        if (total <= 0)
            return 0;
        std::vector<int16_t> pcm(size_t(total) * size_t(channels), 0);
        const auto start =
            settings.preAlarm.end - std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(preFrames * period()));
        for (const PreAlarmRing::Sound& s : settings.preAlarm.sounds) {
            if (s.rate != rate || s.channels != channels)
                continue;
            const int64_t at =
                std::llround(std::chrono::duration<double>(s.time - start).count() * rate);
            const int64_t n = int64_t(s.samples.size()) / channels;
            for (int64_t j = std::max<int64_t>(0, -at); j < n && at + j < total; ++j)
                std::copy_n(&s.samples[size_t(j * channels)], channels,
                            &pcm[size_t((at + j) * channels)]);
        }
        writePcm(s16, pcm.data(), total, 0);
        return total;
    }

    void runAudio() {
        AVFrame* s16 = av_frame_alloc();
        const int64_t pre = writePreAlarmSound(s16);
        int64_t written = pre;
        const int rate = aenc->sample_rate;
        const int channels = aenc->ch_layout.nb_channels;
        const int64_t limit = settings.limitEnabled
                                  ? static_cast<int64_t>(settings.limitSeconds) * rate + pre
                                  : INT64_MAX;
        const Clock::time_point t0 = Clock::now();
        Clock::time_point doneAt{};
        auto cap = [&] { return std::min(limit, audioCap.load()); };
        std::vector<int16_t> pcm;
        while (written < cap()) {
            if (stopFlag && !videoDone)
                break;
            if (videoDone) {
                // A device lags behind by its buffer; give it a moment to catch up.
                if (doneAt == Clock::time_point{})
                    doneAt = Clock::now();
                if (Clock::now() - doneAt > std::chrono::seconds(1))
                    break;
            }
            if (!audioIn.live()) {
                // Keep a generated sound in step with the clock so an early stop cuts it too.
                auto due =
                    t0 + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(double(written - pre) / rate - 0.05));
                if (!videoDone && !sleepUntil(due) && !videoDone)
                    break;
            }
            if (!audioIn.read(pcm))
                break;
            const int64_t n = std::min<int64_t>(int64_t(pcm.size()) / channels, cap() - written);
            if (n <= 0)
                continue;
            writePcm(s16, pcm.data(), n, written);
            written += n;
        }
        encode(aenc, ast, nullptr);
        audioDone = true;
        av_frame_free(&s16);
    }

    const CaptureEngine* engine = nullptr;
};

AviRecorder::AviRecorder(const CaptureEngine& engine) : m_engine(engine) {}

AviRecorder::~AviRecorder() {
    stop();
    finish();
}

bool AviRecorder::start(const AviRecorderSettings& settings) {
    finish();
    InitFfmpeg();
    auto impl = std::make_unique<Impl>();
    impl->settings = settings;
    // A period of 0 means "not set"; anything outside 0.1 to 100 frames a second is not a
    // camera rate and would only flood or starve the file.
    if (impl->settings.microSecPerFrame == 0)
        impl->settings.microSecPerFrame = 33333;
    impl->settings.microSecPerFrame =
        std::clamp<uint32_t>(impl->settings.microSecPerFrame, 10000, 10000000);
    impl->engine = &m_engine;
    Frame first;
    if (!m_engine.latestFrame(first) || first.header.bmWidth <= 0 || first.header.bmHeight <= 0)
        return false;
    // JPEG 4:2:0 wants even sizes; the picture is scaled by at most one pixel.
    impl->width = std::max(2, first.header.bmWidth & ~1);
    impl->height = std::max(2, first.header.bmHeight & ~1);
    if (!settings.preAlarm.empty()) {
        const double span = std::chrono::duration<double>(settings.preAlarm.end -
                                                          settings.preAlarm.pictures.front().time)
                                .count();
        impl->preFrames = std::max<int64_t>(0, std::llround(span / impl->period()));
    }
    if (avformat_alloc_output_context2(&impl->out, nullptr, "avi", settings.path.c_str()) < 0 ||
        !impl->out)
        return false;
    if (!impl->openVideo(impl->width, impl->height))
        return false;
    if (settings.audio)
        impl->openAudio();
    if (avio_open(&impl->out->pb, settings.path.c_str(), AVIO_FLAG_WRITE) < 0)
        return false;
    // The header goes to the disk before anything else, so a disk that is already full
    // leaves no empty clip behind.
    bool headerWritten = avformat_write_header(impl->out, nullptr) >= 0;
    if (headerWritten) {
        avio_flush(impl->out->pb);
        headerWritten = impl->out->pb->error >= 0;
    }
    if (!headerWritten) {
        impl->release();
        std::remove(settings.path.c_str());
        return false;
    }
    Impl* p = impl.get();
    p->videoThread = std::thread([p] { p->runVideo(); });
    if (p->aenc) {
        p->audioDone = false;
        p->audioThread = std::thread([p] { p->runAudio(); });
    }
    m_impl = std::move(impl);
    return true;
}

void AviRecorder::stop() {
    if (!m_impl)
        return;
    {
        std::lock_guard lock(m_impl->waitMutex);
        m_impl->stopFlag = true;
    }
    m_impl->waitCv.notify_all();
}

void AviRecorder::finish() {
    if (!m_impl || m_impl->finished)
        return;
    if (m_impl->videoThread.joinable())
        m_impl->videoThread.join();
    if (m_impl->audioThread.joinable())
        m_impl->audioThread.join();
    {
        // After a write error the trailer cannot land either; the file then ends after its last
        // whole picture without an index, which players read by scanning.
        std::lock_guard lock(m_impl->writeMutex);
        av_write_trailer(m_impl->out);
    }
    m_impl->release();
    m_impl->finished = true;
    // A clip without a single picture is no evidence, only a file to stumble over.
    if (m_impl->frames == 0)
        std::remove(m_impl->settings.path.c_str());
}

bool AviRecorder::running() const {
    return m_impl && !m_impl->finished && !(m_impl->videoDone && m_impl->audioDone);
}

double AviRecorder::elapsedSeconds() const {
    return m_impl ? m_impl->elapsed.load() : 0.0;
}

bool AviRecorder::hasAudio() const {
    return m_impl && m_impl->ast;
}

int AviRecorder::framesWritten() const {
    return m_impl ? m_impl->frames.load() : 0;
}
