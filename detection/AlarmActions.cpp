#include "detection/AlarmActions.h"

#include "mail/basPicture.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

std::string AlarmStamp(const QDateTime& time) {
    const QDate d = time.date();
    const QTime t = time.time();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d_", d.year() % 100, d.month(), d.day(),
                  t.hour(), t.minute(), t.second());
    return buf;
}

AlarmActions::AlarmActions(AlarmActionPorts ports, StatusPanels& panels, std::string programFolder)
    : m_ports(ports), m_panels(panels), m_programFolder(std::move(programFolder)) {}

void AlarmActions::Panel1(const std::string& text) {
    m_panels.setText(1, text);
}

std::string AlarmActions::sStartAVI() {
    // Every alarm passes here first: from now on its own files are the ones the guard keeps.
    if (m_ports.disk)
        m_ports.disk->beginAlarm();
    const FtpSettings& ftp = AppSettings.Ftp;
    if (!ftp.Move)
        return {};
    Panel1(kRecordingText);

    CAPTUREPARMS parms{};
    m_ports.recorder->getSetup(parms);
    parms.dwRequestMicroSecPerFrame = 33333; // 30 frames a second
    parms.fMakeUserHitOKToCapture = 0;
    parms.fCaptureAudio = ftp.Audio ? 1 : 0;
    parms.fAbortLeftMouse = 0;
    parms.fAbortRightMouse = 0;
    parms.fLimitEnabled = 1;
    parms.wTimeLimit = static_cast<uint32_t>(ftp.Time > 0 ? ftp.Time : 0);
    m_ports.recorder->setSetup(parms);

    std::string name = AlarmStamp(m_ports.clock->now()) + "ALERT.AVI";
    std::string path = m_programFolder + "/avi/" + name;
    if (m_ports.disk)
        m_ports.disk->makeRoom(path);
    m_ports.recorder->setCaptureFile(path);
    const bool recorded = m_ports.recorder->captureSequence();
    m_ports.recorder->captureStop();

    // No clip (a missing avi folder, a full disk, a source that cannot record): nothing to
    // copy or upload; the picture and the mails that follow must still go out.
    if (!recorded)
        return {};
    const std::string clip = path;
    if (!ftp.Ftp)
        return clip;
    Panel1(kUploadingText);
    m_ports.uploader->setLogin(m_programFolder, ftp.Host, ftp.User, ftp.Pass);

    if (ftp.FileName) {
        const std::string copy = m_programFolder + "/avi/ALERT.AVI";
        std::error_code ec;
        std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing,
                                   ec);
        if (ec)
            return clip;
        path = copy;
        name = "ALERT.AVI";
    }
    std::string mode = "binary";
    try {
        m_ports.uploader->upload(name, path, ftp.Holder, mode);
    } catch (const std::exception&) {
        // A script that cannot be written or a client that cannot start costs the upload only.
    }
    return clip;
}

std::string AlarmActions::writeHookPicture(const QImage& picViewA) {
    const PictureDimensions size = PictureSize(0);
    const std::string file =
        m_programFolder + "/img/" + AlarmStamp(m_ports.clock->now()) + "HOOK.jpg";
    if (m_ports.disk)
        m_ports.disk->makeRoom(file);
    QImage canvas;
    constexpr uint8_t kQuality = 75;
    return m_ports.pictures->write(picViewA, canvas, size.width, size.height, file + '\0',
                                   kQuality) == 0
               ? file
               : std::string();
}

void AlarmActions::sStartAlarmCommand(const QImage& picViewA, const std::string& clip,
                                      int32_t level, const QDateTime& alarmTime) {
    const std::string& command = AppSettings.Extra.OnAlarm;
    if (command.empty() || !m_ports.command)
        return;
    m_ports.command->start(
        {command, m_programFolder, writeHookPicture(picViewA), clip, level, alarmTime});
}

AlarmCommandResult AlarmActions::sTryAlarmCommand(const std::string& command,
                                                  const QImage& picViewA, int32_t level) {
    if (command.empty() || !m_ports.command)
        return {};
    const QDateTime now = m_ports.clock->now();
    return m_ports.command->runAndWait(
        {command, m_programFolder, writeHookPicture(picViewA), std::string(), level, now});
}

void AlarmActions::sStartMailSend(const QImage& picViewA, QImage& picViewC) {
    // Once a server has not answered, every further mail of this alarm would wait out the same
    // time-out while detection stands still; those mails are logged as skipped instead.
    std::string unanswered;
    for (const MailTrigger& trg : AppSettings.Trg) {
        if (!trg.Enabled)
            continue;
        if (!unanswered.empty()) {
            m_ports.mailer->logSkipped(trg.MailTo, trg.Subject, unanswered);
            Panel1(kMailErrorText);
            continue;
        }
        Panel1(kMailingText);
        std::string attachment;
        if (trg.Grp == 1) {
            const PictureDimensions size = PictureSize(trg.MinSize);
            std::string file =
                m_programFolder + "/img/" + AlarmStamp(m_ports.clock->now()) + "ALERT.jpg";
            if (m_ports.disk)
                m_ports.disk->makeRoom(file);
            file.push_back('\0');
            const int result = m_ports.pictures->write(picViewA, picViewC, size.width, size.height,
                                                       file, static_cast<uint8_t>(trg.Arc & 0xFF));
            if (result != 0) {
                // Without its picture this trigger's mail would promise an attachment it lacks.
                Panel1(kMailErrorText);
                continue;
            }
            attachment = file;
        }
        Panel1(kAutoMailText);
        const bool ok = m_ports.mailer->send(trg.MailTo, trg.Subject, trg.Body, attachment);
        Panel1(ok ? std::string() : std::string(kMailErrorText));
        if (!ok)
            unanswered = m_ports.mailer->lastUnansweredReason();
    }
}

void AlarmActions::sStartCameraMail(bool back) {
    const QDateTime now = m_ports.clock->now();
    const std::string when = now.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")).toStdString();
    const std::string body =
        back ? "ｶﾒﾗ映像が戻りました。 " + when : "ｶﾒﾗ映像が届いていません。 " + when + " 現在";
    for (const MailTrigger& trg : AppSettings.Trg)
        if (trg.Enabled)
            m_ports.mailer->send(trg.MailTo, back ? kCameraBackSubject : kCameraLostSubject, body,
                                 std::string());
}
