// The mode-2 default tables: known rows of each table.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "vela/bp.h"

namespace moxtest {
namespace {

const uint8_t* const kTables = mox::bpDefaultTables();
constexpr int kCnLen = 0, kAddLen = 267, kMbLen = 564, kMs = 5748, kColPosi = 5952;

// First row of a table whose key bytes match; 15 (D) and 25 (K) are wildcards.
const uint8_t* findRow(int offset, int rows, int stride, int keys, const int* key)
{
    for (int r = 0; r < rows; ++r) {
        const uint8_t* row = kTables + offset + r * stride;
        bool match = true;
        for (int k = 0; k < keys; ++k)
            match = match && (row[k] == key[k] || (k == 1 && row[k] == 15 && offset != kCnLen) ||
                              (k == 2 && row[k] == 25));
        if (match) return row;
    }
    return nullptr;
}

int addLenBits(int a, int d)
{
    int key[2] = {a, d};
    const uint8_t* row = findRow(kAddLen, 99, 3, 2, key);
    return row == nullptr ? -1 : row[2];
}

TEST(VelaBpTables, FixedRows)
{
    const struct {
        int a, t, bits;
    } palette[] = {{0, 0, 18}, {0, 1, 4}, {33, 0, 2}, {13, 3, 8 * 9 - 6 * 4}};
    for (const auto& c : palette) {
        int key[2] = {c.a, c.t};
        const uint8_t* row = findRow(kCnLen, 89, 3, 2, key);
        ASSERT_NE(row, nullptr) << "cn_len_TBL (" << c.a << "," << c.t << ")";
        EXPECT_EQ(row[2], c.bits) << "cn_len_TBL (" << c.a << "," << c.t << ")";
    }
    EXPECT_EQ(addLenBits(30, 3), 5);
    EXPECT_EQ(addLenBits(27, 9), 0);
    EXPECT_EQ(addLenBits(33, 0), 0);

    const uint8_t* ms22 = kTables + kMs + 22 * 6;
    EXPECT_EQ((std::vector<int>{ms22[0], ms22[1], ms22[2], ms22[3], ms22[4], ms22[5]}),
              (std::vector<int>{22, 1, 1, 2, 2, 5}));

    // (A, D, K) -> map types, n, groups, map indices.
    const struct {
        int key[3];
        uint8_t want[15];
    } maps[] = {
        {{0, 7, 31}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4}},
        {{3, 2, 31}, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 4, 4, 4}},
        {{4, 9, 31}, {2, 0, 0, 0, 3, 1, 1, 0, 0, 0, 0, 0, 4, 4, 4}},
        {{19, 4, 31}, {1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}},
        {{22, 13, 0}, {2, 2, 0, 0, 6, 1, 2, 2, 1, 0, 1, 0, 0, 1, 4}},
        {{33, 0, 31}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4, 4}},
    };
    for (const auto& c : maps) {
        const uint8_t* row = findRow(kMbLen, 288, 18, 3, c.key);
        ASSERT_NE(row, nullptr) << "mb_len_TBL (" << c.key[0] << "," << c.key[1] << "," << c.key[2] << ")";
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(row[3 + i], c.want[i]) << "mb_len_TBL (" << c.key[0] << "," << c.key[1] << ","
                                             << c.key[2] << ") byte " << 3 + i;
    }
}

}  // namespace
}  // namespace moxtest
