// Merging the client's resource index ("RAVN\RAVNFileList.ini") through the merge library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// thiscall is what 32-bit MSVC code uses to call a virtual member; 64-bit has one convention.
#if defined(__i386__)
#define VEL_THISCALL __attribute__((thiscall))
#else
#define VEL_THISCALL
#endif

// Callback interface of the merge library. The library was built with another compiler and
// calls slot 0 of the vtable, so CheckTimeLimit must stay the first virtual function and the
// destructor the second.
class MergePatchCallback {
public:
    virtual bool VEL_THISCALL CheckTimeLimit(uint32_t a, uint32_t b, uint32_t c, uint32_t d) = 0;
    virtual ~MergePatchCallback() {}
};

// Milliseconds the merge library may run, counted from the start of its call.
constexpr uint32_t kMergeTimeLimitMs = 180000;

// The callback object handed to the library: the time limit and nothing else.
class MergeTimer : public MergePatchCallback {
public:
    // True while GetTickCount() - TickBase() (unsigned) is at most three minutes.
    bool VEL_THISCALL CheckTimeLimit(uint32_t a, uint32_t b, uint32_t c, uint32_t d) override;
    // The same test for a given tick count.
    bool WithinTimeLimit(uint32_t tickCount) const;
    // Starts the three minutes now.
    void Start();
    void SetTickBase(uint32_t tickBase) { tickBase_ = tickBase; }
    uint32_t TickBase() const { return tickBase_; }

private:
    uint32_t tickBase_ = 0;
};

// The "FileName" values of items 1 .. FileCount-1 of a resource index list (empty names too),
// replacing what `patches` held. At most the first 1000 items are read.
void ReadFileList(const char* listFile, std::vector<std::string>& patches);

// Where the merge keeps its state while a run is under way (files in the staging folder).
struct MergeFiles {
    std::string patchList;          // the patch's new list, staged
    std::string listBackup;         // the client's list it replaces
    std::string listAttributes;     // that list's attributes when it was read-only
    std::string reserveBackup;      // the reserve copy the current list replaces
    std::string noReserve;          // marker: there was no reserve copy before
    std::string reserveStage;       // the new reserve copy while it is written
    std::string patchBackupPrefix;  // + index: a reserved patch that a moved one replaces
};

// The merge of the client's resource index with the patch's list, as a step that can be repeated
// after a crash and taken back after a failure. Unless the client's list already is the patch's
// list, the current list becomes the reserve copy ("RAVN/RAVNReserve/RAVNFileList.ini"),
// "RAVNMerge.dll" merges when the patch brings exactly one new patch (it gets `timer`, started
// just before the call), and patches no longer listed move to the reserve folder. Last, the
// staged list replaces "RAVN\RAVNFileList.ini". Everything replaced is kept in the MergeFiles
// places. False when a step fails (the library's own outcome is only logged).
bool ApplyResourceMerge(const MergeFiles& files, MergeTimer& timer);

// Puts back the list, the reserve copy and the moved patches; the library's own writes stay.
// Safe to repeat, and to call when ApplyResourceMerge did only part of its work or none.
bool UndoResourceMerge(const MergeFiles& files);

// Loads "RAVNMerge.dll" of the current directory (the client folder) by its full path, and no
// other, and calls its export with `timer`; both steps are logged.
void RunMergeLibrary(MergeTimer& timer);

// The library's export, called with the C convention.
using MergePatchWSafeFn = int (__cdecl*)(const wchar_t* previousList, const wchar_t* downloadFolder,
                                         const wchar_t* backupList, const wchar_t* downloadFolderNoSlash,
                                         int* result, wchar_t* message, int messageCapacity,
                                         MergePatchCallback* callback);
