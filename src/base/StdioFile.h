// The owned stdio stream with 64-bit positions: the one FILE owner of the program and its tools.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class StdioFile {
public:
    StdioFile() = default;
    explicit StdioFile(FILE* file) : file_(file) {}
    ~StdioFile() { Close(); }
    StdioFile(const StdioFile&) = delete;
    StdioFile& operator=(const StdioFile&) = delete;

    bool Open(const char* path, const char* mode) {
        Close();
        file_ = std::fopen(path, mode);
        return file_ != nullptr;
    }
    bool Open(const std::string& path, const char* mode) { return Open(path.c_str(), mode); }
    // False when the stream could not be flushed (a short write noticed only now).
    bool Close() {
        if (file_ == nullptr) return true;
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }
    FILE* Get() const { return file_; }
    FILE* Release() {
        FILE* file = file_;
        file_ = nullptr;
        return file;
    }
    explicit operator bool() const { return file_ != nullptr; }

private:
    FILE* file_ = nullptr;
};

inline bool SeekFile(FILE* file, int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file, offset, origin) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
#endif
}

inline int64_t TellFile(FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

// Length of the file behind the stream (the position is left at the end); -1 when unknown.
inline int64_t QueryStreamLength(FILE* file) {
    if (!SeekFile(file, 0, SEEK_END)) return -1;
    return TellFile(file);
}

// True only when all `count` bytes were read.
inline bool ReadExact(FILE* file, void* dest, size_t count) {
    return count == 0 || std::fread(dest, 1, count, file) == count;
}

// True only when all `count` bytes were written.
inline bool WriteExact(FILE* file, const void* src, size_t count) {
    return count == 0 || std::fwrite(src, 1, count, file) == count;
}
