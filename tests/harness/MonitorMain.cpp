// vel-monitor: runs a program under a monitor window, as a launcher does, and prints what it
// reported. For scripts and for looking at a real installer by hand.
#include "Monitor.h"
#include "LogText.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kUsage[] =
    "usage: vel-monitor [--title T | --no-window] [--answer CAPTION=BUTTON[*N]]... [--timeout MS]\n"
    "                   [--cwd DIR] [--args RAW] [--memory] -- PROGRAM [ARG...]\n"
    "  Starts PROGRAM with the command line \"PROGRAM\" followed by RAW, or else by the ARGs joined\n"
    "  with one blank. A hidden window titled T (default Velmora_INSTALL_MONITOR_WINDOW) records\n"
    "  WM_COPYDATA; message boxes with the caption CAPTION are answered with BUTTON (IDOK, IDCANCEL,\n"
    "  IDYES, IDNO, IDRETRY, ... or a number), N times (default 1). Prints one line per record,\n"
    "  with --memory MEMORY with the program's peak working set and pagefile use in bytes, and\n"
    "  EXIT <code>;\n"
    "  exits with 0 when the program ran to its end, 1 on a timeout, 2 on bad usage, 3 when the\n"
    "  program could not be started.\n";

// Prints UTF-8 text: through WriteConsoleW on a console (which would read bytes in the console
// code page), as bytes otherwise.
void Print(const std::string& utf8)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
        if (n > 0)
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
        DWORD written = 0;
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

// Command-line arguments arrive in the ANSI code page (936).
std::string Shown(const std::string& gbk)
{
    std::string s = harness::GbkToUtf8(gbk);
    std::string quoted = "\"";
    for (char c : s) {
        if (c == '\n')
            quoted += "\\n";
        else if (c == '\r')
            quoted += "\\r";
        else if (c == '"' || c == '\\')
            quoted += std::string("\\") + c;
        else
            quoted += c;
    }
    return quoted + "\"";
}

bool ParseAnswer(const std::string& option, harness::BoxAnswer* answer)
{
    const size_t eq = option.rfind('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    std::string button = option.substr(eq + 1);
    answer->caption = option.substr(0, eq);
    answer->times = 1;
    const size_t star = button.find('*');
    if (star != std::string::npos) {
        answer->times = std::atoi(button.c_str() + star + 1);
        button.resize(star);
    }
    answer->button = harness::ButtonFromName(button);
    return answer->button != 0 && answer->times > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Lines end in "\n" alone, as the scripts that read them expect.
    _setmode(_fileno(stdout), _O_BINARY);
    harness::MonitorOptions options;
    options.title = "Velmora_INSTALL_MONITOR_WINDOW";
    std::string rawArgs;
    bool haveRaw = false;
    bool showMemory = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--") {
            ++i;
            break;
        } else if (a == "--title" && hasValue) {
            options.title = argv[++i];
            if (options.title.empty()) {
                std::fputs("vel-monitor: empty title (use --no-window)\n", stderr);
                return 2;
            }
        } else if (a == "--memory") {
            showMemory = true;
        } else if (a == "--no-window") {
            options.title.clear();
        } else if (a == "--answer" && hasValue) {
            harness::BoxAnswer answer;
            if (!ParseAnswer(argv[++i], &answer)) {
                std::fprintf(stderr, "vel-monitor: bad --answer %s\n", argv[i]);
                return 2;
            }
            options.answers.push_back(answer);
        } else if (a == "--timeout" && hasValue) {
            options.timeoutMs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--cwd" && hasValue) {
            options.workDir = argv[++i];
        } else if (a == "--args" && hasValue) {
            rawArgs = argv[++i];
            haveRaw = true;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (i >= argc) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string program = argv[i++];
    if (!haveRaw) {
        for (; i < argc; ++i) {
            if (!rawArgs.empty())
                rawArgs += ' ';
            rawArgs += argv[i];
        }
    }

    const harness::MonitorRun run = harness::RunWithMonitor(program, rawArgs, options);
    if (!run.started) {
        std::fprintf(stderr, "vel-monitor: %s\n", run.error.c_str());
        return 3;
    }
    for (const velsupport::CopyDataRecord& m : run.messages) {
        std::string line = "COPYDATA tag=" + std::to_string(m.tag) + " data=" + std::to_string(m.data) +
                           " (" + std::to_string(static_cast<int32_t>(m.data)) + ") cb=" + std::to_string(m.cbData);
        if (!m.bytes.empty()) {
            // The text without its terminating zero; the hex shows every byte.
            std::string text = m.bytes.substr(0, m.bytes.find('\0'));
            line += " text=" + Shown(text) + " hex=" + harness::HexBytes(m.bytes);
        }
        Print(line + "\n");
    }
    for (const harness::BoxSeen& b : run.boxes)
        Print("BOX caption=" + Shown(b.caption) + " text=" + Shown(b.text) + " button=" +
              harness::ButtonName(b.button) + "\n");
    if (run.timedOut)
        Print("TIMEOUT\n");
    if (showMemory)
        Print("MEMORY peak_working_set=" + std::to_string(run.peakWorkingSetBytes) +
              " peak_pagefile=" + std::to_string(run.peakPagefileBytes) + "\n");
    Print("EXIT " + std::to_string(run.exitCode) + "\n");
    return run.timedOut ? 1 : 0;
}
