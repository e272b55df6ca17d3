#pragma once

#include <cstdint>
#include <vector>

// The built-in synthetic camera for people without one: a still room with light sensor noise, in
// which a dark figure walks across the picture every 10 to 20 seconds. Rendering is a pure
// function of the time since the camera started (plus the seed), so the same seed replays the
// same evening in a test without waiting for it.
class DemoRoom {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static constexpr double kFrameRate = 15.0;
    // Largest change a pixel channel gets from the noise between two frames. Kept well below 32,
    // the noise floor of a 32-bit frame, so noise removal hides it completely.
    static constexpr int kMaxNoiseStep = 6;

    explicit DemoRoom(uint64_t seed = 0x5eed);

    // Renders the room at `seconds` after start as BGRX rows (4 * kWidth bytes a row, X = 0).
    void render(double seconds, std::vector<uint8_t>& bgrx);
    // The same into kWidth * kHeight * 4 bytes at `bgrx`.
    void render(double seconds, uint8_t* bgrx);

    // Start and end (seconds) of the crossing under way at `seconds`, or of the next one.
    struct Crossing {
        double start;
        double end;
    };
    Crossing crossingAt(double seconds);
    // The figure's left edge in pixels at `seconds`, or no value (false) when the room is empty.
    bool figureLeft(double seconds, int& left);

    static constexpr int kFigureWidth = 120;
    static constexpr int kFigureHeight = 330;
    static constexpr double kWalkSeconds = 4.0;

private:
    void extendSchedule(double until);
    uint64_t next();

    uint64_t m_state;
    uint64_t m_noiseState;
    std::vector<uint8_t> m_background;
    std::vector<Crossing> m_crossings;
};
