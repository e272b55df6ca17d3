#pragma once

#include "mail/MailTransport.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// A transport that records every call in order and answers as told.
class RecordingTransport : public MailTransport {
public:
    struct Call {
        std::string kind; // "RcvMail" or "SendMailEx"
        std::vector<std::string> args;
    };
    std::vector<Call> calls;
    bool popResult = true;
    std::string sendResult;    // empty = accepted
    MailExchangeReport report; // handed back by both calls

    std::string SendMailEx(const std::string& logPath, const std::string& server,
                           const std::string& recipients, const std::string& sender,
                           const std::string& subject, const std::string& body,
                           const std::string& files, MailExchangeReport* out) override {
        calls.push_back(
            {"SendMailEx", {logPath, server, recipients, sender, subject, body, files}});
        if (out)
            *out = report;
        return sendResult;
    }
    bool RcvMail(const std::string& server, const std::string& user, const std::string& password,
                 const std::string& command, const std::string& folder, std::string* error,
                 MailExchangeReport* out) override {
        calls.push_back({"RcvMail", {server, user, password, command, folder}});
        if (!popResult && error)
            *error = "-ERR [AUTH] Authentication failed.";
        if (out)
            *out = report;
        return popResult;
    }
};

// Holds SendMailEx on the worker thread until the test opens the gate.
class GateTransport : public RecordingTransport {
public:
    std::string SendMailEx(const std::string& logPath, const std::string& server,
                           const std::string& recipients, const std::string& sender,
                           const std::string& subject, const std::string& body,
                           const std::string& files, MailExchangeReport* out) override {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_open; });
        return RecordingTransport::SendMailEx(logPath, server, recipients, sender, subject, body,
                                              files, out);
    }
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};
