#include "settings/basSettings.h"

#include "SettingsTestFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace {

// Every field as "name=value", so a mismatch shows which field differs.
std::vector<std::string> describe(const AppSettingsRecord& s) {
    std::vector<std::string> out;
    auto add = [&](const std::string& name, const auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>)
            out.push_back(name + "=" + v);
        else
            out.push_back(name + "=" + std::to_string(v));
    };
    add("Timer", s.Com.Timer);
    add("CkSum", s.Com.CkSum);
    add("Accuracy", s.Com.Accuracy);
    add("Sound", s.Com.Sound);
    add("SoundPath", s.Com.SoundPath);
    add("Noize", s.Com.Noize);
    add("Comp", s.Com.Comp);
    add("Mail", s.Mail.Mail);
    add("Smtp", s.Mail.Smtp);
    add("Pop", s.Mail.Pop);
    add("User", s.Mail.User);
    add("Pass", s.Mail.Pass);
    add("Att", s.Mail.Att);
    add("OptAtt", s.Mail.OptAtt);
    add("AtCram", s.Mail.AtCram);
    add("SmtpUser", s.Mail.SmtpUser);
    add("SmtpPass", s.Mail.SmtpPass);
    for (int n = 0; n < 4; ++n) {
        const MailTrigger& t = s.Trg[n];
        const std::string p = "Trg" + std::to_string(n) + ".";
        add(p + "Enabled", t.Enabled);
        add(p + "MailTo", t.MailTo);
        add(p + "Subject", t.Subject);
        add(p + "Body", t.Body);
        add(p + "Grp", t.Grp);
        add(p + "Files", t.Files);
        add(p + "MinSize", t.MinSize);
        add(p + "Arc", t.Arc);
    }
    add("Ftp.Move", s.Ftp.Move);
    add("Ftp.Ftp", s.Ftp.Ftp);
    add("Ftp.Host", s.Ftp.Host);
    add("Ftp.User", s.Ftp.User);
    add("Ftp.Pass", s.Ftp.Pass);
    add("Ftp.Holder", s.Ftp.Holder);
    add("Ftp.FileName", s.Ftp.FileName);
    add("Ftp.Time", s.Ftp.Time);
    add("Ftp.Audio", s.Ftp.Audio);
    add("Extra.Pre", s.Extra.Pre);
    add("Extra.Mask", s.Extra.Mask);
    add("Extra.Light", s.Extra.Light);
    add("Extra.KeepFree", s.Extra.KeepFree);
    add("Extra.OnAlarm", s.Extra.OnAlarm);
    return out;
}

AppSettingsRecord defaults() {
    AppSettingsRecord d;
    d.Com.Timer = 20;
    d.Com.CkSum = 100;
    d.Com.Accuracy = 1;
    d.Ftp.Time = 5;
    return d;
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("PAWLINEX_MEDIA_DIR");
        AppSettings = AppSettingsRecord{};
        // A failed load elsewhere must not block the saves of this test.
        folder.write("");
        ASSERT_TRUE(LoadSettings());
        std::remove(folder.ini().c_str());
    }
    // Loads a file made of `text` and returns whether the load succeeded.
    bool loadText(const std::string& text) {
        folder.write(text);
        return LoadSettings();
    }
    SettingsTestFolder folder;
};

