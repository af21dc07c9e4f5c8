// The free-space check before an installation, with its Retry/Cancel question.
#pragma once

#include <cstdint>
#include <string>

#include "base/Reporter.h"
#include "base/Result.h"

// Free space on the current folder's drive for the package and the client archive; while it is
// short the person at the machine is asked to free space and retry. Ok, or DiskFull when there
// is not enough, the question was cancelled, or the free space cannot be had.
Result CheckDiskSpace(uint32_t packageLength, const std::string& archivePath, Reporter& reporter);
