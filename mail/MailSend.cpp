#include "mail/MailSend.h"

#include "mail/MailComposer.h"
#include "mail/MailSendRequest.h"
#include "mail/MailTransport.h"
#include "settings/AppSettings.h"
#include "settings/basCommon.h"

namespace {
MailSendOutcome g_last;
}

bool MailSend(const std::string& recipients, const std::string& subject, const std::string& body,
              const std::string& files) {
    ClearMailAbort();
    const MailSendRequest request =
        BuildMailSendRequest(AppSettings.Mail, ProgramFolder(), recipients, subject, body, files);
    const MailSendOutcome outcome = RunMailSend(request, CurrentMailTransport());
    g_last = outcome;
    return outcome.sent;
}

std::string LastMailError() {
    return g_last.error;
}

MailSendOutcome LastMailOutcome() {
    return g_last;
}

void SetLastMailOutcome(const MailSendOutcome& outcome) {
    g_last = outcome;
}

void LogSkippedMail(const std::string& recipients, const std::string& subject,
                    const std::string& why) {
    AppendMailLog(MailLogPath(ProgramFolder()), recipients, StripLineBreaks(subject),
                  "skipped: " + why);
}
