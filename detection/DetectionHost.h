#pragma once

// What the detection tick needs of the main window: the state of the start/stop pair and of the
// threshold editor, and the lock of the commands. The main window implements it; tests use a
// plain double. User-interface thread only.
class DetectionHost {
public:
    virtual ~DetectionHost() = default;
    virtual bool isStopSelected() const = 0;     // optPrv(1) "停止" selected
    virtual bool isThresholdEditing() const = 0; // txtCKData enabled
    virtual void sDispEnabled(bool bolEnabled) = 0;
};
