#include "sound/SoundTexts.h"

std::string SoundPanelText(const std::string& sound) {
    return sound.empty() ? std::string("警告音: なし") : "警告音: " + sound;
}
