// When a silent camera counts as lost, when its mails go out, and how often.
#include "detection/CameraWatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Tick {
    double atSeconds;
    bool frame;
    const char* expect; // "" or any of "lost", "back", "mail-lost", "mail-back", joined by '+'
    bool accountReady = true;
};

std::string Describe(const CameraWatch::Step& s) {
    std::string out;
    auto add = [&](bool on, const char* name) {
        if (on)
            out += (out.empty() ? "" : "+") + std::string(name);
    };
    add(s.lostNow, "lost");
    add(s.mailLost, "mail-lost");
    add(s.backNow, "back");
    add(s.mailBack, "mail-back");
    return out;
}

struct Scenario {
    const char* name;
    std::vector<Tick> ticks;
    std::vector<double> pausesBefore = {}; // a pause just before the tick at these times
};

const Scenario kScenarios[] = {
    {"steady frames never count as lost", {{0, true, ""}, {30, true, ""}, {300, true, ""}}},
    {"lost at five seconds of silence, not before",
     {{0, true, ""}, {4.9, false, ""}, {5, false, "lost"}, {6, false, ""}}},
    {"silence from the very start counts from the first tick",
     {{100, false, ""}, {104, false, ""}, {105, false, "lost"}}},
    {"a short gap returns without anything to report",
     {{0, true, ""}, {3, false, ""}, {4, true, ""}, {8, false, ""}}},
    {"a loss mail after sixty seconds, the return mail with the first frame",
     {{0, true, ""},
      {5, false, "lost"},
      {59.9, false, ""},
      {60, false, "mail-lost"},
      {61, false, ""},
      {70, true, "back+mail-back"},
      {71, true, ""}}},
    {"a loss shorter than sixty seconds comes back without mails",
     {{0, true, ""}, {5, false, "lost"}, {30, true, "back"}}},
    {"no account: no loss mail and so no return mail",
     {{0, true, ""}, {5, false, "lost"}, {60, false, "", false}, {70, true, "back"}}},
    {"an account set up during the loss mails then",
     {{0, true, ""}, {5, false, "lost"}, {60, false, "", false}, {90, false, "mail-lost"}}},
    {"one pair per ten minutes however often the camera flaps",
     {{0, true, ""},
      {5, false, "lost"},
      {60, false, "mail-lost"},
      {61, true, "back+mail-back"},
      {66, false, "lost"},
      {121, false, ""}, // a loss within ten minutes of the last mail stays unmailed
      {200, true, "back"},
      {205, false, "lost"},
      {659.9, false, ""},
      {660, false, "mail-lost"},
      {661, true, "back+mail-back"}}},
    {"a pause forgets the silence counted before it",
     {{0, true, ""}, {4, false, ""}, {8, false, ""}, {12, false, ""}, {13, false, "lost"}},
     {8}},
    {"a clock set back starts counting again",
     {{1000, true, ""}, {900, false, ""}, {904, false, ""}, {905, false, "lost"}}},
};

} // namespace

TEST(CameraWatch, ScenariosTickByTick) {
    for (const Scenario& sc : kScenarios) {
        SCOPED_TRACE(sc.name);
        CameraWatch watch;
        for (const Tick& t : sc.ticks) {
            for (double p : sc.pausesBefore)
                if (p == t.atSeconds)
                    watch.pause();
            const CameraWatch::Step step = watch.tick(static_cast<int64_t>(t.atSeconds * 1000),
                                                      t.frame, [&] { return t.accountReady; });
            EXPECT_EQ(Describe(step), t.expect) << "at " << t.atSeconds << " s";
            if (t.frame) {
                EXPECT_FALSE(watch.lost()) << "at " << t.atSeconds << " s";
            }
        }
    }
}

// The account is looked at only when a loss mail is really due, not on every silent tick.
TEST(CameraWatch, AsksForTheAccountOnlyWhenAMailIsDue) {
    CameraWatch watch;
    int asked = 0;
    auto ready = [&] {
        ++asked;
        return true;
    };
    watch.tick(0, true, ready);
    for (int s = 1; s < 60; ++s)
        watch.tick(s * 1000, false, ready);
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(watch.tick(60'000, false, ready).mailLost);
    watch.tick(61'000, false, ready);
    EXPECT_EQ(asked, 1);
}
