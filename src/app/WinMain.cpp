// Process entry: hands the command line to the run modes.
#include <windows.h>

#include "app/RunInstaller.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return RunInstaller(instance, commandLine);
}
