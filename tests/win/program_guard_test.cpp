// The running-program guard against real processes: a helper program that only waits, copied
// under the client programs' names, and the guard's real message boxes answered by a second thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "report/LauncherReporter.h"
#include "ui/DialogReporter.h"
#include "install/ProgramGuard.h"
#include "scratch_folder.h"
#include "sleeper/RunningSleeper.h"

namespace {

const char kQuestionCaption[] = "发现正在运行文件";
const char kRefusalCaption[] = "发现正在运行程序";
const DWORD kWaitMs = 10000;

std::string SleeperPath() { return velsupport::JoinPath(velsupport::ProgramFolder(), "vel_sleeper.exe"); }

struct SeenBox {
    std::string caption;
    std::string text;
};

// Answers the guard's boxes while it runs: questions with the given answers in order (No once
// they are used up), refusal boxes with OK; records each box's caption and text.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::vector<WPARAM> answers = {}) : answers_(answers) {
        stop_ = velsupport::MakeEvent();
        thread_.Reset(CreateThread(nullptr, 0, &BoxAnswerer::Run, this, 0, nullptr));
    }
    ~BoxAnswerer() { Stop(); }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    std::vector<SeenBox> Stop() {
        if (thread_.Valid()) {
            SetEvent(stop_.Get());
            WaitForSingleObject(thread_.Get(), kWaitMs);
            thread_.Reset();
            stop_.Reset();
        }
        return seen_;
    }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<BoxAnswerer*>(self)->Loop();
        return 0;
    }
    void Loop() {
        while (WaitForSingleObject(stop_.Get(), 20) == WAIT_TIMEOUT) {
            for (const char* caption : {kQuestionCaption, kRefusalCaption}) {
                HWND box = FindWindowA("#32770", caption);
                // Visible only after its initialisation, when the text is in place.
                if (!box || !IsWindowVisible(box)) continue;
                char text[1024] = "";
                GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
                seen_.push_back({caption, text});
                WPARAM answer = IDOK;
                if (caption == kQuestionCaption) answer = next_ < answers_.size() ? answers_[next_++] : IDNO;
                PostMessageA(box, WM_COMMAND, answer, 0);
                for (int i = 0; i < 500 && IsWindow(box); ++i) WaitForSingleObject(stop_.Get(), 20);
            }
        }
    }

    std::vector<WPARAM> answers_;
    size_t next_ = 0;
    std::vector<SeenBox> seen_;
    velsupport::ScopedHandle stop_;
    velsupport::ScopedHandle thread_;
};

class ProgramGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Valid());
        ASSERT_NE(GetFileAttributesA(SleeperPath().c_str()), INVALID_FILE_ATTRIBUTES) << SleeperPath();
        char longForm[MAX_PATH];
        DWORD length = GetLongPathNameA(folder_.Path().c_str(), longForm, sizeof(longForm));
        ASSERT_TRUE(length > 0 && length < sizeof(longForm));
        client_ = longForm;
    }
    void TearDown() override { SetProcessTerminator(nullptr); }

    RunningProgram& Start(const std::string& name, const std::string& subfolder = std::string()) {
        std::string folder = client_;
        if (!subfolder.empty()) {
            folder += "\\" + subfolder;
            CreateDirectoryA(folder.c_str(), nullptr);
        }
        programs_.push_back(std::make_unique<RunningProgram>(SleeperPath(), folder, name));
        EXPECT_TRUE(programs_.back()->Started()) << name;
        return *programs_.back();
    }

    velsupport::TempFolder folder_{"vel-guard"};
    std::string client_;
    RunState dialogRun_;
    DialogReporter dialog_{dialogRun_};  // no dialog window yet: boxes without owner
    LauncherReporter silent_{reinterpret_cast<HWND>(static_cast<INT_PTR>(1))};
    std::vector<std::unique_ptr<RunningProgram>> programs_;  // ended before the folder is removed
};

