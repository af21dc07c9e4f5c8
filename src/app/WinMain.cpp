// Process entry: hands the command line to the run modes.
#include <windows.h>

#include "app/CommandLine.h"
#include "app/RunInstaller.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Not the runtime's lpCmdLine: its start-up code compares signed bytes and takes every GBK
    // byte of an unquoted program path for a blank, so the arguments it hands on could begin
    // inside the path (and "/Setup/" in it would read as "/S").
    RestrictDllSearchPath();
    return RunInstaller(instance, SkipProgramName(GetCommandLineA()));
}
