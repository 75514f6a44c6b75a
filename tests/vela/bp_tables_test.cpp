// The mode-2 default tables: known rows of each table, found by their keys.
#include <gtest/gtest.h>

#include <vector>

#include "vela/bp.h"
#include "vela/variant_writer.h"

namespace moxtest {
namespace {

TEST(VelaBpTables, KnownRows)
{
    const uint8_t* tables = mox::bpDefaultTables();
    // Table 0 cn_len_TBL (A, t) -> palette bits; 1 add_len_TBL (A, D) -> K
    // bits; 2 mb_len_TBL (A, D, K) -> map types, n, groups, map indices.
    const struct {
        int table, a, second, third;
        std::vector<uint8_t> values;
    } rows[] = {
        {0, 0, 0, 0, {18}},
        {0, 0, 1, 0, {4}},
        {0, 33, 0, 0, {2}},
        {0, 13, 3, 0, {8 * 9 - 6 * 4}},
        {1, 30, 3, 0, {5}},
        {1, 27, 9, 0, {0}},
        {1, 33, 0, 0, {0}},
        {2, 0, 7, 31, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4}},
        {2, 3, 2, 31, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 4, 4, 4}},
        {2, 4, 9, 31, {2, 0, 0, 0, 3, 1, 1, 0, 0, 0, 0, 0, 4, 4, 4}},
        {2, 19, 4, 31, {1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}},
        {2, 22, 13, 0, {2, 2, 0, 0, 6, 1, 2, 2, 1, 0, 1, 0, 0, 1, 4}},
        {2, 33, 0, 31, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4, 4}},
    };
    for (const auto& r : rows) {
        const uint8_t* row = bpFindRow(tables, r.table, r.a, r.second, r.third);
        ASSERT_NE(row, nullptr) << "table " << r.table << " (" << r.a << "," << r.second << "," << r.third << ")";
        const int keys = r.table == 2 ? 3 : 2;
        EXPECT_EQ(std::vector<uint8_t>(row + keys, row + keys + r.values.size()), r.values)
            << "table " << r.table << " (" << r.a << "," << r.second << "," << r.third << ")";
    }
    // ms_TBL row 22: A, then the palette size code of entities 0..4.
    const uint8_t* ms22 = tables + mox::kBpMsOffset + 22 * mox::kBpMsBytes;
    EXPECT_EQ(std::vector<uint8_t>(ms22, ms22 + 6), (std::vector<uint8_t>{22, 1, 1, 2, 2, 5}));
}

}  // namespace
}  // namespace moxtest
