// Constants of ITU-T T.81 shared by every subsystem: the zig-zag order
// (Figure A.6), the example quantisation tables (K.1, K.2) and the typical
// Huffman tables (K.3 to K.6) as BITS/HUFFVAL lists.
#pragma once

#include <cstdint>

#include "moxcodec.h"

namespace mox {

// kZigzagToNatural[k]: natural (row-major) index of the k-th coefficient
// in zig-zag order.
extern const uint8_t kZigzagToNatural[64];

extern const uint8_t kLuminanceQuant[64];    // K.1, natural order
extern const uint8_t kChrominanceQuant[64];  // K.2, natural order

struct HuffmanDefinition {
    uint8_t bits[16];     // BITS(1..16): codes of each length
    const uint8_t* values;  // HUFFVAL, in code order
};

extern const HuffmanDefinition kLuminanceDc;    // K.3
extern const HuffmanDefinition kChrominanceDc;  // K.4
extern const HuffmanDefinition kLuminanceAc;    // K.5
extern const HuffmanDefinition kChrominanceAc;  // K.6

// Builds the segment-order form of a table (T.81 C.1 and C.2): lengths,
// codes and symbols. Returns false, writing nothing past the table, when
// the counts add up to more than the table holds.
bool buildHuffmanTable(const uint8_t bits[16], const uint8_t* values, HuffDecodeTable* table);

// C.2 alone: assigns codes to `table->count` entries whose lengths are set.
void generateHuffmanCodes(HuffDecodeTable* table);

}  // namespace mox
