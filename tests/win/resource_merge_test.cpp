// The resource index merge in a real client folder with the merge library's test double: when the
// library is called and with what, which patch files move, where both lists end up, and what a
// list from a patch may not make the installer touch.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "install/ResourceMerge.h"
#include "install/Transaction.h"
#include "base/InstallLog.h"
#include "scratch_folder.h"

namespace {

using Names = std::vector<std::string>;

constexpr char kChildLogVariable[] = "VEL_MERGE_CHILD_LOG";

// A resource index list; item 0 names the base archive, which is not a patch.
std::string ListText(const Names& patches) {
    std::string text = "[FileList]\r\nFileCount=" + std::to_string(patches.size() + 1) + "\r\n";
    text += "[FileItem0]\r\nFileName=base.vpk\r\n";
    for (size_t i = 0; i < patches.size(); ++i) {
        text += "[FileItem" + std::to_string(i + 1) + "]\r\nFileName=" + patches[i] + "\r\n";
    }
    return text;
}

// The merge library's test double, built beside this program.
std::string LibraryBesideThisProgram() { return velsupport::JoinPath(velsupport::ProgramFolder(), "RAVNMerge.dll"); }

std::string FileText(const std::string& name) {
    std::string text;
    return velsupport::ReadFileText(name, &text) ? text : "(missing)";
}

// The lines of a file, without line ends; none when it is missing.
Names FileLines(const std::string& name) {
    Names lines;
    std::string text;
    if (!velsupport::ReadFileText(name, &text)) return lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// What the test double wrote to "merge_call.txt": the values of its last call and the number of calls.
struct MergeCall {
    int calls = 0;
    std::map<std::string, std::string> values;
};

MergeCall ReadMergeCall(const std::string& name) {
    MergeCall call;
    for (const std::string& line : FileLines(name)) {
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        if (line.compare(0, equals, "call") == 0) ++call.calls;
        call.values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return call;
}

// Log lines without their time stamps.
Names ReadLogLines(const std::string& name) {
    Names lines;
    for (const std::string& line : FileLines(name)) {
        size_t stamp = line.find("] ");
        lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
    }
    return lines;
}

// The merge as a commit runs it: the patch's list ("RAVN\\RAVNFileList.ini.patch" here) staged,
// the merge step, then the staging folder removed.
bool MergeResourceIndex(MergeTimer& timer) {
    if (!CreateDirectoryA(kStagingFolder, nullptr)) return false;
    const MergeFiles files = MergeFilesFor(0);
    if (!MoveFileA("RAVN\\RAVNFileList.ini.patch", files.patchList.c_str())) return false;
    const bool merged = ApplyResourceMerge(files, timer);
    RemoveStaging();
    return merged;
}

// The client folder is "client" in the scratch folder and the current folder; the log goes beside it.
class ResourceMerge : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Valid());
        ASSERT_TRUE(CreateDirectoryA((scratch_ / "client").c_str(), nullptr));
        ASSERT_TRUE(InstallLog::OpenPath(LogPath().c_str()));
        ASSERT_TRUE(scratch_.Enter("client"));
        ASSERT_TRUE(CreateDirectoryA("RAVN", nullptr));
        ASSERT_TRUE(CreateDirectoryA("RAVN\\RAVNDownload", nullptr));
    }
    void TearDown() override { InstallLog::Close(); }

    std::string LogPath() const { return scratch_ / "install.log"; }
    Names LogLines() const {
        InstallLog::Close();
        return ReadLogLines(LogPath());
    }
    static void WriteLists(const Names& oldPatches, const Names& newPatches) {
        ASSERT_TRUE(WriteRawFile("RAVN\\RAVNFileList.ini", ListText(oldPatches)));
        ASSERT_TRUE(WriteRawFile("RAVN\\RAVNFileList.ini.patch", ListText(newPatches)));
    }
    static void WriteDownloads(const Names& names) {
        for (const std::string& name : names) ASSERT_TRUE(WriteRawFile("RAVN\\RAVNDownload\\" + name, name)) << name;
    }
    static void ExpectNewListInPlace(const Names& newPatches) {
        EXPECT_EQ(FileText("RAVN\\RAVNFileList.ini"), ListText(newPatches));
        EXPECT_FALSE(Exists("RAVN\\RAVNFileList.ini.patch"));
    }

    velsupport::TempFolder scratch_{"velmerge"};
    MergeTimer timer_;
};

}  // namespace