TEST_F(ProgramGuardTest, OnlyExeNamesOfAtMost259CharactersAreLookedUp) {
    RunningProgram& velmora = Start("velmora.exe");
    RunningProgram& renamed = Start("velmora.cfg");  // a running image whose extension is not ".exe"
    ASSERT_EQ(FindProcessByName("velmora.cfg", NameMatch::FileName), renamed.Id());

    EXPECT_EQ(CheckRunningProgram(silent_, nullptr, WhenRunning::Terminate, NameMatch::FileName), ProgramState::NotRunning);
    const std::string refused[] = {
        "velmora", "velmora.cfg", "dir.exe\\velmora",
        // 0x81 0x5C is one character: the file name is not "velmora.exe".
        "\x81\x5C" "velmora.exe",
        // Too long as a whole, even though its file name alone would fit.
        client_ + "\\" + std::string(260, 'a') + "\\velmora.exe"};
    for (const std::string& name : refused) {
        EXPECT_EQ(CheckRunningProgram(silent_, name.c_str(), WhenRunning::Terminate, NameMatch::FileName), ProgramState::NotRunning) << name;
    }
    EXPECT_EQ(FindProcessByName(refused[4].c_str(), NameMatch::FileName), 0u);
    EXPECT_TRUE(velmora.Running());
    EXPECT_TRUE(renamed.Running());

    EXPECT_EQ(CheckRunningProgram(silent_, "VELMORA.EXE", WhenRunning::Terminate, NameMatch::FileName), ProgramState::Terminated);
    EXPECT_TRUE(velmora.Terminated());
    EXPECT_EQ(CheckRunningProgram(silent_, "velmora.exe", WhenRunning::Terminate, NameMatch::FileName), ProgramState::NotRunning);
}

TEST_F(ProgramGuardTest, ImageNamesMatchWholeAndFullPathsByMainModule) {
    RunningProgram& program = Start("xvelmora.exe");
    EXPECT_EQ(FindProcessByName("velmora.exe", NameMatch::FileName), 0u);
    EXPECT_EQ(FindProcessByName("xvelmora", NameMatch::FileName), 0u);
    EXPECT_EQ(FindProcessByName("XVelmora.EXE", NameMatch::FileName), program.Id());
    EXPECT_EQ(FindProcessByName("D:\\elsewhere\\xvelmora.exe", NameMatch::FileName), program.Id());
    EXPECT_EQ(FindProcessByName("D:\\elsewhere\\xvelmora.exe", NameMatch::FullPath), 0u);
    EXPECT_EQ(FindProcessByName((client_ + "\\XVELMORA.exe").c_str(), NameMatch::FullPath), program.Id());

    std::string path;
    EXPECT_FALSE(GetMainModulePath(0, &path));
    ASSERT_TRUE(GetMainModulePath(program.Id(), &path));
    EXPECT_EQ(_stricmp(path.c_str(), program.Path().c_str()), 0) << path;
}

TEST_F(ProgramGuardTest, BulkDownloaderIsEndedWithoutAQuestionInBothModes) {
    const std::pair<RunMode, Reporter*> modes[] = {{RunMode::Dialog, &dialog_}, {RunMode::Silent, &silent_}};
    for (const auto& [mode, reporter] : modes) {
        RunningProgram& bulk = Start("bulkdl.exe");
        BoxAnswerer answerer;
        EXPECT_EQ(CloseClientPrograms(mode, client_.c_str(), *reporter), GuardResult::Clear);
        EXPECT_TRUE(answerer.Stop().empty());
        EXPECT_TRUE(bulk.Terminated());
    }
}

TEST_F(ProgramGuardTest, SilentModeEndsSomeUnaskedAndSkipsPlayfrontDialogModeAsks) {
    RunningProgram& downloader = Start("velresdl.exe");
    RunningProgram& host = Start("RAVNHostApp.exe");
    RunningProgram& playfront = Start("playfront.exe");
    {
        BoxAnswerer answerer;
        EXPECT_EQ(CloseClientPrograms(RunMode::Silent, client_.c_str(), silent_), GuardResult::Clear);
        EXPECT_TRUE(answerer.Stop().empty());
    }
    EXPECT_TRUE(downloader.Terminated());
    EXPECT_TRUE(host.Terminated());
    EXPECT_TRUE(playfront.Running());

    RunningProgram& again = Start("velresdl.exe");
    BoxAnswerer answerer({IDYES, IDYES});
    EXPECT_EQ(CloseClientPrograms(RunMode::Dialog, client_.c_str(), dialog_), GuardResult::Clear);
    std::vector<SeenBox> seen = answerer.Stop();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, kQuestionCaption);
    EXPECT_EQ(seen[0].text, "检查到[velresdl.exe]正在运行，\n如果要继续更新，要关闭此程序，继续吗？");
    EXPECT_EQ(seen[1].text, "检查到[playfront.exe]正在运行，\n如果要继续更新，要关闭此程序，继续吗？");
    EXPECT_TRUE(again.Terminated());
    EXPECT_TRUE(playfront.Terminated());
}

