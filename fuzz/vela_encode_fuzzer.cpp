// libFuzzer harness of the VELA encoder: the parameter words, sub-mode,
// pixel format, picture size, band height and output buffer size come from
// the input, the pixels from the rest of it. Whatever Init accepts must
// encode, and the stream must decode again in mode 1 with every MCU within
// 64 bytes (exactly 64 in fixed-size mode).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "moxcodec.h"

namespace {

void* allocate(uint32_t size)
{
    return std::malloc(size);
}

void release(void* p)
{
    std::free(p);
}

struct Source {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t next() { return size == 0 ? 0 : data[at++ % size]; }
};

std::vector<uint8_t> encode(Source& in, int width, int height, int format, uint32_t sizeMode,
                            VelaEncodeParam& words, int velaMode, uint32_t bandLines,
                            uint32_t outSize)
{
    EncodePicture pic{};
    pic.width = width;
    pic.height = height;
    pic.pixelFormat = format;
    pic.codingMode = 1;
    EncodeParam param;
    MoxEncClearParam(&param);
    param.velaMode = velaMode;
    param.velaParam = &words;
    for (int c = 0; c < 4; ++c) param.quantSel[c] = c % 2;
    for (int i = 0; i < 64; ++i) {
        param.quantTable[0][i] = 1 + (in.next() % 64);
        param.quantTable[1][i] = 1 + i;
    }
    const uint32_t bpp = format == MOX_PIXEL_CMYK ? 4 : 1;
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(allocate, release, &sys);
    sys.lineBytes = uint32_t(width) * bpp;
    sys.inBufSize = sys.lineBytes * bandLines;
    sys.outBufSize = outSize;
    int32_t status = 0;
    EncoderContext* ctx = MoxEncInit(&pic, &sys, &param, &status);
    std::vector<uint8_t> stream;
    if (ctx == nullptr) return stream;
    std::vector<uint8_t> pixels(size_t(sys.lineBytes) * height);
    for (uint8_t& p : pixels) p = in.next();
    uint32_t line = 0;
    auto feed = [&](uint32_t lines) {
        for (uint32_t i = 0; i < lines && line < uint32_t(height); ++i, ++line)
            std::memcpy(sys.inBuf + size_t(i) * sys.lineBytes, pixels.data() + size_t(line) * sys.lineBytes,
                        sys.lineBytes);
    };
    feed(bandLines);
    uint32_t outBytes = 0;
    for (;;) {
        status = MoxEncode(ctx, &outBytes, nullptr);
        if (status == MOX_NEED_INPUT) {
            feed(uint32_t(MoxGetCurrentBandHeight(ctx)));
            continue;
        }
        if (status == MOX_OUTPUT_READY || status == 0)
            stream.insert(stream.end(), sys.outBuf, sys.outBuf + outBytes);
        if (status != MOX_OUTPUT_READY) break;
    }
    MoxEncFinalize(ctx);
    if (status != 0) std::abort();  // an accepted job must encode
    (void)sizeMode;
    return stream;
}

struct Feed {
    const std::vector<uint8_t>* stream;
    size_t at;
};

int32_t input(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* f = static_cast<Feed*>(user);
    size_t n = std::min<size_t>(length, f->stream->size() - f->at);
    std::memcpy(buffer, f->stream->data() + f->at, n);
    f->at += n;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 48) return 0;
    Source in{data, size};
    VelaEncodeParam words{};
    static const uint32_t kLimit[34] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 1, 1, 1, 1,
                                        1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 15, 64};
    for (int w = 0; w < 34; ++w) words.word[w] = in.next() % (kLimit[w] + 1);
    const int velaMode = 1 + in.next() % 3;
    const int format = (in.next() & 1) != 0 ? MOX_PIXEL_CMYK : MOX_PIXEL_VELA_GRAY;
    const int width = 1 + in.next() % 33;
    const int height = 1 + in.next() % 33;
    const uint32_t bandLines = 1 + in.next() % uint32_t(height);
    const uint32_t outSize = (in.next() & 1) != 0 ? 64 + in.next() % 200 : 4096;
    in.data += in.at;
    in.size -= in.at;
    in.at = 0;
    std::vector<uint8_t> stream = encode(in, width, height, format, words.word[31], words, velaMode,
                                         bandLines, outSize);
    if (stream.empty()) return 0;
    const size_t mcus = size_t((width + 7) / 8) * size_t((height + 7) / 8);
    if (words.word[31] == 0 ? stream.size() != 64 * mcus : stream.size() > 64 * mcus) std::abort();

    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(allocate, release, &sys);
    const uint32_t decodeWords[2] = {words.word[31], 0};
    pic.mode = MOX_MODE_VELA;
    pic.width = width;
    pic.height = height;
    pic.componentCount = 4;
    pic.outFormat = 4;
    for (int c = 0; c < 4; ++c) param.quantSel[c] = 0;
    for (int i = 0; i < 64; ++i) param.quantTable[0][i] = 16;
    param.velaParam = decodeWords;
    sys.pieceSize = 64;
    sys.totalSize = uint32_t(stream.size());
    sys.lineStride = uint32_t(width) * 4;
    sys.bandBufferSize = sys.lineStride * uint32_t(height);
    int32_t error = 0;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == nullptr) std::abort();
    Feed feed{&stream, 0};
    MoxDecSetInFunc(ctx, input, &feed);
    uint32_t slot = 0;
    int32_t status = MoxDecode(ctx, 0, &slot);
    MoxDecFinalize(ctx);
    if (status != 0) std::abort();  // the encoder wrote an MCU its decoder cannot read
    return 0;
}
