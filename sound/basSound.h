#pragma once

#include <string>

// Warning-sound playback over SDL2_mixer: one device per path text. Never blocks, never
// reports: no audio device, a missing file or an unplayable format simply play nothing.
void SoundPlay(const std::string& path);
void SoundClose(const std::string& path);
// The device's state in upper case ("PLAYING", "STOPPED" once played to its end), or empty
// text when there is no device for the path.
std::string SoundMode(const std::string& path);
// Keeps the sound looping: plays it again from the start once it has stopped.
void SoundRepeat(const std::string& path);
