#pragma once

#include <string>

// Set by the caller before AutoFTP: the program folder and the FTP login.
inline std::string FtpAppPath;
inline std::string FtpHost;
inline std::string FtpUser;
inline std::string FtpPass;

// Uploads one file with the pawlinex-ftp client: writes FTP_PUT.txt (mode 0600) in FtpAppPath,
// starts the client beside the program, waits for it with a bounded WaitProcess (the windows
// keep painting) and deletes the script. An empty local path takes the remote name, an empty
// mode becomes "ascii"; both defaults are written back into the caller's variables.
void AutoFTP(std::string& remoteName, std::string& localPath, const std::string& remoteFolder,
             std::string& mode);