TEST_F(ResourceMerge, ReadFileListTakesItemsOneToCountMinusOne) {
    Names patches{"left over"};
    ReadFileList("RAVN\\missing.ini", patches);
    EXPECT_EQ(patches, Names{});

    for (const char* count : {"0", "1", "-3", "x"}) {
        ASSERT_TRUE(WriteRawFile("RAVN\\list.ini", std::string("[FileList]\r\nFileCount=") + count +
                                                       "\r\n[FileItem1]\r\nFileName=a.vpk\r\n"));
        ReadFileList("RAVN\\list.ini", patches);
        EXPECT_EQ(patches, Names{}) << count;
    }

    // Item 0 and items from the count on are not read; a missing item still counts, as an empty name.
    ASSERT_TRUE(WriteRawFile("RAVN\\gaps.ini",
                             "[FileList]\r\nFileCount=4\r\n[FileItem0]\r\nFileName=base.vpk\r\n"
                             "[FileItem1]\r\nFileName=a.vpk\r\n[FileItem3]\r\nFileName=c.vpk\r\n"
                             "[FileItem4]\r\nFileName=d.vpk\r\n"));
    ReadFileList("RAVN\\gaps.ini", patches);
    EXPECT_EQ(patches, (Names{"a.vpk", "", "c.vpk"}));

    // A damaged count ends after a bounded number of reads.
    ASSERT_TRUE(WriteRawFile("RAVN\\huge.ini", "[FileList]\r\nFileCount=2000000000\r\n"));
    ReadFileList("RAVN\\huge.ini", patches);
    EXPECT_EQ(patches.size(), 1000u);
}

TEST_F(ResourceMerge, OneNewPatchCallsTheLibraryAndReservesTheDroppedPatch) {
    ASSERT_TRUE(CopyFileA(LibraryBesideThisProgram().c_str(), "RAVNMerge.dll", FALSE));
    WriteLists({"A.vpk", "B.vpk"}, {"A.vpk"});
    WriteDownloads({"A.vpk", "B.vpk"});
    ASSERT_TRUE(CreateDirectoryA("RAVN\\RAVNReserve", nullptr));
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNReserve\\RAVNFileList.ini", "older reserve copy"));
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNReserve\\B.vpk", "older B"));

    const uint32_t before = GetTickCount();
    MergeResourceIndex(timer_);
    const uint32_t after = GetTickCount();

    MergeCall call = ReadMergeCall("merge_call.txt");
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.values["previousList"], "RAVN/RAVNReserve/RAVNFileList.ini");
    EXPECT_EQ(call.values["downloadFolder"], "RAVN/RAVDownload/");
    EXPECT_EQ(call.values["backupList"], "RAVN/RAVNFileList.ini.bak");
    EXPECT_EQ(call.values["downloadFolderNoSlash"], "RAVN/RAVDownload");
    EXPECT_EQ(call.values["result"], "0");
    EXPECT_EQ(call.values["messageZero"], "1");
    EXPECT_EQ(call.values["messageCapacity"], "1024");
    EXPECT_EQ(call.values["callback"],
              std::to_string(reinterpret_cast<uintptr_t>(static_cast<MergePatchCallback*>(&timer_))));
    EXPECT_EQ(call.values["checkTimeLimit"], "1");
    // On 32-bit the double calls slot 0 as thiscall by hand and sees whether the stack came back.
    if (sizeof(void*) == 4) {
        EXPECT_EQ(call.values["callbackStack"], "intact");
    }
    EXPECT_EQ(call.values["end"], "MergePatchWSafe");
    // The time limit counts from just before the call.
    const uint32_t calledAt = static_cast<uint32_t>(std::stoul(call.values.count("tick") ? call.values["tick"] : "0"));
    EXPECT_LE(timer_.TickBase() - before, calledAt - before);
    EXPECT_LE(calledAt - before, after - before);

    // A stays in the download folder; B replaces the older reserve copy.
    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload"), Names{"A.vpk"});
    EXPECT_EQ(NamesIn("RAVN\\RAVNReserve"), (Names{"B.vpk", "RAVNFileList.ini"}));
    EXPECT_EQ(FileText("RAVN\\RAVNReserve\\B.vpk"), "B.vpk");
    EXPECT_EQ(FileText("RAVN\\RAVNReserve\\RAVNFileList.ini"), ListText({"A.vpk", "B.vpk"}));
    ExpectNewListInPlace({"A.vpk"});

    Names log = LogLines();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "开始合并vpk文件");
    EXPECT_EQ(log[1].rfind("LoadLibrary ", 0), 0u);
    EXPECT_NE(log[1], "LoadLibrary 0");
    EXPECT_EQ(log[2].rfind("myMergePatchWSafe ", 0), 0u);
    EXPECT_NE(log[2], "myMergePatchWSafe 0");
    EXPECT_EQ(log[3], "Move RAVN/RAVNDownload/B.vpk To RAVN/RAVNReserve/B.vpk");
}

