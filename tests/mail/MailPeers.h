#pragma once

// Real mail servers on 127.0.0.1 for the integration tests: the SMTP peer records what it
// received as JSON files, the POP3 peer is Dovecot with one account.

#include "common/PeerProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <string>
#include <vector>

class SmtpPeer {
public:
    // Extra arguments for smtp_server.py serve (see the script). Returns the port, 0 on failure.
    int start(const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv = {"/usr/bin/python3", PeersDir() + "/smtp_server.py",
                                         "serve", m_out.path()};
        argv.insert(argv.end(), options.begin(), options.end());
        if (!m_process.start(argv))
            return 0;
        m_port = std::atoi(m_process.readLine().c_str());
        return m_port;
    }
    int startMute() {
        if (!m_process.start({"/usr/bin/python3", PeersDir() + "/smtp_server.py", "mute"}))
            return 0;
        m_port = std::atoi(m_process.readLine().c_str());
        return m_port;
    }
    std::string server() const { return "127.0.0.1\t" + std::to_string(m_port); }

    // Messages the server accepted, in order.
    std::vector<QJsonObject> messages() const {
        std::vector<QJsonObject> out;
        for (int n = 1;; ++n) {
            QFile f(QString::fromStdString(m_out.path()) + QString("/msg-%1.json").arg(n));
            if (!f.open(QIODevice::ReadOnly))
                break;
            out.push_back(QJsonDocument::fromJson(f.readAll()).object());
        }
        return out;
    }

private:
    TempFolder m_out;
    PeerProcess m_process;
    int m_port = 0;
};

class Pop3Peer {
public:
    // With a certificate and key the server offers STLS and refuses logins before it.
    int start(const std::string& user, const std::string& password, const std::string& cert = {},
              const std::string& key = {}) {
        std::vector<std::string> argv = {"/usr/bin/python3", PeersDir() + "/pop3_server.py",
                                         m_root.path(), user, password};
        if (!cert.empty()) {
            argv.push_back(cert);
            argv.push_back(key);
        }
        if (!m_process.start(argv))
            return 0;
        m_port = std::atoi(m_process.readLine(30000).c_str());
        return m_port;
    }
    std::string server() const { return "127.0.0.1\t" + std::to_string(m_port); }

private:
    TempFolder m_root;
    PeerProcess m_process;
    int m_port = 0;
};

// First value of a header as Python's mail parser decoded it ("" when absent).
inline std::string HeaderOf(const QJsonObject& msg, const char* name,
                            const char* which = "headers") {
    const QJsonArray values = msg[which].toObject()[name].toArray();
    return values.isEmpty() ? std::string() : values.first().toString().toStdString();
}

inline std::string ReadWholeFile(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}
