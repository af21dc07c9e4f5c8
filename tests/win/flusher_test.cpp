// The background flusher with real staged files: whatever the number of files against its wake-up
// batch, Finish returns once every handle is flushed and closed, says when a flush failed, and
// the flusher can be used again after it; its end closes what is still queued.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/FileSystem.h"
#include "install/Flusher.h"
#include "scratch_folder.h"

namespace {

std::string Name(int i) { return "f" + std::to_string(i) + ".bin"; }
std::string Content(int i) { return std::string(static_cast<size_t>(100 + i), static_cast<char>('a' + i % 26)); }

// A handle still open somewhere keeps an exclusive open out.
bool IsClosed(const std::string& name) {
    velsupport::ScopedHandle h(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return h.Valid();
}

class Flusher : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.Valid() && folder_.Enter()); }

    void AddFiles(BackgroundFlusher& flusher, int from, int to) {
        for (int i = from; i < to; ++i) {
            const std::string content = Content(i);
            void* file = WriteFileForFlush(Name(i).c_str(), content.data(), content.size());
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            EXPECT_TRUE(flusher.Add(file));
        }
    }

    void ExpectClosedWithContent(int from, int to) {
        for (int i = from; i < to; ++i) {
            EXPECT_TRUE(IsClosed(Name(i))) << Name(i);
            std::string text;
            EXPECT_TRUE(velsupport::ReadFileText(Name(i), &text));
            EXPECT_EQ(text, Content(i)) << Name(i);
        }
    }

    velsupport::TempFolder folder_{"vel-flush"};
};

}  // namespace

TEST_F(Flusher, FinishWaitsForEveryFileWhateverTheBatch) {
    BackgroundFlusher flusher;
    EXPECT_TRUE(flusher.Finish());  // nothing added: nothing to wait for
    // Fewer files than wake the threads, then many batches and a remainder, then one alone.
    const int rounds[][2] = {{0, 3}, {3, 60}, {60, 61}};
    for (const auto& round : rounds) {
        AddFiles(flusher, round[0], round[1]);
        EXPECT_TRUE(flusher.Finish());
        ExpectClosedWithContent(round[0], round[1]);
    }
}

TEST_F(Flusher, AFlushThatFailsIsReportedAndItsHandleStillClosed) {
    BackgroundFlusher flusher;
    AddFiles(flusher, 0, 5);
    ASSERT_TRUE(velsupport::WriteFileText("read-only-handle.bin", "x"));
    // Opened for reading only: the system refuses to flush it.
    HANDLE reading = CreateFileA("read-only-handle.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reading, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(flusher.Add(reading));
    AddFiles(flusher, 5, 10);
    EXPECT_FALSE(flusher.Finish());
    ExpectClosedWithContent(0, 10);
    EXPECT_TRUE(IsClosed("read-only-handle.bin"));
}

TEST_F(Flusher, ItsEndClosesWhatIsStillQueued) {
    {
        BackgroundFlusher flusher;
        AddFiles(flusher, 0, BackgroundFlusher::kThreads + 3);
    }
    ExpectClosedWithContent(0, BackgroundFlusher::kThreads + 3);
}
