// Result codes of the installer, their fixed messages, and the progress arithmetic of silent mode.
#pragma once

#include <cstdint>

enum ResultCode : int32_t {
    RESULT_OK = 0,
    RESULT_PACKAGE_DAMAGED = -10000,      // program file incomplete or package data wrong
    RESULT_NO_PACKAGE = -9999,            // the program carries no update data
    RESULT_CLIENT_NOT_FOUND = -9998,
    RESULT_CLIENT_DAMAGED = -9997,
    RESULT_CLIENT_TOO_OLD = -9996,
    RESULT_CLIENT_UP_TO_DATE = -9995,
    RESULT_WRITE_FAILED = -9994,
    RESULT_OUT_OF_MEMORY = -9993,
    RESULT_FREE_SPACE_UNKNOWN = -9992,
    RESULT_DISK_FULL = -9991,
    RESULT_CRC_MISMATCH = -9990,
    RESULT_PACKAGE_FOR_FULL = -9989,      // micro client, package for the full client
    RESULT_PACKAGE_FOR_MICRO = -9988,     // full client, package for the micro client
};

// Number sent to the monitor window for a result code: code + 10501.
constexpr int32_t RESULT_NUMBER_BASE = 10501;

// The GBK message of a negative code; "发生未知错误！" for one outside the table.
// Null for 0 and positive codes, which carry no message.
const char* ResultMessage(int32_t code);

inline int32_t MonitorNumber(int32_t code) { return code + RESULT_NUMBER_BASE; }

// Percentage sent with MONITOR_PROGRESS for a position within a range of width `range`,
// in signed 32-bit arithmetic truncating toward zero:
//   range 0                  -> 0
//   not phased               -> position*100/range
//   phased, building         -> (position*100/range)/10          (0..10)
//   phased, not building     -> (position*100/range)*9/10 + 10   (10..100)
int32_t ProgressPercent(int32_t position, int32_t range, bool phased, bool building);
