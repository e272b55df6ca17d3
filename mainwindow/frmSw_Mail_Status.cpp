// The status bar: five text panels that mirror StatusPanels, which every part of the program
// writes.
#include "mainwindow/frmSw_Mail.h"

#include "mail/MailAccountForm.h"
#include "settings/StatusPanels.h"

#include <QLabel>
#include <QStatusBar>

void frmSw_Mail::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar");
    bar->setSizeGripEnabled(true);
    // Panels 2, 3 and 5 have texts of known length and keep a width that shows them whole;
    // panel 1 (alarm state and progress) and panel 4 (a sound file name) share the rest.
    const QString widest[5] = {QString(), QStringLiteral("最終警報: 0000/00/00 00:00"),
                               QStringLiteral("解像度: 0000×0000"), QString(),
                               QString::fromStdString(MailAccountPanelText(false))};
    const int stretch[5] = {3, 0, 0, 2, 0};
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setIndent(2);
        if (widest[i].isEmpty()) {
            // Long texts are cut at the panel's edge instead of widening the window.
            label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            label->setMinimumWidth(60);
        } else {
            label->setFixedWidth(label->fontMetrics().horizontalAdvance(widest[i]) + 12);
        }
        bar->addWidget(label, stretch[i]);
        StatusBarPanels[i] = label;
    }
    StatusPanels& panels = m_services.panels;
    for (int panel = 1; panel <= 5; ++panel)
        mirrorStatusPanel(panel);
    panels.setListener([this](int panel) { mirrorStatusPanel(panel); });
}

void frmSw_Mail::mirrorStatusPanel(int panel) {
    if (panel < 1 || panel > 5)
        return;
    const StatusPanels& panels = m_services.panels;
    QLabel* label = StatusBarPanels[panel - 1];
    const QString text = QString::fromStdString(panels.text(panel));
    label->setText(text);
    label->setToolTip(text);
    label->setVisible(panels.visible(panel));
    if (panel == 1)
        placeProgress();
}
