#include "mail/MailTriggerForm.h"

#include "mail/MailAddressList.h"
#include "settings/basCommon.h"

MailTriggerOutcome CheckMailTriggerInput(const MailTriggerInput& in, const MailTrigger& stored,
                                         bool closing) {
    MailTriggerOutcome out;
    const std::string mailTo = TrimSpaces(in.mailTo);
    if (in.enabled) {
        if (mailTo.empty()) {
            out.message = "宛先を入力して下さい。";
            return out;
        }
        if (const AddressListResult list = ParseAddressList(mailTo); !list.ok()) {
            out.message = RecipientProblemMessage(list);
            out.focusMailTo = true;
            return out;
        }
    }
    MailTrigger& t = out.trigger;
    t = stored;
    t.Enabled = in.enabled;
    t.MailTo = mailTo;
    t.Subject = TrimSpaces(in.subject);
    t.Body = TrimSpaces(in.body);
    t.Grp = in.attachPicture ? 1 : 0;
    t.MinSize = in.size;
    t.Arc = in.quality;
    if (closing)
        t.Files.clear();
    return out;
}
