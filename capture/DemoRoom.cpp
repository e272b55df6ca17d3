#include "capture/DemoRoom.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct Rgb {
    int r, g, b;
};

void fillRect(uint8_t* img, int x0, int y0, int x1, int y1, Rgb c) {
    x0 = std::clamp(x0, 0, DemoRoom::kWidth);
    x1 = std::clamp(x1, 0, DemoRoom::kWidth);
    y0 = std::clamp(y0, 0, DemoRoom::kHeight);
    y1 = std::clamp(y1, 0, DemoRoom::kHeight);
    for (int y = y0; y < y1; ++y) {
        uint8_t* p = img + (static_cast<size_t>(y) * DemoRoom::kWidth + x0) * 4;
        for (int x = x0; x < x1; ++x, p += 4) {
            p[0] = static_cast<uint8_t>(c.b);
            p[1] = static_cast<uint8_t>(c.g);
            p[2] = static_cast<uint8_t>(c.r);
            p[3] = 0;
        }
    }
}

void fillEllipse(uint8_t* img, int cx, int cy, int rx, int ry, Rgb c) {
    for (int y = cy - ry; y <= cy + ry; ++y) {
        if (y < 0 || y >= DemoRoom::kHeight)
            continue;
        double dy = static_cast<double>(y - cy) / ry;
        int half = static_cast<int>(rx * std::sqrt(std::max(0.0, 1.0 - dy * dy)));
        fillRect(img, cx - half, y, cx + half + 1, y + 1, c);
    }
}

uint8_t clampByte(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

DemoRoom::DemoRoom(uint64_t seed)
    : m_state(seed * 0x9E3779B97F4A7C15ull + 1), m_noiseState(seed ^ 0xA5A5A5A5DEADBEEFull) {
    // The background keeps a margin of at least 8 from 0 and 255 on every channel so that the
    // noise added on top is never clipped (clipping would skew it into a visible drift).
    m_background.assign(static_cast<size_t>(kWidth) * kHeight * 4, 0);
    uint8_t* bg = m_background.data();
    for (int y = 0; y < kHeight; ++y) {
        // Wall with a soft vertical light gradient, floor below the skirting.
        Rgb c = y < 340 ? Rgb{214 - y / 12, 204 - y / 12, 178 - y / 14}
                        : Rgb{128 - (y - 340) / 8, 92 - (y - 340) / 10, 62 - (y - 340) / 12};
        fillRect(bg, 0, y, kWidth, y + 1, c);
    }
    fillRect(bg, 0, 334, kWidth, 342, {90, 70, 52});  // skirting board
    fillRect(bg, 420, 60, 600, 220, {236, 236, 230}); // window frame
    fillRect(bg, 430, 70, 505, 210, {150, 190, 232}); // window panes (sky)
    fillRect(bg, 515, 70, 590, 210, {150, 190, 232});
    fillRect(bg, 60, 90, 180, 170, {120, 60, 40});    // picture frame
    fillRect(bg, 68, 98, 172, 162, {80, 140, 96});    // the picture
    fillRect(bg, 230, 280, 390, 300, {150, 100, 58}); // table top
    fillRect(bg, 240, 300, 252, 380, {120, 80, 46});  // table legs
    fillRect(bg, 368, 300, 380, 380, {120, 80, 46});
    fillRect(bg, 290, 250, 320, 280, {40, 96, 160});  // a mug on the table
    fillEllipse(bg, 330, 400, 70, 14, {160, 40, 40}); // rug
}

uint64_t DemoRoom::next() {
    // splitmix64: cheap, and reproducible across platforms for the schedule.
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void DemoRoom::extendSchedule(double until) {
    while (m_crossings.empty() || m_crossings.back().start <= until) {
        double gap = 10.0 + static_cast<double>(next() % 10001) / 1000.0; // 10..20 s
        // The first walk comes a little sooner so a new user does not stare at an empty room.
        double start = m_crossings.empty() ? 5.0 : m_crossings.back().start + gap;
        m_crossings.push_back({start, start + kWalkSeconds});
    }
}

DemoRoom::Crossing DemoRoom::crossingAt(double seconds) {
    extendSchedule(seconds);
    for (auto& c : m_crossings)
        if (c.end > seconds)
            return c;
    return m_crossings.back();
}

bool DemoRoom::figureLeft(double seconds, int& left) {
    Crossing c = crossingAt(seconds);
    if (seconds < c.start || seconds >= c.end)
        return false;
    double f = (seconds - c.start) / (c.end - c.start);
    left = static_cast<int>(-kFigureWidth + f * (kWidth + kFigureWidth));
    return true;
}

void DemoRoom::render(double seconds, std::vector<uint8_t>& bgrx) {
    bgrx.resize(m_background.size());
    render(seconds, bgrx.data());
}

void DemoRoom::render(double seconds, uint8_t* bgrx) {
    std::memcpy(bgrx, m_background.data(), m_background.size());
    int left = 0;
    if (figureLeft(seconds, left)) {
        // A dark-coated figure: head, body, legs. Dark against the light wall so every channel
        // changes by far more than the noise floor where it passes.
        const int top = 340 + 60 - kFigureHeight;
        const Rgb coat{44, 40, 58};
        const Rgb skin{196, 150, 120};
        fillEllipse(bgrx, left + kFigureWidth / 2, top + 30, 26, 30, skin);
        fillRect(bgrx, left + 10, top + 62, left + kFigureWidth - 10, top + 220, coat);
        fillRect(bgrx, left + 22, top + 220, left + 56, top + kFigureHeight, {30, 30, 40});
        fillRect(bgrx, left + 64, top + 220, left + 98, top + kFigureHeight, {30, 30, 40});
    }
    // Sensor noise: a small symmetric value on each colour channel, fresh every frame. The step
    // between two frames is at most kMaxNoiseStep.
    uint64_t s = m_noiseState;
    uint8_t* p = bgrx;
    const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
    for (size_t i = 0; i < pixels; ++i, p += 4) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        for (int ch = 0; ch < 3; ++ch) {
            unsigned bits = static_cast<unsigned>(s >> (ch * 4));
            int n = static_cast<int>(bits & 3) - static_cast<int>((bits >> 2) & 3); // -3..3
            p[ch] = clampByte(p[ch] + n);
        }
        p[3] = 0;
    }
    m_noiseState = s;
}
