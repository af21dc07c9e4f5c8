#include <gtest/gtest.h>

#include <cstring>

#include "report/ResultCodes.h"

TEST(ResultCodes, EveryKnownCodeHasItsMessageAndNumber) {
    EXPECT_STREQ(ResultMessage(RESULT_NO_PACKAGE), "此程序没有包含更新数据");
    EXPECT_STREQ(ResultMessage(RESULT_CLIENT_UP_TO_DATE), "客户端已经是最新版本，无需执行更新");
    EXPECT_STREQ(ResultMessage(RESULT_PACKAGE_FOR_MICRO), "更新包是微端的，请重新下载全客户端补丁包或选择微端安装目录");
    for (int32_t code = -10000; code <= -9988; ++code) {
        ASSERT_NE(ResultMessage(code), nullptr);
        EXPECT_STRNE(ResultMessage(code), "发生未知错误！") << code;
        EXPECT_EQ(MonitorNumber(code), code + 10501);
    }
    EXPECT_EQ(MonitorNumber(RESULT_PACKAGE_DAMAGED), 501);
    EXPECT_EQ(MonitorNumber(RESULT_PACKAGE_FOR_MICRO), 513);
    // GBK at run time: two bytes per Chinese character.
    EXPECT_EQ(strlen(ResultMessage(RESULT_CLIENT_UP_TO_DATE)), 34u);
}

TEST(ResultCodes, UnknownAndNonNegativeCodes) {
    EXPECT_STREQ(ResultMessage(-5), "发生未知错误！");
    EXPECT_EQ(MonitorNumber(-5), 10496);
    EXPECT_STREQ(ResultMessage(-10001), "发生未知错误！");
    EXPECT_STREQ(ResultMessage(-9987), "发生未知错误！");
    EXPECT_EQ(ResultMessage(0), nullptr);
    EXPECT_EQ(ResultMessage(7), nullptr);
}

TEST(ProgressPercent, SilentFormulas) {
    EXPECT_EQ(ProgressPercent(25, 0, false, false), 0);
    EXPECT_EQ(ProgressPercent(25, 0, true, true), 0);
    // Range 0..50.
    EXPECT_EQ(ProgressPercent(25, 50, false, false), 50);
    EXPECT_EQ(ProgressPercent(25, 50, true, true), 5);
    EXPECT_EQ(ProgressPercent(25, 50, true, false), 55);
    EXPECT_EQ(ProgressPercent(50, 50, false, false), 100);
    EXPECT_EQ(ProgressPercent(50, 50, true, true), 10);
    EXPECT_EQ(ProgressPercent(50, 50, true, false), 100);
    EXPECT_EQ(ProgressPercent(0, 50, true, false), 10);
    // Truncation toward zero at each step: 1*100/3 = 33, 33*9/10 = 29, +10.
    EXPECT_EQ(ProgressPercent(1, 3, true, false), 39);
    EXPECT_EQ(ProgressPercent(1, 3, true, true), 3);
    EXPECT_EQ(ProgressPercent(2, 3, false, false), 66);
}

TEST(ProgressPercent, LargeEntryCountsDoNotWrap) {
    EXPECT_EQ(ProgressPercent(30000000, 30000000, false, false), 100);
    EXPECT_EQ(ProgressPercent(15000000, 30000000, true, false), 55);
}
