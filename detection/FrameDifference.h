#pragma once

#include "detection/Frame.h"

#include <cstdint>
#include <vector>

// Detector state that lives as long as the capture host.
struct DetectorState {
    std::vector<uint8_t> PrevFrame; // bits of the reference frame
    BitmapHeader PrevHeader{};      // all zero until the first frame was kept
    bool FramesReady = false;
};

// Program-wide: when set, the next grabbed frame only becomes the reference. Set by the alarm,
// by threshold editing and by the two video buttons; cleared by the comparison.
inline bool SkipNextCompare = false;

struct CompareResult {
    int32_t ChangeLevel = 0; // 0 when no comparison was made
    bool Compared = false;   // true when DiffFrame holds a fresh difference image
};

// One comparison step of the detection tick: compares `cur` with the reference in `state` when
// the headers match (all fields but the width) and `skipNextCompare` is false, fills `diff`
// with the per-byte absolute differences (zeroed below the bits-per-pixel value when `noise`
// is on), and makes `cur` the new reference whether or not it compared. `cur.bits` may be moved
// from (the reference is a buffer swap, not a copy). Throws std::overflow_error /
// std::domain_error for a frame whose byte count overflows or that has no bytes.
CompareResult CompareFrame(Frame& cur, DetectorState& state, bool& skipNextCompare, int accuracy,
                           bool noise, std::vector<uint8_t>& diff);

// The plain reference implementation the fast one is tested against.
CompareResult CompareFrameReference(Frame& cur, DetectorState& state, bool& skipNextCompare,
                                    int accuracy, bool noise, std::vector<uint8_t>& diff);
