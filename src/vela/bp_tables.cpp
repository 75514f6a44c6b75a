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

#include "vela/bp.h"

namespace mox {

namespace {

constexpr uint8_t kAny = kBpAnyD;
constexpr uint8_t kAnyK = kBpAnyK;
constexpr uint8_t kAbsent = kBpAbsent;
constexpr uint8_t kNoRow = 0xFF;   // key of an unused row: matches no A

// Palette size codes (palette of s + 1 values) of the present entities.
constexpr uint8_t kEntitySizes[kBpMsRows][5] = {
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
static_assert(sizeof(kAddLen) / sizeof(kAddLen[0]) == kBpAddLenRows);

struct MbLen {
    uint8_t a, d, k;
    uint8_t mapTypes[4];
    uint8_t permutationBits;
    uint8_t groups[5];
    uint8_t mapIndex[5];
};

// mb_len_TBL. The map mode D fixes the map types; where several assignments
// of entities to maps fit D, K picks one (K counts them in the order below).
// Entities that share a 2-bit map with different palette sizes form a
// permutation group. Which entity sets A takes which D:
constexpr uint8_t kModeSets[15][22] = {
    {},                                                                        // D 0: none
    {3, 9, 19, 30},                                                            // 1-bit shared
    {3, 9, 19, 30},                                                            // 1-bit x2
    {9, 19, 30},                                                               // 1-bit x3
    {19, 30},                                                                  // 1-bit x4
    {6, 8, 15, 18, 29},                                                        // 2-bit shared
    {4, 5, 10, 11, 12, 14, 20, 21, 22, 24, 25, 28, 31, 32},                    // 1-bit, 2-bit
    {10, 11, 20, 21, 22, 24, 31, 32},                                          // 1-bit x2, 2-bit
    {6, 7, 8, 15, 16, 17, 18, 29},                                             // 2-bit x2
    {4, 5, 7, 10, 11, 12, 13, 14, 16, 17, 20, 21, 22, 23, 24, 25, 26, 27, 28, 31, 32},
    {10, 11, 13, 20, 21, 22, 23, 24, 31, 32},                                  // 1-bit, 2-bit group
    {20, 21, 23, 31, 32},                                                      // 1-bit x2, 2-bit group
    {12, 13, 14, 16, 17, 22, 23, 24, 25},                                      // 2-bit group, 2-bit
    {22, 23, 24},                                                              // two groups
    {3, 9, 19, 30},                                                            // run-coded map 0
};
constexpr uint8_t kModeTypes[15][4] = {
    {0, 0, 0, 0}, {1, 0, 0, 0}, {1, 1, 0, 0}, {1, 1, 1, 0}, {1, 1, 1, 1},
    {2, 0, 0, 0}, {1, 2, 0, 0}, {1, 1, 2, 0}, {2, 2, 0, 0}, {2, 0, 0, 0},
    {1, 2, 0, 0}, {1, 1, 2, 0}, {2, 2, 0, 0}, {2, 2, 0, 0}, {1, 0, 0, 0},
};
constexpr uint8_t kNoMap = kBpNoMap;

// One assignment: map index and permutation group per entity.
struct Assignment {
    uint8_t map[5];
    uint8_t group[5];
};

struct Entities {
    uint8_t count = 0;
    uint8_t index[5] = {};  // present entities, in entity order
    uint8_t size[5] = {};   // their size codes
};

constexpr Entities entitiesOf(uint32_t a)
{
    Entities e;
    for (uint8_t i = 0; i < 5; ++i)
        if (kEntitySizes[a][i] != kAbsent) {
            e.index[e.count] = i;
            e.size[e.count] = kEntitySizes[a][i];
            ++e.count;
        }
    return e;
}

// Whether the listed entities (label == want) have sizes all equal / at least two distinct.
constexpr int distinctSizes(const Entities& e, const uint8_t* label, uint8_t want)
{
    bool seen[4] = {};
    int n = 0;
    for (int i = 0; i < e.count; ++i)
        if (label[i] == want && !seen[e.size[i]]) {
            seen[e.size[i]] = true;
            ++n;
        }
    return n;
}

// The labels 0..blocks-1 over `count` items as a restricted growth string
// (first uses in order 0, 1, 2...), every label used. `code` enumerates
// blocks^count label vectors lexicographically.
constexpr bool growthString(uint32_t code, int count, int blocks, uint8_t* label)
{
    for (int i = count - 1; i >= 0; --i) {
        label[i] = static_cast<uint8_t>(code % blocks);
        code /= blocks;
    }
    int next = 0;
    for (int i = 0; i < count; ++i) {
        if (label[i] > next) return false;
        if (label[i] == next) ++next;
    }
    return next == blocks;
}

constexpr uint32_t power(uint32_t base, int exponent)
{
    uint32_t r = 1;
    for (int i = 0; i < exponent; ++i) r *= base;
    return r;
}

// Candidate `n` (0-based) of map mode d for the entity set; false when
// there are no more.
constexpr bool candidate(const Entities& e, uint32_t d, uint32_t n, Assignment* out)
{
    for (auto& m : out->map) m = kNoMap;
    for (auto& g : out->group) g = 0;
    uint8_t label[5] = {};
    uint32_t found = 0;
    auto take = [&](auto&& fill) {
        if (found++ != n) return false;
        for (int i = 0; i < e.count; ++i) fill(i);
        return true;
    };
    int twoValued = 0;
    for (int i = 0; i < e.count; ++i) twoValued += e.size[i] == 1;
    const int count = e.count;
    switch (d) {
    case 1: case 5: case 9: case 14:  // one shared map; a group when sizes differ
        if (n != 0) return false;
        for (int i = 0; i < count; ++i) {
            out->map[e.index[i]] = 0;
            out->group[e.index[i]] = d == 9 ? 1 : 0;
        }
        return true;
    case 2: case 3: case 4: case 8: {  // d or 2 maps, each holding one palette size
        int blocks = d == 8 ? 2 : static_cast<int>(d);
        for (uint32_t code = 0; code < power(blocks, count); ++code) {
            if (!growthString(code, count, blocks, label)) continue;
            bool uniform = true;
            for (int b = 0; b < blocks; ++b) uniform = uniform && distinctSizes(e, label, uint8_t(b)) == 1;
            if (uniform && take([&](int i) { out->map[e.index[i]] = label[i]; })) return true;
        }
        return false;
    }
    case 6:  // two-valued entities on the 1-bit map, the rest on the 2-bit map
        for (int i = 0; i < count; ++i) label[i] = e.size[i] == 1 ? 0 : 1;
        if (n != 0 || distinctSizes(e, label, 1) != 1) return false;
        for (int i = 0; i < count; ++i) out->map[e.index[i]] = label[i];
        return true;
    case 7:  // two-valued entities over two 1-bit maps, the rest on the 2-bit map
        for (uint32_t code = 0; code < power(2, twoValued); ++code) {
            uint8_t split[5] = {};
            if (!growthString(code, twoValued, 2, split)) continue;
            for (int i = 0, t = 0; i < count; ++i) label[i] = e.size[i] == 1 ? split[t++] : 2;
            if (take([&](int i) { out->map[e.index[i]] = label[i]; })) return true;
        }
        return false;
    case 10:  // a subset of the two-valued on the 1-bit map, a group on the 2-bit map
        for (uint32_t mask = 1; mask < power(2, twoValued); ++mask) {
            for (int i = 0, t = 0; i < count; ++i)
                label[i] = e.size[i] == 1 && ((mask >> t++) & 1) ? 0 : 1;
            if (distinctSizes(e, label, 1) < 2) continue;
            if (take([&](int i) {
                    out->map[e.index[i]] = label[i];
                    out->group[e.index[i]] = label[i];
                }))
                return true;
        }
        return false;
    case 11:  // two 1-bit maps, a group on the 2-bit map
        for (uint32_t code = 0; code < power(3, twoValued); ++code) {
            uint8_t split[5] = {};
            uint32_t c = code;
            bool used[3] = {};
            int firstBinary = -1;
            for (int t = twoValued - 1; t >= 0; --t) {
                split[t] = static_cast<uint8_t>(c % 3);
                c /= 3;
            }
            for (int t = 0; t < twoValued; ++t) {
                used[split[t]] = true;
                if (firstBinary < 0 && split[t] < 2) firstBinary = split[t];
            }
            if (!used[0] || !used[1] || firstBinary != 0) continue;
            for (int i = 0, t = 0; i < count; ++i) label[i] = e.size[i] == 1 ? split[t++] : 2;
            if (distinctSizes(e, label, 2) < 2) continue;  // the 2-bit map holds the group
            if (take([&](int i) {
                    out->map[e.index[i]] = label[i];
                    out->group[e.index[i]] = label[i] == 2 ? 1 : 0;
                }))
                return true;
        }
        return false;
    case 12:  // a group on map 0, one palette size on map 1: the maps' roles differ
    case 13:  // two groups, interchangeable maps; the first entity's group on map 1
        for (uint32_t step = 0; step < power(2, count); ++step) {
            uint32_t code = d == 12 ? step : power(2, count) - 1 - step;
            if (d == 12) {
                for (int i = 0; i < count; ++i) label[i] = static_cast<uint8_t>(code >> (count - 1 - i) & 1);
            } else if (!growthString(code, count, 2, label)) {
                continue;
            }
            bool ok = distinctSizes(e, label, 0) >= 2 &&
                      (d == 12 ? distinctSizes(e, label, 1) == 1 : distinctSizes(e, label, 1) >= 2);
            if (!ok) continue;
            if (take([&](int i) {
                    out->map[e.index[i]] = d == 12 ? label[i] : uint8_t(1 - label[i]);
                    out->group[e.index[i]] = d == 12 ? uint8_t(label[i] == 0) : uint8_t(label[i] + 1);
                }))
                return true;
        }
        return false;
    default:
        return false;
    }
}

// Permutation bits: per group, walking the entities from 4 down to 0, the
// first member fixes m = its palette size; every further member reads m
// entries of 1 bit (two values) or 2 bits.
constexpr uint8_t permutationBits(uint32_t a, const Assignment& x)
{
    uint32_t bits = 0;
    for (uint8_t g = 1; g <= 2; ++g) {
        uint32_t m = 0;
        for (int i = 4; i >= 0; --i) {
            if (x.group[i] != g) continue;
            uint8_t s = kEntitySizes[a][i];
            if (m == 0) {
                m = s + 1u;
            } else {
                bits += m * (s == 1 ? 1u : 2u);
            }
        }
    }
    return static_cast<uint8_t>(bits);
}

// Bits of K for (A, D): the first add_len_TBL row that matches.
constexpr int kBitsOf(uint32_t a, uint32_t d)
{
    for (const AddLen& r : kAddLen)
        if (r.a == a && (r.d == d || r.d == kAny)) return r.bits;
    return -1;
}

constexpr MbLen makeRow(uint32_t a, uint32_t d, uint32_t k, const uint8_t types[4], const Assignment& x)
{
    MbLen r{static_cast<uint8_t>(a), static_cast<uint8_t>(d), static_cast<uint8_t>(k), {}, 0, {}, {}};
    for (int m = 0; m < 4; ++m) r.mapTypes[m] = types[m];
    r.permutationBits = permutationBits(a, x);
    for (int i = 0; i < 5; ++i) {
        r.groups[i] = x.group[i];
        r.mapIndex[i] = x.map[i];
    }
    return r;
}

struct MbTable {
    MbLen rows[kBpMbLenRows] = {};
    uint32_t count = 0;
};

constexpr MbTable buildMbLen()
{
    MbTable t;
    const uint8_t single[4] = {1, 0, 0, 0};
    const uint8_t twoBit[4] = {2, 0, 0, 0};
    const uint8_t none[4] = {0, 0, 0, 0};
    Assignment one{{0, kNoMap, kNoMap, kNoMap, kNoMap}, {}};
    // Single entities match any D and K: a 1-bit map for two values, else 2-bit.
    t.rows[t.count++] = makeRow(0, kAny, kAnyK, single, one);
    t.rows[t.count++] = makeRow(1, kAny, kAnyK, twoBit, one);
    t.rows[t.count++] = makeRow(2, kAny, kAnyK, twoBit, one);
    for (uint32_t d = 1; d <= 14; ++d)
        for (uint8_t a : kModeSets[d]) {
            if (a == 0) break;
            Entities e = entitiesOf(a);
            int bits = kBitsOf(a, d);
            uint32_t limit = bits <= 0 ? 1u : power(2, bits);
            Assignment x{};
            for (uint32_t n = 0; n < limit && candidate(e, d, n, &x); ++n) {
                // In the run-coded mode K is the scan order, not a choice of maps.
                uint32_t k = bits <= 0 || d == 14 ? kAnyK : n;
                t.rows[t.count++] = makeRow(a, d, k, kModeTypes[d], x);
            }
        }
    Assignment nothing{{kNoMap, kNoMap, kNoMap, kNoMap, kNoMap}, {}};
    t.rows[t.count++] = makeRow(33, kAny, kAnyK, none, nothing);
    return t;
}

constexpr MbTable kMbLen = buildMbLen();
static_assert(kMbLen.count <= kBpMbLenRows);

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
    for (uint32_t a = 0; a < kBpMsRows; ++a) {
        uint8_t seen[4] = {0, 0, 0, 0};
        auto put = [&](uint8_t t) {
            uint32_t at = kBpCnLenOffset + row * kBpCnLenBytes;
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
    for (uint32_t i = 0; i < kBpAddLenRows; ++i) {
        uint32_t at = kBpAddLenOffset + i * kBpAddLenBytes;
        block[at] = kAddLen[i].a;
        block[at + 1] = kAddLen[i].d;
        block[at + 2] = kAddLen[i].bits;
    }
    for (uint32_t i = 0; i < kBpMbLenRows; ++i) {
        uint32_t at = kBpMbLenOffset + i * kBpMbLenBytes;
        if (i >= kMbLen.count) {
            block[at] = kNoRow;  // unused row
            continue;
        }
        const MbLen& r = kMbLen.rows[i];
        block[at] = r.a;
        block[at + 1] = r.d;
        block[at + 2] = r.k;
        for (int m = 0; m < 4; ++m) block[at + 3 + m] = r.mapTypes[m];
        block[at + 7] = r.permutationBits;
        for (int e = 0; e < 5; ++e) block[at + 8 + e] = r.groups[e];
        for (int e = 0; e < 5; ++e) block[at + 13 + e] = r.mapIndex[e];
    }
    for (uint32_t a = 0; a < kBpMsRows; ++a) {
        uint32_t at = kBpMsOffset + a * kBpMsBytes;
        block[at] = static_cast<uint8_t>(a);
        for (int e = 0; e < 5; ++e) block[at + 1 + e] = kEntitySizes[a][e];
    }
    // col_posi row E: the E-th permutation of (0..4) in lexicographic order.
    uint8_t perm[5] = {0, 1, 2, 3, 4};
    for (uint32_t e = 0; e < kBpColPosiRows; ++e) {
        uint32_t at = kBpColPosiOffset + e * kBpColPosiBytes;
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
static_assert(kDefaultBlock[kBpCnLenOffset + (kBpCnLenRows - 1) * kBpCnLenBytes] == 33);
static_assert(kDefaultBlock[kBpCnLenOffset + 2] == 18 && kDefaultBlock[kBpCnLenOffset + 5] == 4);
static_assert(kDefaultBlock[kBpColPosiOffset + 119 * kBpColPosiBytes + 1] == 4);

// Value columns the caller may replace: {first value byte, rows, record bytes, value bytes}.
struct Overlay {
    uint32_t offset, rows, stride, bytes;
};
constexpr Overlay kOverlays[] = {
    {kBpCnLenOffset + 2, kBpCnLenRows, kBpCnLenBytes, 1},
    {kBpAddLenOffset + 2, kBpAddLenRows, kBpAddLenBytes, 1},
    {kBpMbLenOffset + 3, kBpMbLenRows, kBpMbLenBytes, 15},
    {kBpMsOffset + 1, kBpMsRows, kBpMsBytes, 5},
    {kBpColPosiOffset + 1, kBpColPosiRows, kBpColPosiBytes, 5},
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
