#include "tsock.h"

#include <gtest/gtest.h>

TEST(TSockTest, ErrorName)
{
    EXPECT_EQ(TSock::ErrorName(10061), "WSAECONNREFUSED");
}
