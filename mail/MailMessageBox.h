#pragma once

#include <QString>

class QWidget;

// The message boxes of the mail windows: one OK button each, modal to `parent`. Reached through
// this interface so that widget tests answer them without a real modal box. User-interface thread
// only.
class MailMessageBox {
public:
    enum class Icon { Critical, Information };

    virtual ~MailMessageBox() = default;
    // Returns once the user has dismissed the box.
    virtual void show(QWidget* parent, Icon icon, const QString& title, const QString& text) = 0;
};

// The boxes in use: real QMessageBoxes unless a test has put another in place.
MailMessageBox& CurrentMailMessageBox();
// Not owned; nullptr puts the real boxes back.
void SetMailMessageBox(MailMessageBox* boxes);

// Shows the first missing field of the stored account ("ﾒｰﾙ送信元ﾁｪｯｸ", error icon) and answers
// false, or answers true without a word when the account is complete.
bool CheckMailAccount(QWidget* parent = nullptr);
