#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "result/result.h"
#include "support/platform_expectations.h"

namespace {

TEST(ResultMessage, EveryTextButSuccessEndsWithOneSpace) {
    EXPECT_STREQ("No errors.", result_message(0));
    EXPECT_STREQ("File not found. ", result_message(23));
    EXPECT_EQ(16u, std::strlen(result_message(23)));
    EXPECT_STREQ("End of file unexpectedly reached while trying to read essential data (truncated data?). ",
                 result_message(22));
    EXPECT_STREQ("The requested event, event group, event category or event property could not be found. ",
                 result_message(84));
    for (int code = 1; code <= 84; ++code) {
        const std::string text = result_message(code);
        ASSERT_GE(text.size(), 2u) << code;
        EXPECT_EQ(' ', text.back()) << code;
        EXPECT_NE(' ', text[text.size() - 2]) << code;
    }
}

TEST(ResultMessage, CodesOutsideTheTableGetTheDefault) {
    EXPECT_STREQ("Unknown error.", result_message(85));
    EXPECT_STREQ("Unknown error.", result_message(-1));
    EXPECT_STREQ("Unknown error.", result_message(INT32_MIN));
    EXPECT_STREQ("Unknown error.", result_message(INT32_MAX));
}

TEST(CheckResult, SuccessReturnsAndFailureEndsTheProcessWithStatusMinusOne) {
    check_result(FMOD_OK);
    EXPECT_EXIT(check_result(23), testing::ExitedWithCode(kExitMinusOne), "");
    EXPECT_EXIT(check_result(-1), testing::ExitedWithCode(kExitMinusOne), "");
}

}  // namespace
