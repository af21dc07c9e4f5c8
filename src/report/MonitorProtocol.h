// Window messages and WM_COPYDATA tags shared by the installer, its dialog and the launcher's monitor.
#pragma once

#include <cstdint>

#include "base/Result.h"

// Posted to the dialog: show the session's status text in control 1008 (WM_USER + 123).
constexpr unsigned WM_PATCH_STATUS = 0x0400 + 123;

// wParam tags of WM_COPYDATA to the monitor window (the wParam would normally be a window handle).
constexpr int32_t MONITOR_PROGRESS = -15;  // dwData: percentage 0..100, or 100 then -1 on completion
constexpr int32_t MONITOR_RESULT = -16;    // dwData: result number; lpData: status text with its NUL

// Number sent with MONITOR_RESULT for a result code: code + 10501.
constexpr int32_t RESULT_NUMBER_BASE = 10501;
inline int32_t MonitorNumber(Result result) { return CodeOf(result) + RESULT_NUMBER_BASE; }

// Result number the install driver sends for failures it words itself (no result code behind it).
constexpr int32_t MONITOR_DRIVER_FAILURE = 501;

// dwData of the second message of the completion pair.
constexpr uint32_t MONITOR_PROGRESS_DONE = 0xFFFFFFFFu;

// Title looked up when the command line names no monitor window, or names one that is not there.
constexpr const char* DEFAULT_MONITOR_TITLE = "Velmora_INSTALL_MONITOR_WINDOW";
