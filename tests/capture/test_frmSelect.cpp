// The driver selection dialog and the three driver dialogs on a real capture window.
#include "capture/CaptureWindow.h"
#include "capture/VideoSources.h"
#include "capture/capApi.h"
#include "capture/frmSelect.h"
#include "capture/frmVideoCompression.h"
#include "capture/frmVideoFormat.h"
#include "capture/frmVideoSource.h"
#include "capture/frm_Camera.h"
#include "common/TestServices.h"
#include "settings/AppSettings.h"

#include "mainwindow/MainWindowTestUtil.h"

#include "CaptureTestUtil.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

using namespace capture_test;

namespace {
const char* kThree = "lavfi:color=c=red:s=64x48:r=15,format=rgb24;"
                     "lavfi:color=c=green:s=80x60:r=15,format=rgb24;"
                     "lavfi:color=c=blue:s=96x72:r=15,format=rgb24";

uint32_t connectedIndex(HCAPWND h) {
    CAPDRIVERCAPS caps{};
    return capDriverGetCaps(h, &caps, sizeof caps) ? caps.wDeviceIndex : 999u;
}

int frameWidth(HCAPWND h) {
    CAPSTATUS st{};
    capGetStatus(h, &st, sizeof st);
    return int(st.uiImageWidth);
}
} // namespace

class TestFrmSelect : public QObject {
    Q_OBJECT
    QWidget* m_parent = nullptr;
    VideoSourceList m_sources;
    HCAPWND m_hwnd = 0;
    int m_resizes = 0;
    bool m_skipNextCompare = false; // the capture form's, for the dialogs without one

private slots:
    void init() {
        qputenv("PAWLINEX_HOME", QByteArray::fromStdString(TempDir("frmselect").string()));
        qputenv("PAWLINEX_VIDEO_SOURCES", kThree);
        m_sources.refresh();
        m_parent = new QWidget;
        m_hwnd = capCreateCaptureWindowA("", 0, 0, 0, 160, 120, m_parent, 0, m_sources);
        QVERIFY(capDriverConnect(m_hwnd, 1));
        m_resizes = 0;
    }
    void cleanup() { delete m_parent; }

