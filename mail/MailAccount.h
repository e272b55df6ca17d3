#pragma once

#include <string>

class MessageBoxes;
class QWidget;

// The first missing field of the stored account, as the message the user is shown ("" when the
// account is complete). Tests in this order: MAIL, SMTP, then by mode SMTPUSER/SMTPPASS or
// POP/USER/PASS. Only U+0020 blanks are trimmed, so a server value of a lone tab counts as filled.
std::string MailAccountProblem();

// Shows the first missing field of the stored account ("ﾒｰﾙ送信元ﾁｪｯｸ", error icon) and answers
// false, or answers true without a word when the account is complete.
bool CheckMailAccount(MessageBoxes& boxes, QWidget* parent = nullptr);
