#include "capture/frmVideoCompression.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

frmVideoCompression::frmVideoCompression(CaptureEngine& engine, QWidget* parent)
    : QDialog(parent), m_engine(engine) {
    setObjectName("frmVideoCompression");
    setWindowTitle(QStringLiteral("ﾋﾞﾃﾞｵ圧縮"));
    setModal(true);

    auto* codec = new QLabel(QStringLiteral("圧縮方式: Motion JPEG"), this);
    auto* label = new QLabel(QStringLiteral("画質 ( 低 ← → 高 )"), this);
    sliderQuality = new QSlider(Qt::Horizontal, this);
    sliderQuality->setObjectName("sliderQuality");
    sliderQuality->setRange(1, 100);
    txtQuality = new QSpinBox(this);
    txtQuality->setObjectName("txtQuality");
    txtQuality->setRange(1, 100);
    sliderQuality->setValue(engine.clipQuality());
    txtQuality->setValue(engine.clipQuality());
    connect(sliderQuality, &QSlider::valueChanged, txtQuality, &QSpinBox::setValue);
    connect(txtQuality, &QSpinBox::valueChanged, sliderQuality, &QSlider::setValue);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cmdCancel->setObjectName("cmdCancel");

    auto* row = new QHBoxLayout;
    row->addWidget(sliderQuality);
    row->addWidget(txtQuality);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(codec);
    layout->addWidget(label);
    layout->addLayout(row);
    layout->addLayout(buttons);

    connect(cmdOK, &QPushButton::clicked, this, [this] {
        m_engine.setClipQuality(txtQuality->value());
        accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}
