#pragma once

#include "mail/MailFormControls.h"
#include "settings/MessageBoxes.h"

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QPushButton;
class QRadioButton;

// The automatic mail dialog ("自動ﾒｰﾙ設定"): edits the four alarm mail triggers A to D of
// AppSettings.Trg one at a time. Update stores the shown trigger and saves; OK does the same,
// empties the trigger's FILES and closes; Cancel and the close box store nothing more. The fields
// it shares with the manual send window are members it inherits, made by CreateMailFormControls.
class frmMailSend_Set : public QDialog, private MailFormControls {
    Q_OBJECT
public:
    // `boxes` must outlive the dialog.
    explicit frmMailSend_Set(MessageBoxes& boxes, QWidget* parent = nullptr);

    int16_t CurrentTrigger = 0; // the trigger shown, 0..3 for A..D

private:
    QRadioButton* optTRG[4];
    QCheckBox* ckEnabled;
    QPushButton* bcmdOK;
    QPushButton* bcmdCancel;
    QPushButton* bcmdReF;

    MessageBoxes& m_boxes;
    void showTrigger(int index);
    bool storeTrigger(bool closing);
};
