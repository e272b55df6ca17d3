#include "detection/AlarmSequence.h"

#include "AlarmDoubles.h"
#include "settings/StatusPanels.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

class RecordingHost final : public AlarmHost {
public:
    RecordingHost(CallLog& log, StatusPanels& panels) : m_log(log), m_panels(panels) {}
    bool ready = true;
    bool throwInAvi = false;
    bool throwInMail = false;
    bool heldByUser = false;
    std::vector<std::string> panel1AtAvi;
    void startSoundRepeat() override { m_log.add("Timer2 on"); }
    void stopSoundRepeat() override { m_log.add("Timer2 off"); }
    void showLamps(LevelState s, bool repaintNow) override {
        m_log.add("lamps " + std::to_string(StateLamp(s)) + (repaintNow ? " repaint" : ""));
    }
    void sDispEnabled(bool e) override {
        m_log.add(e ? "sDispEnabled(true)" : "sDispEnabled(false)");
    }
    bool commandsHeldByUser() const override { return heldByUser; }
    void sStartAVI() override {
        m_log.add("sStartAVI");
        panel1AtAvi.push_back(m_panels.text(1));
        if (throwInAvi)
            throw std::runtime_error("recording failed");
    }
    bool updateMailAccountState() override {
        m_log.add("UpdateMailAccountState");
        return ready;
    }
    void sStartMailSend() override {
        m_log.add("sStartMailSend");
        if (throwInMail)
            throw std::runtime_error("mail failed");
    }

private:
    CallLog& m_log;
    StatusPanels& m_panels;
};

class AlarmSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The last alarm's date separator follows the locale; these tests read slashes.
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    }
    CallLog log;
    StatusPanels panels;
    RecordingHost host{log, panels};
    RecordingSound sound{log};
    FixedClock clock;
    bool skip = false;
};

TEST_F(AlarmSequenceTest, AlarmRunsItsStepsInOrder) {
    ClassifyOutcome out = ClassifyAndShow(101, 100, "/s/a.oga", host, sound, clock, panels, skip);
    EXPECT_EQ(out.state, LevelState::Alarm);
    EXPECT_EQ(out.stateColor, 255u);
    EXPECT_TRUE(skip);
    const std::vector<std::string> expected = {"SoundPlay /s/a.oga", "Timer2 on",
                                               "lamps 2 repaint",    "sDispEnabled(false)",
                                               "sStartAVI",          "UpdateMailAccountState",
                                               "sStartMailSend",     "sDispEnabled(true)"};
    EXPECT_EQ(log.calls, expected);
    // The present-tense text and the time are up before the long actions start.
    ASSERT_EQ(host.panel1AtAvi.size(), 1u);
    EXPECT_EQ(host.panel1AtAvi[0], "Pawlinex: 警報！ 誰かいるワン！!");
    EXPECT_EQ(panels.text(2), "最終警報: 2007/10/09 04:26");
    EXPECT_EQ(panels.text(1), "Pawlinex: 警報！ 誰かいたワン！!");
}

TEST_F(AlarmSequenceTest, AlarmWithoutSoundOrAccountSkipsOnlyThose) {
    host.ready = false;
    ClassifyAndShow(2, 1, "", host, sound, clock, panels, skip);
    const std::vector<std::string> expected = {"lamps 2 repaint", "sDispEnabled(false)",
                                               "sStartAVI", "UpdateMailAccountState",
                                               "sDispEnabled(true)"};
    EXPECT_EQ(log.calls, expected);
    EXPECT_EQ(panels.text(1), "Pawlinex: 警報！ 誰かいたワン！!");
}

TEST_F(AlarmSequenceTest, CalmStatesCloseTheSoundAndStopTheRepeat) {
    const std::pair<int32_t, LevelState> cases[] = {
        {0, LevelState::Calm}, {85, LevelState::Doubt}, {100, LevelState::Suspect}};
    for (const auto& [L, state] : cases) {
        log.calls.clear();
        panels.setText(2, "最終警報: 2007/10/09 04:26");
        ClassifyOutcome out = ClassifyAndShow(L, 100, "", host, sound, clock, panels, skip);
        EXPECT_EQ(out.state, state);
        EXPECT_EQ(out.stateColor, StateColor(state));
        // The close goes out even with no sound configured.
        const std::vector<std::string> expected = {"SoundClose ", "Timer2 off",
                                                   "lamps " + std::to_string(StateLamp(state))};
        EXPECT_EQ(log.calls, expected);
        EXPECT_EQ(panels.text(1), StateText(state));
        EXPECT_EQ(panels.text(2), "最終警報: 2007/10/09 04:26");
        EXPECT_FALSE(skip);
    }
}

// An action that fails must not leave the main window's commands locked for the rest of the
// run; the failure still ends the tick, and the final text is not written.
TEST_F(AlarmSequenceTest, FailingActionUnlocksTheCommands) {
    for (int where = 0; where < 2; ++where) {
        log.calls.clear();
        panels.reset();
        host.throwInAvi = where == 0;
        host.throwInMail = where == 1;
        EXPECT_THROW(ClassifyAndShow(500, 100, "", host, sound, clock, panels, skip),
                     std::runtime_error);
        ASSERT_FALSE(log.calls.empty());
        EXPECT_EQ(log.calls.back(), "sDispEnabled(true)");
        EXPECT_TRUE(skip) << "the next tick must re-prime";
        EXPECT_EQ(panels.text(1), "Pawlinex: 警報！ 誰かいるワン！!");
    }
}

// When the user's own stop or threshold edit holds the commands, the failure leaves them so.
TEST_F(AlarmSequenceTest, FailingActionLeavesUserLockAlone) {
    host.throwInAvi = true;
    host.heldByUser = true;
    EXPECT_THROW(ClassifyAndShow(500, 100, "", host, sound, clock, panels, skip),
                 std::runtime_error);
    EXPECT_FALSE(log.has("sDispEnabled(true)"));
}

// Year first with four digits and a 24-hour clock in every locale; only the separator between
// the date's fields follows the locale's short date.
TEST(LastAlarmText, LocaleDateSeparatorAnd24Hours) {
    struct Case {
        const char* locale;
        const char* text;
    };
    const Case cases[] = {
        {"ja_JP", "最終警報: 2026/01/02 23:05"}, {"de_DE", "最終警報: 2026.01.02 23:05"},
        {"nl_NL", "最終警報: 2026-01-02 23:05"}, {"en_US", "最終警報: 2026/01/02 23:05"},
        {"ko_KR", "最終警報: 2026.01.02 23:05"}, {"C", "最終警報: 2026/01/02 23:05"},
    };
    const QLocale saved;
    for (const Case& c : cases) {
        QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(LastAlarmText(QDateTime(QDate(2026, 1, 2), QTime(23, 5, 59))), c.text)
            << c.locale << " " << QLocale().dateFormat(QLocale::ShortFormat).toStdString();
    }
    QLocale::setDefault(saved);
}

} // namespace
