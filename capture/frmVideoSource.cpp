#include "capture/frmVideoSource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <functional>

frmVideoSource::frmVideoSource(CaptureEngine& engine, QWidget* parent)
    : QDialog(parent), m_device(engine.devicePath()) {
    setObjectName("frmVideoSource");
    setWindowTitle(QStringLiteral("ﾋﾞﾃﾞｵ ｿｰｽ"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    if (!m_device.empty())
        m_original = ListV4l2Controls(m_device);

    std::vector<std::function<void()>> resetters;
    if (m_original.empty()) {
        auto* info =
            new QLabel(QStringLiteral("このｶﾒﾗには調整できる項目がありません。\n"
                                      "明るさなどはｶﾒﾗ本体または配信元で設定してください。"),
                       this);
        info->setObjectName("lblInfo");
        layout->addWidget(info);
    } else {
        auto* form = new QFormLayout;
        for (const auto& c : m_original) {
            QString name = QString::fromStdString(c.name);
            const uint32_t id = c.id;
            switch (c.kind) {
            case V4l2Control::Kind::Integer: {
                auto* row = new QWidget(this);
                auto* h = new QHBoxLayout(row);
                h->setContentsMargins(0, 0, 0, 0);
                auto* slider = new QSlider(Qt::Horizontal, row);
                slider->setRange(c.minimum, c.maximum);
                slider->setSingleStep(c.step);
                slider->setPageStep(std::max(c.step, (c.maximum - c.minimum) / 10));
                slider->setValue(c.value);
                auto* value = new QLabel(QString::number(c.value), row);
                value->setMinimumWidth(40);
                h->addWidget(slider);
                h->addWidget(value);
                connect(slider, &QSlider::valueChanged, this, [this, id, value](int v) {
                    value->setText(QString::number(v));
                    applyControl(id, v);
                });
                resetters.push_back([slider, d = c.defaultValue] { slider->setValue(d); });
                form->addRow(name, row);
                break;
            }
            case V4l2Control::Kind::Boolean: {
                auto* box = new QCheckBox(this);
                box->setChecked(c.value != 0);
                connect(box, &QCheckBox::toggled, this,
                        [this, id](bool on) { applyControl(id, on ? 1 : 0); });
                resetters.push_back([box, d = c.defaultValue] { box->setChecked(d != 0); });
                form->addRow(name, box);
                break;
            }
            case V4l2Control::Kind::Menu: {
                auto* combo = new QComboBox(this);
                for (auto& [index, text] : c.menu) {
                    combo->addItem(QString::fromStdString(text), index);
                    if (index == c.value)
                        combo->setCurrentIndex(combo->count() - 1);
                }
                connect(combo, &QComboBox::currentIndexChanged, this,
                        [this, id, combo](int i) { applyControl(id, combo->itemData(i).toInt()); });
                resetters.push_back([combo, d = c.defaultValue] {
                    int i = combo->findData(d);
                    if (i >= 0)
                        combo->setCurrentIndex(i);
                });
                form->addRow(name, combo);
                break;
            }
            case V4l2Control::Kind::Button: {
                auto* button = new QPushButton(name, this);
                connect(button, &QPushButton::clicked, this, [this, id] { applyControl(id, 1); });
                form->addRow(QString(), button);
                break;
            }
            }
        }
        layout->addLayout(form);
    }

    auto* buttons = new QHBoxLayout;
    if (!m_original.empty()) {
        cmdDefault = new QPushButton(QStringLiteral("標準に戻す"), this);
        cmdDefault->setObjectName("cmdDefault");
        connect(cmdDefault, &QPushButton::clicked, this, [resetters] {
            for (auto& r : resetters)
                r();
        });
        buttons->addWidget(cmdDefault);
    }
    buttons->addStretch();
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cmdCancel->setObjectName("cmdCancel");
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    if (m_original.empty())
        cmdCancel->hide();
    layout->addLayout(buttons);

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        restoreOriginal();
        reject();
    });
}

void frmVideoSource::applyControl(uint32_t id, int32_t value) {
    if (!m_device.empty())
        SetV4l2Control(m_device, id, value);
}

void frmVideoSource::restoreOriginal() {
    for (const auto& c : m_original)
        if (c.kind != V4l2Control::Kind::Button)
            SetV4l2Control(m_device, c.id, c.value);
}
