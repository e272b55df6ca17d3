// The automatic mail dialog: showing a trigger, the destination check, and what Update and OK
// store and save.

#include "mail/MailAddressList.h"
#include "mail/MailWidgetTest.h"
#include "mail/frmMailSend_Set.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

namespace {

MailTrigger trigger(const char* to, bool enabled, int16_t grp, int16_t size, int16_t arc) {
    MailTrigger t;
    t.Enabled = enabled;
    t.MailTo = to;
    t.Subject = std::string("subject ") + to;
    t.Body = "line 1\nline 2";
    t.Grp = grp;
    t.MinSize = size;
    t.Arc = arc;
    t.Files = "old-files";
    return t;
}

} // namespace

class frmMailSend_SetTest : public MailWidgetTest {
protected:
    void SetUp() override {
        MailWidgetTest::SetUp();
        AppSettings.Trg[0] = trigger("a@x.jp", true, 1, 1, 80);
        AppSettings.Trg[1] = trigger("b@x.jp", false, 0, 5, 0); // size out of range, no quality
        AppSettings.Trg[2] = trigger("c@x.jp", false, 1, 2, 100);
        AppSettings.Trg[3] = trigger("", false, 0, -1, 1);
    }
};

TEST_F(frmMailSend_SetTest, ShowingEachTrigger) {
    frmMailSend_Set d(boxes);
    EXPECT_EQ(d.windowTitle().toStdString(), "自動ﾒｰﾙ設定");
    struct Expect {
        bool enabled;
        const char* to;
        bool grp;
        int size;
        int arc;
    };
    const Expect expect[] = {
        {true, "a@x.jp", true, 1, 80},
        {false, "b@x.jp", false, 0, 50}, // MINSIZE 5 shows 640x480; ARC 0 shows 50
        {false, "c@x.jp", true, 2, 100},
        {false, "", false, 0, 1},
    };
    // Trigger A is shown on opening, the others through their buttons.
    for (int i : {0, 1, 2, 3, 0}) {
        SCOPED_TRACE(i);
        if (i != 0 || d.CurrentTrigger != 0)
            d.optTRG[i]->click();
        EXPECT_EQ(d.CurrentTrigger, i);
        EXPECT_EQ(d.ckEnabled->isChecked(), expect[i].enabled);
        EXPECT_EQ(d.txtMail->text().toStdString(), expect[i].to);
        EXPECT_EQ(d.txtSubject->text().toStdString(), std::string("subject ") + expect[i].to);
        EXPECT_EQ(d.txtBody->toPlainText(), "line 1\nline 2");
        EXPECT_EQ(d.chkGrp->isChecked(), expect[i].grp);
        EXPECT_TRUE(d.optSize[expect[i].size]->isChecked());
        EXPECT_EQ(d.SliderArc->value(), expect[i].arc);
        // The picture options stay usable whether or not a picture is attached.
        EXPECT_TRUE(d.optSize[0]->isEnabled());
        EXPECT_TRUE(d.SliderArc->isEnabled());
    }
}

TEST_F(frmMailSend_SetTest, EnabledTriggerNeedsADestination) {
    frmMailSend_Set d(boxes);
    d.optTRG[3]->click();
    d.ckEnabled->setChecked(true);
    d.txtMail->setText("   ");
    for (QPushButton* b : {d.bcmdReF, d.bcmdOK}) {
        boxes.shown.clear();
        b->click();
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "宛先を入力して下さい。");
        EXPECT_EQ(boxes.shown[0].title, "自動ﾒｰﾙ設定");
        EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Critical);
        EXPECT_NE(d.result(), QDialog::Accepted);
        EXPECT_FALSE(AppSettings.Trg[3].Enabled);
    }
    EXPECT_EQ(reloaded().Trg[3].MailTo, ""); // nothing saved

    // A destination an alarm could not send to is refused the same way (the cases are in
    // test_MailTriggerForm).
    boxes.shown.clear();
    d.txtMail->setText("a@x.jp>NOTIFY=NEVER");
    d.bcmdOK->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              RecipientProblemMessage(ParseAddressList("a@x.jp>NOTIFY=NEVER")));
    EXPECT_EQ(boxes.shown[0].title, "自動ﾒｰﾙ設定");
    EXPECT_FALSE(AppSettings.Trg[3].Enabled);
    d.txtMail->setText(QString::fromUtf8("\"Sato, Hanako\" <h@x.jp>、a@x.jp"));
    d.bcmdReF->click();
    EXPECT_TRUE(AppSettings.Trg[3].Enabled);
    EXPECT_EQ(AppSettings.Trg[3].MailTo, "\"Sato, Hanako\" <h@x.jp>、a@x.jp");

    // Off, the same empty destination is stored.
    boxes.shown.clear();
    d.txtMail->setText("   ");
    d.ckEnabled->setChecked(false);
    d.bcmdReF->click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(AppSettings.Trg[3].Enabled);
    EXPECT_EQ(AppSettings.Trg[3].MailTo, "");
}

