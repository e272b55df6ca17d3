#pragma once

// The edges the alarm handling talks through: clock, warning sound, clip recorder, upload, mail
// and picture files. The live implementations (AlarmPortsLive.h) call the program's real
// services; tests pass doubles that record the calls. All calls come from the user-interface
// thread; any of them may block it (recording, upload and mail do).

#include "detection/CaptureRecords.h"

#include <QDateTime>
#include <QImage>
#include <cstdint>
#include <string>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0; // local time
    // The same instant as milliseconds since the epoch. The system clock answers without
    // working out the local time, which looks at the time zone file on every call.
    virtual qint64 msecsSinceEpoch() const { return now().toMSecsSinceEpoch(); }
    // The local time of day now. The system clock works out the local time's offset from UTC once
    // a second rather than on every call.
    virtual QTime timeOfDay() const { return now().time(); }
};

class AlarmSound {
public:
    virtual ~AlarmSound() = default;
    virtual void play(const std::string& path) = 0;
    virtual void close(const std::string& path) = 0;
    virtual void repeat(const std::string& path) = 0;
};

// Clip recording on the capture window. Only the result of captureSequence is acted on: false
// (no clip with a picture in it) skips the copy and the upload.
class ClipRecorder {
public:
    virtual ~ClipRecorder() = default;
    virtual bool getSetup(CAPTUREPARMS& parms) = 0;
    virtual bool setSetup(const CAPTUREPARMS& parms) = 0;
    virtual bool setCaptureFile(const std::string& path) = 0;
    // Returns when the time limit is reached or Esc pressed; true when a clip with at least one
    // picture was kept.
    virtual bool captureSequence() = 0;
    virtual bool captureStop() = 0;
};

// One upload with the FTP client; returns when the client has ended. May throw when the script
// cannot be written or the client cannot start.
class ClipUploader {
public:
    virtual ~ClipUploader() = default;
    virtual void upload(std::string& remoteName, std::string& localPath,
                        const std::string& remoteFolder, std::string& mode) = 0;
    // The login the upload uses; set before every upload.
    virtual void setLogin(const std::string& appPath, const std::string& host,
                          const std::string& user, const std::string& pass) = 0;
};

class AlarmMailer {
public:
    virtual ~AlarmMailer() = default;
    // Re-checks the stored mail account and answers whether it is complete.
    virtual bool updateAccountState() = 0;
    // One mail; `files` is a picture path followed by a NUL, or empty. True when accepted.
    virtual bool send(const std::string& to, const std::string& subject, const std::string& body,
                      const std::string& files) = 0;
    // After a failed send: why, when a server (SMTP, or POP before SMTP) never answered in time;
    // empty when it answered, refusal included. Trying the same account again would only wait
    // out the same time-out.
    virtual std::string lastUnansweredReason() const { return {}; }
    // Records a mail that was not tried; the default leaves no record.
    virtual void logSkipped(const std::string& /*to*/, const std::string& /*subject*/,
                            const std::string& /*why*/) {}
};

// Stretches `source` into `canvas` at width x height and writes the canvas as a JPEG.
// Returns the JPEG writer's result: 0 written, anything else failed.
class PictureWriter {
public:
    virtual ~PictureWriter() = default;
    virtual int write(const QImage& source, QImage& canvas, int width, int height,
                      const std::string& pathWithNul, uint8_t quality) = 0;
};
