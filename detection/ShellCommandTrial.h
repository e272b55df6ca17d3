#pragma once

#include "detection/frmExtra.h"

// A trial run of an alarm command for the 試行 button: `command` through /bin/sh -c in the
// program folder, in a process group of its own, with the alarm command's environment
// (PAWLINEX_PICTURE a 640x480 JPEG of `frame` in a temporary folder, PAWLINEX_CLIP empty,
// PAWLINEX_LEVEL 0, PAWLINEX_TIME now). Waits at most 10 seconds; a command still running then
// is ended with its whole group and its exit status is reported as -1. Standard output and error
// come back together. User-interface thread; blocks it meanwhile.
frmExtra::TrialResult RunShellCommandOnce(const std::string& command, const QImage& frame);
