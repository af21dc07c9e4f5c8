// Entries whose sizes strain a 32-bit installer: a real 1 GiB file, installed in bounded memory,
// and directory records whose sizes lie, which must end in a clean failure with the client as
// it was. Nothing here depends on the installer's pointer size: the lead runs these against the
// 32-bit build too.
#include "install_support.h"

#include <cstdio>
#include <cstring>

namespace e2e {
namespace install {
namespace {

const char kOldUpdateCfg[] = "ver=1.3.0.189\r\n";
const char kNewUpdateCfg[] = "ver=1.3.0.190\r\n";
constexpr uint32_t kGibibyte = 1u << 30;
// "Some tens of MB": the installer's own image and Wine's share of it, far from the entry.
constexpr uint64_t kMemoryBound = 64u << 20;

class LargeEntryTest : public ClientInstallTest {
protected:
    void LayOutClient()
    {
        Put("update.cfg", kOldUpdateCfg);
        Put("readme.txt", "old readme\r\n");
        ASSERT_TRUE(CreateDirectoryA(At("package").c_str(), nullptr));
    }

    // The installer around a package written by `fill`, which gets the open writer.
    template <typename Fill>
    void BuildPatchWith(Fill fill)
    {
        const std::string pkg = Folder() / "source.pkg";
        {
            PackageWriter writer;
            ASSERT_TRUE(writer.Open(pkg.c_str()));
            fill(writer);
            ASSERT_TRUE(writer.Save());
        }
        std::string error;
        ASSERT_TRUE(BuildInstaller(BareInstallerPath(), pkg, kPatchFrom, kPatchTo, 0, Installer(), &error)) << error;
        DeleteFileA(pkg.c_str());
    }

    static void AddWhole(PackageWriter& writer, const std::string& name, const std::string& content, uint32_t claimed)
    {
        uLongf storedSize = compressBound(static_cast<uLong>(content.size()));
        std::string stored(storedSize, '\0');
        ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&stored[0]), &storedSize,
                           reinterpret_cast<const Bytef*>(content.data()), static_cast<uLong>(content.size())),
                  Z_OK);
        ASSERT_TRUE(writer.Add(name, stored.data(), claimed, static_cast<uint32_t>(storedSize), 1));
    }

    // `size` zero bytes deflated as they are written: neither side ever holds the content.
    static void AddZeros(PackageWriter& writer, const std::string& name, uint32_t size)
    {
        // Run-length matches only: about 1,000 to 1 on zeros, and fast even in an emulator.
        z_stream z{};
        ASSERT_EQ(deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, Z_RLE), Z_OK);
        std::vector<uint8_t> zeros(1u << 20, 0);
        std::vector<uint8_t> out(1u << 16);
        const uint32_t offset = writer.DataEnd();
        uint64_t stored = 0;
        uint32_t left = size;
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (z.avail_in == 0 && left > 0) {
                const uint32_t n = left < zeros.size() ? left : static_cast<uint32_t>(zeros.size());
                z.next_in = zeros.data();
                z.avail_in = n;
                left -= n;
            }
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            rc = deflate(&z, left == 0 && z.avail_in == 0 ? Z_FINISH : Z_NO_FLUSH);
            ASSERT_TRUE(rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR) << rc;
            const uint32_t made = static_cast<uint32_t>(out.size() - z.avail_out);
            ASSERT_TRUE(writer.AppendData(out.data(), made));
            stored += made;
        }
        deflateEnd(&z);
        ASSERT_TRUE(writer.AddRecord(name, offset, size, static_cast<uint32_t>(stored), 1));
    }

    // A damaged package: one good plain file first, then `lying`, whose record claims `claimed`
    // bytes for `content`. The run must fail naming it, with the client folder untouched.
    void ExpectRefused(const std::string& content, uint32_t claimed)
    {
        LayOutClient();
        BuildPatchWith([&](PackageWriter& w) {
            AddWhole(w, "update.cfg", kNewUpdateCfg, static_cast<uint32_t>(sizeof kNewUpdateCfg - 1));
            AddWhole(w, "data\\lying.bin", content, claimed);
        });
        const Snapshot before = TakeSnapshot(Client());

        const SilentResult r = RunSilent();

        const std::string text = "更新文件data\\lying.bin时出错！";
        EXPECT_EQ(r.run.exitCode, 1u);
        ASSERT_FALSE(r.run.messages.empty());
        EXPECT_MESSAGES(std::vector<velsupport::CopyDataRecord>{r.run.messages.back()},
                        std::vector<velsupport::CopyDataRecord>{ResultMessage(501, text)});
        EXPECT_TRUE(LogMentions(r.log, text)) << Shown(r.log);
        ASSERT_FALSE(r.log.empty());
        EXPECT_EQ(r.log.back(), "升级失败！") << Shown(r.log);
        EXPECT_FOLDER(TakeSnapshot(Client()), before);
    }
};

}  // namespace

