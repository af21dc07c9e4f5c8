// Unbuffered file access at absolute offsets: each operation is one platform call (Win32 on
// Windows, POSIX elsewhere), so the layers above decide how large each read and write is. The C
// runtime's streams turn every seek and every buffer refill into several Win32 calls; here a
// read or write that goes on where the last one ended is one call, and one elsewhere is two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class RawFile {
public:
    enum class Mode {
        Read,    // an existing file, read only
        Create,     // a new file, or an existing one emptied; written (and read)
        CreateNew,  // a new file only: fails when the name exists
        Update,  // an existing file, read and written, never truncated
    };

    RawFile() = default;
    ~RawFile() { Close(); }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    // Others may read and write the file while it is open, as with the C runtime's fopen.
    bool Open(const char* path, Mode mode);
    // False when the platform reports a failure on closing.
    bool Close();
    bool IsOpen() const;

    // The file's length now; false when it cannot be had.
    bool QueryLength(uint64_t* length) const;
    // True only when all `count` bytes were read (or written) at `offset`.
    bool ReadAt(uint64_t offset, void* dest, size_t count);
    bool WriteAt(uint64_t offset, const void* src, size_t count);

    // Gives up ownership: the Win32 HANDLE (or POSIX descriptor) as an integer, for a caller that
    // closes it itself (the background flusher).
    intptr_t Release();

private:
    // Moves the handle's file pointer to `offset` unless it is there already (Windows).
    bool MoveTo(uint64_t offset);

    intptr_t handle_ = -1;
    // Where the handle's file pointer stands (Windows; unknown after a failed call).
    uint64_t position_ = 0;
};

// A window of a file read in large blocks: small reads that follow each other are served from
// memory, and the next block is read only when a read leaves the window.
class ReadWindow {
public:
    // Allocates the buffer; false when it cannot be had.
    bool Reserve(size_t capacity);
    // Grows the buffer to at least `capacity` bytes (dropping what it holds); never shrinks.
    bool Grow(size_t capacity);
    void Release();
    // Forgets what the window holds (the file changed or another file is read now).
    void Invalidate() { length_ = 0; }
    size_t Capacity() const { return capacity_; }

    // `count` bytes at `offset` of a file of `fileLength` bytes, valid until the next call; null
    // when the range lies beyond the end, exceeds the capacity, or cannot be read. A miss reads
    // as much of the file from `offset` on as the window holds.
    const uint8_t* At(RawFile& file, uint64_t fileLength, uint64_t offset, size_t count);

private:
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    uint64_t start_ = 0;
    size_t length_ = 0;
};

// Writes a file front to back through one large buffer: runs of small writes become one platform
// write, and a write at least as large as the buffer goes straight to the file.
class SequentialWriter {
public:
    // Starts writing at `position` of `file` (which must stay open while writing goes on).
    bool Start(RawFile& file, uint64_t position, size_t capacity);
    bool Write(const void* bytes, size_t count);
    // Overwrites bytes written earlier: in the buffer when they are still there, else in the file.
    bool Overwrite(uint64_t offset, const void* bytes, size_t count);
    // Writes what the buffer holds.
    bool Flush();
    // Flushes and lets go of the file and the buffer.
    bool Finish();
    // Lets go of the file and the buffer without writing what the buffer holds.
    void Abandon();
    uint64_t Position() const { return start_ + used_; }

private:
    RawFile* file_ = nullptr;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    uint64_t start_ = 0;  // file offset of the buffer's first byte
    size_t used_ = 0;
};
