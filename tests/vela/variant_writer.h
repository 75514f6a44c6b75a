// Test-side writer of the bp (mode 2) and copier (mode 3) variants: bp tag
// sections from their keys, palettes, permutations and class maps, block
// data from coefficient lists, and whole MCUs of either variant. The
// library only reads these formats; this writer is its independent mirror.
#pragma once

#include <cstdint>
#include <vector>

#include "moxcodec.h"

namespace moxtest {

// MSB-first bit string.
struct Bits {
    std::vector<uint8_t> bytes;
    uint32_t count = 0;
    Bits& put(uint64_t value, uint32_t n);
    // 64 fields of n bits: f(p) for every pixel p.
    template <typename F>
    Bits& map(F f, uint32_t n)
    {
        for (int p = 0; p < 64; ++p) put(uint64_t(f(p)), n);
        return *this;
    }
    std::vector<uint8_t> padded() const;  // last byte completed with 1-bits
};

// Scan order `x` (0..5) of a run-coded map: scan position -> pixel.
const uint8_t* scanOrder(int x);

// What a bp tag section says. Keys and map layout come from the table
// block; the writer fills in the bits.
struct BpTag {
    int a = 0, d = 0, k = 31, e = 0;
    bool b = false;
    uint8_t palette[5][4] = {};  // per entity, s + 1 values
    uint8_t uniformTag = 0;      // when no entity sits on the tag plane
    uint8_t mapping[5][4] = {};  // group members after the first: class -> value
    uint8_t maps[4][64] = {};    // classes per map
};

// Entity sizes (ms_TBL), positions (col_posi) and the mb_len_TBL row of a
// key, looked up in a table block.
struct BpLayout {
    uint8_t size[5];      // 5 = absent
    uint8_t position[5];  // 0 tag plane, 1..4 blocks 0..3
    const uint8_t* row;   // mb_len_TBL record, or null
    int kBits;            // add_len_TBL, or -1
    int paletteBits;      // cn_len_TBL, or -1
};
BpLayout bpLayout(const uint8_t* tables, int a, int d, int k, int e);
const uint8_t* bpFindRow(const uint8_t* tables, int table, int a, int second, int third);

std::vector<uint8_t> writeBpTag(const uint8_t* tables, const BpTag& tag);

// The 64 values of every position (0 tag plane, 1..4 blocks) that the tag
// section describes; flags as the decoder reports them (bit 3 = block 0).
struct BpPlanes {
    uint8_t values[5][64] = {};
    uint32_t flags = 0;
};
BpPlanes bpExpected(const uint8_t* tables, const BpTag& tag);

// Block data: the zig-zag coefficients Huffman-coded with the given T.81
// tables, DC against 0, EOB after the last nonzero AC, padded with 1-bits.
std::vector<uint8_t> writeBlock(const int32_t* coefficients, bool chroma);

// A bp MCU: long form (blocks 0..3) or short form (block 3 only), filler
// 0xFF up to `size` (none when size is 0).
std::vector<uint8_t> writeBpMcu(const std::vector<uint8_t>& tag, const std::vector<uint8_t> blocks[4],
                                bool shortForm, int size);
// A copier MCU: three-byte header with rotation field r, blocks 0..2,
// filler to 64 bytes unless variable.
std::vector<uint8_t> writeCopierMcu(int r, const std::vector<uint8_t> blocks[3], bool variable);

}  // namespace moxtest
