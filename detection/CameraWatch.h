#pragma once

#include <cstdint>
#include <functional>

// Whether the camera still delivers, judged once per detection tick. A camera that stops
// sending pictures must not leave the window saying all is well while nothing is watched:
// after kLostAfterMs without a new frame the camera counts as lost; after kMailAfterMs the
// recipients are told once, and told again when pictures return. However often a camera comes
// and goes, at most one such pair of mails goes out per kMailPairEveryMs.
//
// Pure bookkeeping over the times it is given (milliseconds on any clock that does not jump
// with time zones, such as milliseconds since the epoch); the caller shows and sends.
class CameraWatch {
public:
    static constexpr int64_t kLostAfterMs = 5'000;
    static constexpr int64_t kMailAfterMs = 60'000;
    static constexpr int64_t kMailPairEveryMs = 600'000;

    struct Step {
        bool lostNow = false;  // the camera has just been found lost
        bool backNow = false;  // pictures came back after a loss
        bool mailLost = false; // send the loss mails now
        bool mailBack = false; // send the return mails now (only after a loss mail)

        bool operator==(const Step&) const = default;
    };

    // One tick of running detection at `nowMs`, with or without a new frame. `mailReady` is
    // asked only when a loss mail is due, and answers whether a mail account is set up.
    Step tick(int64_t nowMs, bool newFrame, const std::function<bool()>& mailReady);

    // Detection paused (stopped, a dialog open): the silence counted so far is forgotten, since
    // nobody looked for frames meanwhile. A loss already shown stays until frames return.
    void pause() { m_haveBase = false; }

    bool lost() const { return m_lost; }

private:
    bool m_haveBase = false;
    int64_t m_lastFrameMs = 0; // last new frame, or the start of watching
    bool m_lost = false;
    bool m_lostMailed = false; // the loss mail of the current loss went out
    bool m_everMailed = false;
    int64_t m_lastMailMs = 0; // when the last loss mail went out
};
