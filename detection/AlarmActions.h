#pragma once

#include "detection/AlarmCommand.h"
#include "detection/AlarmPorts.h"
#include "detection/DiskGuard.h"

#include <QDateTime>
#include <QImage>
#include <string>

// "YYMMDDhhmmss_" of a local time: two-digit year, month, day, hour 00..23, minute, second.
std::string AlarmStamp(const QDateTime& time);

// Panel 1 progress texts of the alarm actions.
inline constexpr const char* kRecordingText = "Pawlinex: 動画録画中･･･";
inline constexpr const char* kUploadingText = "Pawlinex: FTPで送信中･･･";
inline constexpr const char* kMailingText = "Pawlinex: ﾒｰﾙ送信中･･･";
inline constexpr const char* kAutoMailText = "自動ﾒｰﾙ送信中";
inline constexpr const char* kMailErrorText = "ﾒｰﾙ送信ｴﾗｰでした。";

// Panel 1 while the camera sends no pictures, and the subjects of the mails about it.
inline constexpr const char* kCameraLostText = "Pawlinex: ｶﾒﾗ映像が届きません";
inline constexpr const char* kCameraLostSubject = "Pawlinex: ｶﾒﾗ映像途絶";
inline constexpr const char* kCameraBackSubject = "Pawlinex: ｶﾒﾗ映像復旧";

class StatusPanels;

struct AlarmActionPorts {
    ClipRecorder* recorder = nullptr;
    ClipUploader* uploader = nullptr;
    AlarmMailer* mailer = nullptr;
    PictureWriter* pictures = nullptr;
    const Clock* clock = nullptr;
    DiskGuard* disk = nullptr;             // none: no file is ever deleted for room
    AlarmCommandRunner* command = nullptr; // none: ONALARM is not run
};

// The two things an alarm does, driven by AppSettings: record a clip and upload it, then mail
// the alarm frame to every enabled trigger. Progress goes to panel 1 of the status bar. Keeps no
// state between alarms.
class AlarmActions {
public:
    // `programFolder` is where avi/ and img/ live (no trailing slash). `panels` must outlive
    // the object.
    AlarmActions(AlarmActionPorts ports, StatusPanels& panels, std::string programFolder);

    // Records TIME seconds to avi/YYMMDDhhmmss_ALERT.AVI when MOVE is on, then uploads it when FTP
    // is on (as ALERT.AVI, from a fresh avi/ALERT.AVI copy, when FILENAME is on). A recording
    // that kept no clip skips the copy and the upload; a copy that fails, or an upload that
    // cannot start, skips the upload only. Returns the clip's path when one was kept.
    std::string sStartAVI();

    // Starts ONALARM, when set, without waiting for it: with a 640x480 picture of `picViewA`
    // written for it as img/YYMMDDhhmmss_HOOK.jpg, the clip (or nothing), the level and the time
    // of the alarm. Runs after the clip and its upload, before the mails.
    void sStartAlarmCommand(const QImage& picViewA, const std::string& clip, int32_t level,
                            const QDateTime& alarmTime);

    // The same once, waited for: the settings dialog's trial.
    AlarmCommandResult sTryAlarmCommand(const std::string& command, const QImage& picViewA,
                                        int32_t level);

    // For each enabled trigger in order: its own picture of `picViewA` (the frame that raised the
    // alarm) in the trigger's size and quality when it attaches one, then its mail. A picture that
    // cannot be written skips that trigger's mail and shows the mail error; later triggers are
    // still tried.
    void sStartMailSend(const QImage& picViewA, QImage& picViewC);

    // The camera's loss (`back` false) or return: one mail without attachment to every enabled
    // trigger's recipients, the body naming the time. Panel 1 is left as it is.
    void sStartCameraMail(bool back);

    const std::string& programFolder() const { return m_programFolder; }

private:
    // The command's picture; empty text when it could not be written.
    std::string writeHookPicture(const QImage& picViewA);
    void Panel1(const std::string& text);

    AlarmActionPorts m_ports;
    StatusPanels& m_panels;
    std::string m_programFolder;
};
