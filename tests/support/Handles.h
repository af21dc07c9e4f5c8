// Owners of Win32 handles for tests (Windows only): ScopedHandle closes any kernel handle
// (process, thread, event, file, ...) with CloseHandle, ScopedFindHandle a FindFirstFile search
// with FindClose. Both take ownership on construction or Reset() and may be moved, not copied.
// MakeEvent and WaitSignalled cover the events tests use to learn that something happened.
#pragma once

#include <windows.h>

#include <string>

namespace velsupport {

class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept;
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return handle_; }
    // Neither null nor INVALID_HANDLE_VALUE (CreateFile's failure value).
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // Closes the handle held, if any, and holds `handle` instead.
    void Reset(HANDLE handle = nullptr);
    // Gives the handle up without closing it.
    HANDLE Release();

private:
    HANDLE handle_ = nullptr;
};

class ScopedFindHandle {
public:
    ScopedFindHandle() = default;
    explicit ScopedFindHandle(HANDLE find) : find_(find) {}
    ~ScopedFindHandle() { Reset(); }
    ScopedFindHandle(ScopedFindHandle&& other) noexcept : find_(other.find_) { other.find_ = INVALID_HANDLE_VALUE; }
    ScopedFindHandle& operator=(ScopedFindHandle&& other) noexcept;
    ScopedFindHandle(const ScopedFindHandle&) = delete;
    ScopedFindHandle& operator=(const ScopedFindHandle&) = delete;

    HANDLE Get() const { return find_; }
    bool Valid() const { return find_ != INVALID_HANDLE_VALUE && find_ != nullptr; }
    void Reset(HANDLE find = INVALID_HANDLE_VALUE);

private:
    HANDLE find_ = INVALID_HANDLE_VALUE;
};

// A new unsignalled event, named when `name` is not empty (another process opens it by name),
// reset by hand unless `manualReset` is false. Invalid on failure.
ScopedHandle MakeEvent(const std::string& name = std::string(), bool manualReset = true);

// True once `handle` (event, process, thread) is signalled within timeoutMs.
bool WaitSignalled(HANDLE handle, DWORD timeoutMs);

}  // namespace velsupport
