// The automatic mail dialog: showing a trigger, the destination check, and what Update and OK
// store and save. Which destinations are refused is in test_MailTriggerForm.

#include "mail/MailAddressList.h"
#include "mail/MailDialogTest.h"
#include "mail/frmMailSend_Set.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>

using namespace mail_test;

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

// The four stored triggers every test starts from.
struct Fixture : MailDialogFixture {
    Fixture() {
        AppSettings.Trg[0] = trigger("a@x.jp", true, 1, 1, 80);
        AppSettings.Trg[1] = trigger("b@x.jp", false, 0, 5, 0); // size out of range, no quality
        AppSettings.Trg[2] = trigger("c@x.jp", false, 1, 2, 100);
        AppSettings.Trg[3] = trigger("", false, 0, -1, 1);
    }
};

// The dialog's controls, found by their design names.
struct Controls {
    explicit Controls(frmMailSend_Set& d)
        : optTRG{Child<QRadioButton>(d, "optTRG0"), Child<QRadioButton>(d, "optTRG1"),
                 Child<QRadioButton>(d, "optTRG2"), Child<QRadioButton>(d, "optTRG3")},
          ckEnabled(Child<QCheckBox>(d, "ckEnabled")), txtMail(Child<QLineEdit>(d, "txtMail")),
          txtSubject(Child<QLineEdit>(d, "txtSubject")),
          txtBody(Child<QPlainTextEdit>(d, "txtBody")),
          chkGrp(Child<QCheckBox>(d, "chkGrp")), optSize{Child<QRadioButton>(d, "optSize0"),
                                                         Child<QRadioButton>(d, "optSize1"),
                                                         Child<QRadioButton>(d, "optSize2")},
          SliderArc(Child<QSlider>(d, "SliderArc")), bcmdOK(Child<QPushButton>(d, "bcmdOK")),
          bcmdCancel(Child<QPushButton>(d, "bcmdCancel")),
          bcmdReF(Child<QPushButton>(d, "bcmdReF")) {}

    QRadioButton* optTRG[4];
    QCheckBox* ckEnabled;
    QLineEdit* txtMail;
    QLineEdit* txtSubject;
    QPlainTextEdit* txtBody;
    QCheckBox* chkGrp;
    QRadioButton* optSize[3];
    QSlider* SliderArc;
    QPushButton* bcmdOK;
    QPushButton* bcmdCancel;
    QPushButton* bcmdReF;
};

} // namespace

class TestFrmMailSendSet : public QObject {
    Q_OBJECT

private slots:
    void showingEachTrigger() {
        Fixture f;
        frmMailSend_Set d(f.boxes);
        Controls c(d);
        QCOMPARE(d.windowTitle(), QStringLiteral("自動ﾒｰﾙ設定"));
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
        bool opening = true;
        for (int i : {0, 1, 2, 3, 0}) {
            if (!opening)
                c.optTRG[i]->click();
            opening = false;
            QCOMPARE(int(d.CurrentTrigger), i);
            QCOMPARE(c.ckEnabled->isChecked(), expect[i].enabled);
            QCOMPARE(c.txtMail->text(), QString::fromLatin1(expect[i].to));
            QCOMPARE(c.txtSubject->text(), QStringLiteral("subject ") + expect[i].to);
            QCOMPARE(c.txtBody->toPlainText(), QStringLiteral("line 1\nline 2"));
            QCOMPARE(c.chkGrp->isChecked(), expect[i].grp);
            QVERIFY(c.optSize[expect[i].size]->isChecked());
            QCOMPARE(c.SliderArc->value(), expect[i].arc);
            // The picture options stay usable whether or not a picture is attached.
            QVERIFY(c.optSize[0]->isEnabled());
            QVERIFY(c.SliderArc->isEnabled());
        }
    }

