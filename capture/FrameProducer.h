#pragma once

#include "detection/Frame.h"

// A frame as a producer made it: BGRX rows of 4 * width bytes, the fourth byte of every pixel 0,
// in a buffer nobody writes again.
struct ProducedFrame {
    SharedBits bits;
    int width = 0;
    int height = 0;
};

// One kind of camera source behind the capture engine (the demo room, anything FFmpeg opens).
//
// Ownership: the engine makes one producer per source it opens and owns it until that source is
// let go of; the producer keeps whatever it opens until close() or its destruction. It is given,
// when made, the buffer pool its frames come from and the Interrupter that stops it.
//
// Threads: open, next, rewind and close are called by one thread at a time: the thread that
// opens the source calls open and the first next, the engine's decoding thread every call after
// that. setOutputSize and sourceSize may be called from any thread at any time. The engine stops
// a producer from any thread through its Interrupter: every wait in progress (open, read,
// pacing) then ends at once and the call in progress returns failure.
class FrameProducer {
public:
    enum class Result {
        Frame, // a new frame is in `frame`
        End,   // the source has no more pictures (a file or graph at its end): rewind it
        Error, // the source failed or was stopped: close it and open it again later
    };

    virtual ~FrameProducer() = default;

    // Opens the source (again, after a failure) within `timeoutMs`; false when it cannot be
    // opened, and then nothing is left open.
    virtual bool open(int timeoutMs) = 0;
    virtual void close() = 0;
    // Makes the next frame into `frame` (untouched unless the result is Frame), waiting up to
    // `timeoutMs` for the source to deliver a picture. A source that plays at its own rate holds
    // each frame back until it is due, unless `atOnce`: the first frame of an open is wanted as
    // soon as there is one. A damaged picture costs that picture only, never the source.
    virtual Result next(ProducedFrame& frame, int timeoutMs, bool atOnce) = 0;
    // Goes back to the start after End, within `timeoutMs` where it has to open the source again;
    // false when it cannot.
    virtual bool rewind(int timeoutMs) = 0;

    // Frames from the next picture on are made at `width` x `height`; 0 x 0 keeps the source's
    // own size.
    virtual void setOutputSize(int width, int height) = 0;
    // The size of the source's latest picture; 0 x 0 before the first.
    virtual void sourceSize(int& width, int& height) const = 0;
};
