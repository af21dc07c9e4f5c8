// Tests of the release tool's library: what it writes must read back through the installer's own code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GbkNames.h"
#include "HostFiles.h"
#include "PackTool.h"
#include "package/Crc32.h"
#include "package/PackageReader.h"
#include "package/PackageTrailer.h"
#include "support/Files.h"
#include "support/TempFolder.h"

namespace {

// GBK bytes spelled out, so the test does not depend on the compiler's execution charset.
const std::string kZiYuan = "\xD7\xCA\xD4\xB4";  // 资源
const std::string kJou = "\x81\x5C";             // 乗: its trail byte is '\'

// The same two names as host file-name text.
#ifdef _WIN32
const std::string kHostZiYuan = kZiYuan;
const std::string kHostJou = kJou;
#else
const std::string kHostZiYuan = u8"资源";
const std::string kHostJou = u8"乗";
#endif

// Each test's own folder under the system temp folder.
class OwnFolder : public velsupport::TempFolder {
public:
    OwnFolder() : velsupport::TempFolder("velpack") { EXPECT_TRUE(Valid()); }
};

void WriteFile(const std::string& path, const std::string& data) {
    ASSERT_TRUE(velsupport::WriteFileText(path, data)) << path;
}

std::string ReadFile(const std::string& path) {
    std::string data;
    return velsupport::ReadFileText(path, &data) ? data : std::string("<unreadable>");
}

std::vector<PackageEntry> ReadDirectory(const std::string& archive) {
    std::vector<PackageEntry> entries;
    PackageReader reader;
    if (!reader.Open(archive.c_str())) return entries;
    PackageEntry entry;
    for (bool more = reader.First(entry); more; more = reader.Next(entry)) entries.push_back(entry);
    return entries;
}

std::string MakeStub(const OwnFolder& dir) {
    std::string stub = "MZ";
    for (int i = 0; i < 3000; ++i) stub += static_cast<char>(i * 7);
    WriteFile(dir / "stub.exe", stub);
    return dir / "stub.exe";
}

int RunTool(std::vector<std::string> args) {
    args.insert(args.begin(), "velpack");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    return RunPackTool(static_cast<int>(argv.size()), argv.data());
}

TEST(VersionArgs, AcceptsOnlyFourPartsUpTo255) {
    uint32_t v = 0;
    EXPECT_TRUE(ParseVersionArg("1.3.0.190", &v));
    EXPECT_EQ(v, 0x010300BEu);
    EXPECT_TRUE(ParseVersionArg("255.255.255.255", &v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseVersionArg("0.0.0.0", &v));
    EXPECT_EQ(v, 0u);

    for (const char* bad : {"256.0.0.0", "1.2.3.256", "1.2.3", "1.2.3.4.5", "", "1..3.4", "1.2.3.", ".1.2.3",
                            " 1.2.3.4", "1.2.3.4 ", "1. 2.3.4", "-1.2.3.4", "+1.2.3.4", "1.2.3.4x", "1,2,3,4",
                            "0001.2.3.4", "0"}) {
        uint32_t untouched = 0x12345678u;
        EXPECT_FALSE(ParseVersionArg(bad, &untouched)) << '"' << bad << '"';
        EXPECT_EQ(untouched, 0x12345678u) << bad;
    }
    EXPECT_FALSE(ParseVersionArg(nullptr, &v));
}

TEST(VersionArgs, FromAlsoTakesZeroAndKindTakesNamesOrNumbers) {
    uint32_t v = 99;
    EXPECT_TRUE(ParseFromVersionArg("0", &v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseFromVersionArg("1.3.0.189", &v));
    EXPECT_EQ(v, 0x010300BDu);
    EXPECT_FALSE(ParseFromVersionArg("00", &v));
    EXPECT_FALSE(ParseFromVersionArg("0.0", &v));

    uint32_t kind = 99;
    EXPECT_TRUE(ParseClientTypeArg("full", &kind));
    EXPECT_EQ(kind, 0u);
    EXPECT_TRUE(ParseClientTypeArg("micro", &kind));
    EXPECT_EQ(kind, 1u);
    EXPECT_TRUE(ParseClientTypeArg("4294967295", &kind));
    EXPECT_EQ(kind, 0xFFFFFFFFu);
    for (const char* bad : {"4294967296", "Full", "", "-1", "2x", " 2"}) {
        EXPECT_FALSE(ParseClientTypeArg(bad, &kind)) << '"' << bad << '"';
    }
}

TEST(GbkNames, SplitAndSafetyRespectTrailBytes) {
    const std::string name = kZiYuan + "\\" + kJou + ".bin";
    const std::vector<std::string> parts = SplitGbkPath(name);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1], kJou + ".bin");
    // A name ending in 乗 does not end with a separator.
    EXPECT_FALSE(GbkEndsWithSeparator("a\\" + kJou));
    EXPECT_TRUE(GbkEndsWithSeparator(kJou + "\\"));

    std::vector<std::string> components;
    std::string why;
    EXPECT_TRUE(ArchiveNameToRelativePath("a/./b\\\\c.txt", &components, &why)) << why;
    EXPECT_EQ(components, (std::vector<std::string>{"a", "b", "c.txt"}));
    EXPECT_TRUE(ArchiveNameToRelativePath(kJou, &components, &why)) << why;
    EXPECT_EQ(components, std::vector<std::string>{kHostJou});
    for (const std::string& bad : {std::string("..\\evil"), std::string("a/../../x"), std::string("\\root"),
                                   std::string("/root"), std::string("C:\\x"), std::string("C:x"),
                                   std::string("a\\...\\x"), std::string("a\\. .\\x"), std::string("file:stream"),
                                   std::string("dir\\"), std::string(""), kJou + "\\..\\..\\x"}) {
        EXPECT_FALSE(ArchiveNameToRelativePath(bad, &components, &why)) << ShowGbkName(bad);
    }
}

TEST(PackFolder, ResourceIndexKeepsItsForwardSlash) {
    OwnFolder dir;
    const std::string src = dir / "src";
    ASSERT_TRUE(MakeDirectory(src));
    ASSERT_TRUE(MakeDirectory(JoinHostPath(src, "RAVN")));
    WriteFile(JoinHostPath(JoinHostPath(src, "RAVN"), "RAVNFileList.ini"), "[FileList]\n");
    WriteFile(JoinHostPath(JoinHostPath(src, "RAVN"), "RAVNFileList.ini.bak"), "old\n");
    std::vector<FolderFile> files;
    std::string error;
    ASSERT_TRUE(CollectFolderFiles(src, &files, &error)) << error;
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].archiveName, "RAVN/RAVNFileList.ini");
    EXPECT_EQ(files[1].archiveName, "RAVN\\RAVNFileList.ini.bak");
}