TEST_F(ResourceMerge, TwoNewPatchesNeedNoMergeButTheListIsStillReplaced) {
    WriteLists({"A.vpk", "B.vpk"}, {"A.vpk", "C.vpk"});
    WriteDownloads({"A.vpk", "B.vpk"});

    MergeResourceIndex(timer_);

    // The library beside this program would have been found: it was not called.
    EXPECT_FALSE(Exists("merge_call.txt"));
    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload"), (Names{"A.vpk", "B.vpk"}));
    EXPECT_EQ(FileText("RAVN\\RAVNReserve\\RAVNFileList.ini"), ListText({"A.vpk", "B.vpk"}));
    ExpectNewListInPlace({"A.vpk", "C.vpk"});
    EXPECT_EQ(LogLines(), (Names{"开始合并vpk文件", "不需要合并vpk文件：lstOldPatchs 2, lstNewPatchs 2"}));
}

TEST_F(ResourceMerge, WithoutACurrentListTheNewOneIsSimplyPutInPlace) {
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNFileList.ini.patch", ListText({"A.vpk"})));
    WriteDownloads({"B.vpk"});

    MergeResourceIndex(timer_);

    EXPECT_FALSE(Exists("merge_call.txt"));
    EXPECT_TRUE(velsupport::FolderExists("RAVN\\RAVNReserve"));
    EXPECT_EQ(NamesIn("RAVN\\RAVNReserve"), Names{});
    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload"), Names{"B.vpk"});
    ExpectNewListInPlace({"A.vpk"});
    EXPECT_EQ(LogLines(), (Names{"开始合并vpk文件", "不需要合并vpk文件：lstOldPatchs 0, lstNewPatchs 1"}));
}

TEST_F(ResourceMerge, NamesDifferingInLetterCaseAreDifferentPatches) {
    WriteLists({"a.vpk"}, {"A.vpk"});
    WriteDownloads({"a.vpk"});

    MergeResourceIndex(timer_);

    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload"), Names{});
    EXPECT_EQ(FileText("RAVN\\RAVNReserve\\a.vpk"), "a.vpk");
    Names log = LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Move RAVN/RAVNDownload/a.vpk To RAVN/RAVNReserve/a.vpk");
}

TEST_F(ResourceMerge, NamesThatDoNotFitThePathBufferStayWhereTheyAre) {
    // "RAVN/RAVNDownload/" and 241 characters fill the 259 of a path; one more does not fit, and
    // cut to fit it would name the shorter file.
    const std::string fits(241, 'n');
    const std::string tooLong = fits + "x";
    WriteLists({tooLong, fits}, {"A.vpk"});
    WriteDownloads({fits, tooLong});

    MergeResourceIndex(timer_);

    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload"), Names{tooLong});
    EXPECT_EQ(NamesIn("RAVN\\RAVNReserve"), (Names{"RAVNFileList.ini", fits}));
    EXPECT_EQ(FileText("RAVN\\RAVNReserve\\" + fits), fits);
}

TEST_F(ResourceMerge, NamesLeadingOutOfThePatchFoldersAreNeverTouched) {
    ASSERT_TRUE(WriteRawFile(scratch_ / "outside.txt", "o"));
    ASSERT_TRUE(WriteRawFile("victim.txt", "v"));
    ASSERT_TRUE(WriteRawFile("RAVN\\victim.txt", "v"));
    ASSERT_TRUE(CreateDirectoryA("RAVN\\RAVNDownload\\sub", nullptr));
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNDownload\\sub\\s.vpk", "s"));
    ASSERT_TRUE(CreateDirectoryA("RAVN\\RAVNReserve", nullptr));
    ASSERT_TRUE(CreateDirectoryA("RAVN\\RAVNReserve\\sub", nullptr));
    WriteDownloads({"B.vpk"});
    const std::string outside = scratch_ / "outside.txt";
    // Each would delete its target before the move if it were acted on.
    WriteLists({"..\\..\\..\\outside.txt", "../../victim.txt", "..\\victim.txt", "..\\..\\victim.txt", "sub\\s.vpk",
                "sub/s.vpk", "..", ".", "", ". .", outside, outside.substr(2), "C:..\\..\\victim.txt",
                "B.vpk"},
               {"A.vpk"});

    MergeResourceIndex(timer_);

    EXPECT_EQ(FileText(outside), "o");
    EXPECT_EQ(FileText("victim.txt"), "v");
    EXPECT_EQ(FileText("RAVN\\victim.txt"), "v");
    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload"), Names{"sub"});
    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload\\sub"), Names{"s.vpk"});
    EXPECT_EQ(NamesIn("RAVN\\RAVNReserve"), (Names{"B.vpk", "RAVNFileList.ini", "sub"}));
    EXPECT_EQ(NamesIn("RAVN\\RAVNReserve\\sub"), Names{});
    Names log = LogLines();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3], "Move RAVN/RAVNDownload/B.vpk To RAVN/RAVNReserve/B.vpk");
}

