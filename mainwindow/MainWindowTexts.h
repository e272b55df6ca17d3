#pragma once

#include <cstdint>
#include <string>

// The fixed texts and small decisions of the main window, kept free of widgets so the unit tests
// reach them directly.

// "Pawlinex(Ver 1.1.1)": the program title and the build's version numbers in plain decimal.
std::string ProgramCaption();
// "ﾊﾞｰｼﾞｮﾝ 1.1.1" for the version dialog.
std::string AboutVersionText();

// The threshold confirmed from the text of txtCKData: a text that reads as a number (spaces
// around it allowed, a fraction rounded half to even) gives that number; anything else, empty
// text included, gives 100. 0 stays 0: no range check here.
int16_t ThresholdFromText(const std::string& text);

// Whether a key typed into txtCKData may reach it: digits, backspace (8) and bell (7).
bool ThresholdKeyAccepted(char32_t code);

// Status panel texts.
std::string ResolutionPanelText(uint32_t width, uint32_t height); // "解像度: 320×240"
