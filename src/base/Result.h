// The result of a stage of the installer: success, or a failure with its code from the fixed table.
#pragma once

#include <cstdint>

// Codes are what launchers and logs have always seen: negative numbers, each with a fixed GBK
// message.
enum class Result : int32_t {
    Ok = 0,
    // A failure whose stage already set a status text of its own (no message in the table).
    Reported = -1,
    PackageDamaged = -10000,     // program file incomplete or package data wrong
    NoPackage = -9999,           // the program carries no update data
    ClientNotFound = -9998,
    ClientDamaged = -9997,
    ClientTooOld = -9996,
    ClientUpToDate = -9995,
    WriteFailed = -9994,
    OutOfMemory = -9993,
    FreeSpaceUnknown = -9992,
    DiskFull = -9991,
    CrcMismatch = -9990,
    PackageForFull = -9989,      // micro client, package for the full client
    PackageForMicro = -9988,     // full client, package for the micro client
};

inline bool Failed(Result result) { return static_cast<int32_t>(result) < 0; }
inline int32_t CodeOf(Result result) { return static_cast<int32_t>(result); }

// The GBK message of a failure; "发生未知错误！" for a code outside the table. Null for Ok,
// other non-negative codes and Reported, which carry no message.
const char* ResultMessage(Result result);
