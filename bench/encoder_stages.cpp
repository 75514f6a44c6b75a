// The encoder's stages, reference against fast path, with Google Benchmark:
// per MCU (4:2:2 photo-like samples) for extraction, colour conversion and
// downsampling, per block for the transform and for Huffman coding.
//   moxcodec_encoder_stages [--benchmark_filter=...]
// The fast paths use the instruction set chosen for this processor.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "encoder/encoder.h"
#include "encoder/fast.h"

namespace {

using namespace mox::enc;

// One 16 x 8 RGB MCU of a photo-like band, 4:2:2, default matrix, mean.
struct McuSetup {
    EncoderContext ctx{};
    std::vector<int32_t> storage = std::vector<int32_t>(12 * 256, 0);
    std::vector<uint8_t> pixels = std::vector<uint8_t>(16 * 8 * 3);

    McuSetup()
    {
        ctx.components = 3;
        ctx.pixelFormat = MOX_PIXEL_RGB;
        ctx.hMax = 2;
        ctx.vMax = 1;
        ctx.hSamp[0] = 2;
        for (int c = 0; c < 4; ++c) ctx.vSamp[c] = 1;
        ctx.hSamp[1] = ctx.hSamp[2] = ctx.hSamp[3] = 1;
        ctx.planeSamples = 128;
        ctx.downsampleMode = 1;
        for (int c = 0; c < 4; ++c) {
            ctx.convertedPlane[c] = storage.data() + c * 256;
            ctx.rawPlane[c] = storage.data() + (4 + c) * 256;
            ctx.blockBuf[c] = storage.data() + (8 + c) * 256;
        }
        const int32_t matrix[16] = {77, 150, 29, 0, -43, -85, 128, 0, 128, -107, -21, 0, 0, 0, 0, 256};
        std::memcpy(ctx.fixedMatrix, matrix, sizeof matrix);
        const int32_t shifts[4] = {-128, 0, 0, -128};
        std::memcpy(ctx.levelShift, shifts, sizeof shifts);
        std::mt19937 rng(5);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(96 + i % 48 + rng() % 16);
        ctx.regionWidth = 16;
        ctx.lineBytes = 16 * 3;
        ctx.rowBytes = ctx.lineBytes * 8;
        ctx.rowSource = pixels.data();
    }
};

// Photo-like level-shifted blocks and a quantisation table of row 8.
struct BlockSetup {
    std::vector<std::vector<int32_t>> blocks;
    int32_t table[64];
    float divisors[64];
    HuffDecodeTable dc, ac;

    BlockSetup()
    {
        std::mt19937 rng(11);
        for (int b = 0; b < 64; ++b) {
            std::vector<int32_t> block(64);
            int base = int(rng() % 200) - 100;
            for (int i = 0; i < 64; ++i) block[i] = base + (i % 8) * 3 - (i / 8) * 2 + int(rng() % 9) - 4;
            blocks.push_back(block);
        }
        for (int n = 0; n < 64; ++n) table[n] = 4 + n / 4;
        transposedDivisors(table, divisors);
        defaultHuffmanTable(false, 0, &dc);
        defaultHuffmanTable(true, 0, &ac);
    }
};

void BM_PrepareMcuReference(benchmark::State& state)
{
    McuSetup s;
    for (auto _ : state) {
        extractSamples(&s.ctx, 0);
        convertColor(&s.ctx);
        downsample(&s.ctx);
        benchmark::DoNotOptimize(s.ctx.blockBuf[2][63]);
    }
    state.SetItemsProcessed(state.iterations() * 128);  // pixels
}
BENCHMARK(BM_PrepareMcuReference);

void BM_PrepareMcuFast(benchmark::State& state)
{
    McuSetup s;
    const ExtractConvertFn extractConvert = extractConvertKernel();
    const DownsampleFn reduce = downsampleKernel();
    for (auto _ : state) {
        if (!extractConvert(&s.ctx, 0)) reduce(&s.ctx);
        benchmark::DoNotOptimize(s.ctx.blockBuf[2][63]);
    }
    state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_PrepareMcuFast);

void BM_TransformReference(benchmark::State& state)
{
    BlockSetup s;
    size_t b = 0;
    for (auto _ : state) {
        float coefficients[64];
        int32_t natural[64], zz[64];
        forwardDct(s.blocks[b++ % s.blocks.size()].data(), coefficients);
        quantize(coefficients, s.table, natural);
        zigzag(natural, zz);
        benchmark::DoNotOptimize(zz[0]);
    }
    state.SetItemsProcessed(state.iterations());  // blocks
}
BENCHMARK(BM_TransformReference);

void BM_TransformFast(benchmark::State& state)
{
    BlockSetup s;
    const ForwardDctQuantizeFn transform = forwardDctQuantizeKernel();
    size_t b = 0;
    for (auto _ : state) {
        int32_t zz[64];
        benchmark::DoNotOptimize(transform(s.blocks[b++ % s.blocks.size()].data(), s.divisors, zz));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TransformFast);

// The quantised blocks of BlockSetup, coded one after the other (the
// reference takes them in zig-zag order, the fast coder as they come).
template <bool kFast>
void huffmanBlocks(benchmark::State& state)
{
    BlockSetup s;
    const ForwardDctQuantizeFn transform = forwardDctQuantizeKernel();
    std::vector<std::vector<int32_t>> zz;
    std::vector<uint64_t> masks;
    for (const auto& block : s.blocks) {
        zz.emplace_back(64);
        masks.push_back(transform(block.data(), s.divisors, zz.back().data()));
    }
    std::vector<uint8_t> buffer(zz.size() * 512);  // above a block's worst case
    for (auto _ : state) {
        std::fill(buffer.begin(), buffer.end(), 0);
        mox::BitCursor cursor{};
        cursor.data = buffer.data();
        cursor.bitPos = 7;
        int32_t predictor = 0;
        for (size_t b = 0; b < zz.size(); ++b) {
            if (kFast) {
                codeHuffmanFast(zz[b].data(), kZigzagToTransposed, masks[b], &s.dc, &s.ac,
                                &predictor, &cursor);
            } else {
                int32_t inZigzag[64];
                for (int k = 0; k < 64; ++k) inZigzag[k] = zz[b][kZigzagToTransposed[k]];
                CodePositions positions;
                codeHuffman(inZigzag, &s.dc, &s.ac, &predictor, &cursor, &positions);
            }
        }
        benchmark::DoNotOptimize(cursor.byteIndex);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(zz.size()));  // blocks
}

void BM_HuffmanReference(benchmark::State& state)
{
    huffmanBlocks<false>(state);
}
BENCHMARK(BM_HuffmanReference);

void BM_HuffmanFast(benchmark::State& state)
{
    huffmanBlocks<true>(state);
}
BENCHMARK(BM_HuffmanFast);

}  // namespace
