#pragma once

#include "detection/DetectionMask.h"
#include "detection/Frame.h"

#include <cstdint>
#include <memory>
#include <vector>

struct CellMasks;

// Detector state that lives as long as the capture host.
struct DetectorState {
    SharedBits PrevFrame;      // bits of the reference frame (null until the first frame)
    BitmapHeader PrevHeader{}; // all zero until the first frame was kept
    bool FramesReady = false;
    // The byte masks and spans a detection mask makes for the current frame shape, built again only
    // when the mask, the shape or the light guard's switch changes.
    std::shared_ptr<const CellMasks> Masks;
};

// What a comparison leaves out and what it counts besides the level. The defaults change
// nothing: every byte counts and no pixel is counted.
struct CompareExtras {
    // Bytes of masked cells still get their difference (the scope shows them) but add nothing
    // to the level, which is the mean over the unmasked bytes only, so a threshold means the
    // same with or without a mask. The filler bytes at the end of a row belong to the cell of
    // the row's last pixel.
    DetectionMask mask;
    // Above 0: the share of unmasked pixels that changed, in percent, above which the change is
    // taken for a change of light. A pixel changed when a colour byte's difference survived the
    // noise removal (any difference with noise removal off).
    int lightPercent = 0;
};

struct CompareResult {
    int32_t ChangeLevel = 0;  // 0 when no comparison was made
    bool Compared = false;    // true when DiffFrame holds a fresh difference image
    bool LightChange = false; // more pixels changed than CompareExtras::lightPercent allows
    // The light guard's count, 0 when it is off: unmasked pixels, and the changed ones of them.
    uint64_t WatchedPixels = 0;
    uint64_t ChangedPixels = 0;
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
                           int accuracy, bool noise, std::vector<uint8_t>& diff,
                           const CompareExtras& extras = {});

// The same for a frame in a buffer of its own: `cur.bits` is moved into the reference, and gets
// the old reference's buffer back when nobody else holds it, ready to be reused.
CompareResult CompareFrame(Frame& cur, DetectorState& state, bool& skipNextCompare, int accuracy,
                           bool noise, std::vector<uint8_t>& diff,
                           const CompareExtras& extras = {});

// The plain reference implementation the fast one is tested against.
CompareResult CompareFrameReference(Frame& cur, DetectorState& state, bool& skipNextCompare,
                                    int accuracy, bool noise, std::vector<uint8_t>& diff,
                                    const CompareExtras& extras = {});
