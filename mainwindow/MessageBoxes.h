#pragma once

#include <QString>

class QWidget;

// The message boxes the main window and its dialogs show: one OK button each, modal to `parent`.
// Passed in rather than called on QMessageBox directly, so widget tests can answer them without a
// nested event loop that nobody would ever close. User-interface thread only.
class MessageBoxes {
public:
    enum class Icon { None, Critical };

    virtual ~MessageBoxes() = default;
    // Returns once the user has dismissed the box.
    virtual void showOk(QWidget* parent, Icon icon, const QString& title, const QString& text) = 0;
};

// The real boxes (QMessageBox::exec).
class QtMessageBoxes : public MessageBoxes {
public:
    void showOk(QWidget* parent, Icon icon, const QString& title, const QString& text) override;
};
