#pragma once

class AutoFtp;
class Clock;
class MailSender;
class MessageBoxes;
class StatusPanels;
class VideoSourceList;

// The program's ways to the outside world that the windows hand down to what they open: made once
// by main() over the real implementations, by tests over their doubles. Every referenced object
// outlives the windows. User-interface thread only, like the windows that use them.
struct Services {
    MessageBoxes& messages;
    MailSender& mail;
    AutoFtp& ftp;
    StatusPanels& panels;
    const Clock& clock;            // local time
    VideoSourceList& videoSources; // the camera list the capture window connects by index
};