TEST(PackFolder, NamesAreRelativeGbkWithBackslashes) {
    OwnFolder dir;
    const std::string src = dir / "src";
    ASSERT_TRUE(MakeDirectory(src));
    ASSERT_TRUE(MakeDirectory(JoinHostPath(src, kHostZiYuan)));
    WriteFile(JoinHostPath(JoinHostPath(src, kHostZiYuan), kHostJou + ".bin"), "jou");
    WriteFile(JoinHostPath(src, "update.cfg"), "ver=1.3.0.190\n");

    std::vector<FolderFile> files;
    std::string error;
    ASSERT_TRUE(CollectFolderFiles(src, &files, &error)) << error;
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].archiveName, "update.cfg");  // 'u' sorts before the GBK lead byte 0xD7
    EXPECT_EQ(files[1].archiveName, kZiYuan + "\\" + kJou + ".bin");

    ASSERT_TRUE(PackFolder(src, dir / "out.pkg", &error)) << error;
    const std::vector<PackageEntry> entries = ReadDirectory(dir / "out.pkg");
    ASSERT_EQ(entries.size(), 2u);
    PackageReader reader;
    ASSERT_TRUE(reader.Open((dir / "out.pkg").c_str()));
    for (const PackageEntry& e : entries) {
        EXPECT_EQ(e.flags, 1u);
        const uint8_t* stored = reader.ReadStored(e.dataOffset, e.storedSize);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored[0], 0x78);
        EXPECT_EQ(stored[1], 0x9C);
    }
    char jou[3] = {};
    ASSERT_TRUE(reader.ReadUnpacked(reinterpret_cast<uint8_t*>(jou), 3, entries[1].dataOffset, entries[1].storedSize));
    EXPECT_EQ(std::string(jou, 3), "jou");

    // Through extraction the GBK name comes back as the same host name.
    ExtractSummary summary;
    ASSERT_TRUE(ExtractArchiveFile(dir / "out.pkg", dir / "x", &summary, &error)) << error;
    EXPECT_TRUE(summary.problems.empty());
    EXPECT_EQ(ReadFile(JoinHostPath(JoinHostPath(dir / "x", kHostZiYuan), kHostJou + ".bin")), "jou");
}

