#pragma once

#include <QDialog>

#include <functional>

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
    explicit frmFtp(QWidget* parent = nullptr);

    // Shows an input error (error icon, one OK button). Tests replace it so that no modal box
    // blocks them; the default is a QMessageBox.
    using ErrorBox =
        std::function<void(QWidget* parent, const QString& title, const QString& text)>;
    void setErrorBox(ErrorBox box);

private:
    void buildControls();
    void loadSettings();
    void onFtpExeClicked();
    void onMakeAviClicked();
    void onAnonymousClicked();
    // Splits what the host field holds into host, login and folder; false when it is no host form.
    bool splitHost();
    bool refuse(QLineEdit* field, const QString& text);
    bool checkFields();
    void onOk();

    ErrorBox m_errorBox;
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
