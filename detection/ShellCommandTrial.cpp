#include "detection/ShellCommandTrial.h"

#include "settings/basCommon.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>
#include <unistd.h>

namespace {

constexpr int kTrialMilliseconds = 10000;

} // namespace

frmExtra::TrialResult RunShellCommandOnce(const std::string& command, const QImage& frame) {
    frmExtra::TrialResult result;
    QTemporaryDir folder;
    QString picture;
    if (folder.isValid() && !frame.isNull()) {
        picture = folder.filePath(QStringLiteral("trial.jpg"));
        const QImage scaled =
            frame.scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!scaled.save(picture, "JPEG", 90))
            picture.clear();
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PAWLINEX_PICTURE"), picture);
    env.insert(QStringLiteral("PAWLINEX_CLIP"), QString());
    env.insert(QStringLiteral("PAWLINEX_LEVEL"), QStringLiteral("0"));
    const QDateTime now = QDateTime::currentDateTime();
    env.insert(QStringLiteral("PAWLINEX_TIME"),
               now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate));

    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QString::fromStdString(ProgramFolder()));
    process.setProcessChannelMode(QProcess::MergedChannels);
    // Its own group, so that a time-out ends whatever the shell started as well.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QString::fromStdString(command)});
    if (!process.waitForStarted()) {
        result.output = process.errorString().toStdString();
        return result;
    }
    process.closeWriteChannel();
    result.started = true;
    if (!process.waitForFinished(kTrialMilliseconds)) {
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished();
        result.exitStatus = -1;
        result.output =
            process.readAll().toStdString() + "\n(10秒で終わらなかったため終了させました)";
        return result;
    }
    result.exitStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAll().toStdString();
    return result;
}
