#pragma once

#include <QDialog>
#include <string>

class QComboBox;
class QPushButton;
class QTimer;
class StatusPanels;

// The sound calls the dialog makes; the live one is basSound. Tests pass a double.
class SoundTestPlayer {
public:
    virtual ~SoundTestPlayer() = default;
    virtual void play(const std::string& path) = 0;
    virtual void close(const std::string& path) = 0;
    virtual std::string mode(const std::string& path) = 0;
};

// The test sound through basSound's devices.
class BasSoundPlayer final : public SoundTestPlayer {
public:
    void play(const std::string& path) override;
    void close(const std::string& path) override;
    std::string mode(const std::string& path) override;
};

// Warning-sound choice: the files of the media folder, a test toggle, OK stores SOUND and its
// path, saves the settings and shows the choice in status panel 4. Cancel changes nothing and
// leaves a test sound playing.
class frmSound : public QDialog {
    Q_OBJECT
public:
    // OK shows the chosen sound on panel 4 of `panels`; the test button plays through `player`.
    // Both must outlive the dialog.
    frmSound(StatusPanels& panels, SoundTestPlayer& player, QWidget* parent = nullptr);

    QComboBox* cmbSound() const { return m_cmbSound; }
    QPushButton* cmdTest() const { return m_cmdTest; }
    QPushButton* bcmdOK() const { return m_bcmdOK; }
    QPushButton* bcmdCancel() const { return m_bcmdCancel; }
    QTimer* Timer1() const { return m_timer1; }
    const std::string& TestPath() const { return m_testPath; }
    const std::string& MediaDirPath() const { return m_mediaDir; }

private:
    StatusPanels& m_panels;
    void cmdTest_Click();
    void bcmdOK_Click();
    void Timer1_Timer();
    SoundTestPlayer& player() { return m_player; }

    std::string m_mediaDir;
    std::string m_testPath;
    QComboBox* m_cmbSound = nullptr;
    QPushButton* m_cmdTest = nullptr;
    QPushButton* m_bcmdOK = nullptr;
    QPushButton* m_bcmdCancel = nullptr;
    QTimer* m_timer1 = nullptr;
    SoundTestPlayer& m_player;
};
