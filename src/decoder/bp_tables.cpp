// Default tables of the mode-2 (bp) tag section, one 6672-byte block that
// Init copies into the context and the caller may partly replace. Record
// layout, each table searched from its first row:
//   cn_len_TBL   89 x 3   at    0: A, t, palette bits
//   add_len_TBL  99 x 3   at  267: A, D (15 = any), bits of K
//   mb_len_TBL  288 x 18  at  564: A, D (15 = any), K (25 = any), 4 map types,
//                                  permutation bits, 5 groups, 5 map indices
//   ms_TBL       34 x 6   at 5748: A, palette size code of entities 0..4 (5 = absent)
//   col_posi    120 x 6   at 5952: E, position of entities 0..4
// The block is built at compile time from the rules of the format.
#include <array>
#include <cstring>

#include "decoder/decoder.h"

namespace mox {

namespace {

constexpr uint32_t kCnLenOffset = 0, kCnLenRows = 89, kCnLenBytes = 3;
constexpr uint32_t kAddLenOffset = 267, kAddLenRows = 99, kAddLenBytes = 3;
constexpr uint32_t kMbLenOffset = 564, kMbLenRows = 288, kMbLenBytes = 18;
constexpr uint32_t kMsOffset = 5748, kMsRows = 34, kMsBytes = 6;
constexpr uint32_t kColPosiOffset = 5952, kColPosiRows = 120, kColPosiBytes = 6;
static_assert(kColPosiOffset + kColPosiRows * kColPosiBytes == kBpTableBytes);

constexpr uint8_t kAny = 15;       // D wildcard
constexpr uint8_t kAnyK = 25;      // K wildcard
constexpr uint8_t kAbsent = 5;     // ms_TBL: entity not present
constexpr uint8_t kNoRow = 0xFF;   // key of an unused row: matches no A

// Palette size codes (palette of s + 1 values) of the present entities.
constexpr uint8_t kEntitySizes[kMsRows][5] = {
    {1, 5, 5, 5, 5}, {2, 5, 5, 5, 5}, {3, 5, 5, 5, 5}, {1, 1, 5, 5, 5}, {1, 2, 5, 5, 5},
    {1, 3, 5, 5, 5}, {2, 2, 5, 5, 5}, {2, 3, 5, 5, 5}, {3, 3, 5, 5, 5}, {1, 1, 1, 5, 5},
    {1, 1, 2, 5, 5}, {1, 1, 3, 5, 5}, {1, 2, 2, 5, 5}, {1, 2, 3, 5, 5}, {1, 3, 3, 5, 5},
    {2, 2, 2, 5, 5}, {2, 2, 3, 5, 5}, {2, 3, 3, 5, 5}, {3, 3, 3, 5, 5}, {1, 1, 1, 1, 5},
    {1, 1, 1, 2, 5}, {1, 1, 1, 3, 5}, {1, 1, 2, 2, 5}, {1, 1, 2, 3, 5}, {1, 1, 3, 3, 5},
    {1, 2, 2, 2, 5}, {1, 2, 2, 3, 5}, {1, 2, 3, 3, 5}, {1, 3, 3, 3, 5}, {2, 2, 2, 2, 5},
    {1, 1, 1, 1, 1}, {1, 1, 1, 1, 2}, {1, 1, 1, 1, 3}, {5, 5, 5, 5, 5},
};

struct AddLen {
    uint8_t a, d, bits;
};
constexpr AddLen kAddLen[] = {
    {0, 1, 0},   {0, 14, 3},  {1, kAny, 0}, {2, kAny, 0}, {3, 1, 0},   {3, 2, 0},   {3, 14, 3},
    {4, kAny, 0}, {5, kAny, 0}, {6, kAny, 0}, {7, kAny, 0}, {8, kAny, 0}, {9, 1, 0},   {9, 2, 2},
    {9, 3, 0},   {9, 14, 3},  {10, 6, 0},  {10, 7, 0},  {10, 9, 0},  {10, 10, 1}, {11, 6, 0},
    {11, 7, 0},  {11, 9, 0},  {11, 10, 1}, {12, 6, 0},  {12, 9, 0},  {12, 12, 1}, {13, 9, 0},
    {13, 10, 0}, {13, 12, 1}, {14, 6, 0},  {14, 9, 0},  {14, 12, 1}, {15, 5, 0},  {15, 8, 2},
    {16, 8, 0},  {16, 9, 0},  {16, 12, 1}, {17, 8, 0},  {17, 9, 0},  {17, 12, 1}, {18, 5, 0},
    {18, 8, 2},  {19, 1, 0},  {19, 2, 3},  {19, 3, 3},  {19, 4, 0},  {19, 14, 3}, {20, 6, 0},
    {20, 7, 2},  {20, 9, 0},  {20, 10, 3}, {20, 11, 2}, {21, 6, 0},  {21, 7, 2},  {21, 9, 0},
    {21, 10, 3}, {21, 11, 2}, {22, 6, 0},  {22, 7, 0},  {22, 9, 0},  {22, 10, 1}, {22, 12, 1},
    {22, 13, 1}, {23, 9, 0},  {23, 10, 2}, {23, 11, 0}, {23, 12, 1}, {23, 13, 1}, {24, 6, 0},
    {24, 7, 0},  {24, 9, 0},  {24, 10, 1}, {24, 12, 1}, {24, 13, 1}, {25, 6, 0},  {25, 9, 0},
    {25, 12, 3}, {26, kAny, 0}, {27, kAny, 0}, {28, kAny, 0}, {29, 5, 0},  {29, 8, 3},  {30, 1, 0},
    {30, 2, 4},  {30, 3, 5},  {30, 4, 4},  {30, 14, 3}, {31, 6, 0},  {31, 7, 3},  {31, 9, 0},
    {31, 10, 4}, {31, 11, 5}, {32, 6, 0},  {32, 7, 3},  {32, 9, 0},  {32, 10, 4}, {32, 11, 5},
    {33, kAny, 0},
};
static_assert(sizeof(kAddLen) / sizeof(kAddLen[0]) == kAddLenRows);

struct MbLen {
    uint8_t a, d, k;
    uint8_t mapTypes[4];
    uint8_t permutationBits;
    uint8_t groups[5];
    uint8_t mapIndex[5];
};
// The rows that the format fixes; the remaining rows of the 288 are unused.
constexpr MbLen kMbLen[] = {
    {0, kAny, kAnyK, {1, 0, 0, 0}, 0, {0, 0, 0, 0, 0}, {0, 4, 4, 4, 4}},
    {1, kAny, kAnyK, {2, 0, 0, 0}, 0, {0, 0, 0, 0, 0}, {0, 4, 4, 4, 4}},
    {2, kAny, kAnyK, {2, 0, 0, 0}, 0, {0, 0, 0, 0, 0}, {0, 4, 4, 4, 4}},
    {3, 1, kAnyK, {1, 0, 0, 0}, 0, {0, 0, 0, 0, 0}, {0, 0, 4, 4, 4}},
    {3, 2, kAnyK, {1, 1, 0, 0}, 0, {0, 0, 0, 0, 0}, {0, 1, 4, 4, 4}},
    {4, 9, kAnyK, {2, 0, 0, 0}, 3, {1, 1, 0, 0, 0}, {0, 0, 4, 4, 4}},
    {19, 4, kAnyK, {1, 1, 1, 1}, 0, {0, 0, 0, 0, 0}, {0, 1, 2, 3, 4}},
    {22, 13, 0, {2, 2, 0, 0}, 6, {1, 2, 2, 1, 0}, {1, 0, 0, 1, 4}},
    {33, kAny, kAnyK, {0, 0, 0, 0}, 0, {0, 0, 0, 0, 0}, {4, 4, 4, 4, 4}},
};

constexpr uint8_t entityCount(uint32_t a)
{
    uint8_t n = 0;
    for (uint8_t s : kEntitySizes[a]) n += s != kAbsent ? 1 : 0;
    return n;
}

// Palette bits of row A when the entity on the tag plane has size code t
// (t = 0: none is, and a 2-bit uniform tag value follows).
constexpr uint8_t paletteBits(uint32_t a, uint8_t t)
{
    uint32_t bits = 0;
    for (uint8_t s : kEntitySizes[a])
        if (s != kAbsent) bits += (s + 1u) * 8u;
    if (t == 0) return static_cast<uint8_t>(bits + 2);
    return static_cast<uint8_t>(bits - (t + 1u) * 6u);
}

constexpr std::array<uint8_t, kBpTableBytes> buildDefaultTables()
{
    std::array<uint8_t, kBpTableBytes> block{};
    uint32_t row = 0;
    for (uint32_t a = 0; a < kMsRows; ++a) {
        uint8_t seen[4] = {0, 0, 0, 0};
        auto put = [&](uint8_t t) {
            uint32_t at = kCnLenOffset + row * kCnLenBytes;
            block[at] = static_cast<uint8_t>(a);
            block[at + 1] = t;
            block[at + 2] = paletteBits(a, t);
            ++row;
        };
        if (entityCount(a) < 5) put(0);
        for (uint8_t s : kEntitySizes[a])
            if (s != kAbsent && !seen[s]) {
                seen[s] = 1;
                put(s);
            }
    }
    for (uint32_t i = 0; i < kAddLenRows; ++i) {
        uint32_t at = kAddLenOffset + i * kAddLenBytes;
        block[at] = kAddLen[i].a;
        block[at + 1] = kAddLen[i].d;
        block[at + 2] = kAddLen[i].bits;
    }
    constexpr uint32_t kMbGiven = sizeof(kMbLen) / sizeof(kMbLen[0]);
    for (uint32_t i = 0; i < kMbLenRows; ++i) {
        uint32_t at = kMbLenOffset + i * kMbLenBytes;
        if (i >= kMbGiven) {
            block[at] = kNoRow;
            continue;
        }
        const MbLen& r = kMbLen[i];
        block[at] = r.a;
        block[at + 1] = r.d;
        block[at + 2] = r.k;
        for (int m = 0; m < 4; ++m) block[at + 3 + m] = r.mapTypes[m];
        block[at + 7] = r.permutationBits;
        for (int e = 0; e < 5; ++e) block[at + 8 + e] = r.groups[e];
        for (int e = 0; e < 5; ++e) block[at + 13 + e] = r.mapIndex[e];
    }
    for (uint32_t a = 0; a < kMsRows; ++a) {
        uint32_t at = kMsOffset + a * kMsBytes;
        block[at] = static_cast<uint8_t>(a);
        for (int e = 0; e < 5; ++e) block[at + 1 + e] = kEntitySizes[a][e];
    }
    // col_posi row E: the E-th permutation of (0..4) in lexicographic order.
    uint8_t perm[5] = {0, 1, 2, 3, 4};
    for (uint32_t e = 0; e < kColPosiRows; ++e) {
        uint32_t at = kColPosiOffset + e * kColPosiBytes;
        block[at] = static_cast<uint8_t>(e);
        for (int i = 0; i < 5; ++i) block[at + 1 + i] = perm[i];
        int i = 3;  // next permutation
        while (i >= 0 && perm[i] > perm[i + 1]) --i;
        if (i < 0) break;
        int j = 4;
        while (perm[j] < perm[i]) --j;
        uint8_t swap = perm[i];
        perm[i] = perm[j];
        perm[j] = swap;
        for (int lo = i + 1, hi = 4; lo < hi; ++lo, --hi) {
            swap = perm[lo];
            perm[lo] = perm[hi];
            perm[hi] = swap;
        }
    }
    return block;
}

constexpr std::array<uint8_t, kBpTableBytes> kDefaultBlock = buildDefaultTables();
static_assert(kDefaultBlock[kCnLenOffset + (kCnLenRows - 1) * kCnLenBytes] == 33);
static_assert(kDefaultBlock[kCnLenOffset + 2] == 18 && kDefaultBlock[kCnLenOffset + 5] == 4);
static_assert(kDefaultBlock[kColPosiOffset + 119 * kColPosiBytes + 1] == 4);

// Value columns the caller may replace: {first value byte, rows, record bytes, value bytes}.
struct Overlay {
    uint32_t offset, rows, stride, bytes;
};
constexpr Overlay kOverlays[] = {
    {kCnLenOffset + 2, kCnLenRows, kCnLenBytes, 1},
    {kAddLenOffset + 2, kAddLenRows, kAddLenBytes, 1},
    {kMbLenOffset + 3, kMbLenRows, kMbLenBytes, 15},
    {kMsOffset + 1, kMsRows, kMsBytes, 5},
    {kColPosiOffset + 1, kColPosiRows, kColPosiBytes, 5},
};

}  // namespace

const uint8_t* bpDefaultTables()
{
    return kDefaultBlock.data();
}

void overlayBpTables(uint8_t* tables, const uint8_t* caller)
{
    for (const Overlay& o : kOverlays)
        for (uint32_t r = 0; r < o.rows; ++r) {
            uint32_t at = o.offset + r * o.stride;
            std::memcpy(tables + at, caller + at, o.bytes);
        }
}

}  // namespace mox
