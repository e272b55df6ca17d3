#pragma once

#include <string>

// The warning sound as status panel 4 shows it: "警告音: " and the file name, or "警告音: なし"
// when no sound is chosen. The sound dialog and the main window both write that panel.
std::string SoundPanelText(const std::string& sound);
