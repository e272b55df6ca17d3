#include "mail/MailComposer.h"
#include "mail/MailTestUtil.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

// Header block of a composed message (up to the first empty line), unfolded.
std::string headerBlock(const std::string& message) {
    std::string head = message.substr(0, message.find("\r\n\r\n") + 2);
    return std::regex_replace(head, std::regex("\r\n[ \t]"), " ");
}

std::string headerValue(const std::string& message, const std::string& name) {
    const std::string head = headerBlock(message);
    std::smatch m;
    if (std::regex_search(head, m, std::regex("(^|\r\n)" + name + ": ([^\r]*)\r\n")))
        return m[2];
    return "<missing>";
}

MailContent sampleContent() {
    MailContent c;
    c.from = "cam@example.org";
    c.recipients = ParseRecipients("a@example.org,b@example.org\t>Reply-To: cam@example.org");
    c.subject = "Alarm";
    c.body = "line1\nline2";
    return c;
}

} // namespace

TEST(MailComposer, ParseServerFormsAndDefaults) {
    struct Case {
        std::string text;
        bool ok;
        std::string host;
        int port;
    };
    const Case cases[] = {
        {"mail.example.org\t587", true, "mail.example.org", 587},
        {"mail.example.org\t", true, "mail.example.org", 25}, // empty port after the tab
        {"mail.example.org", true, "mail.example.org", 25},   // hand-written value without tab
        {" host \t 465 ", true, "host", 465},
        {"\t25", false, "", 0}, // a lone tab and port has no host
        {"", false, "", 0},
        {"host\tabc", false, "", 0}, // not a number
        {"host\t70000", false, "", 0},
        {"host\t0", false, "", 0},
        {"host\t25\textra", true, "host", 25},
        {"ho st\t25", false, "", 0},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto got = ParseServer(c.text, 25, &why);
        ASSERT_EQ(got.has_value(), c.ok) << "'" << c.text << "' " << why;
        if (c.ok) {
            EXPECT_EQ(got->host, c.host) << c.text;
            EXPECT_EQ(got->port, c.port) << c.text;
        } else {
            EXPECT_FALSE(why.empty()) << c.text;
        }
    }
    EXPECT_EQ(ParseServer("pop.example.org\t", 110)->port, 110);
}

TEST(MailComposer, RecipientsSplitOnCommaSemicolonSpaceAndTabHeaders) {
    const RecipientList l = ParseRecipients(
        "a@x.jp, b@x.jp;c@x.jp  d@x.jp\tName<e@x.jp>\t>Reply-To: me@x.jp\t>X-Note: hi");
    ASSERT_EQ(l.addresses.size(), 5u);
    EXPECT_EQ(l.addresses[0].address, "a@x.jp");
    EXPECT_EQ(l.addresses[1].address, "b@x.jp");
    EXPECT_EQ(l.addresses[2].address, "c@x.jp");
    EXPECT_EQ(l.addresses[3].address, "d@x.jp");
    EXPECT_EQ(l.addresses[4].address, "e@x.jp");
    EXPECT_EQ(l.addresses[4].displayName, "Name");
    ASSERT_EQ(l.extraHeaders.size(), 2u);
    EXPECT_EQ(l.extraHeaders[0], std::make_pair(std::string("Reply-To"), std::string("me@x.jp")));
    EXPECT_EQ(l.extraHeaders[1].first, "X-Note");

    // Separators only, and a header entry without a colon, give nothing.
    const RecipientList empty = ParseRecipients(" ,; \t>NoColon");
    EXPECT_TRUE(empty.addresses.empty());
    EXPECT_TRUE(empty.extraHeaders.empty());
}

TEST(MailComposer, SenderWithAndWithoutCredentials) {
    SenderSpec plain = ParseSender("<cam@x.jp>");
    EXPECT_EQ(plain.address, "cam@x.jp");
    EXPECT_FALSE(plain.authenticate);

    // The password keeps its own colons; the mechanism follows the second tab.
    SenderSpec auth = ParseSender("<cam@x.jp>\tuser:pa:ss\tCRAM-MD5");
    EXPECT_TRUE(auth.authenticate);
    EXPECT_EQ(auth.user, "user");
    EXPECT_EQ(auth.password, "pa:ss");
    EXPECT_EQ(auth.mechanism, "CRAM-MD5");

    SenderSpec noMech = ParseSender("<cam@x.jp>\tuser:pw");
    EXPECT_EQ(noMech.mechanism, "LOGIN");
}

