#pragma once

// True when the stored mail account has every field its mode needs.
inline bool MailAccountReady = false;

// Sets MailAccountReady from the stored texts of AppSettings.Mail.
void UpdateMailAccountState();
