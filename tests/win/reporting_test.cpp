// Both reporters against real windows: a monitor window for silent mode, and a window
// with the dialog's status, progress and button controls for dialog mode.
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "install/ResourceMerge.h"
#include "report/LauncherReporter.h"
#include "report/MonitorProtocol.h"
#include "ui/DialogIds.h"
#include "ui/DialogReporter.h"
#include "support/Handles.h"
#include "support/MonitorWindow.h"

namespace {

class SilentReporting : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(monitor_.Valid()) << monitor_.CreationError(); }
    velsupport::MonitorWindow monitor_{"session test"};
    LauncherReporter session_{monitor_.Handle()};
    const std::vector<velsupport::CopyDataRecord>& received_ = monitor_.Records();
};

}  // namespace

TEST_F(SilentReporting, ResultCarriesTheStatusTextWithItsTerminator) {
    session_.ReportResult(Result::ClientUpToDate);
    ASSERT_EQ(received_.size(), 1u);
    const char* message = "客户端已经是最新版本，无需执行更新";
    EXPECT_EQ(received_[0].tag, MONITOR_RESULT);
    EXPECT_EQ(received_[0].data, 506u);
    EXPECT_EQ(received_[0].cbData, strlen(message) + 1);
    EXPECT_EQ(received_[0].bytes, std::string(message, strlen(message) + 1));
    EXPECT_EQ(session_.StatusText(), message);
}

TEST_F(SilentReporting, UnknownAndNonNegativeCodes) {
    session_.ReportResult(Result::Ok);
    session_.ReportResult(static_cast<Result>(3));
    EXPECT_TRUE(received_.empty());
    session_.ReportResult(static_cast<Result>(-5));
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].data, 10496u);
    EXPECT_EQ(received_[0].bytes, std::string("发生未知错误！", strlen("发生未知错误！") + 1));
}

TEST_F(SilentReporting, ProgressPercentagesRangeAndRepeats) {
    session_.SetProgress(5, ProgressPhase::Single);  // range still 0
    session_.SetProgressRange(0, 50);      // only records the width
    session_.SetProgress(25, ProgressPhase::Single);
    session_.SetProgress(25, ProgressPhase::Building);
    session_.SetProgress(25, ProgressPhase::Installing);
    session_.SetProgress(50, ProgressPhase::Installing);
    session_.SetProgress(50, ProgressPhase::Installing);  // a repeat of the last percentage is not sent
    session_.SetProgressRange(0, 5000);
    session_.SetProgress(4999, ProgressPhase::Installing);  // 99*9/10+10 = 99
    session_.SetProgress(5000, ProgressPhase::Single);
    ASSERT_EQ(received_.size(), 7u);
    EXPECT_EQ(received_[5].data, 99u);
    EXPECT_EQ(received_[6].data, 100u);
    const uint32_t expected[] = {0, 50, 5, 55, 100};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(received_[i].tag, MONITOR_PROGRESS);
        EXPECT_EQ(received_[i].data, expected[i]);
        EXPECT_EQ(received_[i].cbData, 0u);
    }
    EXPECT_EQ(session_.ProgressRange(), 5000);
}

TEST(SilentReportingWithoutMonitor, HandleValueOneLosesMessagesWithoutHarm) {
    velsupport::MonitorWindow monitor("session test");
    ASSERT_TRUE(monitor.Valid()) << monitor.CreationError();
    LauncherReporter session(reinterpret_cast<HWND>(static_cast<INT_PTR>(1)));
    session.ReportResult(Result::NoPackage);
    session.SetProgress(1, ProgressPhase::Single);
    session.ReportInstallComplete();
    session.InstallFinished();
    EXPECT_TRUE(monitor.Records().empty());
    EXPECT_EQ(session.StatusText(), "此程序没有包含更新数据");
}

