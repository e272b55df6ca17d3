#pragma once

#include "detection/Frame.h"

#include <utility>

// Where the detection tick gets its frame: the capture window in the program, a scripted or
// engine-fed source in tests. The calls come in this order every tick: grabFrame, editCopy,
// previewOn, then takeSharedFrame only when editCopy said a frame is ready. User-interface
// thread.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual bool grabFrame() = 0;         // take the latest frame into the grab slot
    virtual bool editCopy() = 0;          // true when a grabbed frame is ready
    virtual void previewOn() = 0;         // resume the live preview
    virtual bool takeFrame(Frame& f) = 0; // move the grabbed frame out
    // The grabbed frame without a copy. A source that hands out frames of its own buffers only
    // needs takeFrame: its buffer is moved into a shared one.
    virtual bool takeSharedFrame(SharedFrame& f) {
        Frame own;
        if (!takeFrame(own))
            return false;
        f.header = own.header;
        f.bits = std::make_shared<FrameBytes>(std::move(own.bits));
        return true;
    }
};
