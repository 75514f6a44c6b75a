#include <gtest/gtest.h>

#include "frame/errlog.h"
#include "moxcodec.h"

TEST(Version, TextAndNumber)
{
    EXPECT_EQ(MoxGetVersionNo(), 20070827.011);
}
