// The mode-2 default tables: the rows the format fixes, and the rules that
// generate the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
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

// Every mb_len_TBL row follows the map-mode rules: map types by D, each
// present entity on a map of its kind, entities sharing a map with equal
// palette sizes or joined by a permutation group, n from the groups, one
// row per key, K counting the assignments from 0. col_posi and cn_len_TBL
// follow their generating rules.
TEST(VelaBpTables, RowsFollowTheirRules)
{
    std::array<int, 5> perm{0, 1, 2, 3, 4};
    for (int e = 0; e < 120; ++e, std::next_permutation(perm.begin(), perm.end()))
        for (int i = 0; i < 5; ++i) ASSERT_EQ(kTables[kColPosi + e * 6 + 1 + i], perm[i]) << "col_posi row " << e;

    const uint8_t* ms = kTables + kMs;
    int cnRows = 0;
    for (int r = 0; r < 89; ++r, ++cnRows) {
        const uint8_t* row = kTables + kCnLen + r * 3;
        int bits = 0, onTag = -1;
        for (int i = 0; i < 5; ++i) {
            int s = ms[row[0] * 6 + 1 + i];
            if (s == 5) continue;
            bits += (s + 1) * (s == row[1] && onTag < 0 ? 2 : 8);
            if (s == row[1] && onTag < 0) onTag = i;
        }
        if (row[1] == 0) bits += 2;
        EXPECT_EQ(row[2], bits) << "cn_len_TBL (" << int(row[0]) << ", " << int(row[1]) << ")";
    }

    const uint8_t typesOf[15][4] = {{0, 0, 0, 0}, {1, 0, 0, 0}, {1, 1, 0, 0}, {1, 1, 1, 0}, {1, 1, 1, 1},
                                    {2, 0, 0, 0}, {1, 2, 0, 0}, {1, 1, 2, 0}, {2, 2, 0, 0}, {2, 0, 0, 0},
                                    {1, 2, 0, 0}, {1, 1, 2, 0}, {2, 2, 0, 0}, {2, 2, 0, 0}, {1, 0, 0, 0}};
    std::set<std::array<int, 3>> keys;
    std::map<std::pair<int, int>, int> assignments;  // (A, D) -> rows with K counted
    int used = 0;
    for (int r = 0; r < 288; ++r) {
        const uint8_t* row = kTables + kMbLen + r * 18;
        if (row[0] > 33) continue;  // unused row
        ++used;
        const int a = row[0], d = row[1], k = row[2];
        std::string where = "mb_len_TBL (" + std::to_string(a) + ", " + std::to_string(d) + ", " +
                            std::to_string(k) + ")";
        EXPECT_TRUE(keys.insert({a, d, k}).second) << where << " twice";
        const uint8_t* types = row + 3;
        const uint8_t* groups = row + 8;
        const uint8_t* maps = row + 13;
        if (d != 15) {
            for (int m = 0; m < 4; ++m) EXPECT_EQ(types[m], typesOf[d][m]) << where << " map " << m;
            int bits = addLenBits(a, d);
            EXPECT_GE(bits, 0) << where << ": no add_len_TBL row";
            if (d != 14 && bits > 0) {
                EXPECT_EQ(k, (assignments[{a, d}]++)) << where << ": K counts the assignments";
                EXPECT_LT(k, 1 << bits) << where;
            } else {
                EXPECT_EQ(k, 25) << where;
            }
        }
        bool mapUsed[4] = {};
        int firstSize[4] = {-1, -1, -1, -1}, firstGroup[4] = {-1, -1, -1, -1};
        int bits = 0, groupClasses[3] = {};
        for (int i = 4; i >= 0; --i) {
            int s = ms[a * 6 + 1 + i];
            if (s == 5) {
                EXPECT_EQ(maps[i], 4) << where << " absent entity " << i;
                EXPECT_EQ(groups[i], 0) << where << " absent entity " << i;
                continue;
            }
            ASSERT_LT(maps[i], 4) << where << " entity " << i << " has no map";
            int m = maps[i];
            ASSERT_NE(types[m], 0) << where << " entity " << i << " on a map that is not sent";
            mapUsed[m] = true;
            if (types[m] == 1) EXPECT_EQ(s, 1) << where << " entity " << i << " needs two classes";
            if (firstSize[m] < 0) {
                firstSize[m] = s, firstGroup[m] = groups[i];
            } else if (firstSize[m] != s || groups[i] != 0) {
                EXPECT_NE(groups[i], 0) << where << " entity " << i << ": sizes differ on map " << m;
                EXPECT_EQ(groups[i], firstGroup[m]) << where << " entity " << i << ": one group per map";
            }
            if (groups[i] != 0) {
                EXPECT_TRUE(d >= 9 && d <= 13) << where << ": groups only in map modes 9..13";
                if (groupClasses[groups[i]] == 0) groupClasses[groups[i]] = s + 1;
                else bits += groupClasses[groups[i]] * (s == 1 ? 1 : 2);
            }
        }
        for (int m = 0; m < 4; ++m)
            if (types[m] != 0) EXPECT_TRUE(mapUsed[m]) << where << " map " << m << " is sent but unused";
        EXPECT_EQ(row[7], bits) << where << ": permutation bits";
    }
    // Every (A, D) that add_len_TBL admits leads to at least one assignment.
    for (int r = 0; r < 99; ++r) {
        const uint8_t* row = kTables + kAddLen + r * 3;
        int key[3] = {row[0], row[1] == 15 ? (row[0] == 33 ? 0 : 5) : row[1], row[2] == 0 ? 31 : 0};
        if (row[1] == 15 && row[0] >= 4 && row[0] <= 28) continue;  // the sets' own rows come with their D
        EXPECT_NE(findRow(kMbLen, 288, 18, 3, key), nullptr) << "add_len_TBL (" << int(row[0]) << ", "
                                                             << int(row[1]) << ") has no map row";
    }
    EXPECT_EQ(cnRows, 89);
    EXPECT_LE(used, 288);
    // The entity sets each map mode is made for.
    const struct {
        int d;
        std::vector<int> sets;
    } modes[] = {{1, {3, 9, 19, 30}},  {2, {3, 9, 19, 30}}, {3, {9, 19, 30}}, {4, {19, 30}},
                 {5, {6, 8, 15, 18, 29}}, {13, {22, 23, 24}}, {14, {3, 9, 19, 30}}};
    for (const auto& m : modes)
        for (int a : m.sets) {
            int k = addLenBits(a, m.d) > 0 && m.d != 14 ? 0 : 25;
            EXPECT_TRUE(keys.count({a, m.d, k})) << "no mb_len_TBL row for A " << a << " D " << m.d;
        }
}

}  // namespace
}  // namespace moxtest
