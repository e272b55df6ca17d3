#pragma once

// Starts a test peer (a small server script) in its own process group and ends the whole group
// again, so no server outlives its test even when it forked children of its own.

#include <string>
#include <sys/types.h>
#include <vector>

class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() { stop(); }

    // Runs argv[0] with its arguments (no shell); the child's standard output is read through
    // readLine, its standard error goes to the test's. False when the program cannot be started.
    bool start(const std::vector<std::string>& argv);

    // The next line the peer printed, without its line end; empty on end of output or when
    // nothing arrived within `limitMs` (a generous bound for a hung peer, not a timing check).
    std::string readLine(int limitMs = 20000);

    // SIGTERM to the process group, then SIGKILL if it is still there after a while; waits.
    void stop();

    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeTcpPort();

// Folder of the peer scripts: PAWLINEX_TEST_PEERS, else tests/peers of the source tree.
std::string PeersDir();

// A fresh private folder under the system's temporary folder, removed by its destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};
