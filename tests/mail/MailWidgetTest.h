#pragma once

// Shared set-up of the mail dialog tests: an offscreen application, a private program folder
// with an empty settings file, and message boxes that are recorded instead of shown.

#include "common/PeerProcess.h"
#include "mail/MailSender.h"
#include "mail/RecordingTransport.h"
#include "settings/AppSettings.h"
#include "settings/MessageBoxes.h"
#include "settings/StatusPanels.h"
#include "settings/basSettings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "mail-widget-test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: widgets of static test objects may outlive any exit order.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

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

class MailWidgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        setenv("PAWLINEX_HOME", home.path().c_str(), 1);
        std::filesystem::create_directories(home.path() + "/img");
        AppSettings = AppSettingsRecord{};
        ASSERT_TRUE(SaveSettings()) << LastSettingsError();
    }

    // What is on disk, read back through the settings loader.
    AppSettingsRecord reloaded() {
        const AppSettingsRecord current = AppSettings;
        EXPECT_TRUE(LoadSettings()) << LastSettingsError();
        const AppSettingsRecord fromDisk = AppSettings;
        AppSettings = current;
        return fromDisk;
    }

    TempFolder home;
    RecordingBoxes boxes;
    RecordingTransport transport;
    MailSender sender{transport};
    StatusPanels panels;
};
