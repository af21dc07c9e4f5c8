// The free-space check before an installation, with its Retry/Cancel question.
#pragma once

#include <cstdint>

#include "base/Reporter.h"
#include "base/Result.h"

// Free space on the current folder's drive for `needed` bytes; while it is short the person at
// the machine is asked to free space and retry. Ok, or DiskFull when there is not enough, the
// question was cancelled, or the free space cannot be had.
Result CheckDiskSpace(uint64_t needed, Reporter& reporter);
