// pawlinex-ftp against a real FTP server on 127.0.0.1.

#include "FtpTestSupport.h"
#include "ftp/FtpHostForm.h"
#include "tools/FtpCommandScript.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

using namespace ftptest;
namespace fs = std::filesystem;

namespace {

struct ClientRun {
    int exitCode = -1;
    std::string output;
};

ClientRun runClient(const std::string& scriptPath, const std::string& envPrefix = "") {
    std::string cmd = envPrefix + " '" + clientPath() + "' '-s:\"" + scriptPath + "\"' 2>&1";
    ClientRun run;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        run.output.append(buf, n);
    int status = pclose(p);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string crlf(std::initializer_list<std::string> lines) {
    std::string s;
    for (const auto& l : lines)
        s += l + "\r\n";
    return s;
}

class FtpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = tmp.path() + "/home";
        fs::create_directories(home + "/clips/day");
        fs::create_directories(home + "/abs");
        port = startFtpServer(server, home);
        ASSERT_GT(port, 0) << "FTP peer did not start";
        script = tmp.path() + "/FTP_PUT.txt";
    }

    ClientRun runScript(const std::string& text, const std::string& env = "") {
        writeBytes(script, text);
        return runClient(script, env);
    }

    std::string open() const { return "open 127.0.0.1 " + std::to_string(port); }

    TempFolder tmp;
    PeerProcess server;
    std::string home;
    std::string script;
    int port = 0;
};

const std::string kBinary =
    std::string("\x00\x01\r\n\n\r\xff\xfe RIFF", 12) + std::string(70000, 'x');

} // namespace

// Binary mode stores the bytes exactly, under the remote name, in the folder of every CD so far;
// absolute and relative folders both work and a name may hold spaces.
TEST_F(FtpClientTest, BinaryUploadLandsInTheFolderUnderTheRemoteName) {
    const std::string local = tmp.path() + "/my clip.AVI";
    writeBytes(local, kBinary);
    struct Case {
        std::vector<std::string> cds;
        std::string remote;
        std::string expected; // relative to the server's home
    } cases[] = {
        {{}, "261207052000_ALERT.AVI", "261207052000_ALERT.AVI"},
        {{"clips"}, "ALERT.AVI", "clips/ALERT.AVI"},
        {{"clips/day"}, "ALERT.AVI", "clips/day/ALERT.AVI"},
        {{"/abs"}, "a b.AVI", "abs/a b.AVI"},
        {{"clips", "day"}, "two.AVI", "clips/day/two.AVI"},
        {{"/clips/day", "/abs"}, "last.AVI", "abs/last.AVI"},
    };
    for (const Case& c : cases) {
        std::string text = open() + "\r\nalice\r\ns3cret pass\r\n";
        for (const auto& cd : c.cds)
            text += "CD " + cd + "\r\n";
        text += crlf({"binary", "PUT \"" + local + "\" " + c.remote, "quit", "", ""});
        ClientRun run = runScript(text);
        EXPECT_EQ(run.exitCode, 0) << c.expected << "\n" << run.output;
        EXPECT_EQ(readBytes(home + "/" + c.expected), kBinary) << c.expected;
        EXPECT_EQ(run.output.find("s3cret"), std::string::npos) << "password printed";
    }
}

// ASCII mode sends every line end as exactly one CR LF, whether the file had LF or CR LF; the
// server turns them back into its own line ends.
TEST_F(FtpClientTest, AsciiModeDoesNotDoubleCarriageReturns) {
    const std::string local = tmp.path() + "/notes.txt";
    writeBytes(local, "one\r\ntwo\nthree\rfour\r\n");
    ClientRun run = runScript(
        crlf({open(), "alice", "s3cret pass", "ascii", "PUT \"" + local + "\" notes.txt", "quit"}));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(readBytes(home + "/notes.txt"), "one\ntwo\nthree\rfour\n");
}

// Failures are reported on standard output and give a non-zero exit; nothing is stored.
TEST_F(FtpClientTest, FailuresAreReportedAndExitNonZero) {
    const std::string local = tmp.path() + "/clip.AVI";
    writeBytes(local, kBinary);
    const std::string put = "PUT \"" + local + "\" x.AVI";
    struct Case {
        const char* what;
        std::string text;
        const char* message;
    } cases[] = {
        {"wrong password", crlf({open(), "alice", "wrong", "binary", put, "quit"}), "530"},
        {"empty user", crlf({open(), "", "", "binary", put, "quit"}), "PUT failed"},
        {"missing folder",
         crlf({open(), "alice", "s3cret pass", "CD nowhere", "binary", put, "quit"}),
         "cannot change into the folder"},
        {"missing local file",
         crlf(
             {open(), "alice", "s3cret pass", "PUT \"" + tmp.path() + "/none.AVI\" x.AVI", "quit"}),
         "cannot open local file"},
        {"no open", crlf({"binary", put, "quit"}), "not connected"},
        {"bad host form", crlf({"open 127.0.0.1:0", "alice", "s3cret pass", "binary", put, "quit"}),
         "open: bad port"},
        {"server down",
         crlf({"open 127.0.0.1 " + std::to_string(FreeTcpPort()), "alice", "s3cret pass", "binary",
               put, "quit"}),
         "PUT failed"},
    };
    for (const Case& c : cases) {
        ClientRun run = runScript(c.text);
        EXPECT_EQ(run.exitCode, 1) << c.what << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.what << "\n" << run.output;
        EXPECT_FALSE(fs::exists(home + "/x.AVI")) << c.what;
        EXPECT_EQ(run.output.find("s3cret"), std::string::npos) << c.what;
    }
}

