// The FTP and clip dialog's decisions: how the host field is split into the other fields, what
// is refused with which message and field, and what OK stores.

#include "ftp/FtpSettingsForm.h"

#include <gtest/gtest.h>

namespace {

FtpFormInput sample() {
    FtpFormInput in;
    in.makeAvi = true;
    in.host = "ftp.example.org";
    in.user = "bob";
    in.pass = "pw";
    in.folder = "/clips";
    in.fixedName = true;
    in.seconds = 12;
    in.audio = true;
    return in;
}

} // namespace

// Every host form ends up as the stored "host port"; a pasted address also fills the login and
// folder it carries and leaves the others as they were.
TEST(FtpSettingsForm, HostFormsAreSplitIntoTheFields) {
    struct Row {
        const char* typed;
        const char* host;
        const char* user;
        const char* pass;
        const char* folder;
    };
    const Row rows[] = {
        {"ftp.example.org", "ftp.example.org", "bob", "pw", "/clips"},
        {" h 2121 ", "h 2121", "bob", "pw", "/clips"},
        {"h:2121", "h 2121", "bob", "pw", "/clips"},
        {"[::1]:2121", "::1 2121", "bob", "pw", "/clips"},
        {"fe80::1", "fe80::1", "bob", "pw", "/clips"},
        {"ftp://u:p%40ss@h:21/dir/sub", "h 21", "u", "p@ss", "dir/sub"},
        {"FTP://h", "h", "bob", "pw", "/clips"},
        {"ftp://carol@h/", "h", "carol", "pw", "/clips"},
        // The upload is off here, so a host that is no host form is kept as typed.
        {"a b c", "a b c", "bob", "pw", "/clips"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.typed);
        FtpFormInput in = sample();
        in.host = r.typed;
        const FtpFormOutcome out = CheckFtpFormInput(in);
        ASSERT_EQ(out.field, FtpFormField::None) << out.message;
        EXPECT_EQ(out.settings.Host, r.host);
        EXPECT_EQ(out.settings.User, r.user);
        EXPECT_EQ(out.settings.Pass, r.pass);
        EXPECT_EQ(out.settings.Holder, r.folder);
        // The dialog shows the split fields as they are stored.
        EXPECT_EQ(out.shown.host, r.host);
        EXPECT_EQ(out.shown.user, r.user);
        EXPECT_EQ(out.shown.folder, r.folder);
    }
}

TEST(FtpSettingsForm, RefusesWhatCannotBeStored) {
    using F = FtpFormField;
    struct Row {
        const char* name;
        F field;
        std::string text;
        bool upload;
        const char* message;
    };
    const char* const badForm = "ﾎｽﾄ名の形式が正しくありません。";
    const Row rows[] = {
        {"host blank, upload on", F::Host, "   ", true, "ﾎｽﾄ名を入力して下さい。"},
        {"host VT", F::Host,
         "h\x0b"
         "DELE y",
         false, "ﾎｽﾄ名に制御文字は使えません。"},
        {"host DEL", F::Host, "h\x7f", true, "ﾎｽﾄ名に制御文字は使えません。"},
        {"user LF", F::User, "bob\nDELE x", false, "ﾕｰｻﾞｰ名に制御文字は使えません。"},
        {"user tab", F::User, "b\tob", false, "ﾕｰｻﾞｰ名に制御文字は使えません。"},
        {"password CR", F::Pass, "pw\rDELE x", true, "ﾊﾟｽﾜｰﾄﾞに制御文字は使えません。"},
        {"password NUL", F::Pass, std::string(1, '\0'), true, "ﾊﾟｽﾜｰﾄﾞに制御文字は使えません。"},
        {"folder VT", F::Folder,
         "cl\"ips x\x0b"
         "DELE y",
         true, "ﾎｽﾄの保存先ﾌｫﾙﾀﾞに制御文字は使えません。"},
        {"folder 0x1f", F::Folder, "a\x1f", false, "ﾎｽﾄの保存先ﾌｫﾙﾀﾞに制御文字は使えません。"},
        {"escaped control in an address", F::Host, "ftp://h/a%0bDELE", true, badForm},
        {"port out of range", F::Host, "h:65536", true, badForm},
        {"two ports", F::Host, "h:21 22", true, badForm},
        {"unclosed bracket", F::Host, "[::1:21", true, badForm},
        {"other scheme", F::Host, "http://h", true, badForm},
        {"address without host", F::Host, "ftp://u@/dir", true, badForm},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FtpFormInput in = sample();
        in.upload = r.upload;
        std::string* fields[] = {nullptr, &in.host, &in.user, &in.pass, &in.folder};
        *fields[static_cast<int>(r.field)] = r.text;
        const FtpFormOutcome out = CheckFtpFormInput(in);
        EXPECT_EQ(out.field, r.field);
        EXPECT_EQ(out.message, r.message);
        // A refused input leaves the fields as they were typed.
        EXPECT_EQ(out.shown.host, in.host);
        EXPECT_EQ(out.shown.user, in.user);
        EXPECT_EQ(out.shown.folder, in.folder);
    }
}

TEST(FtpSettingsForm, StoresTheSwitchesAndTrimmedTexts) {
    FtpFormInput in = sample();
    in.host = "   "; // no host is needed while the upload is off
    in.user = " u ";
    in.folder = " /clips ";
    const FtpFormOutcome off = CheckFtpFormInput(in);
    ASSERT_EQ(off.field, FtpFormField::None) << off.message;
    EXPECT_EQ(off.settings.Host, "");
    EXPECT_EQ(off.settings.User, "u");
    EXPECT_EQ(off.settings.Holder, "/clips");
    EXPECT_TRUE(off.settings.Move);
    EXPECT_FALSE(off.settings.Ftp);
    EXPECT_TRUE(off.settings.FileName);
    EXPECT_EQ(off.settings.Time, 12);
    EXPECT_TRUE(off.settings.Audio);

    in = sample();
    in.upload = true;
    in.makeAvi = in.fixedName = in.audio = false;
    in.seconds = 30;
    const FtpFormOutcome on = CheckFtpFormInput(in);
    ASSERT_EQ(on.field, FtpFormField::None) << on.message;
    EXPECT_TRUE(on.settings.Ftp);
    EXPECT_FALSE(on.settings.Move);
    EXPECT_FALSE(on.settings.FileName);
    EXPECT_FALSE(on.settings.Audio);
    EXPECT_EQ(on.settings.Time, 30);
}
