// The bp tag section and the bp and copier MCU decoders, against the
// test-side writer: every key a stream can carry round-trips, hostile
// sections and MCUs decode to zeros or fail cleanly, and the printed
// messages are the ones a malformed section calls for.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "vela/bp.h"
#include "vela/variant_writer.h"

namespace moxtest {
namespace {

const uint8_t* const kTables = mox::bpDefaultTables();

// A tag whose maps, palettes and permutations are random but valid for the
// key: a map's classes stay below what every entity on it can resolve.
BpTag makeTag(const uint8_t* tables, int a, int d, int k, int e, bool b, uint32_t seed)
{
    std::mt19937 rng(seed);
    BpTag tag;
    tag.a = a, tag.d = d, tag.k = k, tag.e = e, tag.b = b;
    const BpLayout l = bpLayout(tables, a, d, k, e);
    const uint8_t* groups = l.row + 8;
    const uint8_t* mapIndex = l.row + 13;
    int limit[4] = {1, 1, 1, 1};
    for (int m = 0; m < 4; ++m) {
        bool read = d == 14 ? m == 0 : d != 0 && l.row[3 + m] != 0;
        if (read) limit[m] = d == 14 ? 2 : 1 << l.row[3 + m];
    }
    for (int i = 0; i < 5; ++i) {
        if (l.size[i] == 5) continue;
        int classes = l.size[i] + 1;
        for (int j = 4; j > i && groups[i] != 0; --j)
            if (groups[j] == groups[i] && l.size[j] != 5) classes = l.size[j] + 1;  // the group's first member
        if (mapIndex[i] < 4) limit[mapIndex[i]] = std::min(limit[mapIndex[i]], classes);
        for (int j = 0; j < 4; ++j) {
            tag.palette[i][j] = uint8_t(rng() % (l.position[i] == 0 ? 4 : 256));
            tag.mapping[i][j] = uint8_t(rng() % (l.size[i] + 1));
        }
    }
    for (int m = 0; m < 4; ++m)
        for (int p = 0; p < 64; ++p) tag.maps[m][p] = uint8_t(rng() % limit[m]);
    if (d == 14) {  // runs start with class 0; make the map runs of varying length
        for (int p = 0; p < 64; ++p) tag.maps[0][p] = uint8_t((p * p / 7 + seed) / 5 % 2);
        const uint8_t* scan = scanOrder(k);
        if (tag.maps[0][scan[0]] != 0)
            for (auto& c : tag.maps[0]) c ^= 1;
    }
    tag.uniformTag = uint8_t(rng() % 4);
    return tag;
}

struct Key {
    int a, d, k;
};

// Every (A, D, K) that resolves through add_len_TBL and mb_len_TBL.
std::vector<Key> validKeys()
{
    std::vector<Key> keys;
    for (int a = 0; a <= 33; ++a)
        for (int d = 0; d <= 14; ++d) {
            if (a == 33 && d != 0) continue;
            const uint8_t* add = bpFindRow(kTables, 1, a, d, 0);
            if (add == nullptr) continue;
            int count = add[2] == 0 ? 1 : 1 << add[2];
            for (int n = 0; n < count; ++n) {
                int k = add[2] == 0 ? 31 : n;
                if (d == 14 && k > 5) continue;  // scan orders 0..5
                if (bpFindRow(kTables, 2, a, d, k) != nullptr) keys.push_back({a, d, k});
            }
        }
    return keys;
}

std::string captureStdout(const std::function<void()>& run)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(VelaBpTag, EveryKeyRoundTrips)
{
    std::vector<Key> keys = validKeys();
    bool seenA[34] = {};
    for (const Key& key : keys) seenA[key.a] = true;
    for (int a = 0; a <= 33; ++a) EXPECT_TRUE(seenA[a]) << "no valid key for A = " << a;

    for (const Key& key : keys)
        for (int e : {0, 119, (key.a * 7 + key.d * 3 + key.k) % 120}) {
            BpTag tag = makeTag(kTables, key.a, key.d, key.k, e, (key.a + e) % 3 == 0,
                                uint32_t(key.a * 1000 + key.d * 50 + key.k + e));
            std::vector<uint8_t> section = writeBpTag(kTables, tag);
            BpPlanes want = bpExpected(kTables, tag);
            uint8_t tagPlane[64];
            int32_t palettes[4][64];
            uint32_t flags = 99;
            std::string printed = captureStdout([&] {
                mox::decodeBpTag(kTables, section.data(), uint32_t(section.size()), tagPlane, palettes, &flags);
            });
            std::string where = "A " + std::to_string(key.a) + " D " + std::to_string(key.d) + " K " +
                                std::to_string(key.k) + " E " + std::to_string(e);
            ASSERT_EQ(printed, "") << where;
            ASSERT_EQ(flags, want.flags) << where;
            for (int p = 0; p < 64; ++p) {
                ASSERT_EQ(tagPlane[p], want.values[0][p]) << where << " tag pixel " << p;
                for (int b = 0; b < 4; ++b)
                    if (want.flags >> (3 - b) & 1)
                        ASSERT_EQ(palettes[b][p], want.values[b + 1][p]) << where << " block " << b << " pixel " << p;
            }
        }
}

}  // namespace
}  // namespace moxtest
