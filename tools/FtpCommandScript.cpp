#include "FtpCommandScript.h"

#include "ftp/FtpHostForm.h"
#include "settings/basCommon.h"

#include <cctype>

namespace {

std::string trimSpaces(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return lines;
}

std::string unquote(const std::string& s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        return s.substr(1, s.size() - 2);
    return s;
}

// The host as the settings may hold it: "host port", "host:port", "[v6]:port" or an ftp:// address.
std::optional<FtpHostParts> parseOpen(const std::string& args, FtpCommand& cmd) {
    std::string why;
    std::optional<FtpHostParts> parts = ParseFtpHost(args, &why);
    if (!parts) {
        cmd.kind = FtpCommand::Kind::Invalid;
        cmd.error = "open: " + why;
        return parts;
    }
    cmd.arg = parts->host;
    cmd.port = parts->port > 0 ? parts->port : 21;
    return parts;
}

void parsePut(const std::string& args, FtpCommand& cmd) {
    std::string rest = trimSpaces(args);
    std::string remote;
    if (!rest.empty() && rest.front() == '"') {
        size_t close = rest.find('"', 1);
        if (close == std::string::npos) {
            cmd.kind = FtpCommand::Kind::Invalid;
            cmd.error = "PUT: missing closing quote";
            return;
        }
        cmd.arg = rest.substr(1, close - 1);
        remote = rest.substr(close + 1);
    } else {
        size_t sp = rest.find(' ');
        cmd.arg = rest.substr(0, sp);
        if (sp != std::string::npos)
            remote = rest.substr(sp + 1);
    }
    remote = unquote(trimSpaces(remote));
    if (cmd.arg.empty()) {
        cmd.kind = FtpCommand::Kind::Invalid;
        cmd.error = "PUT: no local file given";
        return;
    }
    if (remote.empty()) {
        // Without a remote name the file keeps its own name, as interactive clients do.
        size_t slash = cmd.arg.find_last_of('/');
        remote = slash == std::string::npos ? cmd.arg : cmd.arg.substr(slash + 1);
    }
    cmd.remote = remote;
}

} // namespace

std::vector<FtpCommand> ParseFtpScript(const std::string& text) {
    std::vector<FtpCommand> out;
    std::vector<std::string> lines = splitLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& raw = lines[i];
        std::string line = trimSpaces(raw);
        if (line.empty())
            continue;
        FtpCommand cmd;
        cmd.line = static_cast<int>(i + 1);
        size_t sp = line.find(' ');
        std::string verb = lower(line.substr(0, sp));
        std::string args = sp == std::string::npos ? std::string() : line.substr(sp + 1);

        // A control character would reach the server inside a command and could end it early,
        // letting the rest pass as a command of its own.
        if (HasControlCharacter(raw)) {
            cmd.kind = FtpCommand::Kind::Invalid;
            cmd.error = "control character in the line";
            cmd.stopsTransfers = true;
            out.push_back(cmd);
            continue;
        }
        if (verb == "open") {
            cmd.kind = FtpCommand::Kind::Open;
            const std::optional<FtpHostParts> parts = parseOpen(args, cmd);
            out.push_back(cmd);
            // The login answers follow even a refused open: read as commands, the password
            // would be echoed in the error about it.
            // The login answers are taken verbatim: a password may begin or end with a space,
            // and an empty line is an empty answer, not a blank to skip.
            for (auto kind : {FtpCommand::Kind::User, FtpCommand::Kind::Pass}) {
                if (i + 1 >= lines.size())
                    break;
                ++i;
                FtpCommand answer;
                answer.kind = kind;
                answer.arg = lines[i];
                answer.line = static_cast<int>(i + 1);
                // A login carried by an ftp:// address wins over the answer lines.
                const std::optional<std::string> none;
                const auto& given = !parts                           ? none
                                    : kind == FtpCommand::Kind::User ? parts->user
                                                                     : parts->pass;
                if (given)
                    answer.arg = *given;
                else if (HasControlCharacter(answer.arg)) {
                    answer.kind = FtpCommand::Kind::Invalid;
                    answer.error = "control character in the login";
                    answer.stopsTransfers = true;
                }
                out.push_back(answer);
            }
            if (parts && parts->folder) {
                FtpCommand cd;
                cd.kind = FtpCommand::Kind::Cd;
                cd.arg = *parts->folder;
                cd.line = cmd.line;
                out.push_back(cd);
            }
            continue;
        }
        if (verb == "cd") {
            cmd.kind = FtpCommand::Kind::Cd;
            cmd.arg = unquote(trimSpaces(args));
            if (cmd.arg.empty()) {
                cmd.kind = FtpCommand::Kind::Invalid;
                cmd.error = "CD: no folder given";
                cmd.stopsTransfers = true;
            }
        } else if (verb == "binary" || verb == "bin" || verb == "image") {
            cmd.kind = FtpCommand::Kind::Binary;
        } else if (verb == "ascii" || verb == "asc") {
            cmd.kind = FtpCommand::Kind::Ascii;
        } else if (verb == "put" || verb == "send") {
            cmd.kind = FtpCommand::Kind::Put;
            parsePut(args, cmd);
        } else if (verb == "quit" || verb == "bye") {
            cmd.kind = FtpCommand::Kind::Quit;
        } else {
            cmd.kind = FtpCommand::Kind::Invalid;
            cmd.error = "invalid command \"" + verb + "\"";
        }
        out.push_back(cmd);
    }
    return out;
}
