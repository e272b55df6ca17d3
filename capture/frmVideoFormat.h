#pragma once

#include "capture/CaptureEngine.h"
#include "settings/MessageBoxes.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QPushButton;

// The video format dialog: the frame sizes and pixel formats the camera offers. OK switches the
// running camera to the chosen one, so the frame header the detector sees changes.
class frmVideoFormat : public QDialog {
    Q_OBJECT
public:
    // A refused format is reported through `boxes`, which must outlive the dialog.
    frmVideoFormat(CaptureEngine& engine, MessageBoxes& boxes, QWidget* parent = nullptr);

private:
    QComboBox* cmboFormat;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    void cmdOK_Click();

    CaptureEngine& m_engine;
    MessageBoxes& m_boxes;
    std::vector<VideoFormatOption> m_formats;
};