TEST_F(Settings, NoFileGivesDefaultsAndFirstSaveWritesEveryKeyInOrder) {
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(describe(AppSettings), describe(defaults()));
    ASSERT_TRUE(SaveSettings());
    std::string trg;
    for (int n = 0; n < 4; ++n)
        trg += "[" + std::to_string(n) +
               "TRG]\r\nENABLED=False\r\nMAILTO=\r\nSUBJECT=\r\nBODY=\r\nGRP=0\r\nFILES=\r\n"
               "MINSIZE=0\r\nARC=0\r\n";
    EXPECT_EQ(folder.read(), "[COM]\r\nTIMER=20\r\nCKSUM=100\r\nSOUND=\r\nACCURACY=1\r\nNOIZE=0\r\n"
                             "COMP=OFF\r\n"
                             "[MAIL]\r\nMAIL=\r\nSMTP=\r\nPOP=\r\nUSER=\r\nPASS=\r\nATT=\r\n"
                             "OPTATT=\r\nAtCRAM=\r\nSMTPUSER=\r\nSMTPPASS=\r\n" +
                                 trg +
                                 "[FTP]\r\nMOVE=False\r\nFTP=False\r\nHOST=\r\nUSER=\r\nPASS=\r\n"
                                 "HOLDER=\r\nFILENAME=False\r\nTIME=5\r\nAUDIO=False\r\n"
                                 "[EXTRA]\r\nPRE=0\r\nMASK=\r\nLIGHT=0\r\nKEEPFREE=0\r\n"
                                 "ONALARM=\r\n");
    struct stat st;
    ASSERT_EQ(::stat(folder.ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Settings, EveryKeyRoundTrips) {
    const std::string media = folder.path() + "/media";
    std::filesystem::create_directory(media);
    SettingsTestFolder::writeFile(media + "/bark.oga", "x");
    ::setenv("PAWLINEX_MEDIA_DIR", media.c_str(), 1);

    AppSettingsRecord s;
    s.Com = {37, 4321, 77, "bark.oga", "", true, false};
    s.Mail = {"me@example.org",
              "smtp.example.org\t587",
              "\t", // a lone tab is a value, not blank
              "\xe5\xb1\xb1\xe7\x94\xb0",
              "p@ss w\xc3\xb6rd!",
              "1",
              "0",
              "1",
              "smtp-user",
              "\xe3\x81\x84\xef\xbd\xb1]x"};
    for (int n = 0; n < 4; ++n) {
        MailTrigger& t = s.Trg[n];
        t.Enabled = n % 2 == 0;
        t.MailTo = "to" + std::to_string(n) + "@example.org, b@example.org";
        t.Subject =
            "\xef\xbe\x8c\xef\xbe\x9f\xef\xbe\x9b\xef\xbd\xb8\xef\xbe\x9e " + std::to_string(n);
        t.Body = "line one " + std::to_string(n);
        t.Grp = static_cast<int16_t>(n % 2);
        t.Files = "files" + std::to_string(n);
        t.MinSize = static_cast<int16_t>(n % 3);
        t.Arc = static_cast<int16_t>(25 * n);
    }
    s.Ftp = {true, true, "ftp.example.org", "ftpuser", "ftp pass", "/upload/cam", true, 17, true};
    s.Extra = {4, "8000000000000000000000000000000000000000000000a1", 35, 1000000,
               "curl -s -F \"file=@$PAWLINEX_PICTURE\" https://ntfy.example/cam; echo '犬'"};
    AppSettings = s;
    ASSERT_TRUE(SaveSettings());
    AppSettings = AppSettingsRecord{};
    ASSERT_TRUE(LoadSettings());
    s.Com.SoundPath = media + "/bark.oga";
    EXPECT_EQ(describe(AppSettings), describe(s));
    ::unsetenv("PAWLINEX_MEDIA_DIR");
}

struct ClampCase {
    const char* section;
    const char* key;
    const char* text;
    std::function<int(const AppSettingsRecord&)> field;
    int expected;
};

TEST_F(Settings, LoadClampsAndConvertsNumbers) {
    auto timer = [](const AppSettingsRecord& s) { return s.Com.Timer; };
    auto cksum = [](const AppSettingsRecord& s) { return s.Com.CkSum; };
    auto accuracy = [](const AppSettingsRecord& s) { return s.Com.Accuracy; };
    auto noize = [](const AppSettingsRecord& s) { return int(s.Com.Noize); };
    auto arc2 = [](const AppSettingsRecord& s) { return s.Trg[2].Arc; };
    auto grp = [](const AppSettingsRecord& s) { return s.Trg[1].Grp; };
    auto time = [](const AppSettingsRecord& s) { return s.Ftp.Time; };
    auto pre = [](const AppSettingsRecord& s) { return s.Extra.Pre; };
    auto light = [](const AppSettingsRecord& s) { return s.Extra.Light; };
    auto keep = [](const AppSettingsRecord& s) { return s.Extra.KeepFree; };
    auto mask = [](const AppSettingsRecord& s) { return int(!s.Extra.Mask.empty()); };
    const ClampCase cases[] = {
        {"COM", "TIMER", "", timer, 20},
        {"COM", "TIMER", "   ", timer, 20},
        {"COM", "TIMER", "0", timer, 20},
        {"COM", "TIMER", "-3", timer, 20},
        {"COM", "TIMER", "1", timer, 1},
        {"COM", "TIMER", "50", timer, 50},
        {"COM", "TIMER", "51", timer, 50},
        {"COM", "TIMER", " 7 ", timer, 7},
        {"COM", "TIMER", "2.5", timer, 2},
        {"COM", "TIMER", "3.5", timer, 4},
        {"COM", "TIMER", "2.51", timer, 3},
        {"COM", "TIMER", "2.49", timer, 2},
        {"COM", "TIMER", "+8", timer, 8},
        {"COM", "CKSUM", "0", cksum, 100},
        {"COM", "CKSUM", "9999", cksum, 9999},
        {"COM", "CKSUM", "10000", cksum, 9999},
        {"COM", "CKSUM", "32767", cksum, 9999},
        {"COM", "ACCURACY", "0", accuracy, 1},
        {"COM", "ACCURACY", "100", accuracy, 100},
        {"COM", "ACCURACY", "101", accuracy, 100},
        {"COM", "NOIZE", "0", noize, 0},
        {"COM", "NOIZE", "1", noize, 1},
        {"COM", "NOIZE", "2", noize, 1},
        {"COM", "NOIZE", "-1", noize, 0},
        {"2TRG", "ARC", "-5", arc2, 1},
        {"2TRG", "ARC", "0", arc2, 0},
        {"2TRG", "ARC", "100", arc2, 100},
        {"2TRG", "ARC", "150", arc2, 100},
        {"1TRG", "GRP", "-32768", grp, -32768},
        {"FTP", "TIME", "3", time, 5},
        {"FTP", "TIME", "5", time, 5},
        {"FTP", "TIME", "30", time, 30},
        {"FTP", "TIME", "31", time, 30},
        // [EXTRA] never stops a start: out of range is clamped, no number is the default.
        {"EXTRA", "PRE", "10", pre, 10},
        {"EXTRA", "PRE", "11", pre, 10},
        {"EXTRA", "PRE", "-1", pre, 0},
        {"EXTRA", "PRE", "2.5", pre, 0},
        {"EXTRA", "LIGHT", "100", light, 100},
        {"EXTRA", "LIGHT", "250", light, 100},
        {"EXTRA", "LIGHT", "x", light, 0},
        {"EXTRA", "KEEPFREE", "1000000", keep, 1000000},
        {"EXTRA", "KEEPFREE", "99999999999999999999", keep, 1000000},
        {"EXTRA", "KEEPFREE", "+500", keep, 500},
        {"EXTRA", "KEEPFREE", "-", keep, 0},
        {"EXTRA", "MASK", "00000000000000000000000000000000000000000000000f", mask, 1},
        {"EXTRA", "MASK", "0000", mask, 0},
        {"EXTRA", "MASK", "ffffffffffffffffffffffffffffffffffffffffffffffff", mask, 0},
        {"EXTRA", "MASK", "g00000000000000000000000000000000000000000000000", mask, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + "=" + c.text);
        ASSERT_TRUE(
            loadText(std::string("[") + c.section + "]\r\n" + c.key + "=" + c.text + "\r\n"));
        EXPECT_EQ(c.field(AppSettings), c.expected);
    }
}

// A number key that is not a 16-bit number stops the load with a one-line message, leaves the
// file alone and keeps later saves from overwriting it.
TEST_F(Settings, BadNumberFailsTheLoad) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM", "CKSUM=40000"}, {"COM", "TIMER=abc"},     {"COM", "NOIZE=yes"},
        {"3TRG", "ARC=-32769"}, {"0TRG", "GRP=1e3"},      {"FTP", "TIME=5 5"},
        {"1TRG", "MINSIZE=."},  {"COM", "TIMER=32767.5"}, {"COM", "TIMER=99999999999999999999"},
    };
    for (const auto& [section, line] : cases) {
        SCOPED_TRACE(line);
        const std::string text = std::string("; mine\r\n[") + section + "]\r\n" + line +
                                 "\r\n[FTP]\r\nHOST=keep.example.org\r\n";
        EXPECT_FALSE(loadText(text));
        const std::string error = LastSettingsError();
        const std::string key(line, std::string_view(line).find('='));
        const std::string value(std::string_view(line).substr(key.size() + 1));
        EXPECT_NE(error.find(std::string("[") + section + "]"), std::string::npos) << error;
        EXPECT_NE(error.find(key), std::string::npos) << error;
        EXPECT_NE(error.find(value), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_FALSE(SaveSettings());
        EXPECT_EQ(folder.read(), text);
    }
    // Keys after the failing one are not read.
    EXPECT_FALSE(loadText("[COM]\r\nTIMER=7\r\nCKSUM=x\r\n[FTP]\r\nHOST=h\r\n"));
    EXPECT_EQ(AppSettings.Com.Timer, 7);
    EXPECT_EQ(AppSettings.Ftp.Host, "");
}

TEST_F(Settings, FlagsAndHandTypedComp) {
    ASSERT_TRUE(loadText("; hand-edited\r\n[COM]\r\nCOMP=ON\r\nNOIZE=2\r\nUNKNOWN=kept\r\n"
                         "[0TRG]\r\nENABLED=True\r\n[1TRG]\r\nENABLED=TRUE\r\n"
                         "[FTP]\r\nMOVE=true\r\nFTP=True\r\nAUDIO= True \r\n"
                         "[SOURCES]\r\nSOURCE0=demo\r\nSOURCE2=lavfi:testsrc2\r\n"));
    EXPECT_TRUE(AppSettings.Com.Comp);
    EXPECT_TRUE(AppSettings.Com.Noize);
    EXPECT_TRUE(AppSettings.Trg[0].Enabled);
    EXPECT_FALSE(AppSettings.Trg[1].Enabled);
    EXPECT_FALSE(AppSettings.Ftp.Move);
    EXPECT_TRUE(AppSettings.Ftp.Ftp);
    EXPECT_TRUE(AppSettings.Ftp.Audio);
    ASSERT_TRUE(SaveSettings());
    const std::string saved = folder.read();
    EXPECT_TRUE(
        saved.starts_with("; hand-edited\r\n[COM]\r\nCOMP=ON\r\nNOIZE=1\r\nUNKNOWN=kept\r\n"))
        << saved;
    EXPECT_NE(saved.find("MOVE=False\r\n"), std::string::npos);
    EXPECT_NE(saved.find("[SOURCES]\r\nSOURCE0=demo\r\nSOURCE2=lavfi:testsrc2\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadSourcesSection(), (std::vector<std::string>{"demo", "lavfi:testsrc2"}));

    // A lower-case "on" hides the command, and the next save writes the program's own "OFF".
    ASSERT_TRUE(loadText("[COM]\r\nCOMP=on\r\n"));
    EXPECT_FALSE(AppSettings.Com.Comp);
    ASSERT_TRUE(SaveSettings());
    EXPECT_NE(folder.read().find("COMP=OFF\r\n"), std::string::npos);
}

// The whole multi-line body survives; a body changed by a program that only knows BODY wins.
TEST_F(Settings, MultiLineBody) {
    const std::string body = "  first line \r\nC:\\path\\n and \\\\ \n\nlast";
    AppSettings.Trg[1].Body = body;
    ASSERT_TRUE(SaveSettings());
    const std::string saved = folder.read();
    EXPECT_NE(saved.find("BODY=  first line \r\nBODYX=  first line \\r\\nC:\\\\path\\\\n and "
                         "\\\\\\\\ \\n\\nlast\r\n"),
              std::string::npos)
        << saved;
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings.Trg[1].Body, body);

    // Another program rewrote BODY: its text wins over the stale extra key.
    std::string edited = saved;
    edited.replace(edited.find("BODY=  first line "), 18, "BODY=new text");
    folder.write(edited);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings.Trg[1].Body, "new text");

    // A body back on one line drops the extra key.
    AppSettings.Trg[1].Body = "single";
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(folder.read().find("BODYX"), std::string::npos);
    // A body that starts with a line break still comes back whole.
    AppSettings.Trg[2].Body = "\nsecond";
    ASSERT_TRUE(SaveSettings());
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings.Trg[2].Body, "\nsecond");
}

