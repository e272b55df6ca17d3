// The status bar: five text panels that mirror StatusPanels, which every part of the program
// writes.
#include "mainwindow/frmSw_Mail.h"

#include "settings/StatusPanels.h"

#include <QLabel>
#include <QStatusBar>

void frmSw_Mail::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar");
    bar->setSizeGripEnabled(true);
    // Panel 1 (alarm state and progress) takes what the others leave; their widths suit their
    // longest usual texts ("最終警報: 2026/12/07 23:59", "解像度: 1920×1080", a sound file name).
    const int stretch[5] = {5, 4, 3, 4, 3};
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setIndent(2);
        // Long texts are cut at the panel's edge instead of widening the window.
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        label->setMinimumWidth(40);
        bar->addWidget(label, stretch[i]);
        StatusBarPanels[i] = label;
    }
    StatusPanels& panels = StatusPanels::instance();
    for (int panel = 1; panel <= 5; ++panel)
        mirrorStatusPanel(panel);
    panels.setListener([this](int panel) { mirrorStatusPanel(panel); });
}

void frmSw_Mail::mirrorStatusPanel(int panel) {
    if (panel < 1 || panel > 5)
        return;
    const StatusPanels& panels = StatusPanels::instance();
    QLabel* label = StatusBarPanels[panel - 1];
    const QString text = QString::fromStdString(panels.text(panel));
    label->setText(text);
    label->setToolTip(text);
    label->setVisible(panels.visible(panel));
}
