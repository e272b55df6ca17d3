// The capture wrappers on a real capture window with lavfi cameras: handles, driver list and
// connect, grabs with preview on and off, clip recording checked with ffprobe, Esc, failures.
#include "capture/CaptureWindow.h"
#include "capture/VideoSources.h"
#include "capture/capApi.h"

#include "CaptureTestUtil.h"
#include "mainwindow/MainWindowTestUtil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>

using namespace capture_test;

namespace {
const char* kSources = "lavfi:color=c=red:s=64x48:r=15,format=rgb24;"
                       "lavfi:color=c=0x336699:s=80x60:r=15,format=rgb24;"
                       "lavfi:testsrc2=size=160x120:rate=15";
} // namespace

class TestCapApi : public QObject {
    Q_OBJECT

    std::filesystem::path m_dir;
    QWidget* m_parent = nullptr;
    VideoSourceList m_sources;
    HCAPWND m_hwnd = 0;

    CAPTUREPARMS clipSetup(uint32_t seconds, bool audio) {
        CAPTUREPARMS p{};
        capCaptureGetSetup(m_hwnd, &p, sizeof p);
        p.dwRequestMicroSecPerFrame = 33333;
        p.fMakeUserHitOKToCapture = 0;
        p.fCaptureAudio = audio;
        p.fAbortLeftMouse = 0;
        p.fAbortRightMouse = 0;
        p.fLimitEnabled = 1;
        p.wTimeLimit = seconds;
        return p;
    }

private slots:
    void initTestCase() {
        m_dir = TempDir("capapi");
        qputenv("PAWLINEX_HOME", QByteArray::fromStdString(m_dir.string()));
        qputenv("PAWLINEX_VIDEO_SOURCES", kSources);
        qputenv("PAWLINEX_AUDIO_SOURCE", "lavfi:sine=frequency=440");
        m_sources.refresh();
        m_parent = new QWidget;
        m_parent->resize(320, 240);
        m_hwnd = capCreateCaptureWindowA("", 0, 0, 0, 160, 120, m_parent, 0, m_sources);
        QVERIFY(m_hwnd != 0);
        QVERIFY(capWindowWidget(m_hwnd) != nullptr);
        QCOMPARE(capWindowWidget(m_hwnd)->size(), QSize(160, 120));
        QVERIFY(capDriverConnect(m_hwnd, 0));
    }

    void cleanupTestCase() {
        delete m_parent;
        std::filesystem::remove_all(m_dir);
    }

    void invalidHandleMakesEveryWrapperFail() {
        auto* orphanParent = new QWidget;
        HCAPWND gone = capCreateCaptureWindowA("", 0, 0, 0, 10, 10, orphanParent, 0, m_sources);
        delete orphanParent;
        for (HCAPWND h : {HCAPWND(0), HCAPWND(12345), gone}) {
            CAPDRIVERCAPS caps{};
            CAPSTATUS st{};
            CAPTUREPARMS parms{};
            Frame f;
            QVERIFY(!capWindowWidget(h));
            QVERIFY(!capDriverConnect(h, 0));
            QVERIFY(!capDriverDisconnect(h));
            QVERIFY(!capDriverGetCaps(h, &caps, sizeof caps));
            QVERIFY(!capGetStatus(h, &st, sizeof st));
            QVERIFY(!capPreview(h, true));
            QVERIFY(!capPreviewRate(h, 66));
            QVERIFY(!capPreviewScale(h, true));
            QVERIFY(!capGrabFrame(h));
            QVERIFY(!capEditCopy(h));
            QVERIFY(!capTakeGrabbedFrame(h, f));
            mainwindow_test::RecordingBoxes boxes;
            QVERIFY(!capDlgVideoFormat(h, boxes));
            QVERIFY(!capDlgVideoSource(h));
            QVERIFY(!capDlgVideoCompression(h));
            QVERIFY(!capCaptureGetSetup(h, &parms, sizeof parms));
            QVERIFY(!capCaptureSetSetup(h, &parms, sizeof parms));
            QVERIFY(!capFileSetCaptureFile(h, "/tmp/x.avi"));
            QVERIFY(!capCaptureSequence(h));
            QVERIFY(!capCaptureStop(h));
            QVERIFY(!capSetCallbackOnError(h, nullptr));
            QVERIFY(!capSetCallbackOnCapControl(h, nullptr));
        }
    }

