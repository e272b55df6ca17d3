#pragma once

#include "capture/JpegPacketTap.h"
#include "capture/VideoFormatOption.h"
#include "detection/Frame.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One camera: opens a source (a V4L2 device, a network camera, a video file played in a loop at
// its own rate, an FFmpeg lavfi graph, or the built-in demo room), decodes it on its own thread
// and keeps the latest frame as a 32-bit BGRX bitmap. The engine owns that thread and, for each
// source it opens, a FrameProducer (DemoProducer, FfmpegProducer) and the FramePool its frames are
// made in. Nothing outside the engine, its parts and the clip recorder sees FFmpeg.
//
// Thread use: every public function may be called from any thread, but open/close/setFormat are
// meant for one controlling thread (the user-interface thread). latestFrame is cheap and safe
// from the decoding thread's point of view (a copy under a mutex).

class CaptureEngine {
public:
    // How Motion-JPEG pictures are decoded: TurboJPEG straight into the frame, with FFmpeg's
    // decoder taking every picture TurboJPEG cannot; or FFmpeg's decoder alone, the yardstick
    // that tests compare the fast way with.
    enum class JpegDecoding { TurboJpegFirst, FfmpegOnly };
    explicit CaptureEngine(JpegDecoding jpeg = JpegDecoding::TurboJpegFirst);
    ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Opens `spec` and waits for its first frame, giving up after `timeoutMs`. Only when that
    // succeeds is the previous source let go of, so a refused open keeps the old camera. A V4L2
    // device can be opened only once, so reopening the source already running closes it first
    // and, when the reopen fails, brings the old one back.
    // May run on a worker thread while the controlling thread stays free: close() from any
    // thread ends an open in progress promptly (it then returns false and installs nothing).
    bool open(const std::string& spec, int timeoutMs = 5000);
    void close();
    bool isOpen() const;
    std::string spec() const;
    // The device node when the source is a V4L2 device (for its controls), else empty text.
    std::string devicePath() const;

    // Copies the latest frame. False when no source is open or the source has failed and not
    // come back yet. `serial` grows by one with every new frame.
    bool latestFrame(Frame& out, uint64_t* serial = nullptr) const;
    // The same without copying the bits: the buffer is shared and never written again once
    // published (the engine decodes into another one), so readers may keep it as long as they
    // like.
    using FrameBits = SharedBits;
    bool latestShared(BitmapHeader& header, FrameBits& bits, uint64_t* serial = nullptr) const;
    uint64_t frameSerial() const;
    // Size of the frames handed out (0 x 0 when nothing is open).
    void frameSize(int& width, int& height) const;
    // False while a running source is failing (grabs fail, the engine keeps trying to reopen).
    bool sourceHealthy() const;

    // The formats the source offers; the current one is among them.
    std::vector<VideoFormatOption> formats() const;
    VideoFormatOption currentFormat() const;
    // Reconfigures the running source; returns once a frame in the new format is available
    // (false, with the old format kept, when the source refuses it).
    bool setFormat(const VideoFormatOption& format, int timeoutMs = 5000);

    // JPEG quality (1..100) of recorded clips.
    int clipQuality() const { return m_clipQuality.load(); }
    void setClipQuality(int quality);

    // Every Motion-JPEG picture of the camera that decodes cleanly, as it came, for a listener
    // that keeps pictures without encoding them again. Called on the decoding thread; an empty
    // listener ends it, and once this returns the previous listener is not called again.
    void setJpegListener(JpegPacketTap::Listener listener) { m_jpegTap.set(std::move(listener)); }

    // Blocks until a frame newer than `serial` arrives or `timeoutMs` passes.
    bool waitForFrameAfter(uint64_t serial, int timeoutMs) const;

    struct Session; // one opened source: its producer, its buffers and its decoding thread

private:
    friend struct Session;
    // Opens `s` within `timeoutMs`; a close since `generation` was read, or during the open,
    // ends the attempt at once (false).
    bool startSession(Session& s, int timeoutMs, uint64_t generation);
    // Makes `s` (already started) the running source and lets go of the one it replaces, unless
    // the engine was closed since `generation` was read (false; `s` stays with the caller).
    bool install(std::unique_ptr<Session>& s, uint64_t generation);
    void publish(FrameBits bits, int width, int height, Session* from);
    void markFailed(Session* from);

    const JpegDecoding m_jpegDecoding;
    JpegPacketTap m_jpegTap; // outlives every session, which offers to it
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_frameCv;
    std::unique_ptr<Session> m_session;
    std::vector<Session*> m_starting; // sessions being opened, for close() to cut short
    uint64_t m_generation = 0;        // grows with every close()
    Session* m_publisher = nullptr;   // the session whose frames count
    BitmapHeader m_latestHeader;
    FrameBits m_latestBits;
    bool m_latestValid = false;
    uint64_t m_serial = 0;
    std::atomic<int> m_clipQuality{85};
};
