// Text rules for GBK paths: lead-byte-aware separator scans, trimming, bounded copies.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The platform's path limit: 259 characters and the terminator.
constexpr size_t kPathBufferSize = 260;

// A GBK lead byte; the byte after it is a trail byte, which may be 0x5C ('\\').
inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Index of the last occurrence of the ASCII character ch in text, skipping trail bytes; -1 when none.
int FindLastChar(const char* text, char ch);
// Index of the first '\\' or '/' in text, skipping trail bytes; -1 when none.
int FindFirstSeparator(const char* text);
// True when the last character of text (not a trail byte) is ch.
bool EndsWithChar(const char* text, char ch);

// Equal texts when single-byte letters are folded to lower case; both bytes of a GBK character
// must match as they are, so a trail byte that happens to be a letter never matches another one.
// Locale-free, unlike _stricmp, whose folding follows the process's code page.
bool EqualsIgnoringAsciiCase(const char* a, const char* b);

// Removes space, tab, LF and CR from both ends, in place; returns the new length.
size_t TrimBlanks(char* text);

// True when the text fits a path buffer with its terminator (259 characters at most).
inline bool FitsPathBuffer(const char* text) {
    size_t n = 0;
    while (n < kPathBufferSize && text[n] != '\0') ++n;
    return n < kPathBufferSize;
}

// Copies src into dest when it fits with its terminator; otherwise dest becomes empty and the
// result is false. Never writes past destSize.
bool CopyBounded(char* dest, size_t destSize, const char* src);
// Appends src when the whole result fits; otherwise dest is unchanged and the result is false.
bool AppendBounded(char* dest, size_t destSize, const char* src);
// snprintf that reports truncation as false (dest then holds the empty text).
bool FormatBounded(char* dest, size_t destSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Length of the longest prefix of text, at most maxBytes, that does not split a GBK character.
size_t GbkSafePrefixLength(const char* text, size_t maxBytes);

// The characters before the first separator ('\\' or '/'); the empty text when there is none or
// the path starts with one. False (and out empty) when that component does not fit outSize.
bool FirstPathComponent(char* out, size_t outSize, const char* path);

// The folders in front of the last component of a relative path, shortest first, each as the
// path's own text up to a separator ('\\' or '/', found with a GBK-aware scan): "a\\b/c.txt"
// gives "a" and "a\\b". Empty components (doubled separators) give no folder of their own.
std::vector<std::string> ParentFolders(const std::string& path);

// The key under which Windows finds a path, however it is written: ASCII letters folded, '/' as
// '\\', both bytes of a GBK character kept as they are.
std::string FoldedPath(const std::string& path);

// True when one path component (length bytes, no separator) is a DOS device name: CON, PRN,
// AUX, NUL, COM1-COM9 or LPT1-LPT9, in any letter case, with or without an extension, and with
// trailing dots or blanks. Windows opens the device for such a name in any folder.
bool IsDosDeviceName(const char* component, size_t length);

// True for a relative path that names a file or folder inside the folder it is resolved
// against: not empty, no drive or stream colon, no leading separator, no "." or ".." component
// and no component that is a DOS device name.
bool IsContainedRelativePath(const char* path);