// A server that never greets ends in the connect time-out, one that greets and then falls
// silent in the stall time-out; neither holds the client for long.
TEST_F(FtpClientTest, SilentServersTimeOut) {
    const std::string local = tmp.path() + "/clip.AVI";
    writeBytes(local, "data");
    for (const auto& [mode, env] :
         {std::pair<std::string, std::string>{"mute", "PAWLINEX_FTP_CONNECT_TIMEOUT=1"},
          {"greet", "PAWLINEX_FTP_STALL_TIMEOUT=1"}}) {
        PeerProcess silent;
        int silentPort = startSilentServer(silent, mode);
        ASSERT_GT(silentPort, 0) << mode;
        ClientRun run =
            runScript(crlf({"open 127.0.0.1 " + std::to_string(silentPort), "alice", "s3cret pass",
                            "binary", "PUT \"" + local + "\" x.AVI", "quit"}),
                      env);
        EXPECT_EQ(run.exitCode, 1) << mode << "\n" << run.output;
        EXPECT_NE(run.output.find("error 28"), std::string::npos) << mode << "\n" << run.output;
    }
}

TEST(FtpClientUsage, UnreadableScriptOrNoArgumentExitsTwo) {
    EXPECT_EQ(runClient("/nonexistent/FTP_PUT.txt").exitCode, 2);
    FILE* p = popen(("'" + clientPath() + "' 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[256];
    while (fread(buf, 1, sizeof buf, p) > 0) {
    }
    int status = pclose(p);
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

// The two lines after "open" are the login answers even when empty or padded with spaces.
TEST(FtpScriptParser, LoginAnswersAndArguments) {
    auto cmds =
        ParseFtpScript("OPEN host.example 2121\r\n\r\n  pass word \r\n\r\ncd  /a b/c \r\n"
                       "Binary\r\nput \"/x y/z.AVI\" remote.AVI\r\nput /p/q.AVI\r\nQUIT\r\n");
    ASSERT_EQ(cmds.size(), 8u);
    EXPECT_EQ(cmds[0].kind, FtpCommand::Kind::Open);
    EXPECT_EQ(cmds[0].arg, "host.example");
    EXPECT_EQ(cmds[0].port, 2121);
    EXPECT_EQ(cmds[1].kind, FtpCommand::Kind::User);
    EXPECT_EQ(cmds[1].arg, "");
    EXPECT_EQ(cmds[2].kind, FtpCommand::Kind::Pass);
    EXPECT_EQ(cmds[2].arg, "  pass word ");
    EXPECT_EQ(cmds[3].kind, FtpCommand::Kind::Cd);
    EXPECT_EQ(cmds[3].arg, "/a b/c");
    EXPECT_EQ(cmds[4].kind, FtpCommand::Kind::Binary);
    EXPECT_EQ(cmds[5].kind, FtpCommand::Kind::Put);
    EXPECT_EQ(cmds[5].arg, "/x y/z.AVI");
    EXPECT_EQ(cmds[5].remote, "remote.AVI");
    EXPECT_EQ(cmds[6].remote, "q.AVI");
    EXPECT_EQ(cmds[7].kind, FtpCommand::Kind::Quit);

    for (const char* bad :
         {"open\r\n", "open h 0\r\n", "open h 65536\r\n", "open h 21x\r\n", "open h:\r\n",
          "open http://h\r\n", "PUT \"/unterminated x\r\n", "CD\r\n", "mput *\r\n",
          "CD cl\"ips x\x0b"
          "DELE y\r\n",
          "PUT \"/a\" b\x7f\r\n", "binary\x01\r\n"}) {
        auto r = ParseFtpScript(bad);
        ASSERT_FALSE(r.empty()) << bad;
        EXPECT_EQ(r[0].kind, FtpCommand::Kind::Invalid) << bad;
        EXPECT_FALSE(r[0].error.empty()) << bad;
    }

    // A login line with a control character is no login; an address's login replaces the
    // answer lines and its folder becomes the first CD.
    auto ctl = ParseFtpScript("open h\r\nal\x0bice\r\npw\r\n");
    ASSERT_EQ(ctl.size(), 3u);
    EXPECT_EQ(ctl[1].kind, FtpCommand::Kind::Invalid);
    EXPECT_EQ(ctl[2].kind, FtpCommand::Kind::Pass);
    auto url = ParseFtpScript("open ftp://u:p%3Aw@h:2121/up%20load\r\n\r\n\r\nbinary\r\n");
    ASSERT_EQ(url.size(), 5u);
    EXPECT_EQ(url[0].arg, "h");
    EXPECT_EQ(url[0].port, 2121);
    EXPECT_EQ(url[1].arg, "u");
    EXPECT_EQ(url[2].arg, "p:w");
    EXPECT_EQ(url[3].kind, FtpCommand::Kind::Cd);
    EXPECT_EQ(url[3].arg, "up load");
}

// Every form the host setting may take, and what is refused.
TEST(FtpHostForm, ReadsEveryFormAndRefusesTheRest) {
    const std::optional<std::string> none;
    struct Case {
        std::string text;
        std::string host;
        int port;
        std::optional<std::string> user, pass, folder;
        std::string stored;
    } good[] = {
        {"ftp.example.org", "ftp.example.org", 0, none, none, none, "ftp.example.org"},
        {"  h 2121  ", "h", 2121, none, none, none, "h 2121"},
        {"h   2121", "h", 2121, none, none, none, "h 2121"},
        {"h:2121", "h", 2121, none, none, none, "h 2121"},
        {"127.0.0.1:21", "127.0.0.1", 21, none, none, none, "127.0.0.1 21"},
        {"[::1]:2121", "::1", 2121, none, none, none, "::1 2121"},
        {"[::1]", "::1", 0, none, none, none, "::1"},
        {"[::1] 2121", "::1", 2121, none, none, none, "::1 2121"},
        {"::1 2121", "::1", 2121, none, none, none, "::1 2121"},
        {"fe80::1", "fe80::1", 0, none, none, none, "fe80::1"},
        {"ftp://u:p@h:21/dir", "h", 21, "u", "p", "dir", "h 21"},
        {"FTP://h", "h", 0, none, none, none, "h"},
        {"ftp://h/", "h", 0, none, none, none, "h"},
        {"ftp://u@[::1]:2121//abs/d", "::1", 2121, "u", none, "/abs/d", "::1 2121"},
        {"ftp://u%40x:p@ss:w@h/a%20b", "h", 0, "u@x", "p@ss:w", "a b", "h"},
        {"ftp://:@h", "h", 0, "", "", none, "h"},
    };
    for (const Case& c : good) {
        std::string why;
        const auto parts = ParseFtpHost(c.text, &why);
        ASSERT_TRUE(parts) << c.text << ": " << why;
        EXPECT_EQ(parts->host, c.host) << c.text;
        EXPECT_EQ(parts->port, c.port) << c.text;
        EXPECT_EQ(parts->user, c.user) << c.text;
        EXPECT_EQ(parts->pass, c.pass) << c.text;
        EXPECT_EQ(parts->folder, c.folder) << c.text;
        EXPECT_EQ(FtpHostStoredForm(*parts), c.stored) << c.text;
        // The stored form reads back as the same host and port.
        const auto again = ParseFtpHost(c.stored);
        ASSERT_TRUE(again) << c.stored;
        EXPECT_EQ(again->host, c.host) << c.stored;
        EXPECT_EQ(again->port, c.port) << c.stored;
    }
    for (const char* bad : {"",
                            "   ",
                            "h:",
                            "h:0",
                            "h:65536",
                            "h:21x",
                            "h 21 22",
                            "h:21 22",
                            "a b c",
                            "[::1",
                            "[::1]x",
                            "[::1]:",
                            "[h]:21",
                            "[]",
                            "ftp://",
                            "ftp://u@",
                            "ftp://u@/dir",
                            "ftp://h:99999",
                            "ftp://h/a%0bb",
                            "ftp://h/a%zz",
                            "ftp://a b",
                            "http://h",
                            "sftp://h:22",
                            "h/dir",
                            "u@h",
                            "h\x0b",
                            "h\x7f",
                            "h 21\r\nDELE x"}) {
        std::string why;
        EXPECT_FALSE(ParseFtpHost(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

// A control character in a script line never reaches the server: the command is refused and
// the upload fails before anything is stored.
TEST_F(FtpClientTest, ControlCharactersNeverReachTheServer) {
    const std::string local = tmp.path() + "/clip.AVI";
    writeBytes(local, kBinary);
    const std::string put = "PUT \"" + local + "\" x.AVI";
    fs::create_directories(home + "/cl\"ips x");
    writeBytes(home + "/y", "keep");
    for (const std::string& text :
         {crlf({open(), "alice", "s3cret pass",
                "CD cl\"ips x\x0b"
                "DELE y",
                "binary", put, "quit"}),
          crlf({open(), "alice", "s3cret pass", "binary", put + "\x0b", "quit"})}) {
        ClientRun run = runScript(text);
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find("control character"), std::string::npos) << run.output;
        EXPECT_EQ(readBytes(home + "/y"), "keep");
        EXPECT_FALSE(fs::exists(home + "/x.AVI")) << "sent to a folder the script did not mean";
    }
    EXPECT_FALSE(fs::exists(home + "/cl\"ips x/x.AVI"));
}
