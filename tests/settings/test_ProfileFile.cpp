#include "settings/ProfileFile.h"

#include "settings/TextCodec.h"

#include "SettingsTestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
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

std::string utf16be(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c >> 8));
        bytes.push_back(static_cast<char>(c & 0xFF));
    }
    return bytes;
}

struct ReadCase {
    const char* name;
    std::string bytes;
    std::optional<std::string> expected; // value of [S] K; nullopt: the load fails
};

// Which encoding a file is read in, and which files are refused rather than read in part.
TEST(ProfileFile, ReadsEveryEncoding) {
    const std::string keiho = "\xe8\xad\xa6\xe5\xa0\xb1\\"; // 警報 and a backslash
    const ReadCase cases[] = {
        {"cp932", "[S]\r\nK=\x8c\x78\x95\xf1\x5c\r\n", keiho},
        {"utf-8 bom", "\xef\xbb\xbf[S]\r\nK=\xe8\xad\xa6\xe5\xa0\xb1\\\r\n", keiho},
        {"utf-8 plain", "[S]\nK=\xe8\xad\xa6\xe5\xa0\xb1\\\n", keiho},
        {"utf-16le bom", utf16le(u"\ufeff[S]\r\nK=\u8b66\u5831\\\r\n"), keiho},
        {"utf-16be bom", utf16be(u"\ufeff[S]\r\nK=\u8b66\u5831\\\r\n"), keiho},
        {"utf-16le surrogate pair", utf16le(u"\ufeff[S]\r\nK=\U0001F436\r\n"), "\xf0\x9f\x90\xb6"},
        {"doubled utf-8 bom", "\xef\xbb\xbf\xef\xbb\xbf[S]\r\nK=\xe8\xad\xa6\xe5\xa0\xb1\\\r\n",
         keiho},
        {"doubled utf-16le bom", utf16le(u"\ufeff\ufeff[S]\r\nK=\u8b66\u5831\\\r\n"), keiho},
        // ﾃｽ in CP932 is C3 BD, which is also "ý" in UTF-8.
        {"cp932 kana pair valid as utf-8", "[S]\r\nK=\xc3\xbd\r\n", "\xef\xbe\x83\xef\xbd\xbd"},
        // A UTF-8 file with two-byte characters only cannot be told apart; it is CP932.
        {"two-byte utf-8 only", "[S]\r\nK=\xc3\xa9\r\n", "\xef\xbe\x83\xef\xbd\xa9"},
        {"utf-32le", std::string("\xff\xfe\0\0[\0\0\0", 8), std::nullopt},
        {"utf-32be", std::string("\0\0\xfe\xff\0\0\0[", 8), std::nullopt},
        {"utf-16le unpaired high surrogate", utf16le(u"\ufeff[S]\r\nK=") + "\x3d\xd8" + "K\0",
         std::nullopt},
        {"utf-16be lone low surrogate", utf16be(u"\ufeff[S]\r\nK=") + "\xdc\x00", std::nullopt},
        {"utf-16le odd byte count", utf16le(u"\ufeff[S]\r\nK=1\r\n") + "\n", std::nullopt},
        {"undecodable section line", "[S\xa0]\r\nK=1\r\n", std::nullopt},
        {"undecodable key line", "[S]\r\nK=\x82\xa0\x82\r\n", std::nullopt},
        {"undecodable key line, utf-8 bom", "\xef\xbb\xbf[S]\r\nK=\xff\r\n", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileFile f;
        std::string error;
        EXPECT_EQ(f.parse(c.bytes, &error), c.expected.has_value());
        if (c.expected) {
            EXPECT_EQ(f.rawValue("s", "k"), *c.expected);
        } else {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(error.find('\n'), std::string::npos);
            EXPECT_EQ(f.serialize(), ""); // never a partial read
        }
    }
}

// Comments and other lines that cannot be decoded (a stray byte from some other tool) go back
// byte for byte, in whichever encoding the rest of the file is written.
TEST(ProfileFile, KeepsUndecodableLinesAsTheyWere) {
    const std::string odd = "; note \xa0\x82\r\n\xa0\x82 without equals\r\n";
    ProfileFile f = parsed("[X]\r\n" + odd + "[COM]\r\nTIMER=1\r\n");
    f.setValue("COM", "TIMER", "2");
    EXPECT_EQ(f.serialize(), "[X]\r\n" + odd + "[COM]\r\nTIMER=2\r\n");
    f.setValue("COM", "DOG", "\xf0\x9f\x90\xb6");
    EXPECT_EQ(f.serialize(),
              "\xef\xbb\xbf[X]\r\n" + odd + "[COM]\r\nTIMER=2\r\nDOG=\xf0\x9f\x90\xb6\r\n");
}

// Whatever the program saves reads back identical, whatever the bytes happen to look like.
TEST(ProfileFile, SavedValuesReadBackIdentical) {
    auto roundTrip = [](const std::string& value, const std::string& before) {
        ProfileFile f = parsed(before);
        f.setValue("S", "K", value);
        ProfileFile::Encoding used;
        const std::string bytes = f.serialize(&used);
        ProfileFile back;
        EXPECT_TRUE(back.parse(bytes));
        EXPECT_EQ(back.rawValue("S", "K"), value);
        return used;
    };
    // Every pair of half-width katakana (U+FF61 to U+FF9F), alone in a file.
    size_t pairs = 0;
    for (char32_t a = 0xFF61; a <= 0xFF9F; ++a)
        for (char32_t b = 0xFF61; b <= 0xFF9F; ++b) {
            const std::string value = TextCodec::fromCodePoints(std::u32string{a, b});
            SCOPED_TRACE(value);
            EXPECT_EQ(roundTrip(value, ""), ProfileFile::Encoding::Cp932);
            ++pairs;
        }
    EXPECT_EQ(pairs, 63u * 63u);

    const std::string cp932File = "[S]\r\nOTHER=\x83\x65\x83\x58\x83\x67\r\n"; // テスト
    const std::string utf8File = "\xef\xbb\xbf[S]\r\nOTHER=\xf0\x9f\x90\xb6\r\n";
    const std::pair<std::string, ProfileFile::Encoding> mixed[] = {
        {"\xef\xbe\x83\xef\xbd\xbd", ProfileFile::Encoding::Cp932}, // ﾃｽ
        // 縺 is E3 81 in CP932, so 縺ｱ would be the UTF-8 bytes of ぱ.
        {"\xe7\xb8\xba\xef\xbd\xb1", ProfileFile::Encoding::Utf8Bom},
        {"\xe7\xb8\xba\xef\xbd\xb1\xe8\xad\xa6", ProfileFile::Encoding::Cp932},
        {"\xc3\xa9", ProfileFile::Encoding::Utf8Bom}, // é has no CP932 code
        {"ab \xef\xbe\x83\xef\xbd\xbd\xe8\xad\xa6\xe5\xa0\xb1 cd", ProfileFile::Encoding::Cp932},
        {"\xef\xbd\xb1\xf0\x9f\x90\xb6", ProfileFile::Encoding::Utf8Bom},
        {" spaced \t", ProfileFile::Encoding::Cp932},
        // F0 9F 90 B6 in CP932 (a private-use character and 生) is the UTF-8 of a dog emoji.
        {"\xee\x81\x9e\xe7\x94\x9f", ProfileFile::Encoding::Utf8Bom},
        {"\xef\xbb\xbf"
         "x",
         ProfileFile::Encoding::Utf8Bom}, // U+FEFF inside a value
    };
    for (const auto& [value, encoding] : mixed) {
        SCOPED_TRACE(value);
        EXPECT_EQ(roundTrip(value, ""), encoding);
        roundTrip(value, cp932File);
        EXPECT_EQ(roundTrip(value, utf8File), ProfileFile::Encoding::Utf8Bom);
    }
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

    // A link to a file not there yet, by a relative name through a second link: the first save
    // creates the target. A target folder that is missing (a drive not mounted) fails the save.
    std::filesystem::remove(folder.ini());
    std::filesystem::create_directory(folder.path() + "/sub");
    std::filesystem::create_symlink("sub/hop", folder.ini());
    std::filesystem::create_symlink("new.ini", folder.path() + "/sub/hop");
    ASSERT_TRUE(f.save(folder.ini()));
    EXPECT_EQ(SettingsTestFolder::readFile(folder.path() + "/sub/new.ini"), "[COM]\r\nTIMER=2\r\n");
    std::filesystem::remove(folder.path() + "/sub/hop");
    std::filesystem::create_symlink("/nonexistent-drive/pawlinex.ini", folder.path() + "/sub/hop");
    EXPECT_FALSE(f.save(folder.ini()));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.ini()));
}

