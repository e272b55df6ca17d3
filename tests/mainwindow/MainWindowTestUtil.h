#pragma once

// Shared pieces of the main-window tests: a temporary program folder, the settings file read
// back as the program wrote it, and message boxes that answer themselves.

#include "settings/MessageBoxes.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>
#include <vector>

namespace mainwindow_test {

struct ShownBox {
    MessageBoxes::Icon icon;
    QString title;
    QString text;
};

// Records every box and returns at once, as if OK had been pressed.
class RecordingBoxes : public MessageBoxes {
public:
    void showOk(QWidget*, Icon icon, const QString& title, const QString& text) override {
        shown.push_back({icon, title, text});
    }
    std::vector<ShownBox> shown;
};

// The control `name` of `window` (found by its design name); a missing one ends the test run,
// since every later step would only fail for the same reason.
template <typename T> T* Find(QObject& window, const QString& name) {
    T* found = window.findChild<T*>(name);
    if (!found)
        qFatal("control %s missing", qPrintable(name));
    return found;
}

// A fresh program folder with img/, avi/ and help/, made the program folder of this process.
inline std::unique_ptr<QTemporaryDir> MakeProgramFolder() {
    auto dir = std::make_unique<QTemporaryDir>();
    for (const char* sub : {"img", "avi", "help"})
        QDir(dir->path()).mkdir(sub);
    qputenv("PAWLINEX_HOME", dir->path().toUtf8());
    return dir;
}

inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The value of `key` in `[section]` of a profile file as bytes on disk ("" when missing; a
// missing key and an empty value are told apart by `found`).
inline QByteArray IniValue(const QByteArray& file, const QByteArray& section, const QByteArray& key,
                           bool* found = nullptr) {
    if (found)
        *found = false;
    bool inSection = false;
    for (QByteArray line : file.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith('[')) {
            inSection = line.mid(1, line.indexOf(']') - 1).toUpper() == section.toUpper();
            continue;
        }
        const int eq = line.indexOf('=');
        if (inSection && eq > 0 && line.left(eq).trimmed().toUpper() == key.toUpper()) {
            if (found)
                *found = true;
            return line.mid(eq + 1).trimmed();
        }
    }
    return {};
}

} // namespace mainwindow_test
