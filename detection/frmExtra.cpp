#include "detection/frmExtra.h"

#include "detection/ExtraSettingsForm.h"
#include "detection/MaskGrid.h"
#include "mainwindow/UiFonts.h"
#include "settings/AppSettings.h"
#include "settings/basSettings.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A few frames a second are enough to see where things are; the camera is not watched meanwhile.
constexpr int kRefreshMilliseconds = 250;
// The picture at 4:3, with cells large enough to hit with the mouse.
constexpr int kGridWidth = 384;
constexpr int kGridHeight = 288;
// What a trial shows of the command's output; a chatty command must not swamp the dialog.
constexpr int kShownOutput = 16 * 1024;

QString u(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(JapaneseFont(8));
    return label;
}

QSpinBox* spinBox(const char* name, int high, const QString& suffix, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(0, high);
    box->setSuffix(suffix);
    box->setAlignment(Qt::AlignRight);
    // Narrow, so that the notes beside them have the room.
    box->setFixedWidth(96);
    return box;
}

} // namespace

frmExtra::frmExtra(MessageBoxes& boxes, FrameGrabber frames, CommandTrial trial, QWidget* parent)
    : QDialog(parent), m_frames(std::move(frames)), m_trial(std::move(trial)), m_boxes(boxes) {
    setObjectName(QStringLiteral("frmExtra"));
    setWindowTitle(QStringLiteral("拡張設定"));
    setModal(true);
    buildControls();
    loadSettings();
    refreshPicture();
    if (m_frames)
        Timer1->start();
}

void frmExtra::buildControls() {
    picMask = new MaskGrid(this);
    picMask->setFixedSize(kGridWidth, kGridHeight);
    cmdClear = new QPushButton(QStringLiteral("ｸﾘｱ(&L)"), this);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));

    auto* maskBox = new QGroupBox(QStringLiteral("検知ﾏｽｸ"), this);
    auto* maskSide = new QVBoxLayout;
    maskSide->addWidget(note(QStringLiteral("ﾄﾞﾗｯｸﾞで塗った区画の動きは検知しません。"
                                            "塗った区画からﾄﾞﾗｯｸﾞすると消せます。"),
                             maskBox));
    maskSide->addWidget(cmdClear, 0, Qt::AlignLeft);
    maskSide->addStretch();
    auto* maskRow = new QHBoxLayout(maskBox);
    maskRow->addWidget(picMask, 0, Qt::AlignTop);
    maskRow->addLayout(maskSide, 1);

    txtPre = spinBox("txtPre", 10, QStringLiteral(" 秒"), this);
    txtLight = spinBox("txtLight", 100, QStringLiteral(" %"), this);
    txtKeepFree = spinBox("txtKeepFree", 1000000, QStringLiteral(" MB"), this);

    auto* detectBox = new QGroupBox(QStringLiteral("録画と検知"), this);
    auto* grid = new QGridLayout(detectBox);
    grid->setColumnStretch(2, 1);
    const struct {
        QString caption;
        QSpinBox* box;
        QString text;
    } rows[] = {
        {QStringLiteral("警報前の録画"), txtPre,
         QStringLiteral("警報の前のこの秒数も動画に残します (0 = しない)。"
                        "「音声記録する」がｵﾝのときは、ﾏｲｸが開いたままになります。")},
        {QStringLiteral("明るさの変化"), txtLight,
         QStringLiteral(
             "画面のこの割合を超えて変化したら明るさの変化とみなし、警報にしません "
             "(0 = しない)。画面のこの割合より大きく写る物も明るさの変化とみなされます。")},
        {QStringLiteral("空き容量の確保"), txtKeepFree,
         QStringLiteral("保存先の空きがこれより少ないと、古い動画と画像から削除します "
                        "(0 = しない)。")},
    };
    int row = 0;
    for (const auto& r : rows) {
        grid->addWidget(new QLabel(r.caption, detectBox), row, 0);
        grid->addWidget(r.box, row, 1);
        grid->addWidget(note(r.text, detectBox), row, 2);
        ++row;
    }

    txtOnAlarm = new QLineEdit(this);
    txtOnAlarm->setObjectName(QStringLiteral("txtOnAlarm"));
    cmdTrial = new QPushButton(QStringLiteral("試行(&T)"), this);
    cmdTrial->setObjectName(QStringLiteral("cmdTrial"));
    txtTrialResult = new QPlainTextEdit(this);
    txtTrialResult->setObjectName(QStringLiteral("txtTrialResult"));
    txtTrialResult->setReadOnly(true);
    txtTrialResult->setFont(JapaneseFont(9, false, false));
    txtTrialResult->setFixedHeight(QFontMetrics(txtTrialResult->font()).lineSpacing() * 5 + 12);

    auto* commandBox = new QGroupBox(QStringLiteral("警報時のｺﾏﾝﾄﾞ"), this);
    auto* command = new QGridLayout(commandBox);
    command->addWidget(txtOnAlarm, 0, 0);
    command->addWidget(cmdTrial, 0, 1);
    command->addWidget(note(QStringLiteral("警報のたびに /bin/sh -c で実行します。"
                                           "PAWLINEX_PICTURE (警報の画像)、PAWLINEX_CLIP (動画)、"
                                           "PAWLINEX_LEVEL、PAWLINEX_TIME が渡されます。"
                                           "試行は今の映像で1回実行します。"),
                            commandBox),
                       1, 0, 1, 2);
    command->addWidget(txtTrialResult, 2, 0, 1, 2);

    bcmdOK = new QPushButton(QStringLiteral("OK(&O)"), this);
    bcmdOK->setObjectName(QStringLiteral("bcmdOK"));
    bcmdOK->setDefault(true);
    bcmdCancel = new QPushButton(QStringLiteral("Cancel(&C)"), this);
    bcmdCancel->setObjectName(QStringLiteral("bcmdCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bcmdOK);
    buttons->addWidget(bcmdCancel);

    auto* top = new QVBoxLayout(this);
    top->addWidget(maskBox);
    top->addWidget(detectBox);
    top->addWidget(commandBox);
    top->addLayout(buttons);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kRefreshMilliseconds);

    connect(cmdClear, &QPushButton::clicked, this, [this] { picMask->setCells({}); });
    connect(cmdTrial, &QPushButton::clicked, this, &frmExtra::cmdTrial_Click);
    connect(bcmdOK, &QPushButton::clicked, this, &frmExtra::bcmdOK_Click);
    connect(bcmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(Timer1, &QTimer::timeout, this, &frmExtra::refreshPicture);
}

void frmExtra::loadSettings() {
    const ExtraFormInput input = ExtraFormFromSettings(AppSettings.Extra);
    picMask->setCells(input.mask);
    txtPre->setValue(input.pre);
    txtLight->setValue(input.light);
    txtKeepFree->setValue(input.keepFree);
    txtOnAlarm->setText(u(input.onAlarm));
}

void frmExtra::refreshPicture() {
    if (!m_frames)
        return;
    // A grab that finds no frame keeps the last picture rather than blanking the grid.
    QImage frame = m_frames();
    if (!frame.isNull())
        picMask->setPicture(frame);
}

void frmExtra::refuse(QWidget* field, const QString& text) {
    m_boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(), text);
    field->setFocus();
}

