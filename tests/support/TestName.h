// The running GoogleTest case as "<suite>.<test>", for naming what a test owns (its folder).
// Header only, for test programs that link GoogleTest.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace velsupport {

// "<suite>.<test>" of the running test; "no-test" outside of one.
inline std::string CurrentTestName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name() : std::string("no-test");
}

}  // namespace velsupport
