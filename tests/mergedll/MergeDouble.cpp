// Stand-in for the client's resource-index merge library, for tests only: it records how it was
// called in "merge_call.txt" in the current folder (one block per call), loads a system DLL by
// bare name, asks the callback once and answers with values the installer must ignore.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

// thiscall is what 32-bit MSVC code uses for virtual members; 64-bit has one convention.
#if defined(__i386__)
#define DOUBLE_THISCALL __attribute__((thiscall))
#else
#define DOUBLE_THISCALL
#endif

// The library knows the callback only by this layout: slot 0 is CheckTimeLimit.
class MergePatchCallback {
public:
    virtual bool DOUBLE_THISCALL CheckTimeLimit(uint32_t a, uint32_t b, uint32_t c, uint32_t d) = 0;
    virtual ~MergePatchCallback() {}
};

namespace {

class Record {
public:
    Record() {
        file_ = CreateFileW(L"merge_call.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~Record() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    void Line(const char* key, const char* value) {
        if (file_ == INVALID_HANDLE_VALUE) return;
        char line[2048];
        int n = snprintf(line, sizeof(line), "%s=%s\n", key, value);
        if (n < 0) return;
        DWORD length = static_cast<DWORD>(n < static_cast<int>(sizeof(line)) ? n : sizeof(line) - 1);
        DWORD written = 0;
        WriteFile(file_, line, length, &written, nullptr);
    }
    void Text(const char* key, const wchar_t* text) {
        char utf8[1024];
        if (text == nullptr) {
            Line(key, "(null)");
        } else if (WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr) > 0) {
            Line(key, utf8);
        } else {
            Line(key, "(unconvertible)");
        }
    }
    void Number(const char* key, unsigned long long value) {
        char text[32];
        snprintf(text, sizeof(text), "%llu", value);
        Line(key, text);
    }

private:
    HANDLE file_;
};

#if defined(__i386__)
// Calls slot 0 the way the library's compiler does, by hand: `this` in ECX, the four arguments
// pushed right to left, and the callee pops them (thiscall). The stack pointer is kept in ESI, a
// register the callee must preserve, and compared afterwards: a callee built with another
// convention (cdecl members, or a slot that is not CheckTimeLimit) leaves it moved, and is
// recorded as "callbackStack=moved" before the stack is repaired.
bool CallCheckTimeLimit(MergePatchCallback* callback, Record* record) {
    void* function = (*reinterpret_cast<void***>(callback))[0];
    unsigned answer = 0;
    unsigned intact = 0;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl $4\n\t"
        "pushl $3\n\t"
        "pushl $2\n\t"
        "pushl $1\n\t"
        "movl %[self], %%ecx\n\t"
        "call *%[function]\n\t"
        "movzbl %%al, %%eax\n\t"
        "xorl %%edx, %%edx\n\t"
        "cmpl %%esi, %%esp\n\t"
        "sete %%dl\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(answer), "=d"(intact)
        : [self] "D"(callback), [function] "b"(function)
        : "ecx", "esi", "memory", "cc");
    record->Line("callbackStack", intact ? "intact" : "moved");
    return answer != 0;
}
#else
// One calling convention on x86-64: nothing to check by hand.
bool CallCheckTimeLimit(MergePatchCallback* callback, Record*) { return callback->CheckTimeLimit(1, 2, 3, 4); }
#endif

}  // namespace

extern "C" __declspec(dllexport) int __cdecl MergePatchWSafe(const wchar_t* previousList,
                                                             const wchar_t* downloadFolder,
                                                             const wchar_t* backupList,
                                                             const wchar_t* downloadFolderNoSlash, int* result,
                                                             wchar_t* message, int messageCapacity,
                                                             MergePatchCallback* callback) {
    Record record;
    record.Line("call", "MergePatchWSafe");
    record.Number("tick", GetTickCount());

    wchar_t modulePath[MAX_PATH] = {};
    HMODULE self = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&MergePatchWSafe), &self)) {
        GetModuleFileNameW(self, modulePath, MAX_PATH);
    }
    record.Text("module", modulePath);

    record.Text("previousList", previousList);
    record.Text("downloadFolder", downloadFolder);
    record.Text("backupList", backupList);
    record.Text("downloadFolderNoSlash", downloadFolderNoSlash);
    if (result == nullptr) {
        record.Line("result", "(null)");
    } else {
        record.Number("result", static_cast<unsigned long long>(static_cast<long long>(*result)));
    }
    bool zero = message != nullptr;
    for (int i = 0; zero && i < messageCapacity; ++i) zero = message[i] == 0;
    record.Line("messageZero", zero ? "1" : "0");
    record.Number("messageCapacity", static_cast<unsigned long long>(static_cast<long long>(messageCapacity)));
    record.Number("callback", reinterpret_cast<uintptr_t>(callback));

    // Libraries like the real one load system DLLs by bare name when they need them (dbghelp.dll
    // for a crash dump): which file the installer's search found tells whether a copy beside
    // the installer could have been planted into it.
    HMODULE helper = LoadLibraryA("dbghelp.dll");
    wchar_t helperPath[MAX_PATH] = {};
    if (helper != nullptr) GetModuleFileNameW(helper, helperPath, MAX_PATH);
    record.Text("demandLoaded", helperPath);
    if (helper != nullptr) FreeLibrary(helper);

    if (callback != nullptr) {
        bool answer = CallCheckTimeLimit(callback, &record);
        record.Line("checkTimeLimit", answer ? "1" : "0");
    }

    // Answers the installer must not rely on.
    if (result != nullptr) *result = 7;
    static const wchar_t kMessage[] = L"merged by the test double";
    if (message != nullptr && messageCapacity > 0) {
        int i = 0;
        for (; i + 1 < messageCapacity && kMessage[i] != 0; ++i) message[i] = kMessage[i];
        message[i] = 0;
    }
    record.Line("end", "MergePatchWSafe");
    return 0;
}
