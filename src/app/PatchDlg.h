// The installer session: all state of one run, shared by both run modes and handed to the
// resource-index merge library as its callback object.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/ScopedWin.h"
#include "package/PackageFormat.h"

// thiscall is what 32-bit MSVC code uses to call a virtual member; 64-bit has one convention.
#if defined(__i386__)
#define VEL_THISCALL __attribute__((thiscall))
#else
#define VEL_THISCALL
#endif

// Callback interface of the merge library. The library was built with another compiler and
// calls slot 0 of the vtable, so CheckTimeLimit must stay the first virtual function.
class MergePatchCallback {
public:
    virtual bool VEL_THISCALL CheckTimeLimit(uint32_t a, uint32_t b, uint32_t c, uint32_t d) = 0;
    virtual ~MergePatchCallback() {}
};

// Milliseconds the merge library may run, counted from mergeTickBase.
constexpr uint32_t kMergeTimeLimitMs = 180000;

class CPatchDlg : public MergePatchCallback {
public:
    CPatchDlg();
    ~CPatchDlg() override;
    CPatchDlg(const CPatchDlg&) = delete;
    CPatchDlg& operator=(const CPatchDlg&) = delete;

    // True while GetTickCount() - mergeTickBase (unsigned) is at most three minutes.
    bool VEL_THISCALL CheckTimeLimit(uint32_t a, uint32_t b, uint32_t c, uint32_t d) override;
    // The same test for a given tick count.
    bool WithinTimeLimit(uint32_t tickCount) const;

    // Makes the session silent: stores the monitor handle and the folder, and logs both.
    void InitSilent(HWND monitor, const char* folder);

    // Reporting (status text, result codes, progress) for the dialog or the monitor window.
    void SetStatus(const char* text);
    void ShowStatus();
    void ReportResult(int32_t code);
    void SendResultToMonitor(int32_t number);
    void SetProgressRange(int32_t lower, int32_t upper);
    void SetProgress(int32_t position, bool phased, bool building);
    void RestoreButtons();
    // A copy of the status text taken under the lock (the worker thread may be replacing it).
    std::string StatusText() const;

    // Initial check of every run: the trailer scan, then the client folder and the client check.
    int CheckPackageAndVersion();
    int ScanForTrailer();
    int LocateClientFolder();
    // Copies the embedded package to "patch.pkg" in the current folder and verifies it.
    int ExtractPackage();

    // Client location: registry or the program's folder (dialog), "/D=" (silent), or a browse.
    bool ReadInstallPathFromRegistry(const char* valueName, char* buffer, DWORD bufferSize);
    void ChangeClientFolder();

    // Client check: kind, current directory, version, version line, archive choice.
    int CheckClient();
    // False when the ini path of the client folder does not fit (the folder cannot be checked).
    bool DetectMicroClient();
    // 0 = clientVersion set, -1 = "update.cfg" cannot be opened, -2 = it has no "ver" line.
    int ReadClientVersion();
    void FormatVersionText();
    void ReportInstallComplete();

    // Free space on the client's drive for the package and the client archive; may ask the
    // player to free space and retry. False = not enough, cancelled, or unknown.
    bool CheckDiskSpace();

    // The trailer copy as one record, and back.
    PackageTrailer Trailer() const;
    void SetTrailer(const PackageTrailer& trailer);

    HWND hwnd = nullptr;

private:
    std::string statusText;
    mutable CriticalSection statusLock;
    int32_t lastSentPercent_ = INT32_MIN;  // none sent yet

public:
    std::string versionText;
    std::string clientDir;
    uint32_t magic1 = 0;
    uint32_t fromVersion = 0;
    uint32_t toVersion = 0;
    uint32_t packageLength = 0;
    uint32_t packageCrc = 0;
    uint32_t clientType = 0;
    uint32_t magic2 = 0;
    uint32_t magic3 = 0;
    uint32_t clientVersion = 0;
    bool trailerFound = false;
    std::string archivePath;
    std::vector<std::string> archiveList;
    uint32_t mergeTickBase = 0;
    int32_t clientIsMicro = 0;
    HWND monitorWnd = nullptr;
    int32_t progressRange = 0;
    int32_t trailerOffset = 0;
};

// The monitor handle as the log shows it: a decimal number.
inline int HandleNumber(HWND handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }
