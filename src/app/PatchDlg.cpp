#include "app/PatchDlg.h"

#include "report/InstallLog.h"

CPatchDlg::CPatchDlg() = default;

CPatchDlg::~CPatchDlg() {
    archiveList.clear();
}

bool CPatchDlg::WithinTimeLimit(uint32_t tickCount) const {
    // Unsigned: a tick count that wrapped below the base reads as a huge elapsed time.
    return static_cast<uint32_t>(tickCount - mergeTickBase) <= kMergeTimeLimitMs;
}

bool VEL_THISCALL CPatchDlg::CheckTimeLimit(uint32_t, uint32_t, uint32_t, uint32_t) {
    return WithinTimeLimit(GetTickCount());
}

void CPatchDlg::InitSilent(HWND monitor, const char* folder) {
    monitorWnd = monitor;
    if (folder) clientDir = folder;
    InstallLog::Write("初始化静默安装：HWND %d, DIR %s", HandleNumber(monitorWnd), clientDir.c_str());
}

PackageTrailer CPatchDlg::Trailer() const {
    return PackageTrailer{magic1, fromVersion, toVersion, packageLength, packageCrc, clientType, magic2, magic3};
}

void CPatchDlg::SetTrailer(const PackageTrailer& t) {
    magic1 = t.magic1;
    fromVersion = t.fromVersion;
    toVersion = t.toVersion;
    packageLength = t.packageLength;
    packageCrc = t.packageCrc;
    clientType = t.clientType;
    magic2 = t.magic2;
    magic3 = t.magic3;
}
