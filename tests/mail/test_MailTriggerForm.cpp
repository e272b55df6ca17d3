// The automatic mail dialog's decision for one trigger: when a destination is refused, and what
// Update and OK store.

#include "mail/MailAddressList.h"
#include "mail/MailTriggerForm.h"
#include "settings/basCommon.h"

#include <gtest/gtest.h>

TEST(MailTriggerForm, EnabledTriggerNeedsADestinationAnAlarmCanSendTo) {
    struct Row {
        bool enabled;
        const char* mailTo;
        std::string message; // empty: stored
        bool focus;
    };
    const auto refused = [](const char* to) {
        return RecipientProblemMessage(ParseAddressList(to));
    };
    const Row rows[] = {
        {true, "   ", "宛先を入力して下さい。", false},
        {true, "", "宛先を入力して下さい。", false},
        {true, "Taro Yamada taro@x.jp", refused("Taro Yamada taro@x.jp"), true},
        {true, "a@x.jp>NOTIFY=NEVER", refused("a@x.jp>NOTIFY=NEVER"), true},
        {true, "\"Sato, Hanako\"", refused("\"Sato, Hanako\""), true},
        {true, "\"Sato, Hanako\" <h@x.jp>、a@x.jp", "", false},
        // Off, nothing is checked: an empty or unusable destination is stored as it stands.
        {false, "   ", "", false},
        {false, "Taro Yamada taro@x.jp", "", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mailTo);
        MailTriggerInput in;
        in.enabled = r.enabled;
        in.mailTo = r.mailTo;
        const MailTriggerOutcome out = CheckMailTriggerInput(in, MailTrigger{}, false);
        EXPECT_EQ(out.message, r.message);
        EXPECT_EQ(out.focusMailTo, r.focus);
        if (r.message.empty()) {
            EXPECT_EQ(out.trigger.Enabled, r.enabled);
            EXPECT_EQ(out.trigger.MailTo, TrimSpaces(r.mailTo));
        }
    }
}

TEST(MailTriggerForm, StoresTrimmedTextsAndKeepsFilesUntilOk) {
    MailTrigger stored;
    stored.MailTo = "old@x.jp";
    stored.Files = "old-files";
    MailTriggerInput in;
    in.enabled = true;
    in.mailTo = "  new@x.jp, other@x.jp ";
    in.subject = " 件名 ";
    in.body = "  本文\n  二行目  ";
    in.attachPicture = true;
    in.size = 2;
    in.quality = 7;
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing);
        const MailTriggerOutcome out = CheckMailTriggerInput(in, stored, closing);
        ASSERT_EQ(out.message, "");
        const MailTrigger& t = out.trigger;
        EXPECT_TRUE(t.Enabled);
        EXPECT_EQ(t.MailTo, "new@x.jp, other@x.jp");
        EXPECT_EQ(t.Subject, "件名");
        EXPECT_EQ(t.Body, "本文\n  二行目"); // outer blanks only; inner breaks stay
        EXPECT_EQ(t.Grp, 1);
        EXPECT_EQ(t.MinSize, 2);
        EXPECT_EQ(t.Arc, 7);
        EXPECT_EQ(t.Files, closing ? "" : "old-files");
    }
}