TEST_F(frmMailSend_SetTest, UpdateStoresTheShownTriggerAndSavesTheFile) {
    frmMailSend_Set d(boxes);
    d.optTRG[2]->click();
    d.ckEnabled->setChecked(true);
    d.txtMail->setText("  new@x.jp, other@x.jp ");
    d.txtSubject->setText(" 件名 ");
    d.txtBody->setPlainText("  本文\n  二行目  ");
    d.chkGrp->setChecked(false);
    d.optSize[1]->setChecked(true);
    d.SliderArc->setValue(7);
    d.bcmdReF->click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(d.isVisible() || d.result() != QDialog::Accepted); // stays open
    const MailTrigger& t = AppSettings.Trg[2];
    EXPECT_TRUE(t.Enabled);
    EXPECT_EQ(t.MailTo, "new@x.jp, other@x.jp");
    EXPECT_EQ(t.Subject, "件名");
    EXPECT_EQ(t.Body, "本文\n  二行目"); // outer blanks only; inner breaks stay
    EXPECT_EQ(t.Grp, 0);
    EXPECT_EQ(t.MinSize, 1);
    EXPECT_EQ(t.Arc, 7);
    EXPECT_EQ(t.Files, "old-files"); // Update leaves FILES alone
    // Other triggers untouched, and the whole record is on disk.
    EXPECT_EQ(AppSettings.Trg[0].MailTo, "a@x.jp");
    const AppSettingsRecord disk = reloaded();
    EXPECT_EQ(disk.Trg[2].MailTo, "new@x.jp, other@x.jp");
    EXPECT_EQ(disk.Trg[2].Arc, 7);
    EXPECT_EQ(disk.Trg[0].MailTo, "a@x.jp");

    // A later Cancel keeps what Update stored.
    d.txtMail->setText("dropped@x.jp");
    d.bcmdCancel->click();
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(AppSettings.Trg[2].MailTo, "new@x.jp, other@x.jp");
}

TEST_F(frmMailSend_SetTest, SwitchingTriggersDropsUnstoredEdits) {
    frmMailSend_Set d(boxes);
    d.txtMail->setText("edited@x.jp");
    d.SliderArc->setValue(3);
    d.optTRG[1]->click();
    d.optTRG[0]->click();
    EXPECT_EQ(d.txtMail->text(), "a@x.jp");
    EXPECT_EQ(d.SliderArc->value(), 80);
    EXPECT_EQ(AppSettings.Trg[0].MailTo, "a@x.jp");
}

TEST_F(frmMailSend_SetTest, OkStoresEmptiesFilesOfTheShownTriggerOnlyAndCloses) {
    frmMailSend_Set d(boxes);
    d.show();
    d.optTRG[1]->click();
    d.bcmdOK->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(AppSettings.Trg[1].Files, "");
    EXPECT_EQ(AppSettings.Trg[1].MinSize, 0); // the out-of-range size is stored back as 0
    EXPECT_EQ(AppSettings.Trg[1].Arc, 50);
    for (int i : {0, 2, 3})
        EXPECT_EQ(AppSettings.Trg[i].Files, "old-files") << i;
    EXPECT_EQ(reloaded().Trg[1].MinSize, 0);
}
