#include "mail/MailSendRequest.h"

#include "mail/MailComposer.h"
#include "mail/MailTransport.h"
#include "settings/basCommon.h"

#include <cstdlib>

std::string MailLogPath(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/')
        return folder + "mail.log.txt";
    return folder + "/mail.log.txt";
}

std::optional<long> ReadSettingNumber(const std::string& text) {
    const std::string core = TrimSpaces(text);
    if (core.empty())
        return std::nullopt;
    size_t i = (core[0] == '-' || core[0] == '+') ? 1 : 0;
    if (i == core.size() || core.size() - i > 9)
        return std::nullopt;
    for (size_t k = i; k < core.size(); ++k)
        if (core[k] < '0' || core[k] > '9')
            return std::nullopt;
    return std::strtol(core.c_str(), nullptr, 10);
}

MailSendRequest BuildMailSendRequest(const MailSettings& account, const std::string& programFolder,
                                     const std::string& recipients, const std::string& subject,
                                     const std::string& body, const std::string& files) {
    const std::string mail = StripLineBreaks(account.Mail);
    MailSendRequest r;
    r.logPath = MailLogPath(programFolder);
    r.server = StripLineBreaks(account.Smtp);
    if (const AddressListResult list = ParseAddressList(recipients); !list.ok())
        r.recipientError =
            AddressProblemText(list.problem) + (list.badEntry.empty() ? "" : ": " + list.badEntry);
    r.recipients = StripLineBreaks(recipients) + "\t>Reply-To: " + mail;
    r.sender = "<" + mail + ">";
    r.subject = StripLineBreaks(subject);
    r.body = body;
    r.files = files;

    if (ReadSettingNumber(account.Att) == 1) {
        // A flag that is not a number counts as SMTP authentication, as in the account check.
        if (ReadSettingNumber(account.OptAtt) != 0) {
            const auto cram = ReadSettingNumber(account.AtCram);
            r.sender += "\t" + StripLineBreaks(account.SmtpUser) + ":" +
                        StripLineBreaks(account.SmtpPass) + "\t" +
                        (cram && *cram != 0 ? "CRAM-MD5" : "LOGIN");
        } else {
            r.pop = PopBeforeSmtp{StripLineBreaks(account.Pop), StripLineBreaks(account.User),
                                  StripLineBreaks(account.Pass), "STAT", programFolder};
        }
    }
    return r;
}

MailSendOutcome RunMailSend(const MailSendRequest& request, MailTransport& transport) {
    MailSendOutcome out;
    if (!request.recipientError.empty()) {
        out.error = "recipient: " + request.recipientError;
        out.report.words = "宛先のﾒｰﾙｱﾄﾞﾚｽが正しくありません";
        const std::string typed =
            request.recipients.substr(0, request.recipients.rfind("\t>Reply-To: "));
        AppendMailLog(request.logPath, typed, request.subject, out.error);
        return out;
    }
    if (request.pop) {
        std::string popError;
        const PopBeforeSmtp& p = *request.pop;
        if (!transport.RcvMail(p.server, p.user, p.password, p.command, p.folder, &popError,
                               &out.report)) {
            out.error = "POP before SMTP failed: " + (popError.empty() ? "no answer" : popError);
            return out;
        }
    }
    out.error =
        transport.SendMailEx(request.logPath, request.server, request.recipients, request.sender,
                             request.subject, request.body, request.files, &out.report);
    out.sent = out.error.empty();
    return out;
}
