#pragma once

#include <cstdint>
#include <string>

// Writes a 16-bit PCM WAV file holding a 440 Hz tone: `seconds` long at `rate` samples a second,
// the same samples in each of `channels` channels. For the sound tests and the sound bench.
void WriteToneWav(const std::string& path, double seconds, uint32_t rate, uint16_t channels);
