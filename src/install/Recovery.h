// The first stage of every run: an interrupted earlier run in the client folder is finished or
// undone before anything is checked.
#pragma once

#include <string>

#include "base/Reporter.h"
#include "base/Result.h"
#include "install/RunLock.h"

// Makes the client folder current (nothing is done when it cannot be), takes the folder's run lock
// (Result::Reported with kRunLockHeldText when another installer holds it) and then:
// - a staging folder whose commit had begun is committed to the end (or, when a step cannot be
//   done, undone), one whose undo had begun is undone, any other is removed;
// - what older installers left half done is repaired: a client archive parked as "tmp.tmp",
//   a missing or broken "update.cfg" beside "update.cfg.new" or "tmp.tmp" holding one, and an
//   archive list whose copy from "package\\package.cfg.tmp" was cut short.
// Everything done is logged. Ok, or Result::Reported (status text set) when the staging folder
// cannot be read or its undo cannot be finished: nothing may be installed then.
// The lock stays taken in `lock` for the rest of the run.
Result RecoverInterruptedRun(const std::string& clientFolder, Reporter& reporter, RunLock& lock);
