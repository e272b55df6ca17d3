#pragma once

#include "detection/AlarmPorts.h"
#include "detection/LevelState.h"

#include <QLocale>

#include <cstdint>
#include <string>

// What the classification needs of the windows around it. The capture host implements it.
class AlarmHost {
public:
    virtual ~AlarmHost() = default;
    virtual void startSoundRepeat() = 0; // the 100 ms repeat timer on
    virtual void stopSoundRepeat() = 0;  // the repeat timer stopped
    // Lights the state's lamp and stroke, dims the others; `repaintNow` paints them before the
    // call returns (the alarm actions that follow block the window).
    virtual void showLamps(LevelState state, bool repaintNow) = 0;
    virtual void sDispEnabled(bool enabled) = 0;
    // True while the main window keeps its commands locked for its own reasons (detection
    // stopped, threshold being edited), so an interrupted alarm must not unlock them.
    virtual bool commandsHeldByUser() const = 0;
    virtual void sStartAVI() = 0;
    virtual bool updateMailAccountState() = 0; // answers MailAccountReady
    virtual void sStartMailSend() = 0;
};

class StatusPanels;

struct ClassifyOutcome {
    LevelState state = LevelState::Calm;
    uint32_t stateColor = 0;
};

// Classifies level `L` against threshold `T` and shows the state; an alarm re-primes the
// detector, starts the warning sound, shows the alarm on the panels and lamps, and runs the
// actions with the commands locked. An exception from the actions still propagates (the tick
// ends on it), but the commands are unlocked again first so the window is not left dead.
ClassifyOutcome ClassifyAndShow(int32_t L, int T, const std::string& soundPath, AlarmHost& host,
                                AlarmSound& sound, const Clock& clock, StatusPanels& panels,
                                bool& skipNextCompare);

// "最終警報: YYYY/MM/DD hh:mm", the date's fields joined by the separator of the default
// locale's short date ("2026.01.02" where dates are written 02.01.26).
std::string LastAlarmText(const QDateTime& time);

// The separator between the fields of `locale`'s short date format: "/" for "yyyy/MM/dd",
// "." for "dd.MM.yy", "-" for "dd-MM-y". "/" when the format has none that can stand between
// numbers (a format such as "d MMM yyyy" that separates its fields by spaces or words).
std::string DateSeparator(const QLocale& locale);
