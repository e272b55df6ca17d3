#include "mail/MailAccountForm.h"

#include "mail/MailAddressList.h"
#include "settings/StatusPanels.h"
#include "settings/basCommon.h"

#include <algorithm>

namespace {

bool isPort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

// Fills a blank port with its default and reports it; false when a typed port is out of range.
bool takePort(const std::string& typed, const char* fallback, std::string& port,
              std::string& filled) {
    port = TrimSpaces(typed);
    if (port.empty()) {
        port = filled = fallback;
        return true;
    }
    return isPort(port);
}

} // namespace

MailAccountOutcome CheckMailAccountInput(const MailAccountInput& in) {
    static const char* const kPortMessage = "ﾎﾟｰﾄ番号は1～65535で入力して下さい。";
    MailAccountOutcome out;
    auto fail = [&out](MailAccountField field, std::string message) {
        out.field = field;
        out.message = std::move(message);
        return out;
    };
    const std::string mail = TrimSpaces(in.mail);
    if (mail.empty())
        return fail(MailAccountField::Mail, "ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。");
    // The address goes into MAIL FROM and Reply-To of every mail: a bare address only.
    if (const AddressProblem p = CheckMailAddress(mail); p != AddressProblem::None)
        return fail(MailAccountField::Mail,
                    "ﾒｰﾙｱﾄﾞﾚｽを確認して下さい。\n" + AddressProblemTextJa(p));
    const std::string smtp = TrimSpaces(in.smtp);
    if (smtp.empty())
        return fail(MailAccountField::Smtp, "SMTPｻｰﾊﾞｰ名を入力して下さい。");
    std::string smtpPort;
    if (!takePort(in.smtpPort, "25", smtpPort, out.smtpPortFilled))
        return fail(MailAccountField::SmtpPort, kPortMessage);

    const std::string pop = TrimSpaces(in.pop);
    std::string popPort = TrimSpaces(in.popPort);
    const std::string user = TrimSpaces(in.user);
    const std::string pass = TrimSpaces(in.pass);
    const std::string smtpUser = TrimSpaces(in.smtpUser);
    const std::string smtpPass = TrimSpaces(in.smtpPass);
    if (in.authenticate && !in.smtpAuth) {
        if (pop.empty())
            return fail(MailAccountField::Pop, "POPｻｰﾊﾞｰ名を入力して下さい。");
        if (!takePort(in.popPort, "110", popPort, out.popPortFilled))
            return fail(MailAccountField::PopPort, kPortMessage);
        if (user.empty())
            return fail(MailAccountField::User, "ﾕｰｻﾞｰ名を入力して下さい。");
        if (pass.empty())
            return fail(MailAccountField::Pass, "ﾊﾟｽﾜｰﾄﾞを入力して下さい。");
    } else if (in.authenticate) {
        if (smtpUser.empty())
            return fail(MailAccountField::SmtpUser, "ﾕｰｻﾞｰ名を入力して下さい。");
        if (smtpPass.empty())
            return fail(MailAccountField::SmtpPass, "ﾊﾟｽﾜｰﾄﾞを入力して下さい。");
    }

    MailSettings& m = out.settings;
    m.Mail = mail;
    m.Smtp = smtp + "\t" + smtpPort;
    m.Pop = pop + "\t" + popPort;
    m.User = user;
    m.Pass = pass;
    m.Att = in.authenticate ? "1" : "0";
    m.OptAtt = in.smtpAuth ? "1" : "0";
    m.AtCram = in.cramMd5 ? "1" : "0";
    m.SmtpUser = smtpUser;
    m.SmtpPass = smtpPass;
    return out;
}

std::string MailAccountPanelText(bool ready) {
    return ready ? std::string() : "ﾒｰﾙｱｶｳﾝﾄ未設定";
}

void ShowMailAccountState(StatusPanels& panels, bool ready) {
    panels.setText(5, MailAccountPanelText(ready));
    panels.setVisible(5, !ready);
}
