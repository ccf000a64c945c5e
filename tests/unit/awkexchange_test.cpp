#include <gtest/gtest.h>

#include "awk_exchange.h"

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
