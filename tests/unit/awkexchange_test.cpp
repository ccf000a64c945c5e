#include <unistd.h>

#include <gtest/gtest.h>

#include "awk_exchange.h"

TEST(AwkExchange, RecognisesAnAwkThatAcceptsDashE) {
    EXPECT_TRUE(awk_accepts_option_e(AWK_COMMAND));
    EXPECT_FALSE(awk_accepts_option_e("/nonexistent/awk"));
    // An awk without -e, where one is installed.
    if (access("/usr/bin/mawk", X_OK) == 0) {
        EXPECT_FALSE(awk_accepts_option_e("/usr/bin/mawk"));
    }
}

TEST(AwkExchange, DecisionRule) {
    EXPECT_FALSE(awk_result_is_true("", 0));
    EXPECT_FALSE(awk_result_is_true("0", 1));
    EXPECT_TRUE(awk_result_is_true("0.0", 3));
    EXPECT_TRUE(awk_result_is_true("00", 2));
    EXPECT_TRUE(awk_result_is_true(" ", 1));
    EXPECT_TRUE(awk_result_is_true("\0"
                                   "0",
                                   2));
}
