// File helpers for tests that run real programs: own folders, whole-file reads, the install log.
#pragma once

#include <string>
#include <vector>

namespace harness {

// Folder of the running program, without a trailing backslash.
std::string ProgramFolder();

// The part of a path before its last '\\' or '/', found with a lead-byte-aware scan (a GBK trail
// byte can be 0x5C); empty when there is no separator.
std::string FolderOf(const std::string& path);

// Creates a new, empty folder "<current folder>\<name>.<pid>.<n>" and returns its full path
// (no trailing backslash); empty on failure.
std::string MakeTestFolder(const std::string& name);

// Removes a folder and everything in it, read-only files included.
bool RemoveFolderTree(const std::string& path);

// A test's own folder: made on construction, removed with its content on destruction,
// unless VEL_KEEP_TEST_FOLDERS is set in the environment (to look at what a run left behind).
class TestFolder {
public:
    explicit TestFolder(const std::string& name) : path_(MakeTestFolder(name)) {}
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Path of `relative` inside the folder.
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

bool CopyOneFile(const std::string& from, const std::string& to);
bool FileExists(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string* out);
// Creates missing parent folders first.
bool WriteTestFile(const std::string& path, const std::string& bytes);

// The lines of an install log, each without its line end and without the "[hh:mm:ss] " stamp
// (a line without a stamp, such as the second line of a text with a line break, is kept whole).
// Empty when the file cannot be read.
std::vector<std::string> ReadLogLines(const std::string& path);
// True when every line of the install log carries a well-formed stamp.
bool AllLinesStamped(const std::string& path);

// For display: GBK (code page 936) text as UTF-8, and bytes as hex.
std::string GbkToUtf8(const std::string& gbk);
std::string HexBytes(const std::string& bytes);

}  // namespace harness
