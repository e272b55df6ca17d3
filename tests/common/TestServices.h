#pragma once

// The services a window under test is built with: the test's own message boxes (or boxes that
// answer nothing), the real mail client and the real FTP runner, which reach no server unless the
// test starts one, the system clock and the real camera list.

#include "capture/VideoSources.h"
#include "detection/AlarmPortsLive.h"
#include "ftp/basAutoFTP.h"
#include "mail/MailSender.h"
#include "mail/MailTransport.h"
#include "settings/MessageBoxes.h"
#include "settings/Services.h"
#include "settings/StatusPanels.h"

class TestServices {
public:
    TestServices() : services{m_ignored, mail, ftp, panels, clock, videoSources} {}
    explicit TestServices(MessageBoxes& boxes)
        : services{boxes, mail, ftp, panels, clock, videoSources} {}

    CurlMailTransport mailTransport;
    MailSender mail{mailTransport};
    AutoFtp ftp;
    StatusPanels panels;
    SystemClock clock;
    VideoSourceList videoSources;
    Services services;

private:
    class IgnoredBoxes : public MessageBoxes {
    public:
        void showOk(QWidget*, Icon, const QString&, const QString&) override {}
    } m_ignored;
};
