#include "capture/FfmpegProducer.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace capture_detail;

FfmpegProducer::FfmpegProducer(const InputSpec& input, const VideoFormatOption& deviceFormat,
                               Interrupter& stop, FramePool& pool, JpegPacketTap* jpegTap,
                               bool turboJpeg)
    : m_input(input), m_deviceFormat(deviceFormat), m_stop(stop), m_jpegTap(jpegTap),
      m_turboJpeg(turboJpeg), m_converter(pool), m_pacer(stop) {}

FfmpegProducer::~FfmpegProducer() {
    close();
}

bool FfmpegProducer::open(int timeoutMs) {
    close();
    InitFfmpeg();
    AVDictionary* opts = nullptr;
    if (m_input.device) {
        if (m_deviceFormat.width > 0 && m_deviceFormat.height > 0)
            av_dict_set(
                &opts, "video_size",
                (std::to_string(m_deviceFormat.width) + "x" + std::to_string(m_deviceFormat.height))
                    .c_str(),
                0);
        if (!m_deviceFormat.pixelFormat.empty())
            av_dict_set(&opts, "input_format", m_deviceFormat.pixelFormat.c_str(), 0);
    }
    if (m_input.network) {
        av_dict_set(&opts, "rw_timeout", "5000000", 0);
        av_dict_set(&opts, "timeout", "5000000", 0);
    }
    m_fmt = avformat_alloc_context();
    m_fmt->interrupt_callback = {&Interrupter::callback, &m_stop};
    // A device read otherwise blocks in the driver with no way out: a camera that stops
    // delivering would hang the decoding thread and with it closing the program.
    if (m_input.device)
        m_fmt->flags |= AVFMT_FLAG_NONBLOCK;
    // Opening and probing the stream share the deadline.
    ArmedDeadline deadline(m_stop, timeoutMs);
    int r = avformat_open_input(&m_fmt, m_input.url.c_str(), m_input.format, &opts);
    av_dict_free(&opts);
    if (r < 0) {
        m_fmt = nullptr; // freed by avformat_open_input on failure
        return false;
    }
    // Probing decodes pictures too: FFmpeg's decoders get the size limit there as well.
    std::vector<AVDictionary*> probeOpts(m_fmt->nb_streams, nullptr);
    for (AVDictionary*& o : probeOpts)
        LimitPictureSize(&o);
    r = avformat_find_stream_info(m_fmt, probeOpts.empty() ? nullptr : probeOpts.data());
    for (AVDictionary*& o : probeOpts)
        av_dict_free(&o);
    if (r < 0) {
        close();
        return false;
    }
    const AVCodec* codec = nullptr;
    m_stream = av_find_best_stream(m_fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (m_stream < 0 || !codec) {
        close();
        return false;
    }
    m_dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(m_dec, m_fmt->streams[m_stream]->codecpar);
    m_dec->thread_count = 1;
    AVDictionary* decOpts = nullptr;
    LimitPictureSize(&decOpts);
    r = avcodec_open2(m_dec, codec, &decOpts);
    av_dict_free(&decOpts);
    if (r < 0) {
        close();
        return false;
    }
    m_pkt = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (codec->id == AV_CODEC_ID_MJPEG && m_turboJpeg)
        m_jpeg = std::make_unique<JpegFrameDecoder>();
    m_paced = !m_input.device && !m_input.network;
    m_pacer.restart();
    AVRational rate = m_fmt->streams[m_stream]->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = m_fmt->streams[m_stream]->r_frame_rate;
    const double period = (rate.num > 0 && rate.den > 0) ? av_q2d(av_inv_q(rate)) : 1.0 / 25;
    m_pacer.setFramePeriod(std::clamp(period, 1.0 / 120, 2.0));
    return true;
}

void FfmpegProducer::close() {
    av_frame_free(&m_frame);
    av_packet_free(&m_pkt);
    avcodec_free_context(&m_dec);
    if (m_fmt)
        avformat_close_input(&m_fmt);
    m_stream = -1;
    m_jpeg.reset();
}

// Reads the next packet of the video stream into m_pkt (Frame), or says the input ended or
// failed. The caller has armed the deadline.
FrameProducer::Result FfmpegProducer::readPacket() {
    for (;;) {
        if (m_stop.stop)
            return Result::Error;
        const int r = av_read_frame(m_fmt, m_pkt);
        if (r == AVERROR_EOF)
            return Result::End;
        if (r == AVERROR(EAGAIN)) {
            // A device opened non-blocking has no frame yet.
            if (m_stop.expired())
                return Result::Error;
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
            continue;
        }
        if (r < 0)
            return Result::Error;
        if (m_pkt->stream_index == m_stream)
            return Result::Frame;
        av_packet_unref(m_pkt);
    }
}

// Hands m_pkt to FFmpeg's decoder. A damaged packet costs one frame, not the source: false only
// when the decoder itself fails.
bool FfmpegProducer::sendPacket() {
    m_decoderMayHold = true;
    const int s = avcodec_send_packet(m_dec, m_pkt);
    av_packet_unref(m_pkt);
    return s >= 0 || s == AVERROR(EAGAIN) || s == AVERROR_INVALIDDATA;
}

bool FfmpegProducer::rewind(int timeoutMs) {
    m_pacer.restart();
    if (m_fmt &&
        av_seek_frame(m_fmt, -1, m_fmt->start_time == AV_NOPTS_VALUE ? 0 : m_fmt->start_time,
                      AVSEEK_FLAG_BACKWARD) >= 0) {
        avcodec_flush_buffers(m_dec);
        return true;
    }
    // Not seekable (a filter graph that ended, a pipe): start it afresh.
    return open(timeoutMs);
}

// The deadline covers the whole search for a picture, so a camera that keeps the connection busy
// without pictures counts as silent too.
FrameProducer::Result FfmpegProducer::next(ProducedFrame& frame, int timeoutMs, bool atOnce) {
    // A wait already used up (by the open before it) finds no picture.
    if (timeoutMs <= 0 || !m_dec)
        return Result::Error;
    const bool withPacing = m_paced && !atOnce;
    ArmedDeadline deadline(m_stop, timeoutMs);
    for (;;) {
        // Damaged pictures are skipped, so only the deadline ends a stream of nothing else.
        if (m_stop.expired())
            return Result::Error;
        // A decoder that was handed nothing since it last asked for more has nothing to give:
        // Motion-JPEG pictures mostly go to TurboJPEG, and asking FFmpeg each time costs a call
        // through its whole decoding machinery for every picture.
        if (m_decoderMayHold) {
            const int r = avcodec_receive_frame(m_dec, m_frame);
            if (r == 0) {
                if (convertDecoded(withPacing, frame))
                    return Result::Frame;
                continue;
            }
            if (r == AVERROR_EOF)
                return Result::End;
            // A picture the decoder refuses (damage, or a size beyond the limit) costs that
            // picture only.
            if (r == AVERROR_INVALIDDATA || r == AVERROR(EINVAL))
                continue;
            if (r != AVERROR(EAGAIN))
                return Result::Error;
            m_decoderMayHold = false;
        }
        const Result read = readPacket();
        if (read == Result::End) {
            avcodec_send_packet(m_dec, nullptr); // drain what the decoder still holds
            m_decoderMayHold = true;
            continue;
        }
        if (read != Result::Frame)
            return read;
        const JpegOutcome viaJpeg =
            m_jpeg ? decodeJpegPacket(withPacing, frame) : JpegOutcome::NotTaken;
        if (viaJpeg == JpegOutcome::Decoded)
            return Result::Frame;
        if (viaJpeg == JpegOutcome::Refused) {
            av_packet_unref(m_pkt);
            continue;
        }
        if (!sendPacket())
            return Result::Error;
    }
}

bool FfmpegProducer::convertDecoded(bool withPacing, ProducedFrame& frame) {
    if (withPacing)
        pace(m_frame->best_effort_timestamp);
    const bool taken =
        m_converter.convert(m_frame->data, m_frame->linesize, m_frame->width, m_frame->height,
                            static_cast<AVPixelFormat>(m_frame->format), frame);
    av_frame_unref(m_frame);
    return taken;
}

// The Motion-JPEG way: each packet is one picture for TurboJPEG. A picture it cannot take (a
// size the stream did not announce, a pair of interlaced fields, damage beyond repair, or
// another output size chosen) is left in m_pkt for FFmpeg's decoder, so nothing shows
// differently from the plain way but the cost. A picture declaring a size beyond the limit is
// refused outright, before anything is allocated for it.
FfmpegProducer::JpegOutcome FfmpegProducer::decodeJpegPacket(bool withPacing,
                                                             ProducedFrame& frame) {
    int w = 0, h = 0;
    if (!m_jpeg->size(m_pkt->data, size_t(m_pkt->size), w, h))
        return JpegOutcome::NotTaken;
    if (!PictureSizeAcceptable(w, h))
        return JpegOutcome::Refused;
    if ((m_dec->width > 0 && (w != m_dec->width || h != m_dec->height)) ||
        !m_converter.keepsSize(w, h))
        return JpegOutcome::NotTaken;
    const int64_t ts = m_pkt->pts != AV_NOPTS_VALUE ? m_pkt->pts : m_pkt->dts;
    FrameBytes& buf = m_converter.directBuffer();
    buf.resize(size_t(w) * size_t(h) * 4);
    if (!m_jpeg->decode(m_pkt->data, size_t(m_pkt->size), buf.data(), w, h))
        return JpegOutcome::NotTaken;
    if (m_jpegTap)
        m_jpegTap->offer(m_pkt->data, size_t(m_pkt->size), w, h);
    av_packet_unref(m_pkt);
    if (withPacing)
        pace(ts);
    m_converter.finishDirect(w, h, true, frame);
    return JpegOutcome::Decoded;
}

// Waits until the picture stamped `ts` (in the stream's time base) is due.
void FfmpegProducer::pace(int64_t ts) {
    if (ts == AV_NOPTS_VALUE)
        m_pacer.waitForUnstamped(); // some raw streams carry no timestamps
    else
        m_pacer.waitForStamp(double(ts) * av_q2d(m_fmt->streams[m_stream]->time_base));
}

void FfmpegProducer::setOutputSize(int width, int height) {
    m_converter.setOutputSize(width, height);
}

void FfmpegProducer::sourceSize(int& width, int& height) const {
    m_converter.sourceSize(width, height);
}