TEST(MailComposer, Base64KnownVectorsAndLineWrapping) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [in, out] : vectors)
        EXPECT_EQ(Base64Encode(in), out) << in;

    std::string data;
    for (int i = 0; i < 1000; ++i)
        data += static_cast<char>(i * 37);
    const std::string wrapped = Base64Encode(data, 76);
    size_t start = 0;
    while (start < wrapped.size()) {
        const auto end = wrapped.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "last line must end in CR LF";
        EXPECT_LE(end - start, 76u);
        start = end + 2;
    }
    EXPECT_EQ(Base64Decode(wrapped), data);
}

TEST(MailComposer, HeaderTextEncodingKeepsUtf8CharactersWhole) {
    EXPECT_EQ(EncodeHeaderText("Plain subject"), "Plain subject");
    const std::string texts[] = {
        "警報！ 誰かいるワン！!",
        "ﾒｰﾙ送信ｴﾗｰでした。ﾒｰﾙ送信ｴﾗｰでした。ﾒｰﾙ送信ｴﾗｰでした。ﾒｰﾙ送信ｴﾗｰでした。",
        "mixed 日本語 text that is rather long and has to be folded over several words",
        "=?UTF-8?B?looks encoded?=",
    };
    for (const auto& t : texts) {
        const std::string enc = EncodeHeaderText(t);
        EXPECT_EQ(DecodeEncodedWords(enc), t);
        for (size_t p = 0, e; p < enc.size(); p = e + 3) {
            e = enc.find("\r\n ", p);
            if (e == std::string::npos)
                e = enc.size();
            const std::string word = enc.substr(p, e - p);
            EXPECT_LE(word.size(), 75u);
            // Each word decodes to whole characters on its own.
            const std::string part = DecodeEncodedWords(word);
            ASSERT_FALSE(part.empty());
            EXPECT_NE(static_cast<unsigned char>(part[0]) & 0xC0, 0x80) << t;
        }
    }
}

TEST(MailComposer, TextOnlyMessageHasEveryHeaderAndCrLfBody) {
    MailContent c = sampleContent();
    c.body = "first\nsecond\r\nthird\rfourth";
    const std::string m = ComposeMessage(c, MessageStamp{1765000000, "abc123"});
    EXPECT_EQ(headerValue(m, "From"), "cam@example.org");
    EXPECT_EQ(headerValue(m, "To"), "a@example.org, b@example.org");
    EXPECT_EQ(headerValue(m, "Subject"), "Alarm");
    EXPECT_EQ(headerValue(m, "Reply-To"), "cam@example.org");
    EXPECT_EQ(headerValue(m, "MIME-Version"), "1.0");
    EXPECT_TRUE(std::regex_match(headerValue(m, "Message-ID"),
                                 std::regex("<\\d{14}\\.abc123@example\\.org>")));
    EXPECT_TRUE(
        std::regex_match(headerValue(m, "Date"),
                         std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d [A-Z][a-z]{2} 20\\d\\d "
                                    "\\d\\d:\\d\\d:\\d\\d [+-]\\d{4}")));
    EXPECT_NE(m.find("Content-Type: text/plain; charset=UTF-8"), std::string::npos);
    EXPECT_NE(m.find("\r\n\r\nfirst\r\nsecond\r\nthird\r\nfourth\r\n"), std::string::npos);
    // No bare LF anywhere.
    for (size_t i = 0; i < m.size(); ++i) {
        if (m[i] == '\n') {
            ASSERT_TRUE(i > 0 && m[i - 1] == '\r') << "bare LF at " << i;
        }
    }
}

