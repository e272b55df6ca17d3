#pragma once

#include "settings/AppSettings.h"

#include <string>

class StatusPanels;

// What the mail account dialog holds when OK is pressed: the texts as typed (untrimmed) and the
// switches as set.
struct MailAccountInput {
    std::string mail;
    std::string smtp;
    std::string smtpPort;
    bool authenticate = false;
    bool smtpAuth = false; // the SMTP-AUTH mode; false is POP before SMTP
    bool cramMd5 = false;
    std::string smtpUser;
    std::string smtpPass;
    std::string pop;
    std::string popPort;
    std::string user;
    std::string pass;
};

// The dialog's fields, so a failed check can say where the cursor goes.
enum class MailAccountField {
    None,
    Mail,
    Smtp,
    SmtpPort,
    Pop,
    PopPort,
    User,
    Pass,
    SmtpUser,
    SmtpPass
};

struct MailAccountOutcome {
    MailAccountField field = MailAccountField::None; // the first field in error; None: store
    std::string message;                             // the error's text for the message box
    // A blank port field the check filled with its default ("25", "110"), else empty. The dialog
    // shows the default even when a later field fails, as the user would have typed it.
    std::string smtpPortFilled;
    std::string popPortFilled;
    MailSettings settings; // the ten keys to store; meaningful only when field is None
};

// Checks the fields in the dialog's order (address, SMTP host and port, then the fields of the
// chosen authentication mode) and builds the stored texts: trimmed, hosts joined to their ports
// by a tab. Fields the chosen mode does not use are stored as they stand, unchecked.
MailAccountOutcome CheckMailAccountInput(const MailAccountInput& input);

// The main window's panel 5: hidden and empty once the account is complete, otherwise showing
// "ﾒｰﾙｱｶｳﾝﾄ未設定".
std::string MailAccountPanelText(bool ready);
void ShowMailAccountState(StatusPanels& panels, bool ready);
