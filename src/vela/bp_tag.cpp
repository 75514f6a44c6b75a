// The bp tag section: up to five entities (the tag plane and four palette
// blocks), each a palette of 2..4 values over a per-pixel class map, keyed
// through the five tables of the bp table block. The section is read as a
// bounded bit string: a section whose fields or keys do not resolve decodes
// to all zeros, and every read stays inside the section's L bytes.
#include <cstdio>
#include <cstring>

#include "vela/bp.h"
#include "vela/format.h"

namespace mox {

namespace {

constexpr int kEntities = 5;
constexpr uint32_t kMaxPaletteBits = 114;  // the largest palette set: 2 + 3 x 32 + 16 bits
constexpr uint32_t kMapAreaBytes = kBpMapAreaBits / 8;

// MSB-first reader over a bit range; reads past the end fail.
struct BitSpan {
    const uint8_t* bytes;
    uint32_t end;  // in bits
    uint32_t pos;

    bool read(uint32_t n, uint32_t* value)
    {
        if (n > 32 || pos > end || end - pos < n) return false;
        uint32_t v = 0;
        for (uint32_t i = 0; i < n; ++i, ++pos)
            v = (v << 1) | ((bytes[pos >> 3] >> (7 - (pos & 7))) & 1u);
        *value = v;
        return true;
    }
    bool skip(uint32_t n)
    {
        if (pos > end || end - pos < n) return false;
        pos += n;
        return true;
    }
    // A bit read inside the range, 0 beyond it (zero-filled area).
    uint32_t bitOrZero()
    {
        uint32_t v = 0;
        return read(1, &v) ? v : (++pos, 0u);
    }
    uint32_t bitsOrZero(uint32_t n)
    {
        uint32_t v = 0;
        for (uint32_t i = 0; i < n; ++i) v = (v << 1) | bitOrZero();
        return v;
    }
};

constexpr uint32_t kLastScanOrder = kVelaScanOrders - 1;
constexpr uint32_t kRunPrefixLimit = 5;  // five 1-bits are no run-code prefix

uint32_t runSuffixBits(uint32_t ones)
{
    return ones == 0 ? 2 : ones + 1;
}

uint32_t runLength(uint32_t ones, uint32_t suffix)
{
    return ones == 0 ? suffix + 1 : (1u << (ones + 1)) + 1 + suffix;
}

// First record of a table whose key bytes match; `wild` gives per key byte
// the record value that matches any key (-1: none).
const uint8_t* findRecord(const uint8_t* tables, uint32_t offset, uint32_t rows, uint32_t bytes,
                          const int32_t* key, const int32_t* wild, int keys)
{
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* record = tables + offset + r * bytes;
        bool match = true;
        for (int k = 0; k < keys && match; ++k)
            match = record[k] == key[k] || record[k] == wild[k];
        if (match) return record;
    }
    return nullptr;
}

void say(const char* message)
{
    std::fputs(message, stdout);
}

// Run-coded class map in scan order `order`; false leaves the map to the
// caller to clear. Every prefix of up to four 1-bits is a code and every
// suffix a run of 1..64, so a code is broken only by a fifth 1-bit, by
// running out of map data, or by runs that overshoot 64.
bool decodeRunMap(BitSpan map, uint32_t order, uint8_t* classes)
{
    if (order > kLastScanOrder) {
        say("code broken,RLE scan range 0-5\n");
        return false;
    }
    uint8_t sequence[kBlockSamples] = {};
    uint32_t done = 0;
    uint8_t value = 0;
    while (done < kBlockSamples) {
        uint32_t ones = 0;
        uint32_t bit = 0;
        for (;;) {
            if (!map.read(1, &bit)) {
                say("Wyle decode not complete, code length over\n");
                return false;
            }
            if (bit == 0) break;
            if (++ones == kRunPrefixLimit) {
                say("Wyle code broken,code header over\n");
                return false;
            }
        }
        uint32_t suffix = 0;
        if (!map.read(runSuffixBits(ones), &suffix)) {
            say("Wyle decode not complete, code length over\n");
            return false;
        }
        uint32_t run = runLength(ones, suffix);
        if (done + run > kBlockSamples) {
            say("RLE data unmatch\n");
            return false;
        }
        std::memset(sequence + done, value, run);
        done += run;
        value ^= 1;
    }
    const uint8_t* scan = velaScanOrder(int32_t(order));
    for (int t = 0; t < kBlockSamples; ++t) classes[scan[t]] = sequence[t];
    return true;
}

struct Section {
    uint32_t a = 0, d = 0, e = 0, k = 0, t = 0;
    bool tagEntityPresent = false;
    const uint8_t* sizes = nullptr;     // ms_TBL: size code per entity
    const uint8_t* positions = nullptr; // col_posi: position per entity
    const uint8_t* maps = nullptr;      // mb_len_TBL values: types, n, groups, indices
    BitSpan palette{}, permutation{}, mapData{};
};

// Steps up to the map data: every key must resolve; false = malformed.
bool readKeys(const uint8_t* tables, const uint8_t* section, uint32_t length, Section* s)
{
    BitSpan bits{section, length * 8, 0};
    uint32_t b = 0;
    if (!bits.read(6, &s->a) || !bits.read(1, &b)) return false;
    if (b == 1 && !bits.skip(64)) return false;
    if (s->a != kBpEmptySet && !bits.read(4, &s->d)) return false;
    if (s->a == kBpEmptySet) s->d = kBpNoD;
    if (!bits.read(7, &s->e)) return false;

    const int32_t none[3] = {-1, -1, -1};
    int32_t key[3] = {int32_t(s->a), 0, 0};
    const uint8_t* ms = findRecord(tables, kBpMsOffset, kBpMsRows, kBpMsBytes, key, none, 1);
    if (ms == nullptr) {
        say("ms_TBL not found\n");
        return false;
    }
    key[0] = int32_t(s->e);
    const uint8_t* col = findRecord(tables, kBpColPosiOffset, kBpColPosiRows, kBpColPosiBytes, key, none, 1);
    if (col == nullptr) {
        say("col_posi TBL not found\n");
        return false;
    }
    s->sizes = ms + 1;
    s->positions = col + 1;
    for (int e = 0; e < kEntities; ++e) {
        if (s->sizes[e] == kBpAbsent) continue;
        if (s->sizes[e] > 3) return false;  // a palette has at most four values
        if (s->positions[e] > 4) {
            say("DEC_wc_TBL search error\n");
            return false;
        }
        if (s->positions[e] == 0) {
            s->t = s->sizes[e];
            s->tagEntityPresent = true;
        }
    }

    key[0] = int32_t(s->a);
    key[1] = int32_t(s->t);
    const uint8_t* cn = findRecord(tables, kBpCnLenOffset, kBpCnLenRows, kBpCnLenBytes, key, none, 2);
    if (cn == nullptr) {
        say("cn_len_TBL not found\n");
        return false;
    }
    s->palette = BitSpan{section, bits.pos + cn[2], bits.pos};
    if (!bits.skip(cn[2])) return false;

    const int32_t wildD[3] = {-1, kBpAnyD, kBpAnyK};
    key[1] = int32_t(s->d);
    const uint8_t* add = findRecord(tables, kBpAddLenOffset, kBpAddLenRows, kBpAddLenBytes, key, wildD, 2);
    if (add == nullptr) {
        say("add_len_TBL search error\n");
        return false;
    }
    s->k = kBpNoK;
    if (add[2] != 0 && !bits.read(add[2], &s->k)) return false;

    key[2] = int32_t(s->k);
    const uint8_t* mb = findRecord(tables, kBpMbLenOffset, kBpMbLenRows, kBpMbLenBytes, key, wildD, 3);
    if (mb == nullptr) {
        say("mb_len_TBL search error\n");
        return false;
    }
    s->maps = mb + 3;
    s->permutation = BitSpan{section, bits.pos + s->maps[4], bits.pos};
    if (!bits.skip(s->maps[4])) return false;
    if (bits.end - bits.pos > kBpMapAreaBits) return false;  // more map data than the map area holds
    s->mapData = BitSpan{section, bits.end, bits.pos};
    return true;
}

}  // namespace

