#pragma once

#include "settings/MessageBoxes.h"

#include <QDialog>

enum class MailAccountField;
class MailSender;
class StatusPanels;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The mail account dialog ("ﾒｰﾙｱｶｳﾝﾄ設定"): fills itself from AppSettings.Mail when made, and on
// OK checks the input, stores the ten keys, saves the settings file, re-tests the account and
// updates the main window's account notice. Cancel and the close box store nothing.
class frmMail : public QDialog {
    Q_OBJECT
public:
    // OK re-checks the account on `sender` and says on panel 5 whether it is complete. The
    // objects passed in must outlive the dialog.
    frmMail(MessageBoxes& boxes, MailSender& sender, StatusPanels& panels,
            QWidget* parent = nullptr);

private:
    QLineEdit* txtMail;
    QLineEdit* txtSmtp;
    QLineEdit* txtSmtpPort;
    QCheckBox* chkAttestation;
    QRadioButton* optAt[2];
    QCheckBox* chkAtCram;
    QLineEdit* txtSmtpUser;
    QLineEdit* txtSmtpPass;
    QLineEdit* txtPop;
    QLineEdit* txtPopPort;
    QLineEdit* txtUser;
    QLineEdit* txtPass;
    QPushButton* bcmdOK;
    QPushButton* bcmdCancel;

    MessageBoxes& m_boxes;
    MailSender& m_sender;
    StatusPanels& m_panels;
    void applyEnabling();
    void bcmdOK_Click();
    QLineEdit* fieldEdit(MailAccountField field) const;
};
