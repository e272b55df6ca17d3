#pragma once

#include <array>
#include <cstdint>
#include <string>

// The one in-memory copy of every setting of pawlinex.ini. Texts are UTF-8; the file's own
// encoding (CP932 or UTF-8 with a BOM) is the settings file's business only. Passwords are held
// in plain text here and scrambled in the file.

struct ComSettings {
    int16_t Timer = 0;     // TIMER: detection period in tenths of a second (1..50)
    int16_t CkSum = 0;     // CKSUM: alarm threshold on the change level (1..9999 when loaded)
    int16_t Accuracy = 0;  // ACCURACY: factor applied to the mean byte difference (1..100)
    std::string Sound;     // SOUND: file name of the warning sound inside MediaDir()
    std::string SoundPath; // derived from Sound at load time, never stored
    bool Noize = false;    // NOIZE: noise removal
    bool Comp = false;     // COMP: "ON" shows the video compression command
};

struct MailSettings {
    std::string Mail;     // sender and Reply-To address
    std::string Smtp;     // host, TAB, port
    std::string Pop;      // host, TAB, port
    std::string User;     // POP user
    std::string Pass;     // POP password (plain)
    std::string Att;      // "1" authenticate, "0" none
    std::string OptAtt;   // "0" POP before SMTP, "1" SMTP-AUTH
    std::string AtCram;   // "1" CRAM-MD5, "0" LOGIN
    std::string SmtpUser; // SMTP-AUTH user
    std::string SmtpPass; // SMTP-AUTH password (plain)
};

struct MailTrigger {
    bool Enabled = false;
    std::string MailTo;
    std::string Subject;
    std::string Body; // may hold line breaks
    int16_t Grp = 0;  // 1 attach the alarm picture
    std::string Files;
    int16_t MinSize = 0; // PictureSize choice
    int16_t Arc = 0;     // JPEG quality
};

struct FtpSettings {
    bool Move = false; // record a clip at an alarm
    bool Ftp = false;  // upload the clip
    std::string Host;
    std::string User;
    std::string Pass; // plain
    std::string Holder;
    bool FileName = false; // upload as ALERT.AVI
    int16_t Time = 0;      // clip length in seconds (5..30)
    bool Audio = false;
};

// Additions beyond the classic settings, every one off by default so that a file without the
// section behaves exactly as before.
struct ExtraSettings {
    int Pre = 0;         // PRE: seconds of video kept before the alarm frame (0..10)
    std::string Mask;    // MASK: empty, or 48 hex digits: 16x12 cells, set bit = ignored cell
    int Light = 0;       // LIGHT: light-change guard, percent of the unmasked picture (0 = off)
    int KeepFree = 0;    // KEEPFREE: megabytes to keep free where clips and pictures go (0 = off)
    std::string OnAlarm; // ONALARM: command line started at every alarm
};

// How the last load or save of pawlinex.ini went; never written to the file itself.
struct SettingsFileState {
    std::string LastError; // the reason of the last failure, in one line
    // Set while the last load failed: a save then would replace the user's file with a
    // half-loaded record, so it is refused until a load succeeds.
    bool LoadFailed = false;
};

struct AppSettingsRecord {
    ComSettings Com;
    MailSettings Mail;
    std::array<MailTrigger, 4> Trg;
    FtpSettings Ftp;
    ExtraSettings Extra;
    SettingsFileState File;
};

// Program-wide instance, zero-filled at start, filled once by LoadSettings. Owned by the
// user-interface thread: nothing else reads or writes it.
inline AppSettingsRecord AppSettings;
