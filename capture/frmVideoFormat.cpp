#include "capture/frmVideoFormat.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmVideoFormat::frmVideoFormat(CaptureEngine& engine, MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), m_engine(engine), m_boxes(boxes), m_formats(engine.formats()) {
    setObjectName("frmVideoFormat");
    setWindowTitle(QStringLiteral("ﾋﾞﾃﾞｵ ﾌｫｰﾏｯﾄ"));
    setModal(true);

    auto* label = new QLabel(QStringLiteral("画像ｻｲｽﾞとﾋﾟｸｾﾙ形式"), this);
    cmboFormat = new QComboBox(this);
    cmboFormat->setObjectName("cmboFormat");
    cmboFormat->setMinimumWidth(260);
    const VideoFormatOption current = engine.currentFormat();
    for (size_t i = 0; i < m_formats.size(); ++i) {
        cmboFormat->addItem(QString::fromStdString(m_formats[i].label));
        const auto& f = m_formats[i];
        if (f.width == current.width && f.height == current.height &&
            (current.pixelFormat.empty() || f.pixelFormat == current.pixelFormat) &&
            cmboFormat->currentIndex() <= 0)
            cmboFormat->setCurrentIndex(static_cast<int>(i));
    }
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cmdCancel->setObjectName("cmdCancel");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(cmboFormat);
    layout->addLayout(buttons);

    connect(cmdOK, &QPushButton::clicked, this, &frmVideoFormat::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmVideoFormat::cmdOK_Click() {
    int i = cmboFormat->currentIndex();
    if (i < 0 || i >= static_cast<int>(m_formats.size())) {
        accept();
        return;
    }
    const VideoFormatOption& chosen = m_formats[static_cast<size_t>(i)];
    VideoFormatOption current = m_engine.currentFormat();
    bool same = chosen.width == current.width && chosen.height == current.height &&
                chosen.pixelFormat == current.pixelFormat;
    if (!same && !m_engine.setFormat(chosen)) {
        m_boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                       QStringLiteral("ｶﾒﾗがこの形式を受け付けませんでした。"));
        return;
    }
    accept();
}
