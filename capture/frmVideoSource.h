#pragma once

#include "capture/CaptureEngine.h"
#include "capture/V4l2Device.h"

#include <QDialog>

#include <string>
#include <vector>

class QPushButton;

// The video source dialog: the camera's own controls (brightness, contrast, ...), applied while
// the picture runs. Cancel puts back the values the dialog found. A source without controls
// (a file, a network camera, the demo) gets a short explanation instead.
class frmVideoSource : public QDialog {
    Q_OBJECT
public:
    frmVideoSource(CaptureEngine& engine, QWidget* parent = nullptr);

private:
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QPushButton* cmdDefault = nullptr;

    void applyControl(uint32_t id, int32_t value);
    void restoreOriginal();

    std::string m_device;
    std::vector<V4l2Control> m_original;
};