TEST(DialogReporting, ControlsFollowTheSession) {
    InitCommonControls();
    velsupport::MonitorWindow dialog("session test");
    ASSERT_TRUE(dialog.Valid()) << dialog.CreationError();
    HWND status = dialog.AddChild("STATIC", IDC_STATUS);
    HWND progress = dialog.AddChild(PROGRESS_CLASSA, IDC_PROGRESS);
    HWND start = dialog.AddChild("BUTTON", IDC_START, WS_DISABLED);
    HWND browse = dialog.AddChild("BUTTON", IDC_BROWSE, WS_DISABLED);
    HWND close = dialog.AddChild("BUTTON", IDC_CLOSE, WS_DISABLED);
    ASSERT_TRUE(status && progress && start && browse && close);

    RunState run;
    DialogReporter session(run, dialog.Handle());
    session.SetStatus("C:\\游戏\\100%s");
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, dialog.Handle(), WM_PATCH_STATUS, WM_PATCH_STATUS, PM_REMOVE));
    session.ShowStatus();
    char text[64] = {};
    GetWindowTextA(status, text, sizeof(text));
    EXPECT_STREQ(text, "C:\\游戏\\100%s");

    // 32-bit bounds: 70000 entries still map onto the bar.
    session.SetProgressRange(0, 70000);
    session.SetProgress(35000, ProgressPhase::Building);
    EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, FALSE, 0), 70000);
    EXPECT_EQ(SendMessageA(progress, PBM_GETPOS, 0, 0), 35000);

    session.InstallFinished();
    EXPECT_TRUE(IsWindowEnabled(browse));
    EXPECT_TRUE(IsWindowEnabled(close));
    EXPECT_FALSE(IsWindowEnabled(start));
}

namespace {

struct StatusWriter {
    Reporter* session;
    HANDLE started;
    std::atomic<bool> stop{false};
};

const char* const kStatusTexts[] = {"正在生成临时安装文件...", "a", "开始安装更新包...and a much longer text to force reallocation"};

unsigned __stdcall WriteStatusLoop(void* arg) {
    StatusWriter* writer = static_cast<StatusWriter*>(arg);
    writer->session->SetStatus(kStatusTexts[0]);
    SetEvent(writer->started);
    for (unsigned i = 1; !writer->stop; ++i) writer->session->SetStatus(kStatusTexts[i % 3]);
    return 0;
}

}  // namespace

TEST(StatusHandOver, ReaderNeverSeesAHalfReplacedText) {
    LauncherReporter session(reinterpret_cast<HWND>(static_cast<INT_PTR>(1)));  // no window to post to
    velsupport::ScopedHandle started = velsupport::MakeEvent();
    ASSERT_TRUE(started.Valid());
    StatusWriter writer{&session, started.Get()};
    velsupport::ScopedHandle thread(
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WriteStatusLoop, &writer, 0, nullptr)));
    ASSERT_TRUE(thread.Valid());
    ASSERT_EQ(WaitForSingleObject(writer.started, 10000), WAIT_OBJECT_0);
    int seen = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text = session.StatusText();
        bool known = text.empty() || text == kStatusTexts[0] || text == kStatusTexts[1] || text == kStatusTexts[2];
        ASSERT_TRUE(known) << text;
        seen += !text.empty();
    }
    writer.stop = true;
    ASSERT_EQ(WaitForSingleObject(thread.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(seen, 20000);
}

TEST(MergeCallback, TimeLimitBoundaries) {
    MergeTimer session;
    session.SetTickBase(1000);
    EXPECT_TRUE(session.WithinTimeLimit(1000));
    EXPECT_TRUE(session.WithinTimeLimit(181000));
    EXPECT_FALSE(session.WithinTimeLimit(181001));
    EXPECT_FALSE(session.WithinTimeLimit(999));  // wrapped below the base: huge elapsed time
    session.SetTickBase(0xFFFFFF00u);
    EXPECT_TRUE(session.WithinTimeLimit(0x100u));  // the tick count wrapped after the base
}

TEST(MergeCallback, CheckTimeLimitIsTheFirstVirtualSlot) {
    MergeTimer session;
    session.Start();
    MergePatchCallback* callback = &session;
    EXPECT_EQ(static_cast<void*>(callback), static_cast<void*>(&session));
    // What a foreign caller does: take slot 0 of the vtable and call it with the object.
    using SlotFn = bool (*)(MergePatchCallback*, uint32_t, uint32_t, uint32_t, uint32_t);
    SlotFn slot0 = (*reinterpret_cast<SlotFn**>(callback))[0];
    EXPECT_TRUE(slot0(callback, 1, 2, 3, 4));
    session.SetTickBase(GetTickCount() + 10);  // "elapsed" wraps to a huge value
    EXPECT_FALSE(slot0(callback, 1, 2, 3, 4));
}
