// Whole files and paths for tests, through the platform directly so that checks do not lean on
// the code under test. Files are read and written in binary mode: "Text" holds the bytes in a
// std::string, "Bytes" in a byte vector; nothing is translated either way. Paths are host text:
// UTF-8 on Linux, the ANSI code page (936 under scripts/wine-run.sh) on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velsupport {

// The whole file; false (and an empty result) when it cannot be opened or read.
bool ReadFileText(const std::string& path, std::string* text);
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes);

// Creates or replaces the file with exactly these bytes, making missing parent folders first.
bool WriteFileText(const std::string& path, const std::string& text);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// True for an existing file (not a folder), and for an existing folder.
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// Makes the folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);

// Copies one file over whatever is at `to`, making missing parent folders first.
bool CopyOneFile(const std::string& from, const std::string& to);

// `folder` and `name` joined with the host's separator ('\\' on Windows, '/' elsewhere).
std::string JoinPath(const std::string& folder, const std::string& name);

// The part of a path before its last separator ('\\' or '/' on Windows, found with a
// lead-byte-aware scan since a GBK trail byte can be 0x5C; '/' elsewhere); empty without one.
std::string FolderOf(const std::string& path);

// Folder of the running program, without a trailing separator; empty when unknown.
std::string ProgramFolder();

}  // namespace velsupport