// Only the client folder's library is loaded, never one beside the program: a copy of this
// program in a folder of its own, the way players keep the installer in their downloads folder,
// with a planted "RAVNMerge.dll" beside it that records being loaded.
TEST_F(ResourceMerge, OnlyTheClientFoldersLibraryIsLoadedAndItsAbsenceIsOnlyLogged) {
    const std::string runner = scratch_ / "runner";
    ASSERT_TRUE(CreateDirectoryA(runner.c_str(), nullptr));
    const std::string planted = runner + "\\RAVNMerge.dll";
    ASSERT_TRUE(CopyFileA(velsupport::JoinPath(velsupport::ProgramFolder(), "vel_planted.dll").c_str(),
                          planted.c_str(), FALSE));
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof(program));
    ASSERT_TRUE(length > 0 && length < sizeof(program));
    const std::string runnerProgram = runner + "\\merge_runner.exe";
    ASSERT_TRUE(CopyFileA(program, runnerProgram.c_str(), FALSE));

    auto runIn = [&](const std::string& client, const std::string& log) {
        const std::string output = log + ".out";
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        velsupport::ScopedHandle outputFile(CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(outputFile.Get(), INVALID_HANDLE_VALUE);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = outputFile.Get();
        startup.hStdError = outputFile.Get();
        std::string commandLine = "\"" + runnerProgram + "\" --gtest_filter=ResourceMergeInChild.MergesTheCurrentFolder";
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(SetEnvironmentVariableA(kChildLogVariable, log.c_str()));
        BOOL started = CreateProcessA(runnerProgram.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, client.c_str(), &startup, &info);
        SetEnvironmentVariableA(kChildLogVariable, nullptr);
        ASSERT_TRUE(started);
        velsupport::ScopedHandle process(info.hProcess);
        velsupport::ScopedHandle thread(info.hThread);
        ASSERT_EQ(WaitForSingleObject(process.Get(), 120000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        ASSERT_TRUE(GetExitCodeProcess(process.Get(), &exitCode));
        EXPECT_EQ(exitCode, 0u) << FileText(output);
    };
    auto prepareClient = [&](const std::string& client) {
        ASSERT_TRUE(CreateDirectoryA(client.c_str(), nullptr));
        ASSERT_TRUE(scratch_.Enter(client.substr(scratch_.Path().size() + 1)));
        ASSERT_TRUE(CreateDirectoryA("RAVN", nullptr));
        ASSERT_TRUE(CreateDirectoryA("RAVN\\RAVNDownload", nullptr));
        WriteLists({"A.vpk", "B.vpk"}, {"A.vpk"});
        WriteDownloads({"A.vpk", "B.vpk"});
    };

    const std::string withLibrary = scratch_ / "with";
    prepareClient(withLibrary);
    ASSERT_TRUE(CopyFileA(LibraryBesideThisProgram().c_str(), "RAVNMerge.dll", FALSE));
    runIn(withLibrary, scratch_ / "with.log");
    MergeCall call = ReadMergeCall("merge_call.txt");
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.values["module"], withLibrary + "\\RAVNMerge.dll");
    EXPECT_EQ(call.values["checkTimeLimit"], "1");
    EXPECT_EQ(NamesIn("RAVN\\RAVNReserve"), (Names{"B.vpk", "RAVNFileList.ini"}));

    const std::string without = scratch_ / "without";
    prepareClient(without);
    runIn(without, scratch_ / "without.log");
    EXPECT_FALSE(Exists("merge_call.txt"));
    EXPECT_EQ(ReadLogLines(scratch_ / "without.log"),
              (Names{"开始合并vpk文件", "LoadLibrary 0", "myMergePatchWSafe 0",
                     "Move RAVN/RAVNDownload/B.vpk To RAVN/RAVNReserve/B.vpk"}));
    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload"), Names{"A.vpk"});
    EXPECT_EQ(NamesIn("RAVN\\RAVNReserve"), (Names{"B.vpk", "RAVNFileList.ini"}));
    ExpectNewListInPlace({"A.vpk"});
    EXPECT_FALSE(Exists(planted + ".loaded"));
}

// The merge as run by a copy of this program started from the test above; skipped otherwise.
TEST(ResourceMergeInChild, MergesTheCurrentFolder) {
    char log[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(kChildLogVariable, log, sizeof(log));
    if (length == 0 || length >= sizeof(log)) GTEST_SKIP() << "runs only inside the library search test";
    ASSERT_TRUE(InstallLog::OpenPath(log));
    MergeTimer timer;
    MergeResourceIndex(timer);
    InstallLog::Close();
}
