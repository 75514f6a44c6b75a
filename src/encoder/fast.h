// The encoder's fast paths and the table that picks, once per process,
// between them and the reference stages of encoder.h. Every fast path
// produces the same values as its reference; the tests compare them stage
// by stage.
#pragma once

#include <cstdint>

#include "encoder/encoder.h"

namespace mox::enc {

// Vector kernels (forward_fast.cpp), for the instruction set chosen at run time.
// Forward DCT with the result transposed (see forwardDctTransposed).
using ForwardDctFn = void (*)(const int32_t* samples, float* transposed);
// Quantisation of 64 floats with their divisors (same order), as the
// transform kernel quantises.
using QuantizeFn = void (*)(const float* coefficients, const float* divisors, int32_t* quantized);
// ForwardDctQuantizeFn (encoder.h): forward DCT and quantisation with the
// transposed float table of one block, the result transposed; returns the
// mask of nonzero zig-zag positions.
// Extraction and colour conversion of one MCU into the converted planes;
// the raw planes are not used. Returns true when it has also downsampled
// into the block buffers (the converted planes then stay as they were).
using ExtractConvertFn = bool (*)(EncoderContext* ctx, uint32_t mcuColumn);
// Downsampling of the converted planes into the block buffers.
using DownsampleFn = void (*)(EncoderContext* ctx);
ForwardDctFn forwardDctKernel();
DownsampleFn downsampleKernel();
ForwardDctQuantizeFn forwardDctQuantizeKernel();
QuantizeFn quantizeKernel();
ExtractConvertFn extractConvertKernel();

// One kernel per stage, each either the reference or the fast path.
struct EncoderKernels {
    // Extraction, colour conversion and downsampling of one MCU.
    void (*prepareMcu)(EncoderContext* ctx, uint32_t mcuColumn);
    // Fast paths only (null with MOX_SIMD=none): the vector kernels that
    // prepareMcu runs, and the block transform of MoxCodeMcu; without
    // it MoxCodeMcu codes every block with codeJpgBlk.
    ExtractConvertFn extractConvert;
    DownsampleFn downsample;
    ForwardDctQuantizeFn forwardDctQuantize;
};

// Chosen on first use: the fast paths unless MOX_SIMD=none.
const EncoderKernels& encoderKernels();

}  // namespace mox::enc
