#pragma once

#include "capture/FfmpegUtil.h"
#include "capture/FrameConverter.h"
#include "capture/FramePacer.h"
#include "capture/FrameProducer.h"
#include "capture/JpegFrameDecoder.h"
#include "capture/JpegPacketTap.h"
#include "capture/VideoFormatOption.h"

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

class FramePool;

// Every source FFmpeg opens: a V4L2 device, a network camera, a video file or a filter graph.
// Files and graphs are paced to their timestamps and played in a loop (rewind); devices and
// network cameras deliver at their own pace. A picture that is damaged or claims a size beyond
// the limit is skipped; only a source that delivers nothing within the wait fails.
class FfmpegProducer final : public FrameProducer {
public:
    // `deviceFormat` is asked of a V4L2 device when it opens (0 x 0 and no pixel format: the
    // device's own choice); other sources take their output size through setOutputSize.
    FfmpegProducer(const capture_detail::InputSpec& input, const VideoFormatOption& deviceFormat,
                   capture_detail::Interrupter& stop, FramePool& pool,
                   JpegPacketTap* jpegTap = nullptr, bool turboJpeg = true);
    ~FfmpegProducer() override;
    FfmpegProducer(const FfmpegProducer&) = delete;
    FfmpegProducer& operator=(const FfmpegProducer&) = delete;

    bool open(int timeoutMs) override;
    void close() override;
    Result next(ProducedFrame& frame, int timeoutMs, bool atOnce) override;
    bool rewind(int timeoutMs) override;
    void setOutputSize(int width, int height) override;
    void sourceSize(int& width, int& height) const override;

private:
    enum class JpegOutcome { Decoded, NotTaken, Refused };

    Result readPacket();
    bool sendPacket();
    bool convertDecoded(bool withPacing, ProducedFrame& frame);
    JpegOutcome decodeJpegPacket(bool withPacing, ProducedFrame& frame);
    void pace(int64_t ts);

    const capture_detail::InputSpec m_input;
    const VideoFormatOption m_deviceFormat;
    capture_detail::Interrupter& m_stop;
    JpegPacketTap* m_jpegTap; // told of every Motion-JPEG picture TurboJPEG decoded
    const bool m_turboJpeg;   // Motion-JPEG pictures try TurboJPEG before FFmpeg's decoder
    FrameConverter m_converter;
    FramePacer m_pacer;
    bool m_paced = false; // files and graphs, which would otherwise decode as fast as they can

    AVFormatContext* m_fmt = nullptr;
    AVCodecContext* m_dec = nullptr;
    int m_stream = -1;
    AVPacket* m_pkt = nullptr;
    AVFrame* m_frame = nullptr;
    // False from the decoder's asking for a packet until it is handed one (or the end). A new or
    // flushed decoder holds nothing, so neither needs it set.
    bool m_decoderMayHold = true;
    // Motion-JPEG sources (most webcams and many network cameras): TurboJPEG decodes their
    // pictures straight into the 32-bit frame, a good deal cheaper than FFmpeg's decoder
    // followed by the colour conversion.
    std::unique_ptr<JpegFrameDecoder> m_jpeg;
};
