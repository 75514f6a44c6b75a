// Allocator and callback setters: scheme switching and null refusal.
#include <gtest/gtest.h>

#include "moxcodec.h"
#include "support/allocator.h"

using moxtest::countingAlloc;
using moxtest::countingFree;
using moxtest::plainAlloc;
using moxtest::plainFree;

TEST(AllocatorSetters, LastSchemeWinsAndNullsChangeNothing)
{
    moxtest::CountingAllocator counter;
    SystemParam sys{};
    ASSERT_EQ(MoxDecSetupPartMalloc(countingAlloc, countingFree, &counter, &sys), 0);
    ASSERT_EQ(MoxDecSetupMalloc(plainAlloc, plainFree, &sys), 0);
    EXPECT_EQ(sys.partAllocFunc, nullptr);
    EXPECT_EQ(sys.partFreeFunc, nullptr);
    EXPECT_EQ(sys.allocUser, nullptr);
    EXPECT_EQ(sys.allocFunc, &plainAlloc);

    EXPECT_EQ(MoxDecSetupPartMalloc(countingAlloc, countingFree, nullptr, &sys), MOX_ERR_NULL);
    EXPECT_EQ(MoxDecSetupMalloc(plainAlloc, nullptr, &sys), MOX_ERR_NULL);
    EXPECT_EQ(sys.allocFunc, &plainAlloc) << "a refused call changes nothing";
    EXPECT_EQ(sys.freeFunc, &plainFree);

    EncodeSystemParam esys{};
    ASSERT_EQ(MoxEncSetupMalloc(plainAlloc, plainFree, &esys), 0);
    ASSERT_EQ(MoxEncSetupPartMalloc(countingAlloc, countingFree, &counter, &esys), 0);
    EXPECT_EQ(esys.allocFunc, nullptr);
    EXPECT_EQ(esys.freeFunc, nullptr);
    EXPECT_EQ(esys.allocUser, &counter);
    EXPECT_EQ(MoxEncSetupMalloc(nullptr, plainFree, &esys), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncSetupPartMalloc(countingAlloc, countingFree, &counter, nullptr), MOX_ERR_NULL);
}

TEST(CallbackSetters, NullArgumentsAreRefused)
{
    int32_t (*input)(uint8_t*, uintptr_t, uint32_t, int32_t, void*) =
        [](uint8_t*, uintptr_t, uint32_t, int32_t, void*) { return 0; };
    int user = 0;
    EXPECT_EQ(MoxDecSetInFunc(nullptr, input, &user), MOX_ERR_NULL);
    EXPECT_EQ(MoxDecSetOutFunc(nullptr, input, &user), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncSetInFunc(nullptr, input, &user), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncSetOutFunc(nullptr, input, &user), MOX_ERR_NULL);
}
