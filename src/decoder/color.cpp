// Output of one MCU into the band: JFIF YCbCr->RGB through the tables of
// tables.cpp, or plain samples, every value clamped by the range-limit
// table. Edge MCUs write only the pixels inside the picture. A colour
// transform of 0 on three components means they are stored as R, G, B.
#include "decoder/decoder.h"

namespace mox {

int32_t storeMcu(DecoderContext* ctx, int32_t column, int32_t row)
{
    const int32_t width = column == ctx->mcusPerRow - 1 ? ctx->lastMcuWidth : ctx->mcuWidth;
    const int32_t lines = row == ctx->mcuRows - 1 ? ctx->lastMcuHeight : ctx->mcuHeight;
    const int32_t bpp = ctx->bytesPerPixel;
    const uint8_t* p = ctx->rangeLimit;
    const int32_t* const* planes = ctx->upsampled;
    const int components = ctx->componentCount;
    const bool rgb = components == 3 && ctx->outFormat == 1;
    const bool stored = rgb && ctx->colorTransform == 0;  // R, G, B as coded
    const bool firstOnly = components == 3 && ctx->outFormat == 0 && ctx->mode == MOX_MODE_VELA_COPIER;
    const bool fourthOnly = components == 4 && ctx->outFormat == 5;

    for (int32_t line = 0; line < lines; ++line) {
        uint8_t* out = ctx->writePointer + size_t(line) * ctx->lineStride +
                       size_t(column) * ctx->mcuWidth * bpp;
        int32_t s = line * ctx->mcuWidth;
        for (int32_t x = 0; x < width; ++x, ++s) {
            if (components == 1) {
                *out++ = p[planes[0][s]];
            } else if (components == 3) {
                int32_t y = planes[0][s];
                int32_t cb = planes[1][s];
                int32_t cr = planes[2][s];
                if (firstOnly) {
                    *out++ = p[y];
                } else if (stored) {
                    *out++ = p[y];
                    *out++ = p[cb];
                    *out++ = p[cr];
                } else if (rgb) {
                    *out++ = p[y + ctx->crToR[cr]];
                    *out++ = p[y + ((ctx->cbToG[cb] + ctx->crToG[cr]) >> 16)];
                    *out++ = p[y + ctx->cbToB[cb]];
                } else {
                    *out++ = p[y + ctx->crToR[cr]];  // mode 0, grey form of a colour frame: R only
                }
            } else if (components == 4) {
                if (fourthOnly) {
                    *out++ = p[planes[3][s]];
                } else {
                    for (int c = 0; c < 4; ++c) *out++ = p[planes[c][s]];
                }
            }
        }
    }
    return 0;
}

}  // namespace mox
