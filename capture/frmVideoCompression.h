#pragma once

#include "capture/CaptureEngine.h"

#include <QDialog>

class QPushButton;
class QSlider;
class QSpinBox;

// The video compression dialog: recorded clips are Motion JPEG; the user picks its quality.
class frmVideoCompression : public QDialog {
    Q_OBJECT
public:
    frmVideoCompression(CaptureEngine& engine, QWidget* parent = nullptr);

private:
    QSlider* sliderQuality;
    QSpinBox* txtQuality;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    CaptureEngine& m_engine;
};
