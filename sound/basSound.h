#pragma once

#include <string>

// Warning-sound playback over SDL2_mixer: one device per path text. Never blocks, never
// reports: no audio device, a missing file or an unplayable format simply play nothing.
//
// A device is opened by the first SoundPlay (or SoundRepeat) of its path text and lives until
// SoundClose; two callers that use the same text share it. Like a media player, a device keeps
// its position: SoundPlay on a device that has played to its end leaves it at the end (stopped);
// SoundRepeat is what rewinds it. The audio output itself is opened on first use.
// A file is decoded on a thread of its own, so that even minutes of sound do not hold up the
// caller; its device counts as playing from the first SoundPlay and sounds once decoded. A file
// that turns out not to decode leaves no device behind.
// User-interface thread only.
void SoundPlay(const std::string& path);
void SoundClose(const std::string& path);
// The device's state in upper case ("PLAYING", "STOPPED" once played to its end), or empty
// text when there is no device for the path.
std::string SoundMode(const std::string& path);
// Keeps the sound looping: plays it again from the start once it has stopped.
void SoundRepeat(const std::string& path);

// Closes every device and the audio output, for the end of the program (the output is opened
// again by the next SoundPlay). Waits for files still being decoded.
void SoundCloseAll();
