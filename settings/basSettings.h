#pragma once

#include "settings/AppSettings.h"

#include <string>
#include <vector>

// Path of pawlinex.ini inside the program folder.
std::string SettingsFilePath();

// Fills AppSettings from pawlinex.ini. Returns false when the file cannot be read as a whole (not
// a regular file, undecodable text, see ProfileFile) or a number key holds text that is not a
// 16-bit number; the keys after it are not read, the file is left untouched and saves are refused
// until a load succeeds. LastSettingsError() gives the reason in one line (for a number: section,
// key and value) for the message that start-up shows before it exits.
bool LoadSettings();
std::string LastSettingsError();

// Writes every key of AppSettings to pawlinex.ini (atomically: temporary file + rename, mode
// 0600). Returns false, with the reason on standard error and in LastSettingsError(), when the
// file could not or may not be written (read-only, not a regular file, unreadable); the file and
// the in-memory settings then stay as they were.
bool SaveSettings();

// A detection mask as stored in MASK: 48 hexadecimal digits for 16 x 12 cells, row by row from
// the top left, the first cell in the highest bit of the first digit. True when `text` is such a
// mask (digits of either case) and leaves at least one cell unmasked.
constexpr int kMaskColumns = 16;
constexpr int kMaskRows = 12;
bool IsUsableMask(const std::string& text);

// The password scrambling of the file: every CP932 code (lead byte * 256 + trail byte for a
// double-byte character) minus one, and back.
std::string ScramblePass(const std::string& plain);
std::string UnscramblePass(const std::string& stored);

// The capture sources listed by hand in the optional [SOURCES] section (SOURCE0 .. SOURCE9), in
// key order, empty ones left out. The program reads this section and never writes it.
std::vector<std::string> ReadSourcesSection();
