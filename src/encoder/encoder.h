// Internal interface between the encoder's stages: set-up defaults, band
// input, output buffering, marker writer, forward path and block coder.
#pragma once

#include <cstdint>
#include <cstring>

#include "encoder/context.h"

namespace mox::enc {

// ---- presets.cpp -----------------------------------------------------------

// One row of the quality preset table: sampling factors of components 0..3
// and quantisation tables 0 (luminance) and 1 (chrominance), natural order.
struct PresetRow {
    uint8_t h[4];
    uint8_t v[4];
    int32_t quant[2][64];
};

constexpr int kQualityLevels = 11;

// Row `level` (0..10) of qualityPresets.
void qualityPresets(int level, PresetRow* row);

// T.81 K.3/K.4 (ac false) or K.5/K.6 (ac true) for table id 0/1, in
// symbol-index order.
void defaultHuffmanTable(bool ac, int id, HuffDecodeTable* table);

constexpr uint32_t kDcSymbols = 12;
constexpr uint32_t kAcSymbols = 162;
constexpr uint32_t kAcIndexZrl = 151;
constexpr uint32_t kLastDcIndex = 11;
constexpr uint32_t kLastAcIndex = 161;

// AC symbol index <-> run/size symbol (EOB 0, ZRL 151, run 15 at 152..161).
uint8_t acSymbolOfIndex(uint32_t index);
uint32_t acIndexOfSymbol(uint8_t symbol);

extern const float kDefaultColorMatrix[16];

// ---- init.cpp --------------------------------------------------------------

// Worst case of one coded block: DC code and bits (16 + 11), 63 AC codes
// with bits (16 + 10 each) = 1665 bits.
constexpr uint32_t kWorstBlockBits = 16 + 11 + 63 * (16 + 10);

// Worst case of one baseline MCU of `blocks` blocks and the restart marker
// after it: the bytes its bits touch (from a partial byte with 7 bits used),
// each doubled for a stuffing byte, then FF Dn. The padded last byte is one
// of the bytes touched, and its stuffing byte is counted with it.
constexpr uint32_t worstMcuBytes(uint32_t blocks)
{
    return 2 * ((7 + kWorstBlockBits * blocks + 7) / 8) + 2;
}

// The spill holds the largest MCU (4168 bytes) or the largest header (875),
// plus the 0..3 bytes it gives up to align the work area.
constexpr uint32_t kSpillSize = worstMcuBytes(kMaxBlocksPerMcu) + 4;
constexpr uint32_t kVelaAreaSize = 1000;
constexpr uint32_t kRoomPerMcuVela = 64;
// End of image: the partial byte padded with 1-bits, its stuffing byte when
// that makes it 0xFF, and FF D9.
constexpr uint32_t kRoomForEnd = 4;
constexpr uint32_t kSmallOutputBuffer = 700;  // below this the header goes via the spill

// ---- band.cpp --------------------------------------------------------------

// Result of an MCU row fetch or a row completion.
enum class RowResult { ready, bandUsedUp };

void switchBand(EncoderContext* ctx);
// Pulls the current band through InputFunc; -111 (recorded under `name`).
int32_t pullBand(EncoderContext* ctx, const char* name, int32_t* cbError);
// Skips the bands wholly above the region: 0, 1 (push) or -111.
int32_t skipTopBands(EncoderContext* ctx, int32_t* cbError);
RowResult fetchMcuRow(EncoderContext* ctx);
RowResult completeMcuRow(EncoderContext* ctx);

// ---- output.cpp ------------------------------------------------------------

constexpr int32_t kRetryMcu = 10;  // output save: the buffer was handed over, test again

// Output save before an MCU (final false) or before EOI (final true):
// 0, kRetryMcu, 2 (push output full) or -111.
int32_t saveOutput(EncoderContext* ctx, bool final, int32_t* cbError);
// Resume after the caller took a full buffer: 0, 2 or -111.
int32_t resumeOutput(EncoderContext* ctx, int32_t* cbError);
// Spill mode after EOI: 0, 2 or -111.
int32_t drainFinal(EncoderContext* ctx, int32_t* cbError);

// ---- markers.cpp -----------------------------------------------------------

uint32_t headerLength(const EncoderContext* ctx);
// Writes SOI .. SOS at the writer's byte index (a byte boundary).
void writeHeader(EncoderContext* ctx);
void writeDht(EncoderContext* ctx, int tableClass, int id);
void writeRestart(EncoderContext* ctx);
// Completes the partial byte with 1-bits and writes EOI unless suppressed.
void writeEnd(EncoderContext* ctx);

// ---- color.cpp -------------------------------------------------------------

// colorMatrix entry x 256, to nearest, halves away from zero.
int32_t fixedMatrixEntry(float entry);
// t / 256 to nearest, halves away from zero.
int32_t roundFixed(int32_t t);
void extractSamples(EncoderContext* ctx, uint32_t mcuColumn);
void convertColor(EncoderContext* ctx);

// ---- downsample.cpp --------------------------------------------------------

int32_t meanOfTwo(int32_t a, int32_t b);
int32_t meanOfFour(int32_t a, int32_t b, int32_t c, int32_t d);
void downsample(EncoderContext* ctx);
// VELA mode with one input component: the component travels as block 3;
// blocks 0..2 hold the level-shifted sample 0. Nothing in other modes.
void placeVelaGrayBlocks(EncoderContext* ctx);

// The frame of every downsampling: per component, reduction factors rh and
// rv of 1 or 2; a component of full resolution is copied, the others go to
// reduce(plane, rh, rv, h, v, blocks), which writes all h x v blocks. The
// VELA one-component blocks follow.
template <class Reduce>
void forEachComponentToDownsample(EncoderContext* ctx, const Reduce& reduce)
{
    for (uint32_t c = 0; c < ctx->components; ++c) {
        const uint32_t h = ctx->hSamp[c];
        const uint32_t v = ctx->vSamp[c];
        const uint32_t rh = ctx->hMax / h;
        const uint32_t rv = ctx->vMax / v;
        if (rh == 1 && rv == 1) {
            std::memcpy(ctx->blockBuf[c], ctx->convertedPlane[c], 64 * h * v * sizeof(int32_t));
        } else {
            reduce(ctx->convertedPlane[c], rh, rv, h, v, ctx->blockBuf[c]);
        }
    }
    placeVelaGrayBlocks(ctx);
}

// ---- fdct.cpp / quantize.cpp -------------------------------------------------

void forwardDct(const int32_t samples[64], float coefficients[64]);
// Largest magnitude a quantised coefficient may carry (baseline category 10;
// DC differences then stay within category 11).
constexpr int32_t kMaxCoefficient = 1023;
void quantize(const float coefficients[64], const int32_t table[64], int32_t quantized[64]);
void zigzag(const int32_t natural[64], int32_t zigzagOrder[64]);

// Fast block path (the kernels are in fast.h). The DCT's result is
// transposed: coefficient (u, v) of the natural position v * 8 + u lies at
// u * 8 + v. Quantisation takes the table as floats in the same order.
void transposedDivisors(const int32_t table[64], float divisors[64]);
// Zig-zag index -> position in the transposed block: Figure A.6 with rows
// and columns swapped.
inline constexpr uint8_t kZigzagToTransposed[64] = {
    0,  8,  1,  2,  9,  16, 24, 17, 10, 3,  4,  11, 18, 25, 32, 40,
    33, 26, 19, 12, 5,  6,  13, 20, 27, 34, 41, 48, 56, 49, 42, 35,
    28, 21, 14, 7,  15, 22, 29, 36, 43, 50, 57, 58, 51, 44, 37, 30,
    23, 31, 38, 45, 52, 59, 60, 53, 46, 39, 47, 54, 61, 62, 55, 63,
};
// The nonzero mask of a transposed block (bit u * 8 + v) in zig-zag order.
uint64_t zigzagMaskOfTransposed(uint64_t transposedMask);

// ---- huffman.cpp -----------------------------------------------------------

// Failure codes of codeHuffman, one per failing step, and of codeJpgBlk.
constexpr int32_t kHuffDcCategory = -1;  // DC size category beyond the table
constexpr int32_t kHuffDcCode = -2;
constexpr int32_t kHuffDcBits = -3;
constexpr int32_t kHuffZrl = -4;
constexpr int32_t kHuffAcIndex = -5;     // AC symbol index beyond the table
constexpr int32_t kHuffAcCode = -6;
constexpr int32_t kHuffAcBits = -7;
constexpr int32_t kHuffEob = -8;
constexpr int32_t kBlockCodingFailed = -10;
constexpr int32_t kHuffNoRoom = -9;      // the buffer cannot take a worst-case block

int32_t MoxCodeMcu(EncoderContext* ctx, const BlockPointers* blocks, const McuConfig* config);
int32_t codeJpgBlk(const int32_t block[64], const ComponentRecord* component, int32_t* predictor,
                   BitCursor* cursor, CodePositions* positions);
int32_t codeHuffman(const int32_t zigzagBlock[64], const HuffDecodeTable* dcTable,
                    const HuffDecodeTable* acTable, int32_t* predictor, BitCursor* cursor,
                    CodePositions* positions);

// True when every code up to lastIndex (11 for DC, 161 for AC) has a length
// of 1..16 that holds its code and the table's count admits it: then no
// coding step can fail and the fast coder may write the block.
bool huffmanTableFits(const HuffDecodeTable* table, uint32_t lastIndex);
// codeHuffman's bytes through a 64-bit accumulator, without code positions.
// Zig-zag coefficient k is coefficients[order[k]]; `nonzero` has bit k set
// for each nonzero one. Tables must fit.
void codeHuffmanFast(const int32_t coefficients[64], const uint8_t order[64], uint64_t nonzero,
                     const HuffDecodeTable* dcTable, const HuffDecodeTable* acTable,
                     int32_t* predictor, BitCursor* cursor);
// The vector transform of the fast block path (fast.h); MoxCodeMcu takes
// it for components whose tables fit (divisors set).
using ForwardDctQuantizeFn = uint64_t (*)(const int32_t* samples, const float* divisors,
                                          int32_t* quantizedTransposed);

}  // namespace mox::enc
