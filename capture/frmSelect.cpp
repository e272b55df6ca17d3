#include "capture/frmSelect.h"

#include "detection/FrameDifference.h"

#include "settings/basCommon.h"
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmSelect::frmSelect(HCAPWND hwnd, VideoSourceList& sources, bool& skipNextCompare,
                     std::function<void()> resizeCaptureWindow, QWidget* parent)
    : QDialog(parent), m_hwnd(hwnd), m_skipNextCompare(skipNextCompare),
      m_resize(std::move(resizeCaptureWindow)) {
    setObjectName("frmSelect");
    setWindowTitle(QStringLiteral("ﾄﾞﾗｲﾊﾞｰ選択"));
    setModal(true);

    lblDriver = new QLabel(QStringLiteral("ﾄﾞﾗｲﾊﾞｰ一覧"), this);
    lblDriver->setObjectName("lblDriver");
    cmboSource = new QComboBox(this);
    cmboSource->setObjectName("cmboSource");
    cmboSource->setMinimumWidth(300);
    cmdSelect = new QPushButton(QStringLiteral("OK"), this);
    cmdSelect->setObjectName("cmdSelect");
    cmdSelect->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName("cmdCancel");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdSelect);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblDriver);
    layout->addWidget(cmboSource);
    layout->addLayout(buttons);

    connect(cmdSelect, &QPushButton::clicked, this, &frmSelect::cmdSelect_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSelect::cmdCancel_Click);

    // The position in the list is the index to connect, so nothing may be skipped or sorted.
    std::string name, version;
    for (int16_t i = 0; capGetDriverDescriptionA(i, name, version, sources); ++i)
        cmboSource->addItem(QString::fromStdString(TrimSpaces(name)));
    cmboSource->setCurrentIndex(-1);

    CAPDRIVERCAPS caps{};
    if (capDriverGetCaps(m_hwnd, &caps, sizeof caps) &&
        static_cast<int>(caps.wDeviceIndex) < cmboSource->count())
        cmboSource->setCurrentIndex(static_cast<int>(caps.wDeviceIndex));
}

void frmSelect::cmdSelect_Click() {
    int index = cmboSource->currentIndex();
    // The camera may take seconds to open while the dialog stays live: a second OK or a Cancel
    // meanwhile would act on a choice already on its way.
    cmdSelect->setEnabled(false);
    cmdCancel->setEnabled(false);
    if (index >= 0 && capDriverConnect(m_hwnd, index)) {
        // The next frame comes from another camera: it starts a reference of its own instead
        // of being compared with the last frame of the one before.
        m_skipNextCompare = true;
        CAPDRIVERCAPS caps{};
        capDriverGetCaps(m_hwnd, &caps, sizeof caps);
        if (m_resize)
            m_resize();
    }
    accept();
}

void frmSelect::cmdCancel_Click() {
    reject();
}
