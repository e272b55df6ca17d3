#pragma once

#include "capture/CaptureEngine.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QPushButton;

// The video format dialog: the frame sizes and pixel formats the camera offers. OK switches the
// running camera to the chosen one, so the frame header the detector sees changes.
class frmVideoFormat : public QDialog {
    Q_OBJECT
public:
    frmVideoFormat(CaptureEngine& engine, QWidget* parent = nullptr);

    QComboBox* cmboFormat;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

private:
    void cmdOK_Click();

    CaptureEngine& m_engine;
    std::vector<VideoFormatOption> m_formats;
};
