#pragma once

// Recipient text as people type it: "a@x.jp, Taro Yamada <taro@x.jp>; \"Sato, Hanako\" <h@x.jp>".
// Parsed before anything reaches the server, so that a display name never becomes a recipient of
// its own and nothing but a plain address ever follows RCPT TO.

#include <string>
#include <vector>

// One recipient: bare address for the envelope, and the display name typed before "<addr>".
struct MailAddress {
    std::string address;
    std::string displayName;
};

enum class AddressProblem {
    None,
    ControlCharacter, // a tab, line break or other control byte anywhere in the entry
    Space,            // a blank inside the address itself
    AngleBracket,     // '<' or '>' inside the address (e.g. "a@x>NOTIFY=NEVER")
    NoAtSign,         // no "local@domain" shape
    Unclosed,         // a '"' or '<' that is never closed
    NameWithoutAddress,
    Empty, // no address at all in the text
};

struct AddressListResult {
    std::vector<MailAddress> addresses;
    AddressProblem problem = AddressProblem::None;
    std::string badEntry; // the entry as typed that has the problem

    bool ok() const { return problem == AddressProblem::None; }
};

// Entries are separated by ',', ';', the full-width "，" and "、", and by blanks between bare
// addresses. An entry is a bare address, `Name <addr>` or `"Quoted, Name" <addr>`. The first
// faulty entry ends the parse with its problem; an empty list is AddressProblem::Empty.
AddressListResult ParseAddressList(const std::string& text);

// The test every address gets, also the account's own: non-empty local part and domain around
// one '@' and no control character, blank, '<' or '>'.
AddressProblem CheckMailAddress(const std::string& address);

// "control character in address" etc., for the mail log.
std::string AddressProblemText(AddressProblem problem);
// The same in the dialogs' Japanese (UTF-8).
std::string AddressProblemTextJa(AddressProblem problem);

// The dialogs' message for a faulty recipient text: "宛先のﾒｰﾙｱﾄﾞﾚｽを確認して下さい。", then the
// entry and the reason on a line of their own. UTF-8.
std::string RecipientProblemMessage(const AddressListResult& result);
