#include "settings/ProfileFile.h"

#include "SettingsTestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

std::string utf16le(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

ProfileFile parsed(const std::string& bytes) {
    ProfileFile f;
    f.parse(bytes);
    return f;
}

// Names compare without case, values lose U+0020 spaces only, first section and key win.
TEST(ProfileFile, LookupRules) {
    const ProfileFile f = parsed("; comment=not a key\r\n"
                                 "[com]\r\n"
                                 "  timer =  25  \r\n"
                                 "Pop=\t\r\n"
                                 "WIDE=\xe3\x80\x80x\xe3\x80\x80\r\n"
                                 "TIMER=99\r\n"
                                 "novalue\r\n"
                                 "[COM]\r\n"
                                 "CKSUM=5\r\n");
    EXPECT_EQ(f.value("COM", "TIMER"), "25");
    EXPECT_EQ(f.rawValue("Com", "Timer"), "  25  ");
    EXPECT_EQ(f.value("COM", "POP"), "\t");
    EXPECT_EQ(f.value("COM", "WIDE"), "\xe3\x80\x80x\xe3\x80\x80"); // U+3000 kept
    EXPECT_FALSE(f.hasKey("COM", "CKSUM")); // lives in the second [COM], which is not read
    EXPECT_FALSE(f.hasKey("COM", "novalue"));
    EXPECT_FALSE(f.hasKey("", "; comment"));
    EXPECT_EQ(f.value("MAIL", "TIMER"), "");
}

// Only the changed line changes; new keys go after the section's last non-blank line and new
// sections at the end; every line ends in CR LF.
TEST(ProfileFile, WritesOnlyWhatChanged) {
    ProfileFile f = parsed("; kept as it was\n"
                           "[COM]\n"
                           "TIMER=20\n"
                           "odd line without equals\n"
                           "\n"
                           "[SOURCES]\r\n"
                           "SOURCE0 = demo\r\n");
    f.setValue("com", "TIMER", "30");
    f.setValue("COM", "CKSUM", "100");
    f.setValue("FTP", "HOST", "example.org");
    EXPECT_EQ(f.serialize(), "; kept as it was\r\n"
                             "[COM]\r\n"
                             "TIMER=30\r\n"
                             "odd line without equals\r\n"
                             "CKSUM=100\r\n"
                             "\r\n"
                             "[SOURCES]\r\n"
                             "SOURCE0 = demo\r\n"
                             "[FTP]\r\n"
                             "HOST=example.org\r\n");
}

TEST(ProfileFile, RemoveKeyAndNoStrayLines) {
    ProfileFile f = parsed("[0TRG]\r\nBODY=a\r\nBODYX=a\\nb\r\nGRP=1\r\n");
    f.removeKey("0trg", "bodyx");
    // A raw line break in a value would plant a key of its own.
    f.setValue("0TRG", "SUBJECT", "hello\r\n[COM]\r\nTIMER=1");
    EXPECT_EQ(f.serialize(), "[0TRG]\r\nBODY=a\r\nGRP=1\r\nSUBJECT=hello\r\n");
    EXPECT_FALSE(parsed(f.serialize()).hasKey("COM", "TIMER"));
}

struct EncodingCase {
    const char* name;
    std::string value;    // UTF-8
    std::string fileLine; // the bytes expected on disk for KEY=value
    ProfileFile::Encoding encoding;
};

// CP932 on disk when every character has a CP932 code, else the whole file in UTF-8 with a BOM.
TEST(ProfileFile, ChoosesTheEncodingOnDisk) {
    const EncodingCase cases[] = {
        {"ascii", "abc", "KEY=abc", ProfileFile::Encoding::Cp932},
        {"kanji and half-width kana", "\xe8\xad\xa6\xe5\xa0\xb1\xef\xbe\x9c\xef\xbe\x9d",
         "KEY=\x8c\x78\x95\xf1\xdc\xdd", ProfileFile::Encoding::Cp932},
        {"backslash", "C:\\x", "KEY=C:\\x", ProfileFile::Encoding::Cp932},
        {"emoji", "hi \xf0\x9f\x90\xb6", "KEY=hi \xf0\x9f\x90\xb6", ProfileFile::Encoding::Utf8Bom},
        // CP932 would store the yen sign as 0x5C, which reads back as a backslash.
        {"yen sign",
         "\xc2\xa5"
         "100",
         "KEY=\xc2\xa5"
         "100",
         ProfileFile::Encoding::Utf8Bom},
        // Likewise the wave dash would come back as a full-width tilde.
        {"wave dash", "\xe3\x80\x9c", "KEY=\xe3\x80\x9c", ProfileFile::Encoding::Utf8Bom},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileFile f = parsed("[S]\r\nOTHER=\x83\x65\x83\x58\x83\x67\r\n"); // "テスト" in CP932
        f.setValue("S", "KEY", c.value);
        ProfileFile::Encoding used;
        const std::string bytes = f.serialize(&used);
        EXPECT_EQ(used, c.encoding);
        EXPECT_NE(bytes.find(c.fileLine + "\r\n"), std::string::npos);
        const std::string bom = c.encoding == ProfileFile::Encoding::Utf8Bom ? "\xef\xbb\xbf" : "";
        const std::string other = c.encoding == ProfileFile::Encoding::Utf8Bom
                                      ? "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"
                                      : "\x83\x65\x83\x58\x83\x67";
        EXPECT_TRUE(bytes.starts_with(bom + "[S]\r\nOTHER=" + other + "\r\n"));
        // Whatever was written reads back to the same text.
        EXPECT_EQ(parsed(bytes).value("S", "KEY"), c.value);
        EXPECT_EQ(parsed(bytes).value("S", "OTHER"), "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88");
    }
}

// The same content read from each encoding a settings file may come in.
TEST(ProfileFile, ReadsEveryEncoding) {
    const std::string expected = "\xe8\xad\xa6\xe5\xa0\xb1\\"; // 警報 and a backslash
    const std::pair<const char*, std::string> files[] = {
        {"cp932", "[S]\r\nK=\x8c\x78\x95\xf1\x5c\r\n"},
        {"utf-8 bom", "\xef\xbb\xbf[S]\r\nK=\xe8\xad\xa6\xe5\xa0\xb1\\\r\n"},
        {"utf-8 plain", "[S]\nK=\xe8\xad\xa6\xe5\xa0\xb1\\\n"},
        {"utf-16le bom", utf16le(u"\ufeff[S]\r\nK=\u8b66\u5831\\\r\n")},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        EXPECT_EQ(parsed(bytes).value("s", "k"), expected);
    }
}

// A line that is not valid CP932 (a stray byte from some other tool) goes back byte for byte.
TEST(ProfileFile, KeepsUndecodableLinesAsTheyWere) {
    const std::string odd = "NOTE=\xa0\x82\r\n";
    ProfileFile f = parsed("[X]\r\n" + odd + "[COM]\r\nTIMER=1\r\n");
    f.setValue("COM", "TIMER", "2");
    EXPECT_EQ(f.serialize(), "[X]\r\n" + odd + "[COM]\r\nTIMER=2\r\n");
}

TEST(ProfileFile, SaveIsAtomicWithMode0600) {
    SettingsTestFolder folder;
    ProfileFile f;
    EXPECT_EQ(f.load(folder.ini()), ProfileFile::LoadResult::Missing);
    f.setValue("COM", "TIMER", "20");
    std::string error;
    ASSERT_TRUE(f.save(folder.ini(), &error)) << error;
    EXPECT_EQ(folder.read(), "[COM]\r\nTIMER=20\r\n");
    struct stat st;
    ASSERT_EQ(::stat(folder.ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Only the file itself: the temporary file was renamed, not left beside it.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(folder.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

// A settings file kept elsewhere through a symbolic link stays linked after a save.
TEST(ProfileFile, SaveFollowsASymbolicLink) {
    SettingsTestFolder folder;
    const std::string real = folder.path() + "/real.ini";
    SettingsTestFolder::writeFile(real, "[COM]\r\nTIMER=1\r\n");
    std::filesystem::create_symlink(real, folder.ini());
    ProfileFile f;
    ASSERT_EQ(f.load(folder.ini()), ProfileFile::LoadResult::Loaded);
    f.setValue("COM", "TIMER", "2");
    ASSERT_TRUE(f.save(folder.ini()));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.ini()));
    EXPECT_EQ(SettingsTestFolder::readFile(real), "[COM]\r\nTIMER=2\r\n");
}

// When the new file cannot replace the old one, nothing is left behind and the error says so.
TEST(ProfileFile, FailedSaveLeavesNoTemporaryFile) {
    SettingsTestFolder folder;
    const std::string blocked = folder.path() + "/blocked.ini";
    std::filesystem::create_directory(blocked);
    SettingsTestFolder::writeFile(blocked + "/inside",
                                  "x"); // a non-empty folder cannot be replaced
    ProfileFile f;
    f.setValue("COM", "TIMER", "20");
    std::string error;
    EXPECT_FALSE(f.save(blocked, &error));
    EXPECT_NE(error.find("blocked.ini"), std::string::npos);
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(folder.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_FALSE(f.save(folder.path() + "/missing-folder/pawlinex.ini", &error));
}

} // namespace
