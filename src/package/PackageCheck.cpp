// The session's side of the embedded package: finding the trailer and extracting "patch.pkg".
#include "app/PatchDlg.h"
#include "app/ProgramFile.h"
#include "install/PathText.h"
#include "package/PackageTrailer.h"
#include "report/ResultCodes.h"

int CPatchDlg::CheckPackageAndVersion() {
    int rc = ScanForTrailer();
    if (rc < 0) return rc;
    return LocateClientFolder();
}

int CPatchDlg::ScanForTrailer() {
    char program[kPathBufferSize];
    if (!GetProgramFilePath(program, sizeof(program))) return RESULT_PACKAGE_DAMAGED;
    PackageTrailer trailer{};
    int32_t offset = 0;
    int rc = FindPackageTrailer(program, &trailer, &offset);
    if (rc < 0) return rc;
    SetTrailer(trailer);
    trailerOffset = offset;
    trailerFound = true;
    return RESULT_OK;
}

int CPatchDlg::ExtractPackage() {
    char program[kPathBufferSize];
    if (!GetProgramFilePath(program, sizeof(program))) return RESULT_PACKAGE_DAMAGED;
    int rc = CopyEmbeddedPackage(program, "patch.pkg", Trailer(), trailerOffset);
    if (rc < 0) return rc;
    return CheckClientType(clientIsMicro != 0, clientType);
}
