#pragma once

// The services a window under test is built with: the test's own message boxes (or boxes that
// answer nothing), and the real mail client, which reaches no server unless the test starts one.

#include "mail/MailSender.h"
#include "mail/MailTransport.h"
#include "settings/MessageBoxes.h"
#include "settings/Services.h"

class TestServices {
public:
    TestServices() : services{m_ignored, mail} {}
    explicit TestServices(MessageBoxes& boxes) : services{boxes, mail} {}

    CurlMailTransport mailTransport;
    MailSender mail{mailTransport};
    Services services;

private:
    class IgnoredBoxes : public MessageBoxes {
    public:
        void showOk(QWidget*, Icon, const QString&, const QString&) override {}
    } m_ignored;
};