#ifndef _WIN32
TEST(PackFolder, RefusesNamesWithoutGbkOrWindowsForm) {
    for (const std::string& name : {std::string(u8"😀.txt"), std::string("a:b.txt"), std::string("back\\slash"),
                                    std::string("trailing.")}) {
        OwnFolder dir;
        WriteFile(dir / name, "x");
        std::string error;
        EXPECT_FALSE(PackFolder(dir.Path(), dir / "out.pkg", &error)) << name;
        EXPECT_NE(error.find(name), std::string::npos) << error;
        EXPECT_FALSE(velsupport::FileExists(dir / "out.pkg"));
    }
}
#endif

TEST(PackFolder, SameFilesGiveSameBytesWhateverTheCreationOrder) {
    OwnFolder dir;
    const std::vector<std::string> names = {"b.txt", "a.txt", "Z.txt", "c.dat", "m.bin"};
    const std::string first = dir / "first";
    const std::string second = dir / "second";
    ASSERT_TRUE(MakeDirectory(first));
    ASSERT_TRUE(MakeDirectory(second));
    ASSERT_TRUE(MakeDirectory(JoinHostPath(first, "sub")));
    for (size_t i = 0; i < names.size(); ++i) {
        WriteFile(JoinHostPath(first, names[i]), std::string(100 * i + 1, static_cast<char>('a' + i)));
    }
    WriteFile(JoinHostPath(JoinHostPath(first, "sub"), "deep.txt"), "deep");
    WriteFile(JoinHostPath(second, "sub"), "");  // a file first, replaced by the folder below
    RemoveFile(JoinHostPath(second, "sub"));
    ASSERT_TRUE(MakeDirectory(JoinHostPath(second, "sub")));
    WriteFile(JoinHostPath(JoinHostPath(second, "sub"), "deep.txt"), "deep");
    for (size_t i = names.size(); i-- > 0;) {
        WriteFile(JoinHostPath(second, names[i]), std::string(100 * i + 1, static_cast<char>('a' + i)));
    }

    std::string error;
    ASSERT_TRUE(PackFolder(first, dir / "1.pkg", &error)) << error;
    ASSERT_TRUE(PackFolder(first, dir / "1again.pkg", &error)) << error;
    ASSERT_TRUE(PackFolder(second, dir / "2.pkg", &error)) << error;
    EXPECT_EQ(ReadFile(dir / "1.pkg"), ReadFile(dir / "1again.pkg"));
    EXPECT_EQ(ReadFile(dir / "1.pkg"), ReadFile(dir / "2.pkg"));

    std::vector<std::string> order;
    for (const PackageEntry& e : ReadDirectory(dir / "1.pkg")) order.push_back(e.name);
    EXPECT_EQ(order, (std::vector<std::string>{"Z.txt", "a.txt", "b.txt", "c.dat", "m.bin", "sub\\deep.txt"}));
}

TEST(WritePackage, FailureLeavesNoFileAndKeepsAnOldOne) {
    OwnFolder dir;
    std::string error;
    EXPECT_FALSE(WritePackage({{"a.txt", "1"}, {"a.txt", "2"}}, dir / "dup.pkg", &error));
    EXPECT_FALSE(velsupport::FileExists(dir / "dup.pkg"));
    WriteFile(dir / "old.pkg", "old");
    EXPECT_FALSE(WritePackage({{"a.txt", "1"}, {std::string(1024, 'n'), "2"}}, dir / "old.pkg", &error));
    EXPECT_EQ(ReadFile(dir / "old.pkg"), "old");
    std::vector<RelativeFileName> left;
    ASSERT_TRUE(ListFilesUnder(dir.Path(), &left, &error));
    EXPECT_EQ(left.size(), 1u);  // no temporary files stay behind
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(WritePackage({{"update.cfg", "ver=1.3.0.190"}, {"Res\\a.bin", std::string(5000, 'r')}},
                                 dir_ / "p.pkg", &error)) << error;
        stub_ = MakeStub(dir_);
        package_ = ReadFile(dir_ / "p.pkg");
    }

    OwnFolder dir_;
    std::string stub_;
    std::string package_;
};

