// Finding the package trailer in an installer file and copying the embedded package out of it.
#pragma once

#include <cstdint>

#include "base/Result.h"
#include "package/PackageFormat.h"

// Finds the trailer nearest to the end of the file whose three magics match, examining offsets
// from (length - 32) down to 1 (offset 0 never counts), exactly as a byte-by-byte backward scan
// would, but reading the file in large blocks. Returns 0 and fills trailer/offset when found,
// -9999 when the file is 32 bytes or shorter or holds no trailer, -10000 when it cannot be
// opened or read.
Result FindPackageTrailer(const char* path, PackageTrailer* trailer, int32_t* trailerOffset);

// Copies the packageLength bytes before trailerOffset into outPath (created or truncated),
// computing the CRC-32 on the way. Returns 0, -10000 (source unreadable, short read, or a
// packageLength that would start before the file), -9994 (output not created or short write),
// -9993 (no copy buffer) or -9990 (CRC differs from packageCrc). The output keeps what was
// copied in every case.
Result CopyEmbeddedPackage(const char* programPath, const char* outPath,
                        const PackageTrailer& trailer, int32_t trailerOffset);

// The client-type rule shared by the client check and the extraction: 0, -9989 or -9988.
Result CheckClientType(bool clientIsMicro, uint32_t clientType);

// "a.b.c.d" for a packed version, into a buffer of at least 16 bytes.
void FormatPackedVersion(uint32_t version, char* out, unsigned outSize);
