#include <gtest/gtest.h>

#include <cstring>

#include "base/Result.h"
#include "report/MonitorProtocol.h"
#include "report/Progress.h"

TEST(ResultCodes, EveryKnownCodeHasItsMessageAndNumber) {
    EXPECT_STREQ(ResultMessage(Result::NoPackage), "此程序没有包含更新数据");
    EXPECT_STREQ(ResultMessage(Result::ClientUpToDate), "客户端已经是最新版本，无需执行更新");
    EXPECT_STREQ(ResultMessage(Result::PackageForMicro), "更新包是微端的，请重新下载全客户端补丁包或选择微端安装目录");
    for (int32_t code = -10000; code <= -9988; ++code) {
        const Result result = static_cast<Result>(code);
        ASSERT_NE(ResultMessage(result), nullptr);
        EXPECT_STRNE(ResultMessage(result), "发生未知错误！") << code;
        EXPECT_EQ(MonitorNumber(result), code + 10501);
    }
    EXPECT_EQ(MonitorNumber(Result::PackageDamaged), 501);
    EXPECT_EQ(MonitorNumber(Result::PackageForMicro), 513);
    // GBK at run time: two bytes per Chinese character.
    EXPECT_EQ(strlen(ResultMessage(Result::ClientUpToDate)), 34u);
}

TEST(ResultCodes, UnknownAndNonNegativeCodes) {
    EXPECT_STREQ(ResultMessage(static_cast<Result>(-5)), "发生未知错误！");
    EXPECT_EQ(MonitorNumber(static_cast<Result>(-5)), 10496);
    EXPECT_STREQ(ResultMessage(static_cast<Result>(-10001)), "发生未知错误！");
    EXPECT_STREQ(ResultMessage(static_cast<Result>(-9987)), "发生未知错误！");
    EXPECT_EQ(ResultMessage(static_cast<Result>(0)), nullptr);
    EXPECT_EQ(ResultMessage(static_cast<Result>(7)), nullptr);
}

TEST(ProgressPercent, SilentFormulas) {
    EXPECT_EQ(ProgressPercent(25, 0, ProgressPhase::Single), 0);
    EXPECT_EQ(ProgressPercent(25, 0, ProgressPhase::Building), 0);
    // Range 0..50.
    EXPECT_EQ(ProgressPercent(25, 50, ProgressPhase::Single), 50);
    EXPECT_EQ(ProgressPercent(25, 50, ProgressPhase::Building), 5);
    EXPECT_EQ(ProgressPercent(25, 50, ProgressPhase::Installing), 55);
    EXPECT_EQ(ProgressPercent(50, 50, ProgressPhase::Single), 100);
    EXPECT_EQ(ProgressPercent(50, 50, ProgressPhase::Building), 10);
    EXPECT_EQ(ProgressPercent(50, 50, ProgressPhase::Installing), 100);
    EXPECT_EQ(ProgressPercent(0, 50, ProgressPhase::Installing), 10);
    // Truncation toward zero at each step: 1*100/3 = 33, 33*9/10 = 29, +10.
    EXPECT_EQ(ProgressPercent(1, 3, ProgressPhase::Installing), 39);
    EXPECT_EQ(ProgressPercent(1, 3, ProgressPhase::Building), 3);
    EXPECT_EQ(ProgressPercent(2, 3, ProgressPhase::Single), 66);
}

TEST(ProgressPercent, LargeEntryCountsDoNotWrap) {
    EXPECT_EQ(ProgressPercent(30000000, 30000000, ProgressPhase::Single), 100);
    EXPECT_EQ(ProgressPercent(15000000, 30000000, ProgressPhase::Installing), 55);
}