TEST(MailComposer, JapaneseSubjectAndBodyAreEncoded) {
    MailContent c = sampleContent();
    c.subject = "Pawlinex: 警報！";
    c.body = "誰かいるワン！\n二行目";
    const std::string m = ComposeMessage(c, MessageStamp{1765000000, "u1"});
    const std::string subject = headerValue(m, "Subject");
    EXPECT_EQ(subject.find("警"), std::string::npos) << "raw UTF-8 in a header";
    EXPECT_EQ(DecodeEncodedWords(subject), "Pawlinex: 警報！");
    const auto bodyStart = m.find("Content-Transfer-Encoding: base64\r\n\r\n");
    ASSERT_NE(bodyStart, std::string::npos);
    EXPECT_EQ(Base64Decode(m.substr(bodyStart + 37)), "誰かいるワン！\r\n二行目");
}

TEST(MailComposer, LineBreaksInHeaderFieldsCannotAddHeaders) {
    MailContent c = sampleContent();
    c.subject = "Hi\r\nBcc: victim@evil.example\nX-Evil: 1";
    c.recipients = ParseRecipients("a@x.jp\r\nBcc: other@evil.example\t>Reply-To: me@x.jp\r\nX: y");
    const std::string head = headerBlock(ComposeMessage(c, MessageStamp{1765000000, "u"}));
    EXPECT_EQ(head.find("\r\nBcc:"), std::string::npos);
    EXPECT_EQ(head.find("\r\nX-Evil:"), std::string::npos);
    EXPECT_EQ(head.find("\r\nX: y"), std::string::npos);
    EXPECT_NE(head.find("Subject: HiBcc: victim@evil.example"), std::string::npos);
}

TEST(MailComposer, AttachmentIsBase64ImageWithItsFileName) {
    MailContent c = sampleContent();
    std::string jpeg = "\xFF\xD8\xFF\xE0";
    for (int i = 0; i < 300; ++i)
        jpeg += static_cast<char>(i);
    c.attachment = Attachment{"061206153045_TEST.jpg", "image/jpeg", jpeg};
    const std::string m = ComposeMessage(c, MessageStamp{1765000000, "bnd"});
    EXPECT_NE(headerValue(m, "Content-Type").find("multipart/mixed; boundary=\"=_pawlinex_bnd\""),
              std::string::npos);
    EXPECT_NE(m.find("Content-Type: image/jpeg; name=\"061206153045_TEST.jpg\""),
              std::string::npos);
    EXPECT_NE(m.find("Content-Disposition: attachment; filename=\"061206153045_TEST.jpg\""),
              std::string::npos);
    const std::string marker = "Content-Transfer-Encoding: base64\r\n\r\n";
    const auto start = m.rfind(marker) + marker.size();
    const auto end = m.find("--=_pawlinex_bnd--", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(Base64Decode(m.substr(start, end - start)), jpeg);
    EXPECT_EQ(m.substr(m.size() - 20), "--=_pawlinex_bnd--\r\n");

    // A Japanese file name goes out in the RFC 2231 form.
    c.attachment->fileName = "写真.jpg";
    const std::string m2 = ComposeMessage(c, MessageStamp{1765000000, "bnd"});
    EXPECT_NE(m2.find("filename*=UTF-8''%E5%86%99%E7%9C%9F.jpg"), std::string::npos);
}

TEST(MailComposer, ExtraHeaderReplacesOursButNeverTheMimeStructure) {
    MailContent c = sampleContent();
    c.recipients = ParseRecipients("a@x.jp\t>Reply-To: r@x.jp\t>Content-Type: text/html");
    const std::string m = ComposeMessage(c, MessageStamp{1765000000, "u"});
    EXPECT_EQ(headerValue(m, "Reply-To"), "r@x.jp");
    EXPECT_EQ(m.find("text/html"), std::string::npos);
}

TEST(MailComposer, ContentTypeByExtension) {
    EXPECT_EQ(ContentTypeForFile("/p/a.jpg"), "image/jpeg");
    EXPECT_EQ(ContentTypeForFile("/p/a.JPEG"), "image/jpeg");
    EXPECT_EQ(ContentTypeForFile("/p/a.avi"), "application/octet-stream");
    EXPECT_EQ(ContentTypeForFile("/p.d/noext"), "application/octet-stream");
}