    void listsEveryDriverAndPreselectsTheConnectedOne() {
        frmSelect dlg(m_hwnd, m_sources, m_skipNextCompare, [this] { ++m_resizes; });
        QCOMPARE(dlg.windowTitle(), QStringLiteral("ﾄﾞﾗｲﾊﾞｰ選択"));
        QCOMPARE(dlg.findChild<QLabel*>("lblDriver")->text(), QStringLiteral("ﾄﾞﾗｲﾊﾞｰ一覧"));
        QCOMPARE(dlg.findChild<QPushButton*>("cmdSelect")->text(), QStringLiteral("OK"));
        QCOMPARE(dlg.findChild<QPushButton*>("cmdCancel")->text(), QStringLiteral("Cancel"));
        QCOMPARE(dlg.findChild<QComboBox*>("cmboSource")->count(), 3);
        QCOMPARE(dlg.findChild<QComboBox*>("cmboSource")->currentIndex(), 1);
        std::string name, version;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(capGetDriverDescriptionA(int16_t(i), name, version, m_sources));
            QCOMPARE(dlg.findChild<QComboBox*>("cmboSource")->itemText(i),
                     QString::fromStdString(name));
        }
        QVERIFY(dlg.findChild<QComboBox*>("cmboSource")->itemText(2).contains("blue"));
    }

    void okConnectsTheChosenDriverThenRefits() {
        frmSelect dlg(m_hwnd, m_sources, m_skipNextCompare, [this] {
            ++m_resizes;
            // The new camera is already connected when the window is refitted.
            QCOMPARE(frameWidth(m_hwnd), 96);
        });
        dlg.findChild<QComboBox*>("cmboSource")->setCurrentIndex(2);
        QTest::mouseClick(dlg.findChild<QPushButton*>("cmdSelect"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(connectedIndex(m_hwnd), 2u);
        QCOMPARE(m_resizes, 1);

        // Choosing the connected driver again connects it again and refits.
        frmSelect again(m_hwnd, m_sources, m_skipNextCompare, [this] { ++m_resizes; });
        QCOMPARE(again.findChild<QComboBox*>("cmboSource")->currentIndex(), 2);
        QTest::mouseClick(again.findChild<QPushButton*>("cmdSelect"), Qt::LeftButton);
        QCOMPARE(connectedIndex(m_hwnd), 2u);
        QCOMPARE(m_resizes, 2);
    }

    void cancelChangesNothing() {
        frmSelect dlg(m_hwnd, m_sources, m_skipNextCompare, [this] { ++m_resizes; });
        dlg.findChild<QComboBox*>("cmboSource")->setCurrentIndex(0);
        QTest::mouseClick(dlg.findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(connectedIndex(m_hwnd), 1u);
        QCOMPARE(frameWidth(m_hwnd), 80);
        QCOMPARE(m_resizes, 0);
    }

    void refusingDriverClosesTheDialogAndKeepsTheCamera() {
        qputenv("PAWLINEX_VIDEO_SOURCES", QByteArray(kThree) + ";/nonexistent/camera.avi");
        frmSelect dlg(m_hwnd, m_sources, m_skipNextCompare, [this] { ++m_resizes; });
        QCOMPARE(dlg.findChild<QComboBox*>("cmboSource")->count(),
                 4); // listing starts afresh at index 0
        dlg.findChild<QComboBox*>("cmboSource")->setCurrentIndex(3);
        QTest::mouseClick(dlg.findChild<QPushButton*>("cmdSelect"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(connectedIndex(m_hwnd), 1u);
        QCOMPARE(frameWidth(m_hwnd), 80);
        QCOMPARE(m_resizes, 0);
    }

    void emptyListOnlyCloses() {
        qputenv("PAWLINEX_VIDEO_SOURCES", "");
        auto* parent = new QWidget;
        HCAPWND h = capCreateCaptureWindowA("", 0, 0, 0, 16, 16, parent, 0, m_sources);
        frmSelect dlg(h, m_sources, m_skipNextCompare, [this] { ++m_resizes; });
        // Devices may exist on the machine; without any, the list is empty and nothing happens.
        if (dlg.findChild<QComboBox*>("cmboSource")->count() == 0) {
            QCOMPARE(dlg.findChild<QComboBox*>("cmboSource")->currentIndex(), -1);
            QTest::mouseClick(dlg.findChild<QPushButton*>("cmdSelect"), Qt::LeftButton);
            QCOMPARE(m_resizes, 0);
        }
        delete parent;
    }

    // Another camera's first frame starts a reference of its own: switching from a black room
    // to a white one of the same size raises no alarm.
    void switchingCameraRaisesNoAlarm() {
        qputenv("PAWLINEX_VIDEO_SOURCES", "lavfi:color=c=black:s=64x48:r=15,format=rgb24;"
                                          "lavfi:color=c=white:s=64x48:r=15,format=rgb24");
        m_sources.refresh();
        QVERIFY(capDriverConnect(m_hwnd, 0));
        AppSettings = AppSettingsRecord{};
        AppSettings.Com.Timer = 1;
        AppSettings.Com.CkSum = 100;
        AppSettings.Com.Accuracy = 100;
        TestServices services;
        frm_Camera cam(nullptr, nullptr, services.services);
        cam.hCapWnd = m_hwnd; // the tick grabs from the program's capture window
        cam.startTimer1();
        cam.Timer1_Timer();
        frmSelect dlg(m_hwnd, m_sources, cam.SkipNextCompare, {});
        dlg.findChild<QComboBox*>("cmboSource")->setCurrentIndex(1);
        QTest::mouseClick(dlg.findChild<QPushButton*>("cmdSelect"), Qt::LeftButton);
        QCOMPARE(connectedIndex(m_hwnd), 1u);
        cam.Timer1_Timer();
        QCOMPARE(cam.ChangeLevel(), 0);
        QCOMPARE(cam.lastState(), LevelState::Calm);
    }

    void formatDialogChangesTheFrameHeader() {
        auto* cw = capWindow(m_hwnd);
        mainwindow_test::RecordingBoxes boxes;
        frmVideoFormat dlg(cw->engine(), boxes);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("ﾋﾞﾃﾞｵ ﾌｫｰﾏｯﾄ"));
        QVERIFY(dlg.findChild<QComboBox*>("cmboFormat")->currentText().startsWith("80 x 60"));
        int target =
            dlg.findChild<QComboBox*>("cmboFormat")->findText("320 x 240", Qt::MatchStartsWith);
        QVERIFY(target >= 0);
        dlg.findChild<QComboBox*>("cmboFormat")->setCurrentIndex(target);
        QTest::mouseClick(dlg.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(capGrabFrame(m_hwnd));
        Frame f;
        QVERIFY(capTakeGrabbedFrame(m_hwnd, f));
        QCOMPARE(f.header, (BitmapHeader{0, 320, 240, 1280, 1, 32, 0}));
        CAPSTATUS st{};
        QVERIFY(capGetStatus(m_hwnd, &st, sizeof st));
        QCOMPARE(st.uiImageWidth, 320u);
    }

    void compressionDialogSetsClipQualityOnlyOnOk() {
        auto& engine = capWindow(m_hwnd)->engine();
        const int before = engine.clipQuality();
        {
            frmVideoCompression dlg(engine);
            QCOMPARE(dlg.windowTitle(), QStringLiteral("ﾋﾞﾃﾞｵ圧縮"));
            QCOMPARE(dlg.findChild<QSpinBox*>("txtQuality")->value(), before);
            dlg.findChild<QSpinBox*>("txtQuality")->setValue(40);
            QTest::mouseClick(dlg.findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
        }
        QCOMPARE(engine.clipQuality(), before);
        frmVideoCompression dlg(engine);
        dlg.findChild<QSpinBox*>("txtQuality")->setValue(40);
        QTest::mouseClick(dlg.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QCOMPARE(engine.clipQuality(), 40);
    }

    void sourceDialogExplainsWhenThereAreNoControls() {
        frmVideoSource dlg(capWindow(m_hwnd)->engine());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("ﾋﾞﾃﾞｵ ｿｰｽ"));
        auto* info = dlg.findChild<QLabel*>("lblInfo");
        QVERIFY(info);
        QVERIFY(!info->text().isEmpty());
        QVERIFY(dlg.findChild<QPushButton*>("cmdDefault") == nullptr);
    }
};

QTEST_MAIN(TestFrmSelect)
#include "test_frmSelect.moc"