// Values from files of the Windows version read as they are: no escapes outside the extra body
// key, and no cut at 199 characters.
TEST_F(Settings, ForeignValuesReadUnchanged) {
    const std::string longBody(250, 'b');
    // "\x5c" is a backslash in CP932 (shown as a yen sign on Japanese Windows); a scrambled "]"
    // is stored as one.
    ASSERT_TRUE(loadText("[0TRG]\r\nBODY=" + longBody +
                         "\\n\r\nSUBJECT=\x8c\x78\x95\xf1\\r\\\\\r\n"
                         "[MAIL]\r\nPASS=\\\\\r\n[FTP]\r\nHOLDER=\\cam\\\r\n"));
    EXPECT_EQ(AppSettings.Trg[0].Body, longBody + "\\n");
    EXPECT_EQ(AppSettings.Trg[0].Subject, "\xe8\xad\xa6\xe5\xa0\xb1\\r\\\\");
    EXPECT_EQ(AppSettings.Mail.Pass, "]]");
    EXPECT_EQ(AppSettings.Ftp.Holder, "\\cam\\");
    ASSERT_TRUE(SaveSettings());
    const std::string saved = folder.read();
    EXPECT_NE(saved.find("SUBJECT=\x8c\x78\x95\xf1\\r\\\\\r\n"), std::string::npos);
    EXPECT_NE(saved.find("PASS=\\\\\r\n"), std::string::npos);
    EXPECT_NE(saved.find("HOLDER=\\cam\\\r\n"), std::string::npos);
}

