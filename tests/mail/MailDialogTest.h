#pragma once

// Shared set-up of the mail dialog tests (Qt Test): a private program folder with an empty
// settings file, message boxes that are recorded instead of shown, and the dialogs' controls
// found by their design names.

#include "mail/MailSender.h"
#include "mail/RecordingTransport.h"
#include "settings/AppSettings.h"
#include "settings/MessageBoxes.h"
#include "settings/StatusPanels.h"
#include "settings/basSettings.h"

#include <QDir>
#include <QObject>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

namespace mail_test {

class RecordingBoxes : public MessageBoxes {
public:
    struct Shown {
        Icon icon;
        std::string title;
        std::string text;
    };
    std::vector<Shown> shown;
    std::function<void()> onShow; // runs inside the box, as a user action would

    void showOk(QWidget*, Icon icon, const QString& title, const QString& text) override {
        shown.push_back({icon, title.toStdString(), text.toStdString()});
        if (onShow)
            onShow();
    }
};

// One test's world, made fresh by each test: the program folder holds an empty settings file.
struct MailDialogFixture {
    MailDialogFixture() {
        QDir(home.path()).mkdir("img");
        qputenv("PAWLINEX_HOME", home.path().toUtf8());
        AppSettings = AppSettingsRecord{};
        saved = SaveSettings();
    }

    // What is on disk, read back through the settings loader.
    AppSettingsRecord reloaded() {
        const AppSettingsRecord current = AppSettings;
        LoadSettings();
        const AppSettingsRecord fromDisk = AppSettings;
        AppSettings = current;
        return fromDisk;
    }

    QTemporaryDir home;
    bool saved = false;
    RecordingBoxes boxes;
    RecordingTransport transport;
    MailSender sender{transport};
    StatusPanels panels;
};

// The control `name` of `dialog`; a missing one ends the test run, since every later step would
// only fail for the same reason.
template <typename T> T* Child(QObject& dialog, const char* name) {
    T* w = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("control %s missing", name);
    return w;
}

} // namespace mail_test
