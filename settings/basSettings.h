#pragma once

#include "settings/AppSettings.h"

#include <string>
#include <vector>

// Path of pawlinex.ini inside the program folder.
std::string SettingsFilePath();

// Fills AppSettings from pawlinex.ini. Returns false when a number key holds text that is not a
// 16-bit number; the keys after it are not read and the file is left untouched. The failing
// section, key and value are available from LastSettingsError() for the one-line message that
// start-up prints before it exits.
bool LoadSettings();
std::string LastSettingsError();

// Writes every key of AppSettings to pawlinex.ini (atomically: temporary file + rename, mode
// 0600). Returns false when the file could not be written; the in-memory settings stay.
bool SaveSettings();

// The password scrambling of the file: every CP932 code (lead byte * 256 + trail byte for a
// double-byte character) minus one, and back.
std::string ScramblePass(const std::string& plain);
std::string UnscramblePass(const std::string& stored);

// The capture sources listed by hand in the optional [SOURCES] section (SOURCE0 .. SOURCE9), in
// key order, empty ones left out. The program reads this section and never writes it.
std::vector<std::string> ReadSourcesSection();