TEST_F(Settings, FileEncodingFollowsTheValues) {
    AppSettings.Trg[0].Subject = "\xe8\xad\xa6\xe5\xa0\xb1"; // 警報
    ASSERT_TRUE(SaveSettings());
    EXPECT_NE(folder.read().find("SUBJECT=\x8c\x78\x95\xf1\r\n"), std::string::npos);

    AppSettings.Trg[3].Subject = "\xe7\x8a\xac \xf0\x9f\x90\x95"; // a dog emoji
    ASSERT_TRUE(SaveSettings());
    const std::string saved = folder.read();
    EXPECT_TRUE(saved.starts_with("\xef\xbb\xbf[COM]\r\n"));
    EXPECT_NE(saved.find("SUBJECT=\xe8\xad\xa6\xe5\xa0\xb1\r\n"), std::string::npos);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings.Trg[3].Subject, "\xe7\x8a\xac \xf0\x9f\x90\x95");
    EXPECT_EQ(AppSettings.Trg[0].Subject, "\xe8\xad\xa6\xe5\xa0\xb1");
}

TEST_F(Settings, ReadsUtf16File) {
    std::u16string text = u"\ufeff[0TRG]\r\nSUBJECT=\u8b66\u5831\r\n[COM]\r\nTIMER=9\r\n";
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        std::string bytes;
        for (char16_t c : text) {
            bytes.push_back(static_cast<char>(bigEndian ? c >> 8 : c & 0xFF));
            bytes.push_back(static_cast<char>(bigEndian ? c & 0xFF : c >> 8));
        }
        ASSERT_TRUE(loadText(bytes));
        EXPECT_EQ(AppSettings.Trg[0].Subject, "\xe8\xad\xa6\xe5\xa0\xb1");
        EXPECT_EQ(AppSettings.Com.Timer, 9);
    }
}

