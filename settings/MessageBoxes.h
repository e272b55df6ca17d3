#pragma once

#include <QString>

class QWidget;

// The message boxes of every window: one OK button each, modal to `parent`. Passed in rather than
// called on QMessageBox directly, so widget tests can answer them without a nested event loop
// that nobody would ever close. `main()` makes the real boxes once and hands them to the main
// window, which hands them on to every dialog it opens. User-interface thread only.
class MessageBoxes {
public:
    enum class Icon { None, Critical, Information };

    virtual ~MessageBoxes() = default;
    // Returns once the user has dismissed the box.
    virtual void showOk(QWidget* parent, Icon icon, const QString& title, const QString& text) = 0;
};
