#pragma once

#include "settings/AppSettings.h"

#include <cstdint>
#include <string>

// What the FTP and clip dialog holds: the texts as typed (untrimmed), the switches as set.
struct FtpFormInput {
    bool makeAvi = false;
    bool upload = false;
    std::string host;
    std::string user;
    std::string pass;
    std::string folder;
    bool fixedName = false;
    int16_t seconds = 0;
    bool audio = false;
};

// Puts what the host field holds into the fields as the dialog then shows them: "host:port" and
// pasted ftp:// addresses become the stored "host port", and the login and folder an address
// carries replace those fields. False, changing nothing, when the host field holds no host.
bool SplitFtpHostField(FtpFormInput& fields);

enum class FtpFormField { None, Host, User, Pass, Folder };

struct FtpFormOutcome {
    FtpFormField field = FtpFormField::None; // the first field in error; None: store
    std::string message;                     // the error's text for the message box
    FtpFormInput shown;   // the fields after a successful host split, as the dialog shows them
    FtpSettings settings; // what OK stores (texts trimmed); meaningful only without an error
};

// A host is needed only while the upload is on. A control character is refused in every text,
// since it would end the script line or the FTP command it lands in. A host that is no host form
// is refused while the upload is on and otherwise stored as typed.
FtpFormOutcome CheckFtpFormInput(const FtpFormInput& input);
