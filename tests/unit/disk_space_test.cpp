#include <gtest/gtest.h>

#include <string>

#include "client/DiskSpace.h"
#include "package_test_support.h"

namespace {

std::string Size(int64_t n) {
    std::string text;
    FormatByteSize(text, n);
    return text;
}

}  // namespace

TEST(DiskSpace, ByteSizeThresholds) {
    EXPECT_EQ(Size(1), "1 B");
    EXPECT_EQ(Size(1024), "1024 B");
    EXPECT_EQ(Size(1025), "1.00 KB");
    EXPECT_EQ(Size(1048576), "1024.00 KB");
    EXPECT_EQ(Size(1048577), "1.00 MB");
    EXPECT_EQ(Size(1073741824), "1024.00 MB");
    EXPECT_EQ(Size(1073741825), "1.00 GB");
    EXPECT_EQ(Size(3221225473LL), "3.00 GB");  // over 2 GiB stays positive
    std::string appended = "x";
    FormatByteSize(appended, 5);
    EXPECT_EQ(appended, "x5 B");
}

TEST(DiskSpace, ShortfallNeedsStrictlyMoreFreeSpace) {
    EXPECT_EQ(DiskShortfall(100, 101), 0);
    EXPECT_EQ(DiskShortfall(100, 100), 1);  // equal is not enough: 1 B more
    EXPECT_EQ(DiskShortfall(15 * 1048576u, 10 * 1048576ull), 5 * 1048576 + 1);
    EXPECT_EQ(DiskShortfall(0xFFFFFFFFu, 0), 0x100000000LL);
    EXPECT_EQ(DiskShortfall(100, 1ull << 40), 0);
}

TEST(DiskSpace, MessageNamesTheDrive) {
    EXPECT_EQ(DrivePart("D:\\Games\\Velmora"), "D:");
    EXPECT_EQ(DrivePart("\\\\server\\share\\game"), "");
    EXPECT_EQ(DrivePart("1:\\x"), "");
    EXPECT_EQ(DiskSpaceMessage("D:", 5 * 1048576 + 1),
              "检查到Velmora客户端所在的磁盘空间不足，\n请清理[D:]盘空间，至少还需要5.00 MB！\n");
    EXPECT_EQ(DiskSpaceMessage("", 1), "检查到Velmora客户端所在的磁盘空间不足，\n请清理[]盘空间，至少还需要1 B！\n");
}

TEST(DiskSpace, QueryFileLength) {
    velsupport::TempFolder folder{"vel_pkg"};
    std::string path = folder / "archive.pkg";
    EXPECT_EQ(QueryFileLength(path.c_str()), 0u);
    ASSERT_TRUE(velsupport::WriteFileText(path, std::string(70000, 'z')));
    EXPECT_EQ(QueryFileLength(path.c_str()), 70000u);
    EXPECT_EQ(QueryFileLength((folder / "missing").c_str()), 0u);
}