    void driverListAndConnectFailuresKeepTheCamera() {
        std::string name, version;
        int count = 0;
        while (capGetDriverDescriptionA(int16_t(count), name, version, m_sources))
            ++count;
        QCOMPARE(count, 3);
        QVERIFY(capGetDriverDescriptionA(1, name, version, m_sources));
        QVERIFY(QString::fromStdString(name).contains("0x336699"));

        QVERIFY(capDriverConnect(m_hwnd, 1));
        CAPDRIVERCAPS caps{};
        QVERIFY(capDriverGetCaps(m_hwnd, &caps, sizeof caps));
        QCOMPARE(caps.wDeviceIndex, 1u);
        CAPSTATUS st{};
        QVERIFY(capGetStatus(m_hwnd, &st, sizeof st));
        QCOMPARE(st.uiImageWidth, 80u);
        QCOMPARE(st.uiImageHeight, 60u);

        // No source at 3 or 9, nor below 0: refused, and the blue camera stays.
        for (int bad : {3, 9, -1}) {
            QVERIFY(!capDriverConnect(m_hwnd, bad));
            QVERIFY(capDriverGetCaps(m_hwnd, &caps, sizeof caps));
            QCOMPARE(caps.wDeviceIndex, 1u);
            QVERIFY(capGrabFrame(m_hwnd));
            Frame f;
            QVERIFY(capTakeGrabbedFrame(m_hwnd, f));
            QCOMPARE(f.header.bmWidth, 80);
        }
        QVERIFY(capDriverConnect(m_hwnd, 0));
    }

    // A camera that keeps the open waiting must not hold the window: events run meanwhile, and
    // letting go of the camera from one of them ends the connect at once.
    void disconnectEndsAConnectThatHangs() {
        TricklingHttpServer camera;
        qputenv("PAWLINEX_VIDEO_SOURCES", QByteArray::fromStdString(camera.url()));
        m_sources.refresh();
        auto* parent = new QWidget;
        const HCAPWND h = capCreateCaptureWindowA("", 0, 0, 0, 16, 16, parent, 0, m_sources);
        bool connecting = false, heardWhileConnecting = false;
        QElapsedTimer sinceDisconnect;
        QTimer::singleShot(300, [&] {
            heardWhileConnecting = connecting;
            sinceDisconnect.start();
            QVERIFY(capDriverDisconnect(h));
        });
        connecting = true;
        const bool connected = capDriverConnect(h, 0);
        connecting = false;
        qInfo("connect ended %lld ms after the disconnect", sinceDisconnect.elapsed());
        QVERIFY(heardWhileConnecting);
        QVERIFY(!connected);
        QVERIFY(!capWindow(h)->connected());
        delete parent;
        qputenv("PAWLINEX_VIDEO_SOURCES", kSources);
        m_sources.refresh();
    }

    void grabHandsOverTheFrameOnceWithoutTheClipboard() {
        QVERIFY(capDriverConnect(m_hwnd, 0));
        QVERIFY(capGrabFrame(m_hwnd));
        QVERIFY(capEditCopy(m_hwnd));
        Frame f;
        QVERIFY(capTakeGrabbedFrame(m_hwnd, f));
        QCOMPARE(f.header, (BitmapHeader{0, 64, 48, 256, 1, 32, 0}));
        QCOMPARE(f.bits.size(), size_t(256 * 48));
        QCOMPARE(int(f.bits[0]), 0);
        QCOMPARE(int(f.bits[1]), 0);
        QCOMPARE(int(f.bits[2]), 255);
        QCOMPARE(int(f.bits[3]), 0);
        QVERIFY2(!capEditCopy(m_hwnd), "taken frames are not handed out twice");
        QVERIFY(!capTakeGrabbedFrame(m_hwnd, f));
    }

