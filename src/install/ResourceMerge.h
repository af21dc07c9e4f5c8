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

// Keeps the current list in the reserve folder, lets "RAVNMerge.dll" merge when the package
// brings exactly one new patch, moves patches no longer listed to the reserve folder and puts the
// new list ("RAVN/RAVNFileList.ini.patch") in place. The library gets `timer`, started just
// before the call. Outcomes are only logged.
void MergeResourceIndex(MergeTimer& timer);

// The library's export, called with the C convention.
using MergePatchWSafeFn = int (__cdecl*)(const wchar_t* previousList, const wchar_t* downloadFolder,
                                         const wchar_t* backupList, const wchar_t* downloadFolderNoSlash,
                                         int* result, wchar_t* message, int messageCapacity,
                                         MergePatchCallback* callback);
