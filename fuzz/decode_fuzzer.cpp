// Decoding hostile streams in every mode, with the piece size, band height,
// callbacks, output form and reduction taken from the input's last bytes.
// A JPEG stream may get a valid header of our own encoder in front, so that
// the fuzzer spends its time in the entropy-coded data; a VELA stream has no
// header, its picture and parameters come from the last bytes too.
// Whatever the pieces and bands, a successful decode must give the pixels
// of a decode from one whole buffer.
#include <algorithm>
#include <cstring>
#include <vector>

#include "decoder/harness.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kOptionBytes = 8;

// The header of a small picture of our own encoder, up to the end of SOS.
std::vector<uint8_t> ownHeader(const moxfuzz::Options& o)
{
    static const int kFormats[4] = {MOX_PIXEL_GRAY, MOX_PIXEL_RGB, MOX_PIXEL_CMYK, MOX_PIXEL_RGB};
    const int format = kFormats[o[4] & 3];
    const int bytesPerPixel = format == MOX_PIXEL_GRAY ? 1 : format == MOX_PIXEL_CMYK ? 4 : 3;
    const int width = 1 + o[5] % 80;
    const int height = 1 + o[6] % 80;
    EncodePicture picture{width, height, width, height, 0, 0, 5, format, 0, 72, 72, 1, 0};
    EncodeParam param;
    MoxEncClearParam(&param);
    param.restartInterval = (o[4] >> 2) & 7;
    const int components = bytesPerPixel;
    for (int c = 0; c < components; ++c) {
        param.hSamp[c] = c == 0 ? 1 + ((o[4] >> 5) & 1) : 1;
        param.vSamp[c] = c == 0 ? 1 + ((o[4] >> 6) & 1) : 1;
    }
    if (o[4] & 0x80) {  // Cb at 2x1 beside a 2x2 luminance: odd layouts
        param.hSamp[1] = 2;
    }
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(moxfuzz::allocBlock, moxfuzz::freeBlock, &sys);
    sys.lineBytes = uint32_t(width * bytesPerPixel);
    sys.inBufSize = sys.lineBytes * uint32_t(height);
    sys.outBufSize = 1u << 16;
    int32_t status = 0;
    EncoderContext* ctx = MoxEncInit(&picture, &sys, &param, &status);
    std::vector<uint8_t> header;
    if (ctx == nullptr) return header;
    std::memset(sys.inBuf, 0x80, sys.inBufSize);
    uint32_t bytes = 0;
    if (MoxEncode(ctx, &bytes, nullptr) == MOX_OK) {
        for (uint32_t i = 0; i + 3 < bytes; ++i) {
            if (sys.outBuf[i] == 0xFF && sys.outBuf[i + 1] == 0xDA) {
                uint32_t end = i + 2 + (uint32_t(sys.outBuf[i + 2]) << 8 | sys.outBuf[i + 3]);
                header.assign(sys.outBuf, sys.outBuf + std::min(end, bytes));
                break;
            }
        }
    }
    MoxEncFinalize(ctx);
    return header;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    moxfuzz::Options o(data, size, kOptionBytes);
    // Option bytes: 0 mode, header and callbacks; 1 piece size; 2 band
    // lines; 3 output form, reduction and component count; 4..6 the layout
    // and size of our own header (VELA: quantisers, width, height); 7 VELA
    // words.
    moxtest::DecodeOptions s;
    const int32_t mode = o[0] & 3;
    const bool ownHeaderFirst = (o[0] & 4) != 0;
    s.useInput = (o[0] & 8) != 0;
    s.useOutput = (o[0] & 16) != 0;
    s.pieceSize = o[1] == 0 ? 0 : 64 + (uint32_t(o[1]) - 1) * 8;
    s.bandLines = o[2];
    static const int32_t kReductions[4] = {1, 2, 4, 8};
    s.reduction = (o[3] & 0x0C) == 0x0C ? -1 : kReductions[(o[3] >> 2) & 3];
    const bool vela12 = mode == MOX_MODE_VELA || mode == MOX_MODE_VELA_BP;
    s.outFormat = vela12 ? 4 + (o[3] & 1) : (o[3] & 1);
    uint32_t velaWords[5] = {};
    VelaCopierParam copier{};
    switch (mode) {
    case MOX_MODE_VELA:  // size mode 0/1, rotation 0..3
        velaWords[0] = o[7] & 1;
        velaWords[1] = (o[7] >> 1) & 3;
        break;
    case MOX_MODE_VELA_BP:  // 128-byte MCUs when word 2 is 1
        velaWords[2] = o[7] & 1;
        velaWords[4] = 1;
        break;
    case MOX_MODE_VELA_COPIER:
        copier.words[1] = 1;
        copier.variableSize = o[7] & 1;
        copier.value = (o[7] >> 1) / 8.0;
        for (int i = 0; i < 16; ++i) copier.bytes[i] = uint8_t(o[7] * (i + 1));
        break;
    default:
        break;
    }
    if (mode != MOX_MODE_JPEG) {
        // VELA streams carry no header: the caller's records describe them.
        s.records = [&](PictureInfo& pic, DecodeParam& param) {
            pic.mode = mode;
            pic.width = 1 + o[5] % 64;
            pic.height = 1 + o[6] % 64;
            pic.componentCount = vela12 ? ((o[3] & 2) ? 4 : 1) : ((o[3] & 2) ? 3 : 1);
            for (int c = 0; c < 4; ++c) param.quantSel[c] = c & 1;
            for (int i = 0; i < 64; ++i) {
                param.quantTable[0][i] = 1 + (i * o[4]) % 255;
                param.quantTable[1][i] = 1 + o[4] % 32;
            }
            param.velaParam = velaWords;
            param.velaBpParam = velaWords;
            param.velaCopierParam = &copier;
        };
        s.useInput = true;  // even the first piece comes through InputFunc
    }

    std::vector<uint8_t> stream;
    if (ownHeaderFirst && mode == MOX_MODE_JPEG) stream = ownHeader(o);
    stream.insert(stream.end(), data, data + o.dataSize());
    if (stream.empty()) return 0;

    if (moxfuzz::pictureTooLarge(stream)) return 0;  // keep each run short
    moxtest::DecodeResult pieces = moxtest::decodeStream(stream, s);
    if (pieces.status < 0 && pieces.statusAgain != pieces.status) std::abort();  // first failure wins
    if (pieces.pieceOffset > std::max<uint32_t>(s.pieceSize, uint32_t(stream.size()))) std::abort();
    const bool complete = pieces.status == MOX_OK || pieces.status == MOX_STREAM_NO_EOI;
    if (complete) moxfuzz::touch(pieces.picture.pixels.data(), pieces.picture.pixels.size());
    if (complete) {
        moxtest::DecodeOptions whole = s;
        whole.pieceSize = 0;
        whole.bandLines = 0;
        whole.useInput = mode != MOX_MODE_JPEG;
        whole.useOutput = false;
        moxtest::DecodeResult reference = moxtest::decodeStream(stream, whole);
        if (reference.status != pieces.status || reference.picture.pixels != pieces.picture.pixels)
            std::abort();
    }
    return 0;
}
