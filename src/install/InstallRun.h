// The state of one run, filled stage by stage before the installation starts.
#pragma once

#include "base/Reporter.h"
#include "base/Result.h"
#include "client/ClientCheck.h"
#include "package/ArchiveList.h"
#include "package/EmbeddedPackage.h"

enum class RunMode {
    Dialog,  // started by a player
    Silent,  // started by a launcher with "/S"
};

struct RunState {
    RunMode mode = RunMode::Dialog;
    EmbeddedPackage package;  // the trailer scan
    ClientFacts client;       // the client location and check
    ArchiveChoice archive;    // the archive choice
};

// The client check of the run's client folder and, when it passes, the archive choice: what
// every run does once its folder is known, and again after each change of the folder.
Result CheckClientFolder(RunState& run, Reporter& reporter);
