#pragma once

#include <cstdint>

// The records the capture wrappers exchange, with the field names and sizes of the platform
// records the program was designed around. Callers zero-fill them before use and pass sizeof.

struct CAPDRIVERCAPS {     // 44 bytes
    uint32_t wDeviceIndex; // index of the connected driver
    int32_t fHasOverlay;
    int32_t fHasDlgVideoSource;
    int32_t fHasDlgVideoFormat;
    int32_t fHasDlgVideoDisplay;
    int32_t fCaptureInitialized;
    int32_t fDriverSuppliesPalettes;
    uint32_t hVideoIn;
    uint32_t hVideoOut;
    uint32_t hVideoExtIn;
    uint32_t hVideoExtOut;
};
static_assert(sizeof(CAPDRIVERCAPS) == 44);

struct CAPSTATUS { // 76 bytes
    uint32_t uiImageWidth;
    uint32_t uiImageHeight;
    int32_t fLiveWindow;
    int32_t fOverlayWindow;
    int32_t fScale;
    int32_t ptScrollX;
    int32_t ptScrollY;
    int32_t fUsingDefaultPalette;
    int32_t fAudioHardware;
    int32_t fCapFileExists;
    uint32_t dwCurrentVideoFrame;
    uint32_t dwCurrentVideoFramesDropped;
    uint32_t dwCurrentWaveSamples;
    uint32_t dwCurrentTimeElapsedMS;
    uint32_t hPalCurrent;
    int32_t fCapturingNow;
    uint32_t dwReturn;
    uint32_t wNumVideoAllocated;
    uint32_t wNumAudioAllocated;
};
static_assert(sizeof(CAPSTATUS) == 76);

struct CAPTUREPARMS { // 92 bytes: the form without the final stream-master field
    uint32_t dwRequestMicroSecPerFrame;
    int32_t fMakeUserHitOKToCapture;
    uint32_t wPercentDropForError;
    int32_t fYield;
    uint32_t dwIndexSize;
    uint32_t wChunkGranularity;
    int32_t fUsingDOSMemory;
    uint32_t wNumVideoRequested;
    int32_t fCaptureAudio;
    uint32_t wNumAudioRequested;
    uint32_t vKeyAbort;
    int32_t fAbortLeftMouse;
    int32_t fAbortRightMouse;
    int32_t fLimitEnabled;
    uint32_t wTimeLimit; // seconds
    int32_t fMCIControl;
    int32_t fStepMCIDevice;
    uint32_t dwMCIStartTime;
    uint32_t dwMCIStopTime;
    int32_t fStepCaptureAt2x;
    uint32_t wStepCaptureAverageFrames;
    uint32_t dwAudioBufferSize;
    int32_t fDisableWriteCache;
};
static_assert(sizeof(CAPTUREPARMS) == 92);
