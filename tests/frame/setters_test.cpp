// Allocator and callback setters: the last scheme set wins, and a call with
// a null argument is refused and changes nothing.
#include <gtest/gtest.h>

#include "moxcodec.h"
#include "support/allocator.h"

namespace moxtest {

TEST(Setters, LastSchemeWinsAndNullsAreRefused)
{
    CountingAllocator counter;
    SystemParam sys{};
    ASSERT_EQ(MoxDecSetupPartMalloc(countingAlloc, countingFree, &counter, &sys), 0);
    ASSERT_EQ(MoxDecSetupMalloc(plainAlloc, plainFree, &sys), 0);
    EXPECT_TRUE(sys.partAllocFunc == nullptr && sys.partFreeFunc == nullptr && sys.allocUser == nullptr);
    EXPECT_EQ(MoxDecSetupPartMalloc(countingAlloc, countingFree, nullptr, &sys), MOX_ERR_NULL);
    EXPECT_EQ(MoxDecSetupMalloc(plainAlloc, nullptr, &sys), MOX_ERR_NULL);
    EXPECT_TRUE(sys.allocFunc == &plainAlloc && sys.freeFunc == &plainFree) << "a refused call changes nothing";

    EncodeSystemParam esys{};
    ASSERT_EQ(MoxEncSetupMalloc(plainAlloc, plainFree, &esys), 0);
    ASSERT_EQ(MoxEncSetupPartMalloc(countingAlloc, countingFree, &counter, &esys), 0);
    EXPECT_TRUE(esys.allocFunc == nullptr && esys.freeFunc == nullptr && esys.allocUser == &counter);
    EXPECT_EQ(MoxEncSetupMalloc(nullptr, plainFree, &esys), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncSetupPartMalloc(countingAlloc, countingFree, &counter, nullptr), MOX_ERR_NULL);

    auto input = [](uint8_t*, uintptr_t, uint32_t, int32_t, void*) -> int32_t { return 0; };
    int user = 0;
    EXPECT_EQ(MoxDecSetInFunc(nullptr, input, &user), MOX_ERR_NULL);
    EXPECT_EQ(MoxDecSetOutFunc(nullptr, input, &user), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncSetInFunc(nullptr, input, &user), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncSetOutFunc(nullptr, input, &user), MOX_ERR_NULL);
}

}  // namespace moxtest