void frmExtra::cmdTrial_Click() {
    ExtraFormInput input;
    input.onAlarm = txtOnAlarm->text().toStdString();
    const ExtraSettings trimmed = ExtraSettingsFromForm(input);
    if (trimmed.OnAlarm.empty()) {
        refuse(txtOnAlarm, QStringLiteral("ｺﾏﾝﾄﾞを入力して下さい。"));
        return;
    }
    if (const ExtraFormRefusal refusal = CheckExtraForm(input);
        refusal.field != ExtraFormRefusal::Field::None) {
        refuse(txtOnAlarm, u(refusal.message));
        return;
    }
    if (!m_trial)
        return;
    txtTrialResult->setPlainText(QStringLiteral("実行中･･･"));
    cmdTrial->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    txtTrialResult->repaint();
    const TrialResult result = m_trial(trimmed.OnAlarm, picMask->picture());
    QApplication::restoreOverrideCursor();
    cmdTrial->setEnabled(true);

    QString output = QString::fromUtf8(
        result.output.data(),
        static_cast<qsizetype>(std::min<size_t>(result.output.size(), kShownOutput)));
    if (result.output.size() > kShownOutput)
        output += QStringLiteral("\n･･･");
    const QString head = result.started ? QStringLiteral("終了ｺｰﾄﾞ: %1").arg(result.exitStatus)
                                        : QStringLiteral("ｺﾏﾝﾄﾞを起動できませんでした。");
    txtTrialResult->setPlainText(output.isEmpty() ? head : head + "\n" + output);
}

void frmExtra::bcmdOK_Click() {
    ExtraFormInput input;
    input.pre = txtPre->value();
    input.mask = picMask->cells();
    input.light = txtLight->value();
    input.keepFree = txtKeepFree->value();
    input.onAlarm = txtOnAlarm->text().toStdString();
    const ExtraFormRefusal refusal = CheckExtraForm(input);
    switch (refusal.field) {
    case ExtraFormRefusal::Field::Mask:
        refuse(picMask, u(refusal.message));
        return;
    case ExtraFormRefusal::Field::OnAlarm:
        refuse(txtOnAlarm, u(refusal.message));
        return;
    case ExtraFormRefusal::Field::None:
        break;
    }
    AppSettings.Extra = ExtraSettingsFromForm(input);
    SaveSettings();
    accept();
}
