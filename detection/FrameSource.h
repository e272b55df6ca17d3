#pragma once

#include "detection/Frame.h"

// Where the detection tick gets its frame: the capture window in the program, a scripted or
// engine-fed source in tests. The calls come in this order every tick: grabFrame, editCopy,
// previewOn, then takeFrame only when editCopy said a frame is ready. User-interface thread.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual bool grabFrame() = 0;         // take the latest frame into the grab slot
    virtual bool editCopy() = 0;          // true when a grabbed frame is ready
    virtual void previewOn() = 0;         // resume the live preview
    virtual bool takeFrame(Frame& f) = 0; // move the grabbed frame out
};
