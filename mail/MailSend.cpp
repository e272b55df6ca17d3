#include "mail/MailSend.h"

#include "mail/MailSendRequest.h"
#include "mail/MailTransport.h"
#include "settings/AppSettings.h"
#include "settings/basCommon.h"

namespace {
std::string g_lastError;
}

bool MailSend(const std::string& recipients, const std::string& subject, const std::string& body,
              const std::string& files) {
    ClearMailAbort();
    const MailSendRequest request =
        BuildMailSendRequest(AppSettings.Mail, ProgramFolder(), recipients, subject, body, files);
    const MailSendOutcome outcome = RunMailSend(request, CurrentMailTransport());
    g_lastError = outcome.error;
    return outcome.sent;
}

std::string LastMailError() {
    return g_lastError;
}

void SetLastMailError(const std::string& error) {
    g_lastError = error;
}