TEST_F(LargeEntryTest, SizeOf4GiBMinusOneFailsCleanly)
{
    // 64 KiB of zeros under a record claiming 0xFFFFFFFF bytes: on the 32-bit build a buffer of
    // size + 1 bytes wrapped to an empty one, and the stream was inflated past it.
    ExpectRefused(std::string(65536, '\0'), 0xFFFFFFFFu);
}

TEST_F(LargeEntryTest, SizeLargerThanTheStreamInflatesToFailsCleanly)
{
    ExpectRefused(std::string(3000, 'a'), 3001);
}

TEST_F(LargeEntryTest, SizeSmallerThanTheStreamInflatesToFailsCleanly)
{
    ExpectRefused(std::string(3000, 'a'), 2999);
}

TEST_F(LargeEntryTest, OneGibibyteEntryInstallsInBoundedMemory)
{
    LayOutClient();
    BuildPatchWith([](PackageWriter& w) {
        AddWhole(w, "update.cfg", kNewUpdateCfg, static_cast<uint32_t>(sizeof kNewUpdateCfg - 1));
        AddZeros(w, "data\\huge.bin", kGibibyte);
    });

    // Far beyond what the run takes here: the 32-bit build may run in an emulator.
    harness::MonitorOptions options;
    options.title = UniqueTitle("Vel 安装监视");
    options.timeoutMs = 600000;
    SilentResult r;
    r.run = harness::RunWithMonitor(Installer(), "/S /D=" + Client() + " /user " + options.title, options);
    ASSERT_TRUE(r.run.started) << r.run.error;
    ASSERT_FALSE(r.run.timedOut);
    r.log = harness::ReadLogLines(LogPathBeside(Installer()));

    EXPECT_EQ(r.run.exitCode, 0u) << Shown(r.log);
    EXPECT_FALSE(LogMentions(r.log, "时出错")) << Shown(r.log);
    EXPECT_EQ(Text("update.cfg"), kNewUpdateCfg);
    EXPECT_FALSE(Exists("patch.pkg"));

    // Every byte is checked, a block at a time.
    velsupport::ScopedHandle file(CreateFileA(At("data\\huge.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    ASSERT_TRUE(file.Valid());
    LARGE_INTEGER length{};
    ASSERT_TRUE(GetFileSizeEx(file.Get(), &length));
    EXPECT_EQ(length.QuadPart, int64_t{kGibibyte});
    std::vector<char> block(1u << 20);
    const std::vector<char> zeros(block.size(), 0);
    uint64_t read = 0;
    uint32_t blocksWithData = 0;
    DWORD got = 0;
    while (ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0) {
        blocksWithData += std::memcmp(block.data(), zeros.data(), got) != 0;
        read += got;
    }
    EXPECT_EQ(read, uint64_t{kGibibyte});
    EXPECT_EQ(blocksWithData, 0u);

    // Peak memory of the installer process, as the system counted it.
    EXPECT_GT(r.run.peakPagefileBytes, 0u) << "no memory figures for the installer";
    EXPECT_LT(r.run.peakPagefileBytes, kMemoryBound);
    EXPECT_LT(r.run.peakWorkingSetBytes, kMemoryBound);
    std::printf("installer peak: working set %llu KiB, pagefile %llu KiB\n",
                static_cast<unsigned long long>(r.run.peakWorkingSetBytes >> 10),
                static_cast<unsigned long long>(r.run.peakPagefileBytes >> 10));
}

}  // namespace install
}  // namespace e2e