TEST_F(Installer, TrailerReadsBackThroughTheInstallerCode) {
    std::string error;
    ASSERT_TRUE(BuildInstaller(stub_, dir_ / "p.pkg", 0x010300BD, 0x010300BE, 7, dir_ / "i.exe", &error)) << error;
    PackageTrailer trailer{};
    int32_t offset = 0;
    ASSERT_EQ(FindPackageTrailer((dir_ / "i.exe").c_str(), &trailer, &offset), Result::Ok);
    EXPECT_EQ(static_cast<size_t>(offset), 3002 + package_.size());
    EXPECT_EQ(trailer.fromVersion, 0x010300BDu);
    EXPECT_EQ(trailer.toVersion, 0x010300BEu);
    EXPECT_EQ(trailer.packageLength, package_.size());
    EXPECT_EQ(trailer.packageCrc, Crc32::Of(package_.data(), package_.size()));
    EXPECT_EQ(trailer.clientType, 7u);
    EXPECT_EQ(CopyEmbeddedPackage((dir_ / "i.exe").c_str(), (dir_ / "copy.pkg").c_str(), trailer, offset), Result::Ok);
    EXPECT_EQ(ReadFile(dir_ / "copy.pkg"), package_);
    EXPECT_EQ(ReadFile(dir_ / "i.exe").substr(0, 3002), ReadFile(stub_));
}

TEST_F(Installer, BytesAfterTheTrailerAreIgnored) {
    std::string error;
    ASSERT_TRUE(BuildInstaller(stub_, dir_ / "p.pkg", 0, 0x01000000, 0, dir_ / "i.exe", &error)) << error;
    std::string signedExe = ReadFile(dir_ / "i.exe");
    signedExe += std::string(5, '\0') + "xrem" + std::string(4000, 'S');  // padding and a signature-like blob
    WriteFile(dir_ / "signed.exe", signedExe);

    FileReport report;
    ASSERT_TRUE(ExamineFile(dir_ / "signed.exe", true, &report, &error)) << error;
    EXPECT_TRUE(report.problems.empty()) << report.problems.front();
    EXPECT_TRUE(report.hasTrailer);
    EXPECT_EQ(static_cast<size_t>(report.trailerOffset), 3002 + package_.size());
    EXPECT_EQ(report.entries.size(), 2u);
    EXPECT_EQ(RunTool({"verify", dir_ / "signed.exe"}), 0);
}

TEST_F(Installer, StubWithATrailerIsRefusedUnlessForced) {
    std::string error;
    ASSERT_TRUE(BuildInstaller(stub_, dir_ / "p.pkg", 0, 1, 0, dir_ / "first.exe", &error)) << error;
    WriteFile(dir_ / "out.exe", "previous build");
    EXPECT_FALSE(BuildInstaller(dir_ / "first.exe", dir_ / "p.pkg", 0, 2, 1, dir_ / "out.exe", &error));
    EXPECT_NE(error.find("trailer"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir_ / "out.exe"), "previous build");

    BuildOptions force;
    force.force = true;
    ASSERT_TRUE(BuildInstaller(dir_ / "first.exe", dir_ / "p.pkg", 0, 2, 1, dir_ / "out.exe", force, &error));
    PackageTrailer trailer{};
    int32_t offset = 0;
    ASSERT_EQ(FindPackageTrailer((dir_ / "out.exe").c_str(), &trailer, &offset), Result::Ok);
    EXPECT_EQ(trailer.toVersion, 2u);  // the newer trailer, nearer the end, wins

    WriteFile(dir_ / "notexe", "ELF and so on");
    EXPECT_FALSE(BuildInstaller(dir_ / "notexe", dir_ / "p.pkg", 0, 1, 0, dir_ / "x.exe", &error));
    EXPECT_FALSE(BuildInstaller(stub_, dir_ / "missing.pkg", 0, 1, 0, dir_ / "x.exe", &error));
    EXPECT_FALSE(velsupport::FileExists(dir_ / "x.exe"));
}

