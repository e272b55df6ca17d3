#include "detection/AlarmSequence.h"

#include "settings/StatusPanels.h"

#include <cstdio>

std::string LastAlarmText(const QDateTime& time) {
    const QDate d = time.date();
    const QTime t = time.time();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d", d.year(), d.month(), d.day(),
                  t.hour(), t.minute());
    return std::string(kLastAlarmPrefix) + buf;
}

namespace {
void RunAlarm(const std::string& soundPath, AlarmHost& host, AlarmSound& sound, const Clock& clock,
              bool& skipNextCompare) {
    StatusPanels& panels = StatusPanels::instance();
    skipNextCompare = true;
    if (!soundPath.empty()) {
        sound.play(soundPath);
        host.startSoundRepeat();
    }
    panels.setText(1, StateText(LevelState::Alarm));
    panels.setText(2, LastAlarmText(clock.now()));
    host.showLamps(LevelState::Alarm, true);

    host.sDispEnabled(false);
    try {
        host.sStartAVI();
        if (host.updateMailAccountState())
            host.sStartMailSend();
    } catch (...) {
        if (!host.commandsHeldByUser())
            host.sDispEnabled(true);
        throw;
    }
    host.sDispEnabled(true);
    panels.setText(1, kAlarmOverText);
}
} // namespace

ClassifyOutcome ClassifyAndShow(int32_t L, int T, const std::string& soundPath, AlarmHost& host,
                                AlarmSound& sound, const Clock& clock, bool& skipNextCompare) {
    ClassifyOutcome out;
    out.state = Classify(L, T);
    out.stateColor = StateColor(out.state);
    if (out.state == LevelState::Alarm) {
        RunAlarm(soundPath, host, sound, clock, skipNextCompare);
        return out;
    }
    sound.close(soundPath);
    host.stopSoundRepeat();
    StatusPanels::instance().setText(1, StateText(out.state));
    host.showLamps(out.state, false);
    return out;
}