// Only a regular file is read: a pipe would wait for a writer, a device might never end. Neither
// is replaced by a save, and neither is a file without write permission.
TEST(ProfileFile, OnlyRegularWritableFilesAreReadAndReplaced) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        bool loads;
    };
    const Case cases[] = {
        {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, false},
        {"/dev/zero via a symbolic link",
         [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); }, false},
        {"directory", [](const std::string& p) { std::filesystem::create_directory(p); }, false},
        {"read-only file",
         [](const std::string& p) {
             SettingsTestFolder::writeFile(p, "[COM]\r\nTIMER=1\r\n");
             ::chmod(p.c_str(), 0444);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsTestFolder folder;
        c.make(folder.ini());
        struct stat before;
        ASSERT_EQ(::lstat(folder.ini().c_str(), &before), 0);
        ProfileFile f;
        std::string error;
        EXPECT_EQ(f.load(folder.ini(), &error),
                  c.loads ? ProfileFile::LoadResult::Loaded : ProfileFile::LoadResult::Unreadable);
        if (!c.loads) {
            EXPECT_NE(error.find("regular file"), std::string::npos) << error;
        }
        f.setValue("COM", "TIMER", "2");
        EXPECT_FALSE(f.save(folder.ini(), &error));
        EXPECT_NE(error.find(c.loads ? "read-only" : "regular file"), std::string::npos) << error;
        struct stat after;
        ASSERT_EQ(::lstat(folder.ini().c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        if (c.loads) {
            EXPECT_EQ(folder.read(), "[COM]\r\nTIMER=1\r\n");
        }
    }
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
