#include "base/RawFile.h"

#include <windows.h>

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
constexpr intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE
// ReadFile and WriteFile take a DWORD count; pieces stay well below it.
constexpr size_t kMaxPiece = 1u << 30;

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

}  // namespace

bool RawFile::Open(const char* path, Mode mode) {
    Close();
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (mode == Mode::Read) {
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
    } else {
        access |= GENERIC_WRITE;
        if (mode == Mode::Create) disposition = CREATE_ALWAYS;
        if (mode == Mode::CreateNew) disposition = CREATE_NEW;
    }
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool RawFile::Close() {
    if (handle_ == kClosed) return true;
    const bool ok = CloseHandle(AsHandle(handle_)) != 0;
    handle_ = kClosed;
    return ok;
}

bool RawFile::IsOpen() const { return handle_ != kClosed; }

bool RawFile::QueryLength(uint64_t* length) const {
    LARGE_INTEGER size;
    if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &size) || size.QuadPart < 0) return false;
    *length = static_cast<uint64_t>(size.QuadPart);
    return true;
}

// An offset in the OVERLAPPED of a handle opened without FILE_FLAG_OVERLAPPED makes the read
// or write happen there, synchronously: no separate seek call.
bool RawFile::ReadAt(uint64_t offset, void* dest, size_t count) {
    if (!IsOpen()) return false;
    uint8_t* p = static_cast<uint8_t*>(dest);
    while (count > 0) {
        const DWORD piece = static_cast<DWORD>(count < kMaxPiece ? count : kMaxPiece);
        OVERLAPPED at = At(offset);
        DWORD done = 0;
        if (!ReadFile(AsHandle(handle_), p, piece, &done, &at) || done == 0) return false;
        p += done;
        offset += done;
        count -= done;
    }
    return true;
}

bool RawFile::WriteAt(uint64_t offset, const void* src, size_t count) {
    if (!IsOpen()) return false;
    const uint8_t* p = static_cast<const uint8_t*>(src);
    while (count > 0) {
        const DWORD piece = static_cast<DWORD>(count < kMaxPiece ? count : kMaxPiece);
        OVERLAPPED at = At(offset);
        DWORD done = 0;
        if (!WriteFile(AsHandle(handle_), p, piece, &done, &at) || done != piece) return false;
        p += done;
        offset += done;
        count -= done;
    }
    return true;
}

intptr_t RawFile::Release() {
    const intptr_t h = handle_;
    handle_ = kClosed;
    return h;
}
