// Recipient texts as people type them: which become which envelope addresses and display names,
// and which are refused before anything is sent.

#include "mail/MailAddressList.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    std::string text;
    std::vector<MailAddress> expected; // empty: refused
    AddressProblem problem = AddressProblem::None;
    std::string badEntry;
};

std::string show(const std::vector<MailAddress>& list) {
    std::string out;
    for (const auto& a : list)
        out += "[" + a.displayName + "|" + a.address + "]";
    return out;
}

} // namespace

TEST(MailAddressList, ParsesTypedListsAndRefusesWhatCannotBeSent) {
    const Row rows[] = {
        {"a@x.jp", {{"a@x.jp", ""}}, AddressProblem::None, ""},
        {"a@x.jp, b@x.jp;c@x.jp  d@x.jp",
         {{"a@x.jp", ""}, {"b@x.jp", ""}, {"c@x.jp", ""}, {"d@x.jp", ""}},
         AddressProblem::None,
         ""},
        {"a@x.jp，b@x.jp、c@x.jp",
         {{"a@x.jp", ""}, {"b@x.jp", ""}, {"c@x.jp", ""}},
         AddressProblem::None,
         ""},
        {"Taro Yamada <taro@example.com>",
         {{"taro@example.com", "Taro Yamada"}},
         AddressProblem::None,
         ""},
        {"\"Sato, Hanako\" <h@example.com>, a@x.jp",
         {{"h@example.com", "Sato, Hanako"}, {"a@x.jp", ""}},
         AddressProblem::None,
         ""},
        {"\"Say \\\"hi\\\"\" <q@x.jp>", {{"q@x.jp", "Say \"hi\""}}, AddressProblem::None, ""},
        {"山田 太郎 <taro@x.jp>、<b@x.jp>",
         {{"taro@x.jp", "山田 太郎"}, {"b@x.jp", ""}},
         AddressProblem::None,
         ""},
        {"A <a@x.jp> B <b@x.jp>", {{"a@x.jp", "A"}, {"b@x.jp", "B"}}, AddressProblem::None, ""},
        {" , a@x.jp ;; ", {{"a@x.jp", ""}}, AddressProblem::None, ""},
        // Refused: each would put something other than one address after RCPT TO.
        {"a@x.jp>NOTIFY=NEVER", {}, AddressProblem::AngleBracket, "a@x.jp>NOTIFY=NEVER"},
        {"a@x.jp\x0b", {}, AddressProblem::ControlCharacter, "a@x.jp\x0b"},
        {"a@x.jp\tb@x.jp", {}, AddressProblem::ControlCharacter, "a@x.jp\tb@x.jp"},
        {"Taro Yamada taro@example.com", {}, AddressProblem::NoAtSign, "Taro"},
        {"Name <a b@x.jp>", {}, AddressProblem::Space, "Name <a b@x.jp>"},
        {"Name <a@x.jp", {}, AddressProblem::Unclosed, "<a@x.jp"},
        {"\"Sato, Hanako <h@x.jp>", {}, AddressProblem::Unclosed, "\"Sato, Hanako <h@x.jp>"},
        {"\"Sato, Hanako\"", {}, AddressProblem::NameWithoutAddress, "\"Sato, Hanako\""},
        {"Bad\x01Name <a@x.jp>", {}, AddressProblem::ControlCharacter, "Bad\x01Name <a@x.jp>"},
        {"<@x.jp>", {}, AddressProblem::NoAtSign, "<@x.jp>"},
        {"a@", {}, AddressProblem::NoAtSign, "a@"},
        {" ;, ", {}, AddressProblem::Empty, ""},
    };
    for (const auto& r : rows) {
        const AddressListResult got = ParseAddressList(r.text);
        EXPECT_EQ(got.problem, r.problem) << r.text;
        EXPECT_EQ(show(got.addresses), show(r.expected)) << r.text;
        EXPECT_EQ(got.badEntry, r.badEntry) << r.text;
    }
}

TEST(MailAddressList, MessageNamesTheEntryAndShowsControlBytes) {
    EXPECT_EQ(RecipientProblemMessage(ParseAddressList("a@x.jp\x0b")),
              "宛先のﾒｰﾙｱﾄﾞﾚｽを確認して下さい。\n「a@x.jp\\x0B」: 制御文字が含まれています");
    EXPECT_EQ(RecipientProblemMessage(ParseAddressList(";")),
              "宛先のﾒｰﾙｱﾄﾞﾚｽを確認して下さい。\nﾒｰﾙｱﾄﾞﾚｽがありません");
}
