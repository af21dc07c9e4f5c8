#include "package/EmbeddedPackage.h"

#include <cstdio>

#include "base/PathText.h"
#include "base/ProgramFile.h"
#include "package/PackageTrailer.h"

Result ScanForTrailer(EmbeddedPackage& package) {
    char program[kPathBufferSize];
    if (!GetProgramFilePath(program, sizeof(program))) return Result::PackageDamaged;
    PackageTrailer trailer{};
    int32_t offset = 0;
    Result rc = FindPackageTrailer(program, &trailer, &offset);
    if (Failed(rc)) return rc;
    package.trailer = trailer;
    package.trailerOffset = offset;
    package.found = true;
    return Result::Ok;
}

Result ExtractPackage(const EmbeddedPackage& package, bool clientIsMicro) {
    char program[kPathBufferSize];
    if (!GetProgramFilePath(program, sizeof(program))) return Result::PackageDamaged;
    Result rc = CopyEmbeddedPackage(program, "patch.pkg", package.trailer, package.trailerOffset);
    if (!Failed(rc)) rc = CheckClientType(clientIsMicro, package.trailer.clientType);
    // A copy that failed its checks is of no use to anyone: the client folder stays as it was.
    if (Failed(rc)) remove("patch.pkg");
    return rc;
}
