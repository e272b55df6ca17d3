#pragma once

#include "settings/MessageBoxes.h"

#include <QDialog>

struct FtpFormInput;

class QCheckBox;
class QLineEdit;
class QSlider;
class QPushButton;

// "FTPと動画設定": edits AppSettings.Ftp (clip recording, its length and sound, and the upload).
// Reads the settings when it is built; OK validates, stores them and saves the file; Cancel and
// the close box leave everything as it was. Controls carry their design names as object names.
class frmFtp : public QDialog {
    Q_OBJECT
public:
    // Input errors go to `boxes` (error icon, one OK button); it must outlive the dialog.
    explicit frmFtp(MessageBoxes& boxes, QWidget* parent = nullptr);

private:
    void buildControls();
    void loadSettings();
    void onFtpExeClicked();
    void onMakeAviClicked();
    void onAnonymousClicked();
    // Splits what the host field holds into host, login and folder when it is a host form.
    void splitHost();
    FtpFormInput fields() const;
    void showFields(const FtpFormInput& shown);
    void onOk();

    MessageBoxes& m_boxes;
    QCheckBox* ckMakeAvi = nullptr;
    QCheckBox* ckFtpExe = nullptr;
    QLineEdit* txtHost = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPass = nullptr;
    QLineEdit* txtHolder = nullptr;
    QCheckBox* ckanonymous = nullptr;
    QCheckBox* ckFileName = nullptr;
    QSlider* SliderTime = nullptr;
    QCheckBox* ckAudio = nullptr;
    QPushButton* bcmdOK = nullptr;
    QPushButton* bcmdCancel = nullptr;
};
