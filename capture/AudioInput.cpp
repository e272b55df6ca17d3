#include "capture/AudioInput.h"

#include "capture/FfmpegUtil.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

using namespace capture_detail;

struct AudioInput::Impl {
    Interrupter intr;
    AVFormatContext* in = nullptr;
    AVCodecContext* dec = nullptr;
    SwrContext* swr = nullptr;
    AVChannelLayout outLayout{};
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    bool live = true;

    void release() {
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&dec);
        if (in)
            avformat_close_input(&in);
        swr_free(&swr);
        av_channel_layout_uninit(&outLayout);
        stream = -1;
    }
};

AudioInput::AudioInput() : m_impl(std::make_unique<Impl>()) {}

AudioInput::~AudioInput() {
    close();
}

void AudioInput::close() {
    m_impl->release();
}

bool AudioInput::isOpen() const {
    return m_impl->in != nullptr;
}

void AudioInput::interrupt() {
    m_impl->intr.stop = true;
}

int AudioInput::rate() const {
    return m_impl->dec ? m_impl->dec->sample_rate : 0;
}

int AudioInput::channels() const {
    return m_impl->outLayout.nb_channels;
}

const AVChannelLayout* AudioInput::layout() const {
    return &m_impl->outLayout;
}

bool AudioInput::live() const {
    return m_impl->live;
}

bool AudioInput::open(const std::string& specText) {
    close();
    InitFfmpeg();
    Impl& d = *m_impl;
    d.intr.stop = false;
    const std::string spec = specText.empty() ? "alsa:default" : specText;
    InputSpec in = ParseInputSpec(spec);
    if (!in.format && spec == "alsa:default")
        return false; // no ALSA input compiled in
    d.in = avformat_alloc_context();
    d.in->interrupt_callback = {&Interrupter::callback, &d.intr};
    // Every way out below, the failures included, leaves the deadline disarmed.
    ArmedDeadline deadline(d.intr, 3000);
    if (avformat_open_input(&d.in, in.url.c_str(), in.format, nullptr) < 0) {
        d.in = nullptr;
        return false;
    }
    auto fail = [&] {
        d.release();
        return false;
    };
    if (avformat_find_stream_info(d.in, nullptr) < 0)
        return fail();
    const AVCodec* codec = nullptr;
    d.stream = av_find_best_stream(d.in, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (d.stream < 0 || !codec)
        return fail();
    d.dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(d.dec, d.in->streams[d.stream]->codecpar);
    if (avcodec_open2(d.dec, codec, nullptr) < 0 || d.dec->sample_rate <= 0)
        return fail();
    if (d.dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || d.dec->ch_layout.nb_channels <= 0) {
        int n = std::max(1, d.dec->ch_layout.nb_channels);
        av_channel_layout_uninit(&d.dec->ch_layout);
        av_channel_layout_default(&d.dec->ch_layout, n);
    }
    av_channel_layout_copy(&d.outLayout, &d.dec->ch_layout);
    if (swr_alloc_set_opts2(&d.swr, &d.outLayout, AV_SAMPLE_FMT_S16, d.dec->sample_rate,
                            &d.dec->ch_layout, d.dec->sample_fmt, d.dec->sample_rate, 0,
                            nullptr) < 0 ||
        swr_init(d.swr) < 0)
        return fail();
    d.pkt = av_packet_alloc();
    d.frame = av_frame_alloc();
    d.live = !(in.format && std::string(in.format->name) == "lavfi");
    return true;
}

bool AudioInput::read(std::vector<int16_t>& samples) {
    samples.clear();
    Impl& d = *m_impl;
    if (!d.in || d.intr.stop)
        return false;
    int r = 0;
    {
        ArmedDeadline deadline(d.intr, 2000);
        r = av_read_frame(d.in, d.pkt);
    }
    if (r < 0)
        return false;
    const bool ours = d.pkt->stream_index == d.stream;
    const bool sent = ours && avcodec_send_packet(d.dec, d.pkt) >= 0;
    av_packet_unref(d.pkt);
    if (!sent)
        return true; // another stream's packet, or one the decoder refuses: nothing this time
    const int channels = d.outLayout.nb_channels;
    while (avcodec_receive_frame(d.dec, d.frame) == 0) {
        const int maxOut = swr_get_out_samples(d.swr, d.frame->nb_samples);
        const size_t at = samples.size();
        samples.resize(at + size_t(std::max(maxOut, 0)) * size_t(channels));
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(samples.data() + at)};
        const int got =
            swr_convert(d.swr, out, maxOut, const_cast<const uint8_t**>(d.frame->extended_data),
                        d.frame->nb_samples);
        av_frame_unref(d.frame);
        samples.resize(at + size_t(std::max(got, 0)) * size_t(channels));
    }
    return true;
}
