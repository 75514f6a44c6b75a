// Internal routines of the decoder, in pipeline order: set-up, the band
// loop, baseline Huffman decoding, the inverse DCT, upsampling and the
// colour output. The VELA decoders of src/vela/ plug into the same loop.
#pragma once

#include <cstdint>

#include "decoder/context.h"

namespace mox {

// Init (init.cpp), each returning 0 or -1 with the status in *error.
int32_t D_entrypic(DecoderContext* ctx, const PictureInfo* pic, int32_t* error);
int32_t D_entryparam(DecoderContext* ctx, const DecodeParam* param, int32_t* error);
int32_t D_entrysystem(DecoderContext* ctx, SystemParam* sys, int32_t* error);
// Work-area bytes the context needs (after D_entrypic and D_entryparam).
uint64_t decoderWorkAreaSize(const DecoderContext* ctx, uint32_t lineStride);
// Points the 1/8 preview skip tables at kPreviewSkipBytes bytes from `at`.
void placePreviewSkipTables(DecoderContext* ctx, uint8_t* at);

// Sample tables (tables.cpp).
void buildRangeLimit(uint8_t* table);  // 1408 bytes
void buildColorTables(int32_t* crToR, int32_t* cbToG, int32_t* crToG, int32_t* cbToB);
void loadAnnexKTables(DecoderContext* ctx, int tableCount);

// Band bookkeeping (band.cpp).
int32_t changeWritebuf(DecoderContext* ctx, int32_t row);
int32_t flushOverflow(DecoderContext* ctx);

// Driver (driver.cpp).
int32_t D_setStrCode(DecoderContext* ctx);
void D_setMcuParam(DecoderContext* ctx);
int32_t saveStrCode(DecoderContext* ctx, int32_t column, int32_t row);
int32_t processRST(DecoderContext* ctx, int32_t column, int32_t row);
int32_t seekEOI(DecoderContext* ctx);

// Baseline Huffman decoding (huffman.cpp).
int32_t decode1Huffman(BitCursor* cursor, const HuffDecodeTable* table);
int32_t decodeHuffman(BitCursor* cursor, const HuffDecodeTable* dcTable,
                      const HuffDecodeTable* acTable, int32_t* dcPredictor, int32_t* block);
int32_t decodeMcu(BitCursor* cursor, const McuParam* param, int32_t* dcPredictors,
                  int32_t* const* planes);

// Dequantisation and inverse DCT of one block (idct.cpp).
int32_t D_idctBlock(const int32_t* coefficients, const McuParam* param,
                    const McuComponent* component, int32_t* output);

// Reduced-size transform of one block for previews (idct_reduced.cpp):
// component->reducedWidth x reducedHeight samples (8, 4, 2 or 1 each way),
// each the mean of the picture samples that the block's samples cover.
// Per position across and down: how many picture samples it stands for
// (0 past the picture's edge, 2 for a sample of a subsampled component).
struct BlockCover {
    uint8_t across[8];
    uint8_t down[8];
    bool cutAcross;  // the edge cuts the block: some position covers less
    bool cutDown;
};
// The cover of block b of a component in the MCU (driver's inside counts).
BlockCover blockCover(const McuComponent& component, int block);
int32_t D_idctReduced(const int32_t* coefficients, const McuParam* param,
                      const McuComponent* component, const BlockCover& cover, int32_t* output);
// The same on coefficients already dequantised, in natural (row-major) order.
void idctReducedDequantised(const int32_t* dequantised, const McuParam* param,
                            const McuComponent* component, const BlockCover& cover, int32_t* output);

// Upsampling and colour output (upsample.cpp, color.cpp).
int32_t upSample(DecoderContext* ctx);
int32_t storeMcu(DecoderContext* ctx, int32_t column, int32_t row);

}  // namespace mox
