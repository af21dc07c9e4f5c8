// Disk space arithmetic and texts for the free-space check before an installation.
#pragma once

#include <cstdint>
#include <string>

// Length of the file opened for binary reading, or 0 when it cannot be opened. Client archives
// stay below 2 GiB, so 32 bits hold every length the installer compares.
uint32_t QueryFileLength(const char* path);

// Appends the count as "%d B", or "%.2f KB|MB|GB" above 1024, 1048576 and 1073741824 bytes.
// Taken as 64-bit so that a shortfall over 2 GiB is printed as what it is, not as a negative.
void FormatByteSize(std::string& text, int64_t bytes);

// The drive part of a folder path ("D:"), empty when the path has no drive letter.
std::string DrivePart(const char* folder);

// The message shown when `shortfall` more bytes are needed on `drive`.
std::string DiskSpaceMessage(const std::string& drive, int64_t shortfall);

// Bytes still missing: needed - free + 1 (free space equal to the need is not enough);
// 0 when free is greater than needed.
int64_t DiskShortfall(uint64_t needed, uint64_t freeBytes);

// What an installation needs on the client's drive at its peak: the rebuilt client archive
// (the kept entries, at most the archive's length, plus the patch's resource entries, at most
// the package's length) and the plain files unpacked, all staged beside the originals.
uint64_t PeakSpace(uint32_t packageLength, uint32_t archiveLength, uint64_t plainBytes);
