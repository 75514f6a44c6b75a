// Encoding with parameters from the input: picture size, region, pixel
// format, quality, sampling, restart interval, bare output, caller
// quantisation tables (all 1s included) and caller Huffman tables (valid
// prefix codes of any lengths up to 16), output buffer size, band height
// and callbacks. The rest of the input is the pixels. Every encode must
// succeed, give the stream of a one-call encode into a large buffer, and
// read back without error by our decoder and without even a warning by
// libjpeg-turbo.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "support/refjpeg.h"

namespace {

constexpr size_t kOptionBytes = 16;

struct Job {
    const std::vector<uint8_t>* pixels;
    uint32_t lineBytes;
    uint32_t nextLine = 0;
    std::vector<uint8_t> stream;

    void feed(uint8_t* buffer, uint32_t lines)
    {
        size_t from = std::min(pixels->size(), size_t(nextLine) * lineBytes);
        std::memcpy(buffer, pixels->data() + from,
                    std::min(size_t(lines) * lineBytes, pixels->size() - from));
        nextLine += lines;
    }
};

int32_t pullIn(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* job = static_cast<Job*>(user);
    job->feed(buffer, length / job->lineBytes);
    return 0;
}

int32_t pullOut(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* job = static_cast<Job*>(user);
    job->stream.insert(job->stream.end(), buffer, buffer + length);
    return 0;
}

struct Request {
    EncodePicture picture;
    EncodeParam param;
    uint32_t bytesPerPixel;
    uint32_t bandLines;
    uint32_t outBufSize;
    bool pullInput;
    bool pullOutput;
};

// Returns the MoxEncode status (1 when Init refused) and the stream.
int32_t encode(const Request& r, const std::vector<uint8_t>& pixels, std::vector<uint8_t>* stream)
{
    const uint32_t lineBytes = uint32_t(r.picture.width) * r.bytesPerPixel;
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(moxfuzz::allocBlock, moxfuzz::freeBlock, &sys);
    sys.lineBytes = lineBytes;
    sys.inBufSize = r.bandLines * lineBytes;
    sys.outBufSize = r.outBufSize;
    int32_t status = 0;
    EncoderContext* ctx = MoxEncInit(&r.picture, &sys, &r.param, &status);
    if (ctx == nullptr) return 1;
    Job job{&pixels, lineBytes};
    if (r.pullInput) {
        MoxEncSetInFunc(ctx, pullIn, &job);
    } else {
        job.feed(sys.inBuf, std::min<uint32_t>(r.bandLines, uint32_t(r.picture.height)));
    }
    if (r.pullOutput) MoxEncSetOutFunc(ctx, pullOut, &job);
    uint32_t outBytes = 0;
    for (int calls = 0;; ++calls) {
        if (calls > (1 << 22)) std::abort();
        status = MoxEncode(ctx, &outBytes, nullptr);
        if (status == MOX_NEED_INPUT) {
            job.feed(sys.inBuf, uint32_t(MoxGetCurrentBandHeight(ctx)));
            continue;
        }
        if (outBytes > r.outBufSize) std::abort();
        if (status == MOX_OUTPUT_READY && outBytes != r.outBufSize) std::abort();
        if (status == MOX_OUTPUT_READY || (status == MOX_OK && !r.pullOutput))
            job.stream.insert(job.stream.end(), sys.outBuf, sys.outBuf + outBytes);
        if (status != MOX_OUTPUT_READY) break;
    }
    MoxEncFinalize(ctx);
    *stream = std::move(job.stream);
    return status;
}

// A valid table for `count` symbol indices: lengths from the input (1..16),
// lengthened until the code space holds them with the all-ones code free,
// then canonical codes in the order the header lists them (by length, then
// by index), so that every decoder rebuilds the same codes.
void callerTable(const uint8_t* lengths, size_t available, uint32_t count, HuffDecodeTable* t)
{
    std::memset(t, 0, sizeof *t);
    t->count = count;
    uint64_t space = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t b = available == 0 ? 0 : lengths[i % available];
        t->lengths[i] = 1 + (b + i) % 16;
        t->symbols[i] = i;
        space += uint64_t{1} << (16 - t->lengths[i]);
    }
    while (space >= (uint64_t{1} << 16)) {  // lengthen the shortest code
        uint32_t shortest = 0;
        for (uint32_t i = 1; i < count; ++i)
            if (t->lengths[i] < t->lengths[shortest]) shortest = i;
        space -= uint64_t{1} << (16 - t->lengths[shortest]);
        ++t->lengths[shortest];
        space += uint64_t{1} << (16 - t->lengths[shortest]);
    }
    uint32_t code = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        for (uint32_t i = 0; i < count; ++i)
            if (t->lengths[i] == length) t->codes[i] = code++;
        code <<= 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    moxfuzz::Options o(data, size, kOptionBytes);
    // Option bytes: 0..1 width, height; 2 format and flags; 3 quality;
    // 4 sampling; 5 restart interval; 6..7 output buffer size; 8 band
    // lines; 9 table choices; 10..13 region; 14..15 seeds of the caller
    // tables.
    static const int kFormats[4] = {MOX_PIXEL_GRAY, MOX_PIXEL_RGB, MOX_PIXEL_CMYK,
                                    MOX_PIXEL_FIRST_OF_3};
    Request r{};
    const int width = 1 + o[0] % 96;
    const int height = 1 + o[1] % 96;
    const int format = kFormats[o[2] & 3];
    r.bytesPerPixel = format == MOX_PIXEL_GRAY ? 1 : format == MOX_PIXEL_CMYK ? 4 : 3;
    const int components = format == MOX_PIXEL_GRAY || format == MOX_PIXEL_FIRST_OF_3 ? 1
                           : format == MOX_PIXEL_CMYK                               ? 4
                                                                                    : 3;
    const int regionLeft = o[10] % width;
    const int regionTop = o[11] % height;
    const int regionWidth = 1 + o[12] % (width - regionLeft);
    const int regionHeight = 1 + o[13] % (height - regionTop);
    const bool region = (o[2] & 4) != 0;
    r.picture = EncodePicture{width, height, region ? regionWidth : width,
                              region ? regionHeight : height, region ? regionLeft : 0,
                              region ? regionTop : 0, o[3] % 11, format, (o[2] >> 3) & 1, 72, 72,
                              1, 0};
    MoxEncClearParam(&r.param);
    for (int c = 0; c < components; ++c) {
        r.param.hSamp[c] = 1 + ((o[4] >> (2 * c)) & 1);
        r.param.vSamp[c] = 1 + ((o[4] >> (2 * c + 1)) & 1);
    }
    r.param.restartInterval = o[5] % 9;
    const uint8_t* pixelsFrom = data;
    size_t pixelBytes = o.dataSize();
    if (o[9] & 1) {  // caller quantisation tables from the data (all 1s when it is short)
        for (int t = 0; t < 2; ++t)
            for (int n = 0; n < 64; ++n)
                r.param.quantTable[t][n] = pixelBytes == 0 ? 1 : 1 + data[(t * 64 + n) % pixelBytes] % ((o[9] & 2) ? 255 : 4);
        r.param.quantSel[0] = 0;
        for (int c = 1; c < components; ++c) r.param.quantSel[c] = 1;
    }
    if (o[9] & 4) {  // caller Huffman tables
        for (int id = 0; id < 2; ++id) {
            callerTable(data + (o[14 + id] % (pixelBytes + 1)), pixelBytes - o[14 + id] % (pixelBytes + 1), 12,
                        &r.param.dcHuff[id]);
            callerTable(data + (o[15 - id] % (pixelBytes + 1)), pixelBytes - o[15 - id] % (pixelBytes + 1), 162,
                        &r.param.acHuff[id]);
        }
    }
    r.outBufSize = 1 + (uint32_t(o[6]) << 8 | o[7]) % 5000;
    r.bandLines = o[8] == 0 ? uint32_t(height) : o[8];
    r.pullInput = (o[2] & 16) != 0;
    r.pullOutput = (o[2] & 32) != 0;