    void previewOffFreezesThePictureButNotTheGrabs() {
        QVERIFY(capDriverConnect(m_hwnd, 2)); // testsrc2 moves
        capPreviewRate(m_hwnd, 66);
        capPreviewScale(m_hwnd, true);
        capPreview(m_hwnd, true);
        QWidget* w = capWindowWidget(m_hwnd);
        QTRY_VERIFY_WITH_TIMEOUT(!w->grab().toImage().isNull(), 5000);
        // Scaled preview fills the window: its corners show the picture, not the black fill.
        QTRY_VERIFY_WITH_TIMEOUT(w->grab().toImage().pixelColor(159, 119) != QColor(Qt::black),
                                 5000);

        capPreview(m_hwnd, false);
        QTest::qWait(150);
        QImage frozen = w->grab().toImage();
        Frame a, b;
        QVERIFY(capGrabFrame(m_hwnd));
        QVERIFY(capTakeGrabbedFrame(m_hwnd, a));
        auto* cw = capWindow(m_hwnd);
        uint64_t serial = cw->engine().frameSerial();
        QVERIFY(cw->engine().waitForFrameAfter(serial + 2, 5000));
        QVERIFY(capGrabFrame(m_hwnd));
        QVERIFY(capTakeGrabbedFrame(m_hwnd, b));
        QVERIFY2(a.bits != b.bits, "grabs keep getting the current picture with preview off");
        QCOMPARE(w->grab().toImage(), frozen);

        capPreview(m_hwnd, true);
        QTRY_VERIFY_WITH_TIMEOUT(w->grab().toImage() != frozen, 5000);
        capPreview(m_hwnd, false);
    }