    void enabledTriggerNeedsADestination() {
        Fixture f;
        frmMailSend_Set d(f.boxes);
        Controls c(d);
        c.optTRG[3]->click();
        c.ckEnabled->setChecked(true);
        c.txtMail->setText("   ");
        for (QPushButton* b : {c.bcmdReF, c.bcmdOK}) {
            f.boxes.shown.clear();
            b->click();
            QCOMPARE(f.boxes.shown.size(), size_t(1));
            QCOMPARE(f.boxes.shown[0].text, std::string("宛先を入力して下さい。"));
            QCOMPARE(f.boxes.shown[0].title, std::string("自動ﾒｰﾙ設定"));
            QVERIFY(f.boxes.shown[0].icon == MessageBoxes::Icon::Critical);
            QVERIFY(d.result() != QDialog::Accepted);
            QVERIFY(!AppSettings.Trg[3].Enabled);
        }
        QCOMPARE(f.reloaded().Trg[3].MailTo, std::string()); // nothing saved

        // A destination an alarm could not send to is refused the same way.
        f.boxes.shown.clear();
        c.txtMail->setText("a@x.jp>NOTIFY=NEVER");
        c.bcmdOK->click();
        QCOMPARE(f.boxes.shown.size(), size_t(1));
        QCOMPARE(f.boxes.shown[0].text,
                 RecipientProblemMessage(ParseAddressList("a@x.jp>NOTIFY=NEVER")));
        QCOMPARE(f.boxes.shown[0].title, std::string("自動ﾒｰﾙ設定"));
        QVERIFY(!AppSettings.Trg[3].Enabled);
        c.txtMail->setText(QString::fromUtf8("\"Sato, Hanako\" <h@x.jp>、a@x.jp"));
        c.bcmdReF->click();
        QVERIFY(AppSettings.Trg[3].Enabled);
        QCOMPARE(AppSettings.Trg[3].MailTo, std::string("\"Sato, Hanako\" <h@x.jp>、a@x.jp"));

        // Off, the same empty destination is stored.
        f.boxes.shown.clear();
        c.txtMail->setText("   ");
        c.ckEnabled->setChecked(false);
        c.bcmdReF->click();
        QVERIFY(f.boxes.shown.empty());
        QVERIFY(!AppSettings.Trg[3].Enabled);
        QCOMPARE(AppSettings.Trg[3].MailTo, std::string());
    }

    void updateStoresTheShownTriggerAndSavesTheFile() {
        Fixture f;
        frmMailSend_Set d(f.boxes);
        Controls c(d);
        c.optTRG[2]->click();
        c.ckEnabled->setChecked(true);
        c.txtMail->setText("  new@x.jp, other@x.jp ");
        c.txtSubject->setText(QStringLiteral(" 件名 "));
        c.txtBody->setPlainText(QStringLiteral("  本文\n  二行目  "));
        c.chkGrp->setChecked(false);
        c.optSize[1]->setChecked(true);
        c.SliderArc->setValue(7);
        c.bcmdReF->click();
        QVERIFY(f.boxes.shown.empty());
        QVERIFY(d.result() != QDialog::Accepted); // stays open
        const MailTrigger& t = AppSettings.Trg[2];
        QVERIFY(t.Enabled);
        QCOMPARE(t.MailTo, std::string("new@x.jp, other@x.jp"));
        QCOMPARE(t.Subject, std::string("件名"));
        QCOMPARE(t.Body, std::string("本文\n  二行目")); // outer blanks only; inner breaks stay
        QCOMPARE(int(t.Grp), 0);
        QCOMPARE(int(t.MinSize), 1);
        QCOMPARE(int(t.Arc), 7);
        QCOMPARE(t.Files, std::string("old-files")); // Update leaves FILES alone
        // Other triggers untouched, and the whole record is on disk.
        QCOMPARE(AppSettings.Trg[0].MailTo, std::string("a@x.jp"));
        const AppSettingsRecord disk = f.reloaded();
        QCOMPARE(disk.Trg[2].MailTo, std::string("new@x.jp, other@x.jp"));
        QCOMPARE(int(disk.Trg[2].Arc), 7);
        QCOMPARE(disk.Trg[0].MailTo, std::string("a@x.jp"));

        // A later Cancel keeps what Update stored.
        c.txtMail->setText("dropped@x.jp");
        c.bcmdCancel->click();
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(AppSettings.Trg[2].MailTo, std::string("new@x.jp, other@x.jp"));
    }

    void switchingTriggersDropsUnstoredEdits() {
        Fixture f;
        frmMailSend_Set d(f.boxes);
        Controls c(d);
        c.txtMail->setText("edited@x.jp");
        c.SliderArc->setValue(3);
        c.optTRG[1]->click();
        c.optTRG[0]->click();
        QCOMPARE(c.txtMail->text(), QStringLiteral("a@x.jp"));
        QCOMPARE(c.SliderArc->value(), 80);
        QCOMPARE(AppSettings.Trg[0].MailTo, std::string("a@x.jp"));
    }

    void okStoresEmptiesFilesOfTheShownTriggerOnlyAndCloses() {
        Fixture f;
        frmMailSend_Set d(f.boxes);
        Controls c(d);
        d.show();
        c.optTRG[1]->click();
        c.bcmdOK->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(AppSettings.Trg[1].Files, std::string());
        QCOMPARE(int(AppSettings.Trg[1].MinSize), 0); // the out-of-range size is stored back as 0
        QCOMPARE(int(AppSettings.Trg[1].Arc), 50);
        for (int i : {0, 2, 3})
            QCOMPARE(AppSettings.Trg[i].Files, std::string("old-files"));
        QCOMPARE(int(f.reloaded().Trg[1].MinSize), 0);
    }
};

QTEST_MAIN(TestFrmMailSendSet)
#include "test_frmMailSend_Set.moc"
