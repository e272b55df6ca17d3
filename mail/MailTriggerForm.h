#pragma once

#include "settings/AppSettings.h"

#include <cstdint>
#include <string>

// What the automatic mail dialog shows for one trigger when Update or OK is pressed: the texts as
// typed (untrimmed), the switches as set.
struct MailTriggerInput {
    bool enabled = false;
    std::string mailTo;
    std::string subject;
    std::string body;
    bool attachPicture = false;
    int16_t size = 0;    // the picture size choice, 0..2
    int16_t quality = 0; // the JPEG quality slider
};

struct MailTriggerOutcome {
    std::string message;      // the error for the message box; empty: store `trigger`
    bool focusMailTo = false; // whether the destination field takes the cursor with the error
    MailTrigger trigger;      // what to store; meaningful only without an error
};

// An enabled trigger needs a destination an alarm can send to, since at an alarm nobody is there
// to ask. Texts are stored trimmed at both ends (inner line breaks of the body stay). FILES is
// kept from `stored` on Update and emptied when the dialog closes with OK (`closing`).
MailTriggerOutcome CheckMailTriggerInput(const MailTriggerInput& input, const MailTrigger& stored,
                                         bool closing);
