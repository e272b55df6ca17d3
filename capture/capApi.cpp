#include "capture/capApi.h"

#include "capture/CaptureWindow.h"
#include "capture/VideoSources.h"
#include "capture/frmVideoCompression.h"
#include "capture/frmVideoFormat.h"
#include "capture/frmVideoSource.h"

#include <QApplication>

#include <algorithm>
#include <cstring>

namespace {

// A handle is valid only while its window lives. Qt already keeps the set of live widgets (in the
// application object main() owns), so the handle is looked up there rather than in a table of
// our own; the cast also refuses a window already being torn down to a plain QWidget.
CaptureWindow* lookup(HCAPWND hwnd) {
    if (hwnd == 0)
        return nullptr;
    for (QWidget* w : QApplication::allWidgets())
        if (reinterpret_cast<HCAPWND>(w) == hwnd)
            return qobject_cast<CaptureWindow*>(w);
    return nullptr;
}

} // namespace

HCAPWND capCreateCaptureWindowA(const char*, uint32_t, int x, int y, int width, int height,
                                QWidget* parent, int, VideoSourceList& sources) {
    auto* w = new CaptureWindow(sources, parent);
    w->setGeometry(x, y, std::max(0, width), std::max(0, height));
    if (parent)
        w->show();
    return reinterpret_cast<HCAPWND>(static_cast<QWidget*>(w));
}

QWidget* capWindowWidget(HCAPWND hwnd) {
    return lookup(hwnd);
}

CaptureWindow* capWindow(HCAPWND hwnd) {
    return lookup(hwnd);
}

bool capGetDriverDescriptionA(int16_t index, std::string& name, std::string& version,
                              VideoSourceList& sources) {
    // Enumeration always starts at 0: read the list afresh there, so a camera plugged in since
    // start-up shows up in the driver dialog.
    const auto list = index == 0 ? sources.refresh() : sources.entries();
    if (index < 0 || index >= static_cast<int>(list.size()))
        return false;
    const auto& e = list[static_cast<size_t>(index)];
    // The names travel in 100-character buffers.
    name = TruncateUtf8(e.name, 99);
    version = TruncateUtf8(e.version, 99);
    return true;
}

bool capDriverConnect(HCAPWND hwnd, int index) {
    auto* w = lookup(hwnd);
    return w && w->connectDriver(index);
}

bool capDriverDisconnect(HCAPWND hwnd) {
    auto* w = lookup(hwnd);
    if (!w)
        return false;
    w->disconnectDriver();
    return true;
}

bool capDriverGetCaps(HCAPWND hwnd, CAPDRIVERCAPS* caps, int size) {
    auto* w = lookup(hwnd);
    if (!w || !caps || size <= 0 || !w->connected())
        return false;
    CAPDRIVERCAPS c{};
    c.wDeviceIndex = static_cast<uint32_t>(w->connectedIndex());
    c.fHasOverlay = 0;
    c.fHasDlgVideoSource = 1;
    c.fHasDlgVideoFormat = 1;
    c.fHasDlgVideoDisplay = 0;
    c.fCaptureInitialized = 1;
    std::memcpy(caps, &c, std::min<size_t>(sizeof c, static_cast<size_t>(size)));
    return true;
}

bool capGetStatus(HCAPWND hwnd, CAPSTATUS* status, int size) {
    auto* w = lookup(hwnd);
    if (!w || !status || size <= 0)
        return false;
    CAPSTATUS s{};
    int width = 0, height = 0;
    w->engine().frameSize(width, height);
    s.uiImageWidth = static_cast<uint32_t>(width);
    s.uiImageHeight = static_cast<uint32_t>(height);
    s.fLiveWindow = w->preview() ? 1 : 0;
    s.fScale = w->scale() ? 1 : 0;
    s.fCapturingNow = w->recording() ? 1 : 0;
    s.fCapFileExists = !w->captureFile().empty();
    std::memcpy(status, &s, std::min<size_t>(sizeof s, static_cast<size_t>(size)));
    return true;
}

bool capPreview(HCAPWND hwnd, bool on) {
    auto* w = lookup(hwnd);
    if (!w)
        return false;
    w->setPreview(on);
    return true;
}

bool capPreviewRate(HCAPWND hwnd, int milliseconds) {
    auto* w = lookup(hwnd);
    if (!w)
        return false;
    w->setPreviewRate(milliseconds);
    return true;
}

bool capPreviewScale(HCAPWND hwnd, bool on) {
    auto* w = lookup(hwnd);
    if (!w)
        return false;
    w->setScale(on);
    return true;
}