    // The tick turns preview on after each grab; that must leave the preview at its own rate,
    // neither restarting its timer nor painting on every call.
    void previewKeepsItsRateAndJoinsOtherRepaints() {
        QVERIFY(capDriverConnect(m_hwnd, 2)); // testsrc2 moves
        capPreviewScale(m_hwnd, true);
        capPreviewRate(m_hwnd, 300);
        capPreview(m_hwnd, true);
        QWidget* w = capWindowWidget(m_hwnd);
        m_parent->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_parent));
        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint)
                    ++paints;
                return false;
            }
        } counter;
        w->installEventFilter(&counter);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1500) {
            capPreview(m_hwnd, true);
            QTest::qWait(50);
        }
        // About five refreshes in 1.5 s at 300 ms; one per call would be about thirty.
        QVERIFY2(counter.paints >= 2 && counter.paints <= 10,
                 qPrintable(QString::number(counter.paints)));

        // The window repainting for something else (another widget, every 30 ms): the preview
        // joins those repaints with its newer frames, but not sooner than half its interval
        // after the last one: 2 s give at most fifteen pictures, against about seven at the
        // preview rate alone.
        QWidget other(m_parent);
        other.setGeometry(200, 0, 20, 20);
        other.show();
        counter.paints = 0;
        t.restart();
        while (t.elapsed() < 2000) {
            other.update();
            QTest::qWait(30);
        }
        w->removeEventFilter(&counter);
        capPreview(m_hwnd, false);
        m_parent->hide();
        QVERIFY2(counter.paints >= 9 && counter.paints <= 16,
                 qPrintable(QString::number(counter.paints)));
    }

    void clipMatchesTheSetupWithAndWithoutSound() {
        QVERIFY(capDriverConnect(m_hwnd, 2));
        for (bool audio : {true, false}) {
            auto path = (m_dir / "avi" / (audio ? "with-sound.AVI" : "silent.AVI")).string();
            std::filesystem::create_directories(m_dir / "avi");
            CAPTUREPARMS p = clipSetup(2, audio);
            QVERIFY(capCaptureSetSetup(m_hwnd, &p, sizeof p));
            QVERIFY(capFileSetCaptureFile(m_hwnd, path));
            std::vector<int> progress;
            capSetRecordingProgressCallback(m_hwnd, [&](int s, int limit) {
                progress.push_back(s);
                QCOMPARE(limit, 2);
            });
            QVERIFY(capCaptureSequence(m_hwnd));
            QVERIFY(capCaptureStop(m_hwnd) == false); // nothing left running
            capSetRecordingProgressCallback(m_hwnd, {});
            QVERIFY(!progress.empty());
            QVERIFY(std::is_sorted(progress.begin(), progress.end()));

            ProbeResult r = Probe(path);
            qInfo("clip %s: %s, %.3f s, %d streams", path.c_str(), r.formatName.c_str(), r.duration,
                  r.streams);
            qInfo("%s", Run("ffprobe -v error -show_entries stream=codec_name,duration,nb_frames,"
                            "r_frame_rate,sample_rate -of csv '" +
                            path + "'")
                            .c_str());
            QCOMPARE(QString::fromStdString(r.formatName), QString("avi"));
            QVERIFY2(std::abs(r.duration - 2.0) <= 0.5, std::to_string(r.duration).c_str());
            QCOMPARE(QString::fromStdString(r.codecByType["video"]), QString("mjpeg"));
            if (audio)
                QCOMPARE(QString::fromStdString(r.codecByType["audio"]), QString("pcm_s16le"));
            else
                QVERIFY(!r.codecByType.count("audio"));
            QCOMPARE(r.streams, audio ? 2 : 1);
        }
    }

    // With two seconds kept and sound on, the clip opens with the camera's and the input's
    // seconds before the start: as long as both together, and sound from the very beginning.
    void preAlarmSecondsOpenTheClipWithTheirSound() {
        QVERIFY(capDriverConnect(m_hwnd, 2));
        std::filesystem::create_directories(m_dir / "avi");
        const auto path = (m_dir / "avi" / "pre.AVI").string();
        QVERIFY(capSetPreAlarm(m_hwnd, 2, true));
        QTest::qWait(2600);
        CAPTUREPARMS p = clipSetup(2, true);
        QVERIFY(capCaptureSetSetup(m_hwnd, &p, sizeof p));
        QVERIFY(capFileSetCaptureFile(m_hwnd, path));
        QVERIFY(capCaptureSequence(m_hwnd));
        QVERIFY(capSetPreAlarm(m_hwnd, 0));
        ProbeResult r = Probe(path);
        QCOMPARE(QString::fromStdString(r.formatName), QString("avi"));
        QVERIFY2(std::abs(r.duration - 4.0) <= 0.6, std::to_string(r.duration).c_str());
        const std::string pcm =
            Run("ffmpeg -v error -i '" + path + "' -map 0:a -ac 1 -ar 8000 -f s16le -");
        QVERIFY2(std::abs(pcm.size() / 16000.0 - r.duration) <= 0.3,
                 std::to_string(pcm.size()).c_str());
        // The sine is there in the first tenths of a second already, not silence.
        int peak = 0;
        for (size_t i = 800; i + 1 < 2400; i += 2)
            peak = std::max(peak,
                            std::abs(int(int16_t(uint8_t(pcm[i]) | (uint8_t(pcm[i + 1]) << 8)))));
        QVERIFY2(peak > 1000, std::to_string(peak).c_str());
    }

    void escapeEndsTheRecordingAndASecondOneIsRefused() {
        QVERIFY(capDriverConnect(m_hwnd, 0));
        auto path = (m_dir / "avi" / "esc.AVI").string();
        CAPTUREPARMS p = clipSetup(30, true);
        QVERIFY(capCaptureSetSetup(m_hwnd, &p, sizeof p));
        QVERIFY(capFileSetCaptureFile(m_hwnd, path));
        bool secondResult = true;
        bool setupResult = true;
        bool connectResult = true;
        QTimer::singleShot(300, [&] {
            secondResult = capCaptureSequence(m_hwnd);
            setupResult = capCaptureSetSetup(m_hwnd, &p, sizeof p);
            connectResult = capDriverConnect(m_hwnd, 1);
        });
        QTimer::singleShot(1200, [&] {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(m_parent, &press);
        });
        auto t0 = std::chrono::steady_clock::now();
        QVERIFY(capCaptureSequence(m_hwnd));
        QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(25));
        QVERIFY(!secondResult);
        QVERIFY(!setupResult);
        QVERIFY(!connectResult);
        CAPDRIVERCAPS caps{};
        QVERIFY(capDriverGetCaps(m_hwnd, &caps, sizeof caps));
        QCOMPARE(caps.wDeviceIndex, 0u);
        ProbeResult r = Probe(path);
        QCOMPARE(QString::fromStdString(r.formatName), QString("avi"));
        QVERIFY(r.duration > 0.5 && r.duration < 20);
        QCOMPARE(QString::fromStdString(r.codecByType["video"]), QString("mjpeg"));
    }

    void stopWhileRecordingLeavesAPlayableFile() {
        // What the close sequence does when the program ends in the middle of a clip.
        // Without a time limit only the stop ends it.
        auto path = (m_dir / "avi" / "closing.AVI").string();
        CAPTUREPARMS p = clipSetup(30, false);
        p.fLimitEnabled = 0;
        QVERIFY(capCaptureSetSetup(m_hwnd, &p, sizeof p));
        QVERIFY(capFileSetCaptureFile(m_hwnd, path));
        bool stopResult = false;
        QTimer::singleShot(800, [&] { stopResult = capCaptureStop(m_hwnd); });
        QVERIFY(capCaptureSequence(m_hwnd));
        QVERIFY(stopResult);
        ProbeResult r = Probe(path);
        QCOMPARE(QString::fromStdString(r.formatName), QString("avi"));
        QVERIFY(r.duration > 0.2 && r.duration < 20);
        QVERIFY(Run("ffmpeg -v error -i '" + path + "' -f null - 2>&1").empty());
    }

    void windowClosedDuringRecordingStillLeavesAPlayableFile() {
        auto* parent = new QWidget;
        HCAPWND h = capCreateCaptureWindowA("", 0, 0, 0, 64, 48, parent, 0, m_sources);
        QVERIFY(capDriverConnect(h, 2));
        auto path = (m_dir / "avi" / "window-gone.AVI").string();
        CAPTUREPARMS p{};
        QVERIFY(capCaptureGetSetup(h, &p, sizeof p));
        p.fLimitEnabled = 1;
        p.wTimeLimit = 30;
        p.fCaptureAudio = 1;
        QVERIFY(capCaptureSetSetup(h, &p, sizeof p));
        QVERIFY(capFileSetCaptureFile(h, path));
        QTimer::singleShot(800, [&] { delete parent; });
        QVERIFY(!capCaptureSequence(h));
        QVERIFY(!capWindowWidget(h));
        ProbeResult r = Probe(path);
        QCOMPARE(QString::fromStdString(r.formatName), QString("avi"));
        QCOMPARE(QString::fromStdString(r.codecByType["audio"]), QString("pcm_s16le"));
        QVERIFY(r.duration > 0.2 && r.duration < 20);
        QVERIFY(Run("ffmpeg -v error -i '" + path + "' -f null - 2>&1").empty());
    }

    void missingFolderOrSilentInputFailsQuietly() {
        // A clip that cannot hold a single picture leaves no file: the folder is gone, or the
        // disk is full from the start (a link to /dev/full, which takes no byte; the link is
        // what must go, never the device).
        auto missing = (m_dir / "no-such-folder" / "clip.AVI").string();
        auto full = (m_dir / "avi" / "full.AVI").string();
        std::filesystem::create_directories(m_dir / "avi");
        std::filesystem::create_symlink("/dev/full", full);
        for (const std::string& path : {missing, full}) {
            CAPTUREPARMS p = clipSetup(1, true);
            QVERIFY(capCaptureSetSetup(m_hwnd, &p, sizeof p));
            QVERIFY(capFileSetCaptureFile(m_hwnd, path));
            QVERIFY(!capCaptureSequence(m_hwnd));
            QVERIFY2(!std::filesystem::exists(std::filesystem::symlink_status(path)), path.c_str());
        }
        QVERIFY(!std::filesystem::exists(m_dir / "no-such-folder"));
        QVERIFY(std::filesystem::exists("/dev/full"));

        // An audio input that cannot be opened: the clip comes without sound.
        qputenv("PAWLINEX_AUDIO_SOURCE", "lavfi:nosuchsource=1");
        auto path = (m_dir / "avi" / "nosound.AVI").string();
        QVERIFY(capFileSetCaptureFile(m_hwnd, path));
        QVERIFY(capCaptureSequence(m_hwnd));
        qputenv("PAWLINEX_AUDIO_SOURCE", "lavfi:sine=frequency=440");
        ProbeResult r = Probe(path);
        QCOMPARE(r.streams, 1);
        QCOMPARE(QString::fromStdString(r.codecByType["video"]), QString("mjpeg"));
    }

    // A disk that fills during the clip ends the recording there; the clip is kept as
    // evidence and its pictures so far can be played. The file size limit stands in for the
    // full disk.
    void fullDiskMidClipKeepsWhatWasRecorded() {
        QVERIFY(capDriverConnect(m_hwnd, 2));
        QTRY_VERIFY_WITH_TIMEOUT(capGrabFrame(m_hwnd), 10000); // the camera is delivering
        std::filesystem::create_directories(m_dir / "avi");
        auto path = (m_dir / "avi" / "cut.AVI").string();
        CAPTUREPARMS p = clipSetup(10, false);
        QVERIFY(capCaptureSetSetup(m_hwnd, &p, sizeof p));
        QVERIFY(capFileSetCaptureFile(m_hwnd, path));
        const long limit = 60000;
        rlimit before{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &before) == 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = before;
        small.rlim_cur = limit;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        QElapsedTimer t;
        t.start();
        const bool kept = capCaptureSequence(m_hwnd);
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(kept);
        QVERIFY2(t.elapsed() < 9000, "the recording went on after the disk was full");
        QVERIFY(std::filesystem::file_size(path) > 0);
        QVERIFY(std::filesystem::file_size(path) <= std::uintmax_t(limit));
        const std::string frames = Run("ffprobe -v quiet -count_frames -select_streams v "
                                       "-show_entries stream=nb_read_frames -of csv=p=0 '" +
                                       path + "'");
        qInfo("cut clip: %lld ms, %lld bytes, %d frames", static_cast<long long>(t.elapsed()),
              static_cast<long long>(std::filesystem::file_size(path)), std::atoi(frames.c_str()));
        QVERIFY2(std::atoi(frames.c_str()) >= 1, frames.c_str());
    }

    void setupDefaultsAndShortBlocks() {
        auto* parent = new QWidget;
        HCAPWND h = capCreateCaptureWindowA("", 0, 0, 0, 16, 16, parent, 0, m_sources);
        CAPTUREPARMS p;
        std::memset(&p, 0xAB, sizeof p);
        QVERIFY(capCaptureGetSetup(h, &p, sizeof p));
        QCOMPARE(p.dwRequestMicroSecPerFrame, 66667u);
        QCOMPARE(p.vKeyAbort, 0x1Bu);
        QCOMPARE(p.fLimitEnabled, 0);
        // Recording without a camera: nothing to record.
        QVERIFY(capFileSetCaptureFile(h, (m_dir / "avi" / "nocam.AVI").string()));
        QVERIFY(!capCaptureSequence(h));
        QVERIFY(!std::filesystem::exists(m_dir / "avi" / "nocam.AVI"));
        QVERIFY(!capGrabFrame(h));
        QVERIFY(!capDriverGetCaps(h, nullptr, 44));
        delete parent;
    }
};

QTEST_MAIN(TestCapApi)
#include "test_capApi.moc"
