#pragma once

#include "detection/Frame.h"

#include <cstdint>
#include <vector>

// Detector state that lives as long as the capture host.
struct DetectorState {
    SharedBits PrevFrame;      // bits of the reference frame (null until the first frame)
    BitmapHeader PrevHeader{}; // all zero until the first frame was kept
    bool FramesReady = false;
};

struct CompareResult {
    int32_t ChangeLevel = 0; // 0 when no comparison was made
    bool Compared = false;   // true when DiffFrame holds a fresh difference image
};

// One comparison step of the detection tick: compares `cur` with the reference in `state` when
// the headers match (all fields but the width) and `skipNextCompare` is false, fills `diff`
// with the per-byte absolute differences (zeroed below the bits-per-pixel value when `noise`
// is on), and makes `cur` the new reference whether or not it compared. The reference is the
// shared buffer itself, never a copy. Without a comparison `diff` is shaped like the frame and
// all zero. Throws std::overflow_error for a frame whose byte count does not fit 32 bits or a
// level that does not, std::domain_error for a frame without bytes (no rows or no bytes per
// row), and std::length_error for bits shorter than the header says; the state is then left
// untouched.
CompareResult CompareFrame(const SharedFrame& cur, DetectorState& state, bool& skipNextCompare,
                           int accuracy, bool noise, std::vector<uint8_t>& diff);

// The same for a frame in a buffer of its own: `cur.bits` is moved into the reference, and gets
// the old reference's buffer back when nobody else holds it, ready to be reused.
CompareResult CompareFrame(Frame& cur, DetectorState& state, bool& skipNextCompare, int accuracy,
                           bool noise, std::vector<uint8_t>& diff);

// The plain reference implementation the fast one is tested against.
CompareResult CompareFrameReference(Frame& cur, DetectorState& state, bool& skipNextCompare,
                                    int accuracy, bool noise, std::vector<uint8_t>& diff);