bool capGrabFrame(HCAPWND hwnd) {
    auto* w = lookup(hwnd);
    return w && w->grabFrame();
}

bool capEditCopy(HCAPWND hwnd) {
    auto* w = lookup(hwnd);
    return w && w->grabbedFrameReady();
}

bool capTakeGrabbedFrame(HCAPWND hwnd, Frame& out) {
    auto* w = lookup(hwnd);
    return w && w->takeGrabbedFrame(out);
}

bool capTakeGrabbedFrame(HCAPWND hwnd, SharedFrame& out) {
    auto* w = lookup(hwnd);
    return w && w->takeGrabbedFrame(out);
}

bool capDlgVideoFormat(HCAPWND hwnd, MessageBoxes& boxes) {
    auto* w = lookup(hwnd);
    if (!w || !w->connected())
        return false;
    frmVideoFormat dlg(w->engine(), boxes, w->window());
    dlg.exec();
    return true;
}

bool capDlgVideoSource(HCAPWND hwnd) {
    auto* w = lookup(hwnd);
    if (!w || !w->connected())
        return false;
    frmVideoSource dlg(w->engine(), w->window());
    dlg.exec();
    return true;
}

bool capDlgVideoCompression(HCAPWND hwnd) {
    auto* w = lookup(hwnd);
    if (!w || !w->connected())
        return false;
    frmVideoCompression dlg(w->engine(), w->window());
    dlg.exec();
    return true;
}

bool capCaptureGetSetup(HCAPWND hwnd, CAPTUREPARMS* parms, int size) {
    auto* w = lookup(hwnd);
    if (!w || !parms || size <= 0)
        return false;
    CAPTUREPARMS p = w->captureSetup();
    std::memcpy(parms, &p, std::min<size_t>(sizeof p, static_cast<size_t>(size)));
    return true;
}

bool capCaptureSetSetup(HCAPWND hwnd, const CAPTUREPARMS* parms, int size) {
    auto* w = lookup(hwnd);
    if (!w || !parms || size <= 0 || w->recording())
        return false;
    // A short block changes only the fields it covers.
    CAPTUREPARMS p = w->captureSetup();
    std::memcpy(&p, parms, std::min<size_t>(sizeof p, static_cast<size_t>(size)));
    w->setCaptureSetup(p);
    return true;
}

bool capFileSetCaptureFile(HCAPWND hwnd, const std::string& path) {
    auto* w = lookup(hwnd);
    if (!w || path.empty() || w->recording())
        return false;
    w->setCaptureFile(path);
    return true;
}

bool capCaptureSequence(HCAPWND hwnd) {
    auto* w = lookup(hwnd);
    return w && w->captureSequence();
}

bool capCaptureStop(HCAPWND hwnd) {
    auto* w = lookup(hwnd);
    return w && w->stopCapture();
}

bool capSetPreAlarm(HCAPWND hwnd, int seconds, bool sound) {
    auto* w = lookup(hwnd);
    if (!w)
        return false;
    w->setPreAlarmSeconds(std::clamp(seconds, 0, 10), sound);
    return true;
}

bool capSetRecordingProgressCallback(HCAPWND hwnd, std::function<void(int, int)> callback) {
    auto* w = lookup(hwnd);
    if (!w)
        return false;
    w->setRecordingProgressCallback(std::move(callback));
    return true;
}

static bool clearCallback(HCAPWND hwnd, void* callback) {
    // Nothing is ever installed; only clearing is meaningful.
    return lookup(hwnd) != nullptr && callback == nullptr;
}

bool capSetCallbackOnError(HCAPWND hwnd, void* cb) {
    return clearCallback(hwnd, cb);
}
bool capSetCallbackOnStatus(HCAPWND hwnd, void* cb) {
    return clearCallback(hwnd, cb);
}
bool capSetCallbackOnYield(HCAPWND hwnd, void* cb) {
    return clearCallback(hwnd, cb);
}
bool capSetCallbackOnFrame(HCAPWND hwnd, void* cb) {
    return clearCallback(hwnd, cb);
}
bool capSetCallbackOnVideoStream(HCAPWND hwnd, void* cb) {
    return clearCallback(hwnd, cb);
}
bool capSetCallbackOnWaveStream(HCAPWND hwnd, void* cb) {
    return clearCallback(hwnd, cb);
}
bool capSetCallbackOnCapControl(HCAPWND hwnd, void* cb) {
    return clearCallback(hwnd, cb);
}
