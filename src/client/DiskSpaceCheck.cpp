#include "client/DiskSpaceCheck.h"

#include <windows.h>

#include "base/PathText.h"
#include "client/DiskSpace.h"

namespace {

bool QueryFreeBytes(const char* folder, uint64_t* freeBytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) return false;
    *freeBytes = available.QuadPart;
    return true;
}

}  // namespace

Result CheckDiskSpace(uint64_t needed, Reporter& reporter) {
    char folder[kPathBufferSize] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(folder), folder);
    if (n == 0 || n >= sizeof(folder)) return Result::DiskFull;
    uint64_t freeBytes = 0;
    if (!QueryFreeBytes(folder, &freeBytes)) return Result::DiskFull;
    for (;;) {
        int64_t shortfall = DiskShortfall(needed, freeBytes);
        if (shortfall == 0) return Result::Ok;
        std::string message = DiskSpaceMessage(DrivePart(folder), shortfall);
        // Asked in silent mode too: only a person can free space.
        if (!reporter.Ask(message.c_str(), "磁盘空间不足", Question::RetryCancel)) return Result::DiskFull;
        if (!QueryFreeBytes(folder, &freeBytes)) return Result::DiskFull;
    }
}
