#include "sound/frmSound.h"

#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"
#include "settings/basCommon.h"
#include "settings/basSettings.h"
#include "sound/SoundTexts.h"
#include "sound/basSound.h"

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

void BasSoundPlayer::play(const std::string& path) {
    SoundPlay(path);
}
void BasSoundPlayer::close(const std::string& path) {
    SoundClose(path);
}
std::string BasSoundPlayer::mode(const std::string& path) {
    return SoundMode(path);
}

namespace {

constexpr int P(int twips) {
    return twips / 15;
}

} // namespace

frmSound::frmSound(StatusPanels& panels, SoundTestPlayer& player, QWidget* parent)
    : QDialog(parent), m_panels(panels), m_player(player) {
    setObjectName(QStringLiteral("frmSound"));
    setWindowTitle(QStringLiteral("ｻｳﾝﾄﾞ設定"));
    setFixedSize(P(4200), P(1500));

    m_cmbSound = new QComboBox(this);
    m_cmbSound->setObjectName(QStringLiteral("cmbSound"));
    m_cmbSound->setGeometry(P(120), P(150), P(3300), P(315));

    m_cmdTest = new QPushButton(this);
    m_cmdTest->setObjectName(QStringLiteral("cmdTest"));
    m_cmdTest->setGeometry(P(3510), P(120), P(495), P(375));
    m_cmdTest->setIcon(style()->standardIcon(QStyle::SP_MediaVolume));

    m_bcmdOK = new QPushButton(QStringLiteral("OK(&O)"), this);
    m_bcmdOK->setObjectName(QStringLiteral("bcmdOK"));
    m_bcmdOK->setGeometry(P(1320), P(780), P(1215), P(375));
    m_bcmdOK->setDefault(true);

    m_bcmdCancel = new QPushButton(QStringLiteral("Cancel(&C)"), this);
    m_bcmdCancel->setObjectName(QStringLiteral("bcmdCancel"));
    m_bcmdCancel->setGeometry(P(2700), P(780), P(1215), P(375));

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(630);

    connect(m_cmdTest, &QPushButton::clicked, this, &frmSound::cmdTest_Click);
    connect(m_bcmdOK, &QPushButton::clicked, this, &frmSound::bcmdOK_Click);
    connect(m_bcmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_timer1, &QTimer::timeout, this, &frmSound::Timer1_Timer);

    m_mediaDir = MediaDir();
    m_cmbSound->addItem(QStringLiteral("(無し)"));
    // A missing folder simply lists nothing.
    const QStringList files = QDir(QString::fromStdString(m_mediaDir))
                                  .entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    m_cmbSound->addItems(files);
    int index = 0;
    const std::string& sound = AppSettings.Com.Sound;
    if (!sound.empty()) {
        const int found = m_cmbSound->findText(QString::fromStdString(sound),
                                               Qt::MatchExactly | Qt::MatchCaseSensitive);
        index = found > 0 ? found : 0;
    }
    m_cmbSound->setCurrentIndex(index);

    m_timer1->start();
}

static std::string SelectedPath(const std::string& mediaDir, const QComboBox* box) {
    return GetShortPath(mediaDir + box->currentText().toStdString());
}

void frmSound::cmdTest_Click() {
    if (!m_testPath.empty()) {
        const std::string was = player().mode(m_testPath);
        player().close(m_testPath);
        if (was != "STOPPED") {
            // This click only silenced the sound that was still playing.
            m_testPath.clear();
            return;
        }
    }
    m_testPath = m_cmbSound->currentIndex() < 1 ? GetShortPath(m_mediaDir + "(無し)")
                                                : SelectedPath(m_mediaDir, m_cmbSound);
    player().play(m_testPath);
}

void frmSound::bcmdOK_Click() {
    ComSettings& com = AppSettings.Com;
    if (!com.SoundPath.empty() && player().mode(com.SoundPath) != "STOPPED") {
        player().close(com.SoundPath);
        m_testPath.clear();
    }
    if (m_cmbSound->currentIndex() < 1) {
        com.Sound.clear();
        com.SoundPath.clear();
    } else {
        com.Sound = m_cmbSound->currentText().toStdString();
        com.SoundPath = GetShortPath(m_mediaDir + com.Sound);
    }
    m_panels.setText(4, SoundPanelText(com.Sound));
    SaveSettings();
    accept();
}

void frmSound::Timer1_Timer() {
    m_timer1->stop();
    if (player().mode(m_testPath) == "STOPPED") {
        player().close(m_testPath);
        m_testPath.clear();
    }
}
