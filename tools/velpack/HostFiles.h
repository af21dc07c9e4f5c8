// The few file-system operations the release tool needs, on Linux and on Windows.
// Paths are host narrow strings: UTF-8 on Linux, the ANSI code page (GBK) on Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/StdioFile.h"

#ifdef _WIN32
constexpr char kHostSeparator = '\\';
#else
constexpr char kHostSeparator = '/';
#endif

// Removes its file when it goes out of scope, unless Release() was called.
class TempFileGuard {
public:
    TempFileGuard() = default;
    explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
    ~TempFileGuard();
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;

    void Reset(std::string path);
    void Release() { path_.clear(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A heap buffer whose allocation failure is a result, not an exception.
class ByteBuffer {
public:
    bool Allocate(size_t size);
    uint8_t* Data() { return data_.get(); }
    const uint8_t* Data() const { return data_.get(); }
    size_t Size() const { return size_; }
    void Shrink(size_t size) { if (size < size_) size_ = size; }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
};

// One file found under a folder: its name components below the folder, outermost first.
using RelativeFileName = std::vector<std::string>;

// One file or folder found under a folder.
struct TreeItem {
    RelativeFileName parts;  // name components below the folder, outermost first
    bool isFolder = false;
    bool readOnly = false;   // Windows: the read-only attribute; elsewhere: no write permission
    uint64_t size = 0;       // files only
};

// Every file and folder under folder, recursively, in no particular order, with the same refusals
// as ListFilesUnder.
bool ListTreeUnder(const std::string& folder, std::vector<TreeItem>* items, std::string* error);

// Every regular file under folder, recursively, in no particular order. A symbolic link to a
// file counts as that file; a link to a folder (or a junction) is refused, so a loop cannot form.
bool ListFilesUnder(const std::string& folder, std::vector<RelativeFileName>* files, std::string* error);

bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
bool FileSizeOf(const std::string& path, uint64_t* size);
// Creates one folder; true also when it exists already as a folder.
bool MakeDirectory(const std::string& path);
// Renames from onto to, replacing an existing to.
bool RenameReplacing(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
// Lets a read-only file be removed (on Windows the attribute forbids it; elsewhere the folder decides).
bool ClearReadOnly(const std::string& path);
// Cuts a file open for writing (flushed) to length bytes.
bool TruncateOpenFile(FILE* file, uint64_t length);
// Removes a folder that is empty.
bool RemoveEmptyFolder(const std::string& path);
// Creates a new, empty, uniquely named file in the system's temporary folder.
bool MakeTempFile(std::string* path);
// path + a suffix unique to this process, in the same folder, for write-then-rename.
std::string SiblingTempName(const std::string& path);
// folder + separator + name, without doubling a separator the folder already ends with.
std::string JoinHostPath(const std::string& folder, const std::string& name);
// True when host names are GBK bytes already: on Windows with the ANSI code page 936.
bool HostNamesAreGbk();
// Reads a whole file of at most maxSize bytes.
bool ReadWholeFile(const std::string& path, uint64_t maxSize, ByteBuffer* data, std::string* error);
// The C library's text for the last failure (errno).
std::string LastErrorText();
