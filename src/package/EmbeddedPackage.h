// The package this program carries: finding its trailer and copying it out to "patch.pkg".
#pragma once

#include <cstdint>

#include "base/Result.h"
#include "package/PackageFormat.h"

// What the trailer scan found in the program file.
struct EmbeddedPackage {
    PackageTrailer trailer{};
    int32_t trailerOffset = 0;
    bool found = false;
};

// Scans the running program's file for its trailer. Ok with `package` filled, NoPackage or
// PackageDamaged.
Result ScanForTrailer(EmbeddedPackage& package);

// Copies the package to "patch.pkg" in the current folder and verifies its CRC-32, then the
// kind of client it is for against the client's kind. A copy that fails is removed again.
Result ExtractPackage(const EmbeddedPackage& package, bool clientIsMicro);
