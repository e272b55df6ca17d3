#pragma once

// The capture wrappers: one call per operation of the capture window, each taking the window
// handle first and answering with a Boolean. Behind the handle sits a CaptureWindow widget
// (the live preview) bound to the FFmpeg capture engine. A handle that is not a live capture
// window makes every wrapper return false. User-interface thread only.

#include "detection/CaptureRecords.h"
#include "detection/Frame.h"

#include <cstdint>
#include <functional>
#include <string>

class QWidget;
class CaptureWindow;
class MessageBoxes;
class VideoSourceList;

using HCAPWND = std::uintptr_t; // 0 = no window

// Creates the preview widget as a child of `parent` at (x, y) with the given size, connecting
// by index into `sources` (which must outlive it). Returns 0 when it cannot be made.
HCAPWND capCreateCaptureWindowA(const char* name, uint32_t style, int x, int y, int width,
                                int height, QWidget* parent, int id, VideoSourceList& sources);
// The widget behind a handle (nullptr for an invalid one); used to size it.
QWidget* capWindowWidget(HCAPWND hwnd);
// The same as a CaptureWindow, for its signals (recordingProgress, recordingStarted/Finished).
CaptureWindow* capWindow(HCAPWND hwnd);

// Driver list: PAWLINEX_VIDEO_SOURCES, then [SOURCES] of pawlinex.ini, then V4L2 devices, at
// most ten, as kept in `sources`. Returns false when there is no source at `index`.
bool capGetDriverDescriptionA(int16_t index, std::string& name, std::string& version,
                              VideoSourceList& sources);

bool capDriverConnect(HCAPWND hwnd, int index); // opens the new source before letting go of the old
bool capDriverDisconnect(HCAPWND hwnd);
bool capDriverGetCaps(HCAPWND hwnd, CAPDRIVERCAPS* caps, int size);
bool capGetStatus(HCAPWND hwnd, CAPSTATUS* status, int size);

bool capPreview(HCAPWND hwnd, bool on);
bool capPreviewRate(HCAPWND hwnd, int milliseconds);
bool capPreviewScale(HCAPWND hwnd, bool on);

// Frame hand-over to the detector (no clipboard): capGrabFrame takes the engine's latest frame
// into the window's grab slot; capEditCopy answers whether a grabbed frame is ready;
// capTakeGrabbedFrame moves it out (BGRX, X = 0, see detection/Frame.h): shared, or copied into
// the caller's own buffer.
bool capGrabFrame(HCAPWND hwnd);
bool capEditCopy(HCAPWND hwnd);
bool capTakeGrabbedFrame(HCAPWND hwnd, Frame& out);
bool capTakeGrabbedFrame(HCAPWND hwnd, SharedFrame& out);

// The format dialog reports a format the camera refuses through `boxes`.
bool capDlgVideoFormat(HCAPWND hwnd, MessageBoxes& boxes);
bool capDlgVideoSource(HCAPWND hwnd);
bool capDlgVideoCompression(HCAPWND hwnd);

// Clip recording: an AVI (MJPEG, PCM audio when asked) of the limit in the set-up block, from
// the running engine. capCaptureSequence returns when the limit is reached or Esc is pressed;
// the windows keep painting meanwhile.
bool capCaptureGetSetup(HCAPWND hwnd, CAPTUREPARMS* parms, int size);
bool capCaptureSetSetup(HCAPWND hwnd, const CAPTUREPARMS* parms, int size);
bool capFileSetCaptureFile(HCAPWND hwnd, const std::string& path);
bool capCaptureSequence(HCAPWND hwnd);
// Ends a running recording and closes its file properly (also usable while closing the program
// from inside the recording's wait); false when nothing was recording.
bool capCaptureStop(HCAPWND hwnd);
// Keeps the last `seconds` (0..10; 0 switches it off and frees the memory) of the camera,
// compressed, and with `sound` of the sound input, which then stays open, so the next
// capCaptureSequence writes them first at the clip's rate. Cheap to call again with the same
// values.
bool capSetPreAlarm(HCAPWND hwnd, int seconds, bool sound = false);
// Progress of a recording for a progress bar: called about four times a second with the whole
// seconds recorded and the limit in seconds (0 without a limit). Pass {} to remove.
bool capSetRecordingProgressCallback(HCAPWND hwnd, std::function<void(int, int)> callback);

// The program never installs a callback; these only make sure none is left.
bool capSetCallbackOnError(HCAPWND hwnd, void* callback);
bool capSetCallbackOnStatus(HCAPWND hwnd, void* callback);
bool capSetCallbackOnYield(HCAPWND hwnd, void* callback);
bool capSetCallbackOnFrame(HCAPWND hwnd, void* callback);
bool capSetCallbackOnVideoStream(HCAPWND hwnd, void* callback);
bool capSetCallbackOnWaveStream(HCAPWND hwnd, void* callback);
bool capSetCallbackOnCapControl(HCAPWND hwnd, void* callback);
