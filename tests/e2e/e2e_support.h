// Shared steps of the end-to-end tests: each test gets its own folder with its own copy of the
// installer, runs it there under the monitor harness and reads the install.log it leaves beside it.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Monitor.h"
#include "LogText.h"
#include "support/Files.h"
#include "support/TempFolder.h"
#include "support/TestName.h"

#ifndef VEL_INSTALLER_EXE
#error "VEL_INSTALLER_EXE names the installer program built beside the tests"
#endif

namespace e2e {

constexpr char kDefaultTitle[] = "Velmora_INSTALL_MONITOR_WINDOW";
constexpr unsigned kRunTimeoutMs = 60000;

// The installer as the build made it, without a package.
inline std::string BareInstallerPath()
{
    return velsupport::ProgramFolder() + "\\" + VEL_INSTALLER_EXE;
}

// A title no other process has: launchers name their own windows.
inline std::string UniqueTitle(const std::string& stem)
{
    static unsigned n = 0;
    return stem + " " + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++n);
}

inline bool LogHas(const std::vector<std::string>& log, const std::string& line)
{
    return std::find(log.begin(), log.end(), line) != log.end();
}

// The message bytes as the monitor receives them: the text and its terminating zero.
inline std::string WithTerminator(const char* text)
{
    return std::string(text, std::strlen(text) + 1);
}

struct SilentResult {
    harness::MonitorRun run;
    bool logExists = false;
    std::vector<std::string> log;   // install.log beside the installer, stamps removed
};

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::make_unique<velsupport::TempFolder>(velsupport::CurrentTestName(),
                                                           velsupport::TempFolder::Place::CurrentFolder);
        ASSERT_TRUE(folder_->Valid()) << "cannot make the test folder";
        installer_ = *folder_ / VEL_INSTALLER_EXE;
    }

    const velsupport::TempFolder& Folder() const { return *folder_; }
    const std::string& Installer() const { return installer_; }

    void CopyBareInstaller()
    {
        ASSERT_TRUE(velsupport::CopyOneFile(BareInstallerPath(), installer_)) << BareInstallerPath();
    }

    // Runs the installer with `args` under a monitor window titled `title` (none when empty),
    // in `workDir` (the installer's folder when empty), and reads its log.
    SilentResult Run(const std::string& args, const std::string& title, const std::string& workDir = {},
                     const std::string& exe = {})
    {
        harness::MonitorOptions options;
        options.title = title;
        options.workDir = workDir;
        options.timeoutMs = kRunTimeoutMs;
        const std::string program = exe.empty() ? installer_ : exe;
        SilentResult r;
        r.run = harness::RunWithMonitor(program, args, options);
        EXPECT_TRUE(r.run.started) << r.run.error;
        EXPECT_FALSE(r.run.timedOut) << "the installer did not end within " << kRunTimeoutMs << " ms";
        const std::string log = LogPathBeside(program);
        r.logExists = velsupport::FileExists(log);
        r.log = harness::ReadLogLines(log);
        return r;
    }

    static std::string LogPathBeside(const std::string& program)
    {
        const std::string folder = velsupport::FolderOf(program);
        return (folder.empty() ? std::string(".") : folder) + "\\install.log";
    }

private:
    std::unique_ptr<velsupport::TempFolder> folder_;
    std::string installer_;
};

// Lines for gtest failure output: GBK shown as UTF-8.
inline std::string Shown(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& line : lines)
        s += "  " + harness::GbkToUtf8(line) + "\n";
    return s;
}

}  // namespace e2e