    // Pixels: the data, repeated to fill the picture.
    std::vector<uint8_t> pixels(size_t(width) * height * r.bytesPerPixel);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = pixelBytes == 0 ? uint8_t(i * 37) : pixelsFrom[i % pixelBytes];

    std::vector<uint8_t> stream;
    int32_t status = encode(r, pixels, &stream);
    if (status == 1) return 0;  // Init refused the parameters
    if (status != MOX_OK) std::abort();
    moxfuzz::touch(stream.data(), stream.size());

    Request large = r;
    large.outBufSize = 1u << 20;
    large.bandLines = uint32_t(height);
    large.pullInput = large.pullOutput = false;
    std::vector<uint8_t> reference;
    if (encode(large, pixels, &reference) != MOX_OK || reference != stream) std::abort();
    if (r.picture.omitMarkers) return 0;

    moxtest::RefDecoded ref = moxtest::refDecodeComponents(stream);
    if (!ref.ok || ref.warnings != 0) std::abort();
    if (components == 4) return 0;  // our decoder reads 1 and 3 components

    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(moxfuzz::allocBlock, moxfuzz::freeBlock, &sys);
    std::vector<uint8_t> input(stream);
    input.resize(std::max<size_t>(input.size(), 64));
    sys.inputBuffer = input.data();
    sys.pieceSize = uint32_t(input.size());
    sys.totalSize = uint32_t(stream.size());
    int32_t error = 0;
    status = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, &error);
    if (status != MOX_OK) std::abort();
    pic.mode = MOX_MODE_JPEG;
    pic.outFormat = 1;
    sys.lineStride = uint32_t(pic.width * pic.componentCount);
    sys.bandBufferSize = sys.lineStride * uint32_t(pic.height);
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == nullptr) std::abort();
    uint32_t slot = 0;
    if (MoxDecode(ctx, 0, &slot) != MOX_OK) std::abort();
    moxfuzz::touch(sys.bandBuffer, sys.bandBufferSize);
    MoxDecFinalize(ctx);
    return 0;
}
