#pragma once

#include "capture/PreAlarmRing.h"

#include <atomic>
#include <memory>
#include <string>

class CaptureEngine;

// Records a clip from a running CaptureEngine into an AVI file: MJPEG video at the requested
// frame period and, when asked, PCM s16le sound from an FFmpeg audio input. The frames come
// from the engine's latest frame, never from a second opening of the camera (a V4L2 device
// streams to one opener only).
//
// Lifetime: start() opens the file and returns at once; a worker thread records until the limit
// or stop(). The file is finished properly (index and trailer written) whichever way the
// recording ends, including destruction of the recorder. A write error (a full disk) ends the
// recording at once: the pictures already written stay as a playable file; a clip that holds no
// picture at all is removed when it is finished.

struct AviRecorderSettings {
    std::string path;
    uint32_t microSecPerFrame = 33333;
    bool limitEnabled = true;
    uint32_t limitSeconds = 5;
    bool audio = false;
    // "fmt:url" (e.g. "lavfi:sine=frequency=440", "alsa:default", "pulse:default"); empty means
    // the default input (ALSA "default").
    std::string audioSource;
    int quality = 85; // JPEG quality 1..100
    // Seconds before the start, written first at the clip's rate: each slot shows the latest
    // picture taken by then (a picture held over several slots is repeated the AVI way, by empty
    // chunks), a picture of the clip's size goes in as it is, any other is scaled and encoded
    // again. The sound of that span is the snapshot's sound where it has the format of the input,
    // silence elsewhere, so the sound stays in step with the picture. The limit counts from the
    // end of this span, so the clip is these seconds plus the limit.
    PreAlarmRing::Snapshot preAlarm;
};

class AviRecorder {
public:
    explicit AviRecorder(const CaptureEngine& engine);
    ~AviRecorder();
    AviRecorder(const AviRecorder&) = delete;
    AviRecorder& operator=(const AviRecorder&) = delete;

    // Opens the output and starts recording. False when nothing could be started: no frame
    // from the camera, or the file cannot be created or its header not written (a missing
    // folder, a full disk); then no file is left behind. An audio input that cannot be opened only
    // drops the sound.
    bool start(const AviRecorderSettings& settings);
    // Asks the recording to end early; returns at once.
    void stop();
    // Waits for the worker and finishes the file. Safe to call more than once.
    void finish();
    bool running() const;

    // Seconds recorded after the start (the seconds before it not counted).
    double elapsedSeconds() const;
    bool hasAudio() const;
    // Pictures that reached the file.
    int framesWritten() const;

    struct Impl;

private:
    const CaptureEngine& m_engine;
    std::unique_ptr<Impl> m_impl;
};

// JPEG quality 1..100 as the MJPEG encoder's quantiser scale (2 = best .. 31 = smallest).
int QualityToQscale(int quality);
