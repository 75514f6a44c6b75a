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

#include "decoder/harness.h"
#include "encoder/encode_support.h"
#include "fuzz_support.h"
#include "support/refjpeg.h"

namespace {

constexpr size_t kOptionBytes = 16;

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
    const int width = 1 + o[0] % 64;
    const int height = 1 + o[1] % 64;
    const int format = kFormats[o[2] & 3];
    const int components = format == MOX_PIXEL_GRAY || format == MOX_PIXEL_FIRST_OF_3 ? 1
                           : format == MOX_PIXEL_CMYK                               ? 4
                                                                                    : 3;
    const uint8_t* pixelsFrom = data;
    const size_t pixelBytes = o.dataSize();
    enctest::EncodeSetup r;
    r.picture.width = width;
    r.picture.height = height;
    r.picture.components = enctest::bytesPerPixel(format);
    // Pixels: the data, repeated to fill the picture.
    r.picture.pixels.resize(size_t(width) * height * r.picture.components);
    for (size_t i = 0; i < r.picture.pixels.size(); ++i)
        r.picture.pixels[i] = pixelBytes == 0 ? uint8_t(i * 37) : pixelsFrom[i % pixelBytes];

    const int regionLeft = o[10] % width;
    const int regionTop = o[11] % height;
    const bool region = (o[2] & 4) != 0;
    r.pic = EncodePicture{width, height, region ? 1 + o[12] % (width - regionLeft) : width,
                          region ? 1 + o[13] % (height - regionTop) : height,
                          region ? regionLeft : 0, region ? regionTop : 0, o[3] % 11, format,
                          (o[2] >> 3) & 1, 72, 72, 1, 0};
    MoxEncClearParam(&r.param);
    for (int c = 0; c < components; ++c) {
        r.param.hSamp[c] = 1 + ((o[4] >> (2 * c)) & 1);
        r.param.vSamp[c] = 1 + ((o[4] >> (2 * c + 1)) & 1);
    }
    r.param.restartInterval = o[5] % 9;
    if (o[9] & 1) {  // caller quantisation tables from the data (all 1s when it is short)
        const int range = (o[9] & 2) ? 255 : 4;
        for (int t = 0; t < 2; ++t)
            for (int n = 0; n < 64; ++n)
                r.param.quantTable[t][n] = pixelBytes == 0 ? 1 : 1 + data[(t * 64 + n) % pixelBytes] % range;
        r.param.quantSel[0] = 0;
        for (int c = 1; c < components; ++c) r.param.quantSel[c] = 1;
    }
    if (o[9] & 4) {  // caller Huffman tables
        for (int id = 0; id < 2; ++id) {
            size_t dcFrom = o[14 + id] % (pixelBytes + 1), acFrom = o[15 - id] % (pixelBytes + 1);
            callerTable(data + dcFrom, pixelBytes - dcFrom, 12, &r.param.dcHuff[id]);
            callerTable(data + acFrom, pixelBytes - acFrom, 162, &r.param.acHuff[id]);
        }
    }
    r.outBufSize = 1 + (uint32_t(o[6]) << 8 | o[7]) % 5000;
    r.bandLines = o[8];
    r.pullInput = (o[2] & 16) != 0;
    r.pullOutput = (o[2] & 32) != 0;

    enctest::EncodeRun run = enctest::runEncode(r);
    if (run.initStatus != MOX_OK) return 0;  // Init refused the parameters
    if (run.status != MOX_OK) std::abort();
    for (uint32_t pushed : run.pushed)
        if (pushed != r.outBufSize) std::abort();
    for (size_t i = 0; i < run.handOvers.size(); ++i)
        if (run.handOvers[i] != r.outBufSize && i + 1 != run.handOvers.size()) std::abort();
    moxfuzz::touch(run.stream.data(), run.stream.size());

    enctest::EncodeSetup large = r;
    large.outBufSize = uint32_t(run.stream.size()) + 16;  // the whole stream in one buffer
    large.bandLines = 0;
    large.pullInput = large.pullOutput = false;
    enctest::EncodeRun reference = enctest::runEncode(large);
    if (reference.status != MOX_OK || reference.stream != run.stream) std::abort();
    if (r.pic.omitMarkers) return 0;

    moxtest::RefDecoded ref = moxtest::refDecodeComponents(run.stream);
    if (!ref.ok || ref.warnings != 0) std::abort();
    if (components == 4) return 0;  // our decoder reads 1 and 3 components
    moxtest::DecodeResult ours = moxtest::decodeStream(run.stream, {});
    if (ours.status != MOX_OK) std::abort();
    moxfuzz::touch(ours.picture.pixels.data(), ours.picture.pixels.size());
    return 0;
}