TEST_F(ProgramGuardTest, AnsweringNoRefusesAndLooksNoFurther) {
    RunningProgram& velmora = Start("velmora.exe");
    RunningProgram& bulk = Start("bulkdl.exe");
    BoxAnswerer answerer({IDNO});
    EXPECT_EQ(CloseClientPrograms(RunMode::Silent, client_.c_str(), silent_), GuardResult::Refused);
    std::vector<SeenBox> seen = answerer.Stop();

    const char refusal[] = "程序[velmora.exe]未关闭，停止更新！";
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, kQuestionCaption);
    EXPECT_EQ(seen[0].text, "检查到[velmora.exe]正在运行，\n如果要继续更新，要关闭此程序，继续吗？");
    EXPECT_EQ(seen[1].caption, kRefusalCaption);
    EXPECT_EQ(seen[1].text, refusal);
    EXPECT_EQ(silent_.StatusText(), refusal);
    EXPECT_TRUE(velmora.Running());
    EXPECT_TRUE(bulk.Running());  // later in the list, so never reached
}

TEST_F(ProgramGuardTest, CrashReporterCountsOnlyFromTheClientFolder) {
    RunningProgram& elsewhere = Start("crashsend.exe", "other");
    {
        BoxAnswerer answerer;
        EXPECT_EQ(CloseClientPrograms(RunMode::Dialog, client_.c_str(), dialog_), GuardResult::Clear);
        EXPECT_TRUE(answerer.Stop().empty());
    }
    // Started later, so the walk must pass the other one of the same image name to find it.
    RunningProgram& own = Start("crashsend.exe");
    BoxAnswerer answerer({IDYES});
    EXPECT_EQ(CloseClientPrograms(RunMode::Dialog, client_.c_str(), dialog_), GuardResult::Clear);
    std::vector<SeenBox> seen = answerer.Stop();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "检查到[" + client_ + "\\crashsend.exe]正在运行，\n如果要继续更新，要关闭此程序，继续吗？");
    EXPECT_TRUE(own.Terminated());
    EXPECT_TRUE(elsewhere.Running());
}

