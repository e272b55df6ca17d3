#pragma once

#include "detection/AlarmPorts.h"

#include <limits>
#include <mutex>

// The real services behind the alarm's edges.

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 msecsSinceEpoch() const override { return QDateTime::currentMSecsSinceEpoch(); }
    QTime timeOfDay() const override { return timeOfDayAt(QDateTime::currentMSecsSinceEpoch()); }
    // The local time of day at `msecs` since the epoch. The offset found for a second holds for
    // the whole second: the time zone rules change offsets only on whole seconds.
    QTime timeOfDayAt(qint64 msecs) const;

private:
    mutable std::mutex m_mutex;
    mutable qint64 m_second = std::numeric_limits<qint64>::min();
    mutable int m_offsetSeconds = 0;
};

// The warning sound through basSound.
class BasAlarmSound final : public AlarmSound {
public:
    void play(const std::string& path) override;
    void close(const std::string& path) override;
    void repeat(const std::string& path) override;
};

class AutoFtp;

// AutoFTP and its login variables, on `ftp`, which must outlive this object.
class AutoFtpUploader final : public ClipUploader {
public:
    explicit AutoFtpUploader(AutoFtp& ftp) : m_ftp(ftp) {}
    void upload(std::string& remoteName, std::string& localPath, const std::string& remoteFolder,
                std::string& mode) override;
    void setLogin(const std::string& appPath, const std::string& host, const std::string& user,
                  const std::string& pass) override;

private:
    AutoFtp& m_ftp;
};

class MailSender;

// UpdateMailAccountState / MailAccountReady and the mail transfer through `sender`, which must
// outlive this object.
class AccountMailer final : public AlarmMailer {
public:
    explicit AccountMailer(MailSender& sender) : m_sender(sender) {}
    bool updateAccountState() override;
    bool send(const std::string& to, const std::string& subject, const std::string& body,
              const std::string& files) override;
    std::string lastUnansweredReason() const override;
    void logSkipped(const std::string& to, const std::string& subject,
                    const std::string& why) override;

private:
    MailSender& m_sender;
};

// ScalePicture into the canvas, then DCSavetoJPEG of the canvas.
class JpegPictureWriter final : public PictureWriter {
public:
    int write(const QImage& source, QImage& canvas, int width, int height,
              const std::string& pathWithNul, uint8_t quality) override;
};
