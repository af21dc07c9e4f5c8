// Drives a program the way the game's launcher does: a top-level monitor window takes its
// WM_COPYDATA reports, and the message boxes it shows are answered by caption.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/MonitorWindow.h"

namespace harness {

// Answer `times` message boxes whose caption is exactly `caption` with the button `button`
// (IDOK, IDCANCEL, IDYES, IDNO, IDRETRY, ...).
struct BoxAnswer {
    std::string caption;
    int button = 0;
    int times = 1;
};

// A message box the program showed: answered ones carry the button, boxes still open when
// the run timed out carry 0.
struct BoxSeen {
    std::string caption;
    std::string text;     // the box's message, GBK as the program gave it
    int button = 0;
};

struct MonitorOptions {
    std::string title;             // monitor window title; empty: no monitor window at all
    std::vector<BoxAnswer> answers;
    std::string workDir;           // the program's current folder; empty: the program's own folder
    unsigned timeoutMs = 60000;    // the program is killed when it runs longer
    std::string commandLine;       // the whole command line, program name included, as given;
                                   // empty: the quoted program, a blank and the arguments
};

struct MonitorRun {
    bool started = false;
    bool timedOut = false;
    unsigned long exitCode = 0;
    uintptr_t monitorWindow = 0;   // handle value of the monitor window, 0 without one
    std::vector<velsupport::CopyDataRecord> messages;
    std::vector<BoxSeen> boxes;
    std::string error;             // why the program did not start
    // The program's peak memory as the system counted it once it ended (0 when not known).
    uint64_t peakWorkingSetBytes = 0;
    uint64_t peakPagefileBytes = 0;
};

// Starts `exe` with the command line `"exe" args`, so that the program's WinMain gets `args`
// exactly, and pumps the monitor window's messages until the program exits or the timeout ends.
MonitorRun RunWithMonitor(const std::string& exe, const std::string& args, const MonitorOptions& options);

MonitorRun RunWithMonitor(const std::string& title, const std::string& exe, const std::string& args,
                          const std::vector<BoxAnswer>& answers, unsigned timeoutMs);

// "IDYES" -> 6 and so on; also takes a plain number. Returns 0 for an unknown name.
int ButtonFromName(const std::string& name);
const char* ButtonName(int button);

}  // namespace harness
