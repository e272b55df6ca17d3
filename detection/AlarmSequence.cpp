#include "detection/AlarmSequence.h"

#include "settings/StatusPanels.h"

#include <cstdio>

std::string DateSeparator(const QLocale& locale) {
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    auto isField = [](QChar c) { return c == u'd' || c == u'M' || c == u'y'; };
    qsizetype i = 0;
    while (i < format.size() && !isField(format[i]))
        ++i;
    while (i < format.size() && isField(format[i]))
        ++i;
    QString between;
    while (i < format.size() && !isField(format[i]))
        between += format[i++];
    // Spaces only pad the separator ("y. MM. dd."); anything that is not punctuation is text
    // of the format, not a separator.
    between.remove(u' ');
    if (between.isEmpty() || i == format.size())
        return "/";
    for (QChar c : between)
        if (c.isLetterOrNumber() || c == u'\'' || c.isSpace())
            return "/";
    return between.toStdString();
}

std::string LastAlarmText(const QDateTime& time) {
    const QDate d = time.date();
    const QTime t = time.time();
    const std::string sep = DateSeparator(QLocale());
    char year[8], month[4], day[4], clock[8];
    std::snprintf(year, sizeof year, "%04d", d.year());
    std::snprintf(month, sizeof month, "%02d", d.month());
    std::snprintf(day, sizeof day, "%02d", d.day());
    std::snprintf(clock, sizeof clock, "%02d:%02d", t.hour(), t.minute());
    return std::string(kLastAlarmPrefix) + year + sep + month + sep + day + " " + clock;
}

namespace {
void RunAlarm(const std::string& soundPath, AlarmHost& host, AlarmSound& sound, const Clock& clock,
              StatusPanels& panels, bool& skipNextCompare) {
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
                                AlarmSound& sound, const Clock& clock, StatusPanels& panels,
                                bool& skipNextCompare) {
    ClassifyOutcome out;
    out.state = Classify(L, T);
    out.stateColor = StateColor(out.state);
    if (out.state == LevelState::Alarm) {
        RunAlarm(soundPath, host, sound, clock, panels, skipNextCompare);
        return out;
    }
    sound.close(soundPath);
    host.stopSoundRepeat();
    panels.setText(1, StateText(out.state));
    host.showLamps(out.state, false);
    return out;
}
