// The independent reference codec (libjpeg-turbo), in memory, for
// interoperability tests: it writes the streams our decoder reads and reads
// the streams our encoder writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/picture.h"

namespace moxtest {

struct RefEncodeOptions {
    int quality = 75;
    int hSamp[3] = {1, 1, 1};
    int vSamp[3] = {1, 1, 1};
    int restartInterval = 0;  // in MCUs
    bool optimize = false;    // optimised Huffman tables
    bool progressive = false;
    std::string comment;      // written as a COM segment when not empty
    bool storeRgb = false;    // keep R, G, B unconverted (Adobe APP14 transform 0)
    bool separateScans = false;  // one baseline scan per component (non-interleaved)
};

// Encodes a 1-, 3- or 4-component picture (RGB input is converted to YCbCr
// unless storeRgb; four components are written as CMYK).
std::vector<uint8_t> refEncode(const Picture& picture, const RefEncodeOptions& options);

struct RefDecoded {
    bool ok = false;
    std::string message;  // the reference codec's error text when !ok
    long warnings = 0;
    Picture picture;
};

// Decodes with replication upsampling and the floating-point inverse DCT
// unless told otherwise. With keepColorSpace the components come out as
// coded, else 3-component streams as RGB; 4-component streams are CMYK.
RefDecoded refDecodeComponents(const std::vector<uint8_t>& stream, bool fancyUpsampling = false,
                               bool floatDct = true, bool keepColorSpace = true);
inline RefDecoded refDecode(const std::vector<uint8_t>& stream, bool fancyUpsampling = false, bool floatDct = true)
{
    return refDecodeComponents(stream, fancyUpsampling, floatDct, false);
}

// Quantised coefficients of every block, per component, as the reference
// codec reads them (jpeg_read_coefficients): natural order, rows of blocks
// padded to whole MCUs, and the quantisation tables the frame names.
struct RefCoefficients {
    bool ok = false;
    std::string message;
    long warnings = 0;
    int components = 0;
    int blocksWide[4] = {};
    int blocksHigh[4] = {};
    std::vector<int16_t> blocks[4];  // 64 per block, row after row
    uint16_t quant[4][64] = {};      // component's table, natural order
    const int16_t* block(int c, int bx, int by) const
    {
        return blocks[c].data() + (size_t(by) * blocksWide[c] + bx) * 64;
    }
};
RefCoefficients refCoefficients(const std::vector<uint8_t>& stream);

}  // namespace moxtest
