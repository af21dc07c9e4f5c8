#include "install/InstallRun.h"

#include "client/ClientArchive.h"

Result CheckClientFolder(RunState& run, Reporter& reporter) {
    Result rc = CheckClient(run.client, run.package.trailer, reporter);
    if (Failed(rc)) return rc;
    ChooseClientArchive(run.archive, "package\\package.cfg", run.package.trailer);
    return Result::Ok;
}