TEST_F(Installer, VerifyFindsAFlippedPackageByte) {
    std::string error;
    ASSERT_TRUE(BuildInstaller(stub_, dir_ / "p.pkg", 0, 1, 0, dir_ / "i.exe", &error)) << error;
    std::string exe = ReadFile(dir_ / "i.exe");
    exe[3002 + 20] ^= 0x01;  // inside the first entry's deflate data
    WriteFile(dir_ / "i.exe", exe);

    FileReport report;
    ASSERT_TRUE(ExamineFile(dir_ / "i.exe", true, &report, &error)) << error;
    ASSERT_FALSE(report.problems.empty());
    EXPECT_NE(report.problems.front().find("CRC"), std::string::npos) << report.problems.front();
    EXPECT_EQ(RunTool({"verify", dir_ / "i.exe"}), 1);

    // The same damage in a plain archive, which has no CRC, shows as an entry that does not inflate.
    std::string plain = package_;
    plain[20] ^= 0x01;
    WriteFile(dir_ / "bad.pkg", plain);
    ASSERT_TRUE(ExamineFile(dir_ / "bad.pkg", true, &report, &error)) << error;
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("update.cfg"), std::string::npos) << report.problems[0];

    WriteFile(dir_ / "cut.pkg", package_.substr(0, package_.size() - 3));
    ASSERT_TRUE(ExamineFile(dir_ / "cut.pkg", true, &report, &error)) << error;
    EXPECT_FALSE(report.problems.empty());
}

TEST(Extract, RefusesNamesLeavingTheFolderAndGoesOn) {
    OwnFolder dir;
    std::string error;
    ASSERT_TRUE(WritePackage({{"..\\evil.txt", "evil"},
                              {"good\\" + kJou + ".txt", "good"},
                              {"sub\\..\\..\\evil2.txt", "evil"},
                              {"C:\\evil3.txt", "evil"},
                              {"\\evil4.txt", "evil"},
                              {"last.txt", "last"}},
                             dir / "evil.pkg", &error)) << error;
    const std::string out = dir / "out";
    ExtractSummary summary;
    ASSERT_TRUE(ExtractArchiveFile(dir / "evil.pkg", out, &summary, &error)) << error;
    EXPECT_EQ(summary.written, 2u);
    EXPECT_EQ(summary.problems.size(), 4u);
    EXPECT_EQ(ReadFile(JoinHostPath(JoinHostPath(out, "good"), kHostJou + ".txt")), "good");
    EXPECT_EQ(ReadFile(JoinHostPath(out, "last.txt")), "last");
    EXPECT_FALSE(velsupport::FileExists(dir / "evil.txt"));
    EXPECT_FALSE(velsupport::FileExists(dir / "evil2.txt"));
    EXPECT_EQ(RunTool({"extract", dir / "evil.pkg", dir / "again"}), 1);
}

TEST(CommandLine, ExitCodesSeparateUsageFromBadFiles) {
    OwnFolder dir;
    WriteFile(dir / "junk.bin", "this is neither an installer nor an archive");
    EXPECT_EQ(RunTool({"--help"}), 0);
    EXPECT_EQ(RunTool({}), 2);
    EXPECT_EQ(RunTool({"frobnicate"}), 2);
    EXPECT_EQ(RunTool({"pack", dir.Path()}), 2);
    EXPECT_EQ(RunTool({"verify", dir / "junk.bin", "extra"}), 2);
    EXPECT_EQ(RunTool({"build", "--stub", "s.exe", "--package", "p.pkg", "--from", "0", "--kind", "full", "-o", "o.exe"}), 2);
    EXPECT_EQ(RunTool({"build", "--stub", "s.exe", "--package", "p.pkg", "--from", "1.2.3", "--to", "1.2.3.4",
                       "--kind", "full", "-o", "o.exe"}), 2);
    EXPECT_EQ(RunTool({"build", "--stub", "s.exe", "--package", "p.pkg", "--folder", "d", "--from", "0",
                       "--to", "1.2.3.4", "--kind", "full", "-o", "o.exe"}), 2);
    EXPECT_EQ(RunTool({"build", "--stub", "s.exe", "--package", "p.pkg", "--from", "1.2.3.5", "--to", "1.2.3.4",
                       "--kind", "full", "-o", "o.exe"}), 2);
    EXPECT_EQ(RunTool({"build", "--stub", "s.exe", "--package", "p.pkg", "--from", "0", "--to", "1.2.3.4",
                       "--kind", "huge", "-o", "o.exe"}), 2);
    EXPECT_EQ(RunTool({"verify", dir / "missing.exe"}), 1);
    EXPECT_EQ(RunTool({"verify", dir / "junk.bin"}), 1);
    EXPECT_EQ(RunTool({"inspect", dir / "junk.bin"}), 1);
    EXPECT_EQ(RunTool({"pack", dir / "missing", dir / "o.pkg"}), 1);
}

}  // namespace