// The shipped installer is 32-bit; the client's crash reporter may be a 64-bit program. Its full
// path must still be read, or the crash reporter of this very client goes unnoticed. The 32-bit
// test program takes the x64 tree's sleeper beside its own tree (build/x64/bin).
TEST_F(ProgramGuardTest, CrashReporterOfTheOtherSizeIsFoundByItsFullPath) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "only a 32-bit program asks about a 64-bit one";
    const std::string other = velsupport::JoinPath(velsupport::ProgramFolder(), "..\\..\\x64\\bin\\vel_sleeper.exe");
    if (GetFileAttributesA(other.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no x64 tree: " << other;
    programs_.push_back(std::make_unique<RunningProgram>(other, client_, "crashsend.exe"));
    RunningProgram& own = *programs_.back();
    ASSERT_TRUE(own.Started());

    std::string path;
    ASSERT_TRUE(GetMainModulePath(own.Id(), &path));
    EXPECT_EQ(_stricmp(path.c_str(), own.Path().c_str()), 0) << path;
    EXPECT_EQ(FindProcessByName(own.Path().c_str(), NameMatch::FullPath), own.Id());
    BoxAnswerer answerer({IDYES});
    EXPECT_EQ(CloseClientPrograms(RunMode::Dialog, client_.c_str(), dialog_), GuardResult::Clear);
    EXPECT_EQ(answerer.Stop().size(), 1u);
    EXPECT_TRUE(own.Terminated());
}

TEST_F(ProgramGuardTest, TwoProcessesOfOneNameAreEndedOnePerCall) {
    RunningProgram& first = Start("bulkdl.exe");
    RunningProgram& second = Start("bulkdl.exe");
    HANDLE both[] = {first.Handle(), second.Handle()};

    EXPECT_EQ(CheckRunningProgram(silent_, "bulkdl.exe", WhenRunning::Terminate, NameMatch::FileName), ProgramState::Terminated);
    DWORD ended = WaitForMultipleObjects(2, both, FALSE, kWaitMs);
    ASSERT_TRUE(ended == WAIT_OBJECT_0 || ended == WAIT_OBJECT_0 + 1);
    RunningProgram& survivor = ended == WAIT_OBJECT_0 ? second : first;
    EXPECT_TRUE(survivor.Running());

    EXPECT_EQ(CheckRunningProgram(silent_, "bulkdl.exe", WhenRunning::Terminate, NameMatch::FileName), ProgramState::Terminated);
    EXPECT_TRUE(survivor.Terminated());
    EXPECT_EQ(CheckRunningProgram(silent_, "bulkdl.exe", WhenRunning::Terminate, NameMatch::FileName), ProgramState::NotRunning);
}

// TerminateProcess only starts the ending; the guard waits for it, so that the next pass does
// not find the program again and its file can be written at once. Repeated: without the wait
// the ending is a race the guard would only lose some of the time.
TEST_F(ProgramGuardTest, ATerminatedProgramHasEndedWhenTheGuardGoesOn) {
    for (int i = 0; i < 5; ++i) {
        RunningProgram& bulk = Start("bulkdl.exe");
        ASSERT_EQ(CheckRunningProgram(silent_, "bulkdl.exe", WhenRunning::Terminate, NameMatch::FileName),
                  ProgramState::Terminated);
        EXPECT_EQ(WaitForSingleObject(bulk.Handle(), 0), WAIT_OBJECT_0) << "round " << i;

        RunningProgram& host = Start("RAVNHostApp.exe");
        RunningProgram& downloader = Start("velresdl.exe");
        ASSERT_EQ(CloseClientPrograms(RunMode::Silent, client_.c_str(), silent_), GuardResult::Clear);
        EXPECT_EQ(WaitForSingleObject(host.Handle(), 0), WAIT_OBJECT_0) << "round " << i;
        EXPECT_EQ(WaitForSingleObject(downloader.Handle(), 0), WAIT_OBJECT_0) << "round " << i;
    }
}

// Ends the program it is asked to end and starts it again, a given number of times.
struct Restarter {
    std::string folder;
    std::unique_ptr<RunningProgram> current;
    int restartsLeft = 0;
    int calls = 0;
};
Restarter* g_restarter = nullptr;

void EndAndRestart(DWORD processId) {
    Restarter& r = *g_restarter;
    ++r.calls;
    if (!r.current || r.current->Id() != processId) return;
    TerminateProcess(r.current->Handle(), 0);
    WaitForSingleObject(r.current->Handle(), kWaitMs);
    r.current.reset();
    if (r.restartsLeft-- > 0) r.current = std::make_unique<RunningProgram>(SleeperPath(), r.folder, "bulkdl.exe");
}

TEST_F(ProgramGuardTest, ProgramThatComesBackIsStillRunningAfterTenPasses) {
    Restarter restarter;
    g_restarter = &restarter;
    SetProcessTerminator(&EndAndRestart);
    restarter.folder = client_;

    restarter.current = std::make_unique<RunningProgram>(SleeperPath(), client_, "bulkdl.exe");
    ASSERT_TRUE(restarter.current->Started());
    restarter.restartsLeft = 100;
    EXPECT_EQ(CloseClientPrograms(RunMode::Silent, client_.c_str(), silent_), GuardResult::StillRunning);
    EXPECT_EQ(restarter.calls, kGuardPasses);

    // Back twice, then gone: the fourth pass finds nothing.
    restarter.calls = 0;
    restarter.restartsLeft = 2;
    EXPECT_EQ(CloseClientPrograms(RunMode::Silent, client_.c_str(), silent_), GuardResult::Clear);
    EXPECT_EQ(restarter.calls, 3);
    EXPECT_EQ(restarter.current, nullptr);
    g_restarter = nullptr;
}

}  // namespace
