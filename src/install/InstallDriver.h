// The install driver: applies "patch.pkg" to the client folder (the current directory), stage
// by stage, once the checks and the extraction have passed.
#pragma once

#include "base/Reporter.h"
#include "base/Result.h"
#include "install/InstallRun.h"

// Running-program guard and disk space, temporary update package, the patch's entries, resource
// index merge, commit and the completion report. Ok when the client was brought to the new
// version; every failure is reported by the stage that met it (Result::Reported, or the code
// it reported).
Result InstallUpdate(const RunState& run, Reporter& reporter);
