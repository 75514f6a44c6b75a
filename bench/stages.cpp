// Per-stage timing of the decoder, reference function against fast path:
// Huffman decoding of an MCU (ns per MCU), the inverse DCT (ns per block)
// and upsampling with colour output (ns per MCU; 256 pixels in 4:2:0).
//
//   moxcodec_stages [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/fast.h"
#include "moxcodec.h"

namespace {

void* allocate(uint32_t size)
{
    return std::malloc(size);
}

void release(void* pointer)
{
    std::free(pointer);
}

int32_t appendBytes(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    out->insert(out->end(), buffer, buffer + length);
    return 0;
}

// A 4:2:0 stream of a 512 x 512 textured picture, quality row 9.
std::vector<uint8_t> photoStream()
{
    const int side = 512;
    std::vector<uint8_t> pixels(size_t(side) * side * 3);
    std::mt19937 rng(5);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            for (int c = 0; c < 3; ++c)
                pixels[(size_t(y) * side + x) * 3 + c] =
                    static_cast<uint8_t>((x * (c + 1) + y * 2 + (x * y) / 97 + rng() % 24) & 0xFF);
    EncodeParam param;
    MoxEncClearParam(&param);
    param.hSamp[0] = param.vSamp[0] = 2;
    for (int c = 1; c < 4; ++c) param.hSamp[c] = param.vSamp[c] = 1;
    EncodePicture pic{};
    pic.width = pic.regionWidth = side;
    pic.height = pic.regionHeight = side;
    pic.qualityLevel = 9;
    pic.pixelFormat = MOX_PIXEL_RGB;
    pic.densityX = pic.densityY = 1;
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(allocate, release, &sys);
    sys.lineBytes = side * 3;
    sys.inBufSize = uint32_t(pixels.size());
    sys.outBufSize = 65536;
    int32_t status = 0;
    EncoderContext* ctx = MoxEncInit(&pic, &sys, &param, &status);
    if (ctx == nullptr) std::abort();
    std::memcpy(sys.inBuf, pixels.data(), pixels.size());
    std::vector<uint8_t> stream;
    MoxEncSetOutFunc(ctx, appendBytes, &stream);
    uint32_t outBytes = 0;
    int32_t callbackError = 0;
    if (MoxEncode(ctx, &outBytes, &callbackError) != 0) std::abort();
    MoxEncFinalize(ctx);
    return stream;
}

// A decode job stopped before its first MCU, for calling stages directly.
struct Job {
    std::vector<uint8_t> stream = photoStream();
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    DecoderContext* ctx = nullptr;
    mox::BitCursor start;

    Job()
    {
        MoxDecClearParam(&pic, &sys, &param);
        MoxDecSetupMalloc(allocate, release, &sys);
        sys.inputBuffer = stream.data();
        sys.pieceSize = sys.totalSize = uint32_t(stream.size());
        MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, nullptr);
        pic.mode = MOX_MODE_JPEG;
        pic.outFormat = 1;
        sys.lineStride = uint32_t(pic.width * 3);
        sys.bandBufferSize = sys.lineStride * 16;
        int32_t error = 0;
        ctx = MoxDecInit(&pic, &sys, &param, &error);
        if (ctx == nullptr) std::abort();
        mox::D_setStrCode(ctx);
        mox::D_setMcuParam(ctx);
        mox::changeWritebuf(ctx, 0);
        start = ctx->cursor;
    }
    ~Job() { MoxDecFinalize(ctx); }
    int mcus() const { return ctx->mcusPerRow * ctx->mcuRows; }
};

Job& job()
{
    static Job instance;
    return instance;
}

void decodeAll(benchmark::State& state, int32_t (*kernel)(DecoderContext*))
{
    Job& j = job();
    for (auto _ : state) {
        j.ctx->cursor = j.start;
        std::memset(j.ctx->dcPredictors, 0, sizeof(j.ctx->dcPredictors));
        for (int m = 0; m < j.mcus(); ++m)
            if (kernel(j.ctx) != 0) state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(state.iterations() * j.mcus());
    state.counters["ns/MCU"] = benchmark::Counter(double(state.iterations() * j.mcus()),
                                                  benchmark::Counter::kIsRate |
                                                      benchmark::Counter::kInvert);
}

void BM_HuffmanIdctReference(benchmark::State& state)
{
    decodeAll(state, &mox::decodeMcuReference);
}
void BM_HuffmanIdctFast(benchmark::State& state)
{
    decodeAll(state, &mox::decodeMcuFast);
}

// Photo-like blocks: a few coefficients, shrinking with frequency.
struct Blocks {
    std::vector<int32_t> coefficients;
    int32_t quant[64];
    uint8_t range[mox::kRangeLimitBytes];
    mox::McuParam param{};
    mox::McuComponent component{};
    Blocks() : coefficients(256 * 64, 0)
    {
        std::mt19937 rng(3);
        for (int b = 0; b < 256; ++b)
            for (int k = 0; k < 64; ++k)
                if (k == 0 || rng() % (2 + k / 4) == 0)
                    coefficients[b * 64 + k] = int32_t(rng() % 401) - 200;
        for (int32_t& q : quant) q = 1 + int32_t(rng() % 16);
        mox::buildRangeLimit(range);
        param.rangeLimit = range + mox::kRangeLimitOrigin;
        component.quantTable = quant;
    }
};

void idct(benchmark::State& state, int32_t (*kernel)(const int32_t*, const mox::McuParam*,
                                                     const mox::McuComponent*, int32_t*))
{
    static Blocks blocks;
    int32_t out[64];
    for (auto _ : state) {
        for (int b = 0; b < 256; ++b)
            kernel(&blocks.coefficients[b * 64], &blocks.param, &blocks.component, out);
        benchmark::DoNotOptimize(out);
    }
    state.counters["ns/block"] = benchmark::Counter(double(state.iterations() * 256),
                                                    benchmark::Counter::kIsRate |
                                                        benchmark::Counter::kInvert);
}

void BM_IdctReference(benchmark::State& state)
{
    idct(state, &mox::D_idctBlock);
}
// Includes the dequantisation into the transposed order, which the fast
// Huffman decoder does while decoding.
void BM_IdctFast(benchmark::State& state)
{
    idct(state, &mox::idctBlockFast);
}

void output(benchmark::State& state, int32_t (*up)(DecoderContext*),
            int32_t (*store)(DecoderContext*, int32_t, int32_t))
{
    Job& j = job();
    for (auto _ : state) {
        up(j.ctx);
        store(j.ctx, 0, 0);
    }
    state.counters["ns/MCU"] = benchmark::Counter(double(state.iterations()),
                                                  benchmark::Counter::kIsRate |
                                                      benchmark::Counter::kInvert);
}

void BM_OutputReference(benchmark::State& state)
{
    output(state, &mox::upSample, &mox::storeMcu);
}
void BM_OutputFast(benchmark::State& state)
{
    output(state, &mox::upSampleFast, &mox::storeMcuFast);
}

BENCHMARK(BM_HuffmanIdctReference);
BENCHMARK(BM_HuffmanIdctFast);
BENCHMARK(BM_IdctReference);
BENCHMARK(BM_IdctFast);
BENCHMARK(BM_OutputReference);
BENCHMARK(BM_OutputFast);

}  // namespace

BENCHMARK_MAIN();