// A file that cannot be read as a whole stops the load with one line and is never saved over:
// neither with defaults nor with what could be read of it.
TEST_F(Settings, UnreadableFileFailsTheLoadAndIsKept) {
    const std::pair<const char*, std::function<void(const std::string&)>> cases[] = {
        {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"/dev/zero",
         [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); }},
        {"broken surrogate",
         [](const std::string& p) {
             SettingsTestFolder::writeFile(p, std::string("\xff\xfe[\0C\0O\0M\0]\0\x3d\xd8", 14));
         }},
        {"undecodable key",
         [](const std::string& p) {
             SettingsTestFolder::writeFile(p, "[COM]\r\nTIMER=5\r\n[MAIL]\r\nUSER=\xa0\r\n");
         }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(folder.ini());
        make(folder.ini());
        struct stat before;
        ASSERT_EQ(::lstat(folder.ini().c_str(), &before), 0);
        const std::string bytes = S_ISREG(before.st_mode) ? folder.read() : "";
        EXPECT_FALSE(LoadSettings());
        const std::string error = LastSettingsError();
        EXPECT_NE(error.find(folder.ini()), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_FALSE(SaveSettings());
        struct stat after;
        ASSERT_EQ(::lstat(folder.ini().c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtime, before.st_mtime);
        if (S_ISREG(before.st_mode)) {
            EXPECT_EQ(folder.read(), bytes);
        }
    }
}

// A file without write permission is not replaced, even in a writable folder and even by root.
TEST_F(Settings, ReadOnlyFileIsNotReplaced) {
    const std::string text = "[COM]\r\nTIMER=7\r\n";
    folder.write(text);
    ::chmod(folder.ini().c_str(), 0444);
    ASSERT_TRUE(LoadSettings());
    AppSettings.Com.Timer = 9;
    EXPECT_FALSE(SaveSettings());
    EXPECT_NE(LastSettingsError().find("read-only"), std::string::npos) << LastSettingsError();
    EXPECT_EQ(folder.read(), text);
    EXPECT_EQ(AppSettings.Com.Timer, 9);
    // Once writable again, the next save goes through.
    ::chmod(folder.ini().c_str(), 0644);
    ASSERT_TRUE(SaveSettings());
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings.Com.Timer, 9);
}

TEST(Scramble, WorksOnCp932Codes) {
    const std::pair<std::string, std::string> cases[] = {
        {"bcd", "abc"},
        {"", ""},
        {"!x!", " w "},
        {"]", "\\"},
        {"\xe3\x81\x84", "\xe3\x81\x83"}, // い 0x82A2 -> ぃ 0x82A1
        {"\xef\xbd\xb2", "\xef\xbd\xb1"}, // ｲ 0xB2 -> ｱ 0xB1
        {"\xe8\xad\xa6", "\xe8\xa9\xa3"}, // 警 0x8C78 -> 詣 0x8C77
    };
    for (const auto& [plain, stored] : cases) {
        SCOPED_TRACE(plain);
        EXPECT_EQ(ScramblePass(plain), stored);
        EXPECT_EQ(UnscramblePass(stored), plain);
    }
    // Characters whose neighbour code is no character still come back.
    for (std::string plain : {"\xe3\x82\xa1", "\xef\xbd\xa1", "\xe3\x80\x80", "\x0b\x0e",
                              "\xf0\x9f\x90\xb6", "\xe4\xba\x9c"}) {
        SCOPED_TRACE(plain);
        const std::string stored = ScramblePass(plain);
        EXPECT_EQ(stored.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(UnscramblePass(stored), plain);
    }
}

// A password with "!" at either end is stored with a space there, which must survive reading.
TEST_F(Settings, PasswordsKeepTheirEdges) {
    AppSettings.Mail.Pass = "!secret!";
    AppSettings.Mail.SmtpPass = "!";
    AppSettings.Ftp.Pass = "!ftp!";
    ASSERT_TRUE(SaveSettings());
    const std::string saved = folder.read();
    EXPECT_NE(saved.find("PASS= rdbqds \r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("SMTPPASS= \r\n"), std::string::npos);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(AppSettings.Mail.Pass, "!secret!");
    EXPECT_EQ(AppSettings.Mail.SmtpPass, "!");
    EXPECT_EQ(AppSettings.Ftp.Pass, "!ftp!");
}

TEST_F(Settings, SoundPathOnlyForAnExistingFile) {
    const std::string media = folder.path() + "/sounds";
    std::filesystem::create_directory(media);
    SettingsTestFolder::writeFile(media + "/bell.oga", "x");
    ::setenv("PAWLINEX_MEDIA_DIR", media.c_str(), 1); // no trailing slash on purpose
    ASSERT_TRUE(loadText("[COM]\r\nSOUND=bell.oga\r\n"));
    EXPECT_EQ(AppSettings.Com.SoundPath, media + "/bell.oga");
    ASSERT_TRUE(loadText("[COM]\r\nSOUND=missing.oga\r\n"));
    EXPECT_EQ(AppSettings.Com.Sound, "missing.oga");
    EXPECT_EQ(AppSettings.Com.SoundPath, "");
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(folder.read().find("SoundPath"), std::string::npos);
    ::unsetenv("PAWLINEX_MEDIA_DIR");
}

} // namespace
