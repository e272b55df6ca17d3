#pragma once

#include <QDialog>
#include <QStringList>

class MessageBoxes;
class QLabel;
class QPushButton;

// The version dialog: title, version, what the program does, a disclaimer, and a button that
// starts the desktop's system-information program. Changes no setting; detection keeps running
// while it is open.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(MessageBoxes& messages, QWidget* parent = nullptr);

    // The programs StartSysInfo looks for on PATH, first found wins.
    static QStringList SysInfoCandidates();

    // Starts the first system-information program found on PATH without waiting for it; when none
    // is found or it cannot start, says so in a message box. The dialog stays open either way.
    void StartSysInfo();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblDescription = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;
    MessageBoxes& m_messages;
};
