#pragma once

// Recording doubles for the alarm's edges. Every call is appended to one shared log, so a test
// can check the order across all of them.

#include "detection/AlarmCommand.h"
#include "detection/AlarmPorts.h"
#include "detection/AlarmSequence.h"

#include <functional>
#include <string>
#include <vector>

struct CallLog {
    std::vector<std::string> calls;
    void add(const std::string& c) { calls.push_back(c); }
    bool has(const std::string& c) const {
        for (const auto& x : calls)
            if (x == c)
                return true;
        return false;
    }
};

class FixedClock final : public Clock {
public:
    QDateTime time{QDate(2007, 10, 9), QTime(4, 26, 19)};
    QDateTime now() const override { return time; }
};

class RecordingSound final : public AlarmSound {
public:
    explicit RecordingSound(CallLog& log) : m_log(log) {}
    void play(const std::string& p) override { m_log.add("SoundPlay " + p); }
    void close(const std::string& p) override { m_log.add("SoundClose " + p); }
    void repeat(const std::string& p) override { m_log.add("SoundRepeat " + p); }

private:
    CallLog& m_log;
};

class RecordingRecorder final : public ClipRecorder {
public:
    explicit RecordingRecorder(CallLog& log) : m_log(log) {}
    CAPTUREPARMS driverBlock{};
    CAPTUREPARMS written{};
    std::string file;
    std::function<void(const std::string&)> onSequence; // e.g. write the clip file
    bool recorded = true;                               // what captureSequence answers
    bool getSetup(CAPTUREPARMS& p) override {
        m_log.add("capCaptureGetSetup");
        p = driverBlock;
        return true;
    }
    bool setSetup(const CAPTUREPARMS& p) override {
        m_log.add("capCaptureSetSetup");
        written = p;
        return true;
    }
    bool setCaptureFile(const std::string& p) override {
        m_log.add("capFileSetCaptureFile");
        file = p;
        return true;
    }
    bool captureSequence() override {
        m_log.add("capCaptureSequence");
        if (onSequence)
            onSequence(file);
        return recorded;
    }
    bool captureStop() override {
        m_log.add("capCaptureStop");
        return true;
    }

private:
    CallLog& m_log;
};

class RecordingUploader final : public ClipUploader {
public:
    explicit RecordingUploader(CallLog& log) : m_log(log) {}
    struct Upload {
        std::string name, path, folder, mode, appPath, host, user, pass;
    };
    std::vector<Upload> uploads;
    bool throwOnUpload = false;
    std::string appPath, host, user, pass;
    void setLogin(const std::string& a, const std::string& h, const std::string& u,
                  const std::string& p) override {
        m_log.add("FtpLogin");
        appPath = a, host = h, user = u, pass = p;
    }
    void upload(std::string& name, std::string& path, const std::string& folder,
                std::string& mode) override {
        m_log.add("AutoFTP");
        if (throwOnUpload)
            throw std::runtime_error("client cannot start");
        uploads.push_back({name, path, folder, mode, appPath, host, user, pass});
    }

private:
    CallLog& m_log;
};

class RecordingMailer final : public AlarmMailer {
public:
    explicit RecordingMailer(CallLog& log) : m_log(log) {}
    struct Mail {
        std::string to, subject, body, files;
    };
    std::vector<Mail> mails;
    bool ready = true;
    std::function<bool(const Mail&)> result = [](const Mail&) { return true; };
    // Why a failed mail went unanswered (empty: the server answered, e.g. refused it).
    std::function<std::string(const Mail&)> unanswered = [](const Mail&) { return ""; };
    std::vector<std::pair<std::string, std::string>> skipped; // to, why
    bool updateAccountState() override {
        m_log.add("UpdateMailAccountState");
        return ready;
    }
    bool send(const std::string& to, const std::string& s, const std::string& b,
              const std::string& f) override {
        m_log.add("MailSend " + to);
        mails.push_back({to, s, b, f});
        return result(mails.back());
    }
    std::string lastUnansweredReason() const override { return unanswered(mails.back()); }
    void logSkipped(const std::string& to, const std::string&, const std::string& why) override {
        m_log.add("skipped " + to);
        skipped.emplace_back(to, why);
    }

private:
    CallLog& m_log;
};

class RecordingPictures final : public PictureWriter {
public:
    explicit RecordingPictures(CallLog& log) : m_log(log) {}
    struct Picture {
        QImage source;
        int width, height;
        std::string path;
        int quality;
    };
    std::vector<Picture> pictures;
    int failOnCall = -1; // index of the write that fails
    int write(const QImage& source, QImage& canvas, int w, int h, const std::string& path,
              uint8_t quality) override {
        m_log.add("DCSavetoJPEG");
        pictures.push_back({source, w, h, path, quality});
        canvas = source.scaled(w, h);
        return int(pictures.size()) - 1 == failOnCall ? 1 : 0;
    }

private:
    CallLog& m_log;
};

class RecordingCommandRunner final : public AlarmCommandRunner {
public:
    explicit RecordingCommandRunner(CallLog& log) : m_log(log) {}
    std::vector<AlarmCommandRun> runs;
    void start(const AlarmCommandRun& run) override {
        m_log.add("AlarmCommand " + run.command);
        runs.push_back(run);
    }
    AlarmCommandResult runAndWait(const AlarmCommandRun& run) override {
        m_log.add("AlarmCommand once " + run.command);
        runs.push_back(run);
        return {true, 0, "done"};
    }
    void endAll() override { m_log.add("AlarmCommand endAll"); }

private:
    CallLog& m_log;
};
