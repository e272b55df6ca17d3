#pragma once

#include "capture/capApi.h"
#include "mail/MailFormControls.h"
#include "settings/MessageBoxes.h"

#include <QDialog>
#include <QImage>

class MailSender;
class MailThumbnail;
class QPushButton;

// The manual send window ("手動ﾒｰﾙ送信"): mails the camera's current picture, or text only, to any
// address. Made for one use: the main window calls DrawImage, then exec(). While a send runs the
// window keeps painting but its send button, Cancel and the close box do nothing. The fields it
// shares with the automatic mail dialog are members it inherits, made by CreateMailFormControls.
class frmMailSend : public QDialog, private MailFormControls {
    Q_OBJECT
public:
    // `boxes` and `sender` must outlive the dialog.
    frmMailSend(MessageBoxes& boxes, MailSender& sender, QWidget* parent = nullptr);

    // Takes the current frame of capture window `lwnd` as the picture to send (the built-in
    // placeholder stays when no frame comes) and draws the thumbnail.
    void DrawImage(HCAPWND lwnd);

    bool sending() const { return m_sending; }
    const QImage& picture() const { return pic_View; }

    // The 320 x 240 picture that stands in for a frame that could not be grabbed.
    static QImage placeholderPicture();

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* bcmdOK;
    QPushButton* bcmdCancel;
    MailThumbnail* pic_clip;

    MessageBoxes& m_boxes;
    MailSender& m_sender;
    void chkGrp_Click();
    void bcmdOK_Click();

    QImage pic_View;  // the grabbed frame at the camera's size
    QImage pic_ViewA; // the frame scaled to the chosen size, written as JPEG
    bool m_sending = false;
};
