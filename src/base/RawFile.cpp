#include "base/RawFile.h"

#include <cstring>
#include <new>

bool ReadWindow::Reserve(size_t capacity) {
    if (capacity_ >= capacity && buffer_) return true;
    return Grow(capacity);
}

bool ReadWindow::Grow(size_t capacity) {
    length_ = 0;
    if (buffer_ && capacity <= capacity_) return true;
    // The old buffer stays when the larger one cannot be had.
    uint8_t* grown = new (std::nothrow) uint8_t[capacity == 0 ? 1 : capacity];
    if (grown == nullptr) return false;
    buffer_.reset(grown);
    capacity_ = capacity;
    return true;
}

void ReadWindow::Release() {
    buffer_.reset();
    capacity_ = 0;
    length_ = 0;
}

const uint8_t* ReadWindow::At(RawFile& file, uint64_t fileLength, uint64_t offset, size_t count) {
    if (!buffer_ || count > capacity_ || offset > fileLength || count > fileLength - offset) return nullptr;
    if (offset >= start_ && offset - start_ <= length_ && count <= length_ - (offset - start_))
        return buffer_.get() + (offset - start_);
    const uint64_t rest = fileLength - offset;
    const size_t length = rest < capacity_ ? static_cast<size_t>(rest) : capacity_;
    length_ = 0;
    if (!file.ReadAt(offset, buffer_.get(), length)) return nullptr;
    start_ = offset;
    length_ = length;
    return buffer_.get();
}

bool SequentialWriter::Start(RawFile& file, uint64_t position, size_t capacity) {
    file_ = nullptr;
    if (!buffer_ || capacity_ != capacity) {
        buffer_.reset(new (std::nothrow) uint8_t[capacity]);
        if (!buffer_) return false;
        capacity_ = capacity;
    }
    file_ = &file;
    start_ = position;
    used_ = 0;
    return true;
}

bool SequentialWriter::Write(const void* bytes, size_t count) {
    if (file_ == nullptr) return false;
    if (count <= capacity_ - used_) {
        if (count != 0) std::memcpy(buffer_.get() + used_, bytes, count);
        used_ += count;
        return true;
    }
    if (!Flush()) return false;
    if (count >= capacity_) {
        if (!file_->WriteAt(start_, bytes, count)) return false;
        start_ += count;
        return true;
    }
    std::memcpy(buffer_.get(), bytes, count);
    used_ = count;
    return true;
}

bool SequentialWriter::Overwrite(uint64_t offset, const void* bytes, size_t count) {
    if (file_ == nullptr || offset + count > Position()) return false;
    if (offset >= start_) {
        std::memcpy(buffer_.get() + (offset - start_), bytes, count);
        return true;
    }
    // Partly in the file and partly in the buffer: the buffer goes first, so one write does it.
    if (offset + count > start_ && !Flush()) return false;
    return file_->WriteAt(offset, bytes, count);
}

bool SequentialWriter::Flush() {
    if (file_ == nullptr) return false;
    if (used_ == 0) return true;
    if (!file_->WriteAt(start_, buffer_.get(), used_)) return false;
    start_ += used_;
    used_ = 0;
    return true;
}

bool SequentialWriter::Finish() {
    const bool ok = Flush();
    file_ = nullptr;
    buffer_.reset();
    capacity_ = 0;
    used_ = 0;
    return ok;
}

void SequentialWriter::Abandon() {
    file_ = nullptr;
    buffer_.reset();
    capacity_ = 0;
    used_ = 0;
}
