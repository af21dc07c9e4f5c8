#include "base/RawFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr intptr_t kClosed = -1;
constexpr size_t kMaxPiece = 1u << 30;

int AsFd(intptr_t h) { return static_cast<int>(h); }

}  // namespace

bool RawFile::Open(const char* path, Mode mode) {
    Close();
    int flags = O_CLOEXEC;
    if (mode == Mode::Read) {
        flags |= O_RDONLY;
    } else {
        flags |= O_RDWR;
        if (mode == Mode::Create) flags |= O_CREAT | O_TRUNC;
        if (mode == Mode::CreateNew) flags |= O_CREAT | O_EXCL;
    }
    const int fd = ::open(path, flags, 0666);
    if (fd < 0) return false;
    handle_ = fd;
    position_ = 0;  // unused here: pread and pwrite take the offset
    return true;
}

bool RawFile::Close() {
    if (handle_ == kClosed) return true;
    const bool ok = ::close(AsFd(handle_)) == 0;
    handle_ = kClosed;
    return ok;
}

bool RawFile::IsOpen() const { return handle_ != kClosed; }

bool RawFile::QueryLength(uint64_t* length) const {
    struct stat st;
    if (!IsOpen() || ::fstat(AsFd(handle_), &st) != 0 || st.st_size < 0) return false;
    *length = static_cast<uint64_t>(st.st_size);
    return true;
}

namespace {

// pread and pwrite may do less than asked, or be interrupted: the rest is asked for again, in
// pieces of at most kMaxPiece bytes, until all is done or the call fails.
template <typename Byte, typename Transfer>
bool TransferAll(Byte* bytes, uint64_t offset, size_t count, Transfer transfer) {
    while (count > 0) {
        const size_t piece = count < kMaxPiece ? count : kMaxPiece;
        const ssize_t done = transfer(bytes, piece, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        offset += static_cast<uint64_t>(done);
        count -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace

bool RawFile::ReadAt(uint64_t offset, void* dest, size_t count) {
    if (!IsOpen()) return false;
    const int fd = AsFd(handle_);
    return TransferAll(static_cast<char*>(dest), offset, count,
                       [fd](char* p, size_t n, off_t at) { return ::pread(fd, p, n, at); });
}

bool RawFile::WriteAt(uint64_t offset, const void* src, size_t count) {
    if (!IsOpen()) return false;
    const int fd = AsFd(handle_);
    return TransferAll(static_cast<const char*>(src), offset, count,
                       [fd](const char* p, size_t n, off_t at) { return ::pwrite(fd, p, n, at); });
}

intptr_t RawFile::Release() {
    const intptr_t h = handle_;
    handle_ = kClosed;
    return h;
}
