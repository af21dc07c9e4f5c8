// The free-space check with its Retry/Cancel box.
#include <windows.h>

#include "app/PatchDlg.h"
#include "client/DiskSpace.h"

namespace {

bool QueryFreeBytes(const char* folder, uint64_t* freeBytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) return false;
    *freeBytes = available.QuadPart;
    return true;
}

}  // namespace

bool CPatchDlg::CheckDiskSpace() {
    uint32_t needed = packageLength + QueryFileLength(archivePath.c_str());
    char folder[MAX_PATH] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(folder), folder);
    if (n == 0 || n >= sizeof(folder)) return false;
    uint64_t freeBytes = 0;
    if (!QueryFreeBytes(folder, &freeBytes)) return false;
    for (;;) {
        int64_t shortfall = DiskShortfall(needed, freeBytes);
        if (shortfall == 0) return true;
        std::string message = DiskSpaceMessage(DrivePart(folder), shortfall);
        // Shown in silent mode too (then without an owner): only a person can free space.
        int answer = MessageBoxA(hwnd, message.c_str(), "磁盘空间不足", MB_RETRYCANCEL);
        if (answer != IDRETRY) return false;
        if (!QueryFreeBytes(folder, &freeBytes)) return false;
    }
}
