#include "detection/AlarmPortsLive.h"

#include "ftp/basAutoFTP.h"
#include "mail/MailAccount.h"
#include "mail/MailSender.h"
#include "mail/basPicture.h"
#include "sound/basSound.h"

QTime SystemClock::timeOfDayAt(qint64 msecs) const {
    constexpr qint64 kDay = 86400000;
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    int offset = 0;
    {
        std::lock_guard lock(m_mutex);
        if (second != m_second) {
            m_offsetSeconds = QDateTime::fromSecsSinceEpoch(second).offsetFromUtc();
            m_second = second;
        }
        offset = m_offsetSeconds;
    }
    const qint64 local = ((msecs + qint64(offset) * 1000) % kDay + kDay) % kDay;
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(local));
}

void BasAlarmSound::play(const std::string& path) {
    SoundPlay(path);
}
void BasAlarmSound::close(const std::string& path) {
    SoundClose(path);
}
void BasAlarmSound::repeat(const std::string& path) {
    SoundRepeat(path);
}

void AutoFtpUploader::upload(std::string& remoteName, std::string& localPath,
                             const std::string& remoteFolder, std::string& mode) {
    m_ftp.AutoFTP(remoteName, localPath, remoteFolder, mode);
}

void AutoFtpUploader::setLogin(const std::string& appPath, const std::string& host,
                               const std::string& user, const std::string& pass) {
    m_ftp.FtpAppPath = appPath;
    m_ftp.FtpHost = host;
    m_ftp.FtpUser = user;
    m_ftp.FtpPass = pass;
}

bool AccountMailer::updateAccountState() {
    return m_sender.UpdateMailAccountState();
}

bool AccountMailer::send(const std::string& to, const std::string& subject, const std::string& body,
                         const std::string& files) {
    return m_sender.MailSendWaiting(to, subject, body, files);
}

std::string AccountMailer::lastUnansweredReason() const {
    const MailSendOutcome last = m_sender.LastMailOutcome();
    return !last.sent && last.report.unanswered ? last.error : std::string();
}

void AccountMailer::logSkipped(const std::string& to, const std::string& subject,
                               const std::string& why) {
    LogSkippedMail(to, subject, why);
}

int JpegPictureWriter::write(const QImage& source, QImage& canvas, int width, int height,
                             const std::string& pathWithNul, uint8_t quality) {
    ScalePicture(source, canvas, height, width);
    return DCSavetoJPEG(canvas, canvas.width(), canvas.height(), pathWithNul, quality, 0);
}
