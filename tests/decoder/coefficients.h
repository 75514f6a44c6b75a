// The quantised coefficients this decoder reads, block by block, through the
// driver's own piece splicing, restart handling and MCU decoder, for exact
// comparison with the reference codec's jpeg_read_coefficients.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/refjpeg.h"

namespace moxtest {

struct OurCoefficients {
    std::string failure;             // empty when every MCU was read
    int components = 0;
    int blocksWide[4] = {};
    int blocksHigh[4] = {};
    std::vector<int32_t> blocks[4];  // 64 per block in zig-zag order, row after row
    int32_t quant[4][64] = {};       // component's table, natural order
    int refills = 0;                 // pieces fetched after the first
};

// pieceSize 0: the whole stream in one piece; a reduction (2, 4, 8) makes
// the MCU decoders compared along the way produce previews.
OurCoefficients readCoefficients(const std::vector<uint8_t>& stream, uint32_t pieceSize, int32_t reduction = -1);

// Empty when every block and the quantisation tables agree with the
// reference codec's reading, else the first difference.
std::string compareCoefficients(const RefCoefficients& ref, const OurCoefficients& ours);

}  // namespace moxtest