int32_t decodeBpTag(const uint8_t* tables, const uint8_t* section, uint32_t length,
                    uint8_t* tagPlane, int32_t (*paletteBlocks)[kBlockSamples],
                    uint32_t* paletteFlags)
{
    std::memset(tagPlane, 0, kBlockSamples);
    std::memset(paletteBlocks, 0, sizeof(int32_t) * 4 * kBlockSamples);
    *paletteFlags = 0;
    Section s;
    if (!readKeys(tables, section, length, &s)) return 0;

    const uint8_t* mapTypes = s.maps;
    const uint8_t* groups = s.maps + 5;
    const uint8_t* mapIndex = s.maps + 10;

    // Class -> palette value per entity: identity, unless a further member
    // of a permutation group reads its own from the permutation bits.
    uint8_t mapping[kEntities][4];
    for (auto& m : mapping)
        for (uint8_t j = 0; j < 4; ++j) m[j] = j;
    for (uint8_t g = 1; g <= 2; ++g) {
        uint32_t classes = 0;
        for (int e = kEntities - 1; e >= 0; --e) {
            if (groups[e] != g || s.sizes[e] == kBpAbsent) continue;
            if (classes == 0) {
                classes = s.sizes[e] + 1u;
                continue;
            }
            uint32_t width = s.sizes[e] == 1 ? 1 : 2;
            for (uint32_t j = 0; j < classes; ++j)
                mapping[e][j] = static_cast<uint8_t>(s.permutation.bitsOrZero(width));
        }
    }

    // Four maps of 64 classes; the map data is read from a zero-filled area.
    uint8_t maps[4][kBlockSamples] = {};
    uint8_t area[kMapAreaBytes] = {};
    uint32_t mapBits = s.mapData.end - s.mapData.pos;
    for (uint32_t i = 0; i < mapBits; ++i)
        if (s.mapData.bitOrZero()) area[i >> 3] |= uint8_t(0x80u >> (i & 7));
    BitSpan mapArea{area, kBpMapAreaBits, 0};
    if (s.d == kBpRunCodedD) {
        if (!decodeRunMap(mapArea, s.k, maps[0])) std::memset(maps[0], 0, kBlockSamples);
    } else if (s.d != kBpNoD) {
        for (int m = 0; m < 4; ++m) {
            if (mapTypes[m] != 1 && mapTypes[m] != 2) continue;
            for (int p = 0; p < kBlockSamples; ++p)
                maps[m][p] = static_cast<uint8_t>(mapArea.bitsOrZero(mapTypes[m]));
        }
    }

    // Palettes in entity order; the entity on the tag plane has 2-bit values.
    uint8_t palette[kEntities][4] = {};
    uint32_t uniformTag = 0;
    BitSpan values = s.palette;
    if (values.end - values.pos > kMaxPaletteBits) values.end = values.pos + kMaxPaletteBits;
    bool complete = true;
    for (int e = 0; e < kEntities && complete; ++e) {
        if (s.sizes[e] == kBpAbsent) continue;
        uint32_t width = s.positions[e] == 0 ? 2 : 8;
        for (uint32_t j = 0; j <= s.sizes[e] && complete; ++j) {
            uint32_t v = 0;
            complete = values.read(width, &v);
            palette[e][j] = static_cast<uint8_t>(v);
        }
    }
    if (complete && s.t == 0) {
        uint32_t v = 0;
        complete = values.read(2, &v);
        uniformTag = v;
        if (s.tagEntityPresent) {
            for (int e = 0; e < kEntities; ++e)
                if (s.sizes[e] != kBpAbsent && s.positions[e] == 0) palette[e][0] = uint8_t(v);
        }
    }
    if (!complete) say("cen val decode error,over cn_bit \n");

    std::memset(tagPlane, int(uniformTag & 3), kBlockSamples);
    static constexpr uint32_t kFlagOfPosition[5] = {16, 8, 4, 2, 1};
    uint32_t flags = 0;
    for (int e = 0; e < kEntities; ++e) {
        if (s.sizes[e] == kBpAbsent) continue;
        uint8_t position = s.positions[e];
        flags |= kFlagOfPosition[position];
        const uint8_t* classes = mapIndex[e] < kBpNoMap ? maps[mapIndex[e]] : nullptr;
        for (int p = 0; p < kBlockSamples; ++p) {
            uint8_t value = palette[e][mapping[e][classes != nullptr ? classes[p] & 3 : 0] & 3];
            if (position == 0)
                tagPlane[p] = value & 3;
            else
                paletteBlocks[position - 1][p] = value;
        }
    }
    *paletteFlags = flags & 0xF;
    return 0;
}

}  // namespace mox
