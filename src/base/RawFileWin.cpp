#include "base/RawFile.h"

#include <windows.h>

#include <cstdint>

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
constexpr intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE
// ReadFile and WriteFile take a DWORD count; pieces stay well below it.
constexpr size_t kMaxPiece = 1u << 30;

constexpr uint64_t kUnknownPosition = ~uint64_t{0};

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
    position_ = 0;
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

// Reads and writes go through the handle's own file pointer, which every one moves on: the
// streams of this program read and write front to back, so a seek is rarely needed. An offset in
// an OVERLAPPED would spare even that seek, but each such call also has the system look for an
// I/O completion port of the handle (under Wine a request to its server every time).
bool RawFile::MoveTo(uint64_t offset) {
    if (offset == position_) return true;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (offset > static_cast<uint64_t>(INT64_MAX) || !SetFilePointerEx(AsHandle(handle_), to, nullptr, FILE_BEGIN)) {
        position_ = kUnknownPosition;
        return false;
    }
    position_ = offset;
    return true;
}

bool RawFile::ReadAt(uint64_t offset, void* dest, size_t count) {
    if (!IsOpen() || !MoveTo(offset)) return false;
    uint8_t* p = static_cast<uint8_t*>(dest);
    while (count > 0) {
        const DWORD piece = static_cast<DWORD>(count < kMaxPiece ? count : kMaxPiece);
        DWORD done = 0;
        if (!ReadFile(AsHandle(handle_), p, piece, &done, nullptr)) {
            position_ = kUnknownPosition;
            return false;
        }
        position_ += done;
        if (done == 0) return false;  // the end of the file came first
        p += done;
        count -= done;
    }
    return true;
}

bool RawFile::WriteAt(uint64_t offset, const void* src, size_t count) {
    if (!IsOpen() || !MoveTo(offset)) return false;
    const uint8_t* p = static_cast<const uint8_t*>(src);
    while (count > 0) {
        const DWORD piece = static_cast<DWORD>(count < kMaxPiece ? count : kMaxPiece);
        DWORD done = 0;
        if (!WriteFile(AsHandle(handle_), p, piece, &done, nullptr) || done != piece) {
            position_ = kUnknownPosition;
            return false;
        }
        position_ += done;
        p += done;
        count -= done;
    }
    return true;
}

intptr_t RawFile::Release() {
    const intptr_t h = handle_;
    handle_ = kClosed;
    position_ = 0;
    return h;
}
