// The decoder's fast paths and the table that picks, once per process,
// between them and the reference functions of decoder.h. Every fast path
// produces the same bytes as its reference; the tests compare them stage by
// stage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/decoder.h"

namespace mox {

// Inverse DCT of a dequantised block held transposed (entry 8 * u + v is
// the coefficient of horizontal frequency u in frequency row v), with level
// shift and clamping, into 64 samples in raster order (idct_fast.cpp). The
// block is cleared on the way.
using IdctTransposedFn = void (*)(int32_t* block, int32_t* output);
// The same for a block whose only nonzero coefficient is the dequantised DC.
using IdctDcOnlyFn = void (*)(int32_t dc, int32_t* output);
IdctTransposedFn idctTransposedKernel();
IdctDcOnlyFn idctDcOnlyKernel();
// The same two with the samples as bytes into eight lines `stride` apart:
// what storeMcu writes for a gray picture.
using IdctBytesFn = void (*)(int32_t* block, uint8_t* out, size_t stride);
using IdctDcOnlyBytesFn = void (*)(int32_t dc, uint8_t* out, size_t stride);
IdctBytesFn idctBytesKernel();
IdctDcOnlyBytesFn idctDcOnlyBytesKernel();

// D_idctBlock's signature on top of the vector transform: zig-zag
// coefficients in, dequantised and transposed, then transformed.
int32_t idctBlockFast(const int32_t* coefficients, const McuParam* param,
                      const McuComponent* component, int32_t* output);

// Huffman decoding, dequantisation and inverse DCT of the next MCU into
// ctx->planes, as decodeMcu does it (huffman_fast.cpp); decodeMcuReference
// is decodeMcu itself on the context's cursor and planes.
int32_t decodeMcuFast(DecoderContext* ctx);
int32_t decodeMcuReference(DecoderContext* ctx);
// Decodes and stores (storeWholeMcu) up to `count` whole MCUs of the row
// from `column` on, in a fused layout, keeping the bit buffer from one MCU
// to the next. Stops before an MCU that decodeMcuFast would hand to the
// reference (a marker or the end of the piece near, bad data) and returns
// the MCUs done, with the cursor and predictors behind the last of them.
int32_t decodeRunFast(DecoderContext* ctx, int32_t column, int32_t count);
// decodeRunFast for a preview, in row `row`: of the `count` MCUs, those
// wholly inside the picture at full size; each is stored by storeMcu from
// blocks transformed in place (upSample would only copy them), a grey one
// straight into the band.
int32_t decodePreviewRun(DecoderContext* ctx, int32_t column, int32_t row, int32_t count);
// The look-up tables decodeMcuFast needs, from the context's Huffman tables.
void buildLookaheadTables(DecoderContext* ctx);

// Upsampling fused with the colour output (output_fast.cpp): upSampleFast
// leaves the layouts that storeMcuFast writes straight from the decoded
// blocks alone and runs upSample for the others.
int32_t upSampleFast(DecoderContext* ctx);
// Records in ctx->fusedOutput which of them the picture's layout takes;
// prepareFastPaths calls it, after the picture's parameters are in place.
void chooseFusedOutput(DecoderContext* ctx);
int32_t storeMcuFast(DecoderContext* ctx, int32_t column, int32_t row);
// storeMcuFast's work for an MCU that lies wholly inside the picture, in a
// fused layout.
void storeWholeMcu(DecoderContext* ctx, int32_t column);
// Three 8x8 rasters of Y, Cb, Cr to RGB, as storeMcu writes an MCU of them
// (a 4:2:0 preview at 1/2 has such MCUs).
void storeYccRaster(const int32_t* luma, const int32_t* cb, const int32_t* cr, uint8_t* out, size_t stride);

// One kernel per stage, each either the reference or the fast path.
struct DecoderKernels {
    int32_t (*idctBlock)(const int32_t* coefficients, const McuParam* param,
                         const McuComponent* component, int32_t* output);
    int32_t (*decodeMcu)(DecoderContext* ctx);
    int32_t (*upSample)(DecoderContext* ctx);
    int32_t (*storeMcu)(DecoderContext* ctx, int32_t column, int32_t row);
    // The vector transform for the processor, used by decodeMcuFast.
    IdctTransposedFn idctTransposed;
    IdctDcOnlyFn idctDcOnly;
    IdctBytesFn idctBytes;
    IdctDcOnlyBytesFn idctDcOnlyBytes;
};

// Chosen on first use: the fast paths unless MOX_SIMD=none.
const DecoderKernels& decoderKernels();

// Init's last step: picks the kernels (reading MOX_SIMD on the first job of
// the process) and builds what the fast paths need in the context.
void prepareFastPaths(DecoderContext* ctx);

}  // namespace mox
