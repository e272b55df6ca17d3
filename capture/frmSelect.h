#pragma once

#include "capture/capApi.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

// The driver selection dialog: lists the capture drivers by index, preselects the connected
// one, and on OK connects the chosen one and has the capture window refitted.
class frmSelect : public QDialog {
    Q_OBJECT
public:
    // A successful connect sets `skipNextCompare` (the capture form's) and calls
    // `resizeCaptureWindow` (the capture form refits its capture window to the new picture).
    // `sources` is the capture window's driver list.
    frmSelect(HCAPWND hwnd, VideoSourceList& sources, bool& skipNextCompare,
              std::function<void()> resizeCaptureWindow, QWidget* parent = nullptr);

private:
    QLabel* lblDriver;
    QComboBox* cmboSource;
    QPushButton* cmdSelect;
    QPushButton* cmdCancel;

    void cmdSelect_Click();
    void cmdCancel_Click();

    HCAPWND m_hwnd;
    bool& m_skipNextCompare;
    std::function<void()> m_resize;
};
