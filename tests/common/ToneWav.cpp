#include "common/ToneWav.h"

#include <cmath>
#include <fstream>

namespace {

void put16(std::ofstream& out, uint16_t v) {
    out.put(char(v & 0xFF)).put(char(v >> 8));
}
void put32(std::ofstream& out, uint32_t v) {
    put16(out, uint16_t(v & 0xFFFF));
    put16(out, uint16_t(v >> 16));
}

} // namespace

void WriteToneWav(const std::string& path, double seconds, uint32_t rate, uint16_t channels) {
    const uint32_t frames = uint32_t(seconds * rate);
    const uint16_t frameBytes = uint16_t(2 * channels);
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    put32(out, 36 + frames * frameBytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, channels);
    put32(out, rate);
    put32(out, rate * frameBytes);
    put16(out, frameBytes);
    put16(out, 16);
    out.write("data", 4);
    put32(out, frames * frameBytes);
    for (uint32_t i = 0; i < frames; ++i) {
        const auto s = uint16_t(int16_t(8000 * std::sin(2 * M_PI * 440 * i / rate)));
        for (uint16_t c = 0; c < channels; ++c)
            put16(out, s);
    }
}
