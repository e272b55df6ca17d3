#pragma once

// Shared by the FTP tests: a pyftpdlib server on 127.0.0.1 and small file helpers.

#include "common/PeerProcess.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace ftptest {

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string programDir() {
    const char* dir = std::getenv("PAWLINEX_PROGRAM_DIR");
    return dir ? dir : "";
}

inline std::string clientPath() {
    return programDir() + "/pawlinex-ftp";
}

// A server with user "alice"/"s3cret pass" whose home is `home`. Returns its port, 0 when it
// did not come up.
inline int startFtpServer(PeerProcess& peer, const std::string& home) {
    if (!peer.start({"/usr/bin/python3", PeersDir() + "/ftp_server.py", "serve", home, "alice",
                     "s3cret pass"}))
        return 0;
    return std::atoi(peer.readLine().c_str());
}

// A server that accepts connections and never greets ("mute") or greets and then falls silent
// ("greet").
inline int startSilentServer(PeerProcess& peer, const std::string& mode) {
    if (!peer.start({"/usr/bin/python3", PeersDir() + "/ftp_server.py", mode}))
        return 0;
    return std::atoi(peer.readLine().c_str());
}

} // namespace ftptest
