// Sample tables built once per job: the range-limit table that clamps the
// inverse DCT's and the colour conversion's results, the JFIF YCbCr->RGB
// tables, and the fixed T.81 Annex K Huffman tables of the VELA modes.
#include <cstring>

#include "decoder/decoder.h"
#include "frame/t81tables.h"

namespace mox {

// Layout from the table's start: 256 zeros (p[-256..-1]), the identity
// 0..255 (p[0..255]), 384 x 255 (p[256..639]), 384 zeros (p[640..1023]) and
// the identity 0..127 again (p[1024..1151]). The inverse DCT indexes it with
// 128 + (v & 0x3FF), so its 10-bit wrap lands in the zero run, not at 255.
void buildRangeLimit(uint8_t* table)
{
    uint8_t* p = table + kRangeLimitOrigin;
    std::memset(table, 0, kRangeLimitOrigin);
    for (int i = 0; i < 256; ++i) p[i] = static_cast<uint8_t>(i);
    std::memset(p + 256, 255, 384);
    std::memset(p + 640, 0, 384);
    for (int i = 0; i < 128; ++i) p[1024 + i] = static_cast<uint8_t>(i);
}

// JFIF conversion in 16-bit fixed point: 91881, 22554, 46802 and 116130 are
// 1.40200, 0.34414, 0.71414 and 1.77200 times 65536, rounded. The rounding
// term of G sits in crToG; storeMcu shifts the sum of the two G terms.
void buildColorTables(int32_t* crToR, int32_t* cbToG, int32_t* crToG, int32_t* cbToB)
{
    constexpr int32_t kHalf = 1 << 15;
    for (int32_t i = 0; i < 256; ++i) {
        int32_t x = i - 128;
        crToR[i] = (91881 * x + kHalf) >> 16;
        cbToG[i] = -22554 * x;
        crToG[i] = -46802 * x + kHalf;
        cbToB[i] = (116130 * x + kHalf) >> 16;
    }
}

// Luminance tables K.3/K.5 as table 0; with two tables also the
// chrominance tables K.4/K.6 as table 1.
void loadAnnexKTables(DecoderContext* ctx, int tableCount)
{
    std::memset(ctx->dcHuff, 0, sizeof(ctx->dcHuff));
    std::memset(ctx->acHuff, 0, sizeof(ctx->acHuff));
    std::memset(ctx->dcSel, 0, sizeof(ctx->dcSel));
    std::memset(ctx->acSel, 0, sizeof(ctx->acSel));
    buildHuffmanTable(kLuminanceDc.bits, kLuminanceDc.values, &ctx->dcHuff[0]);
    buildHuffmanTable(kLuminanceAc.bits, kLuminanceAc.values, &ctx->acHuff[0]);
    if (tableCount > 1) {
        buildHuffmanTable(kChrominanceDc.bits, kChrominanceDc.values, &ctx->dcHuff[1]);
        buildHuffmanTable(kChrominanceAc.bits, kChrominanceAc.values, &ctx->acHuff[1]);
    }
}

}  // namespace mox
