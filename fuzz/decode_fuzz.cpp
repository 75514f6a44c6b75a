// Decoding hostile streams in every mode, with the piece size, band height,
// callbacks, output form and reduction taken from the input's last bytes.
// A stream may get a valid header of our own encoder in front, so that the
// fuzzer spends its time in the entropy-coded data. Whatever the pieces and
// bands, a successful decode must give the pixels of a decode from one
// whole buffer.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr size_t kOptionBytes = 8;

struct Settings {
    int32_t mode;
    uint32_t pieceSize;  // 0: the whole stream
    uint32_t bandLines;  // 0: the whole picture
    bool useInput;
    bool useOutput;
    int32_t outFormat;
    int32_t reduction;
    int32_t components;  // VELA modes: the caller's component count
    uint32_t velaWords[5];
    VelaCopierParam copier;
};

struct Job {
    const std::vector<uint8_t>* stream;
    size_t delivered = 0;
    uint32_t pieceSize = 0;
    std::vector<uint8_t> pixels;
};

void fill(Job* job, uint8_t* buffer, uint32_t length)
{
    size_t n = std::min<size_t>(job->stream->size() - job->delivered, length);
    std::memcpy(buffer, job->stream->data() + job->delivered, n);
    job->delivered += n;
}

int32_t input(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* job = static_cast<Job*>(user);
    if (length > job->pieceSize) std::abort();  // more than the buffer holds
    fill(job, buffer, job->pieceSize);
    return 0;
}

int32_t output(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* job = static_cast<Job*>(user);
    job->pixels.insert(job->pixels.end(), buffer, buffer + length);
    return 0;
}

struct Outcome {
    int32_t status = 1;  // 1: Init refused or the header was incomplete
    std::vector<uint8_t> pixels;
};

Outcome decode(const std::vector<uint8_t>& stream, const Settings& s)
{
    Outcome outcome;
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(moxfuzz::allocBlock, moxfuzz::freeBlock, &sys);
    // The header comes from one buffer of exactly the stream's size.
    std::vector<uint8_t> head(stream);
    sys.inputBuffer = head.data();
    sys.pieceSize = static_cast<uint32_t>(head.size());
    sys.totalSize = static_cast<uint32_t>(head.size());
    int32_t error = 0;
    int32_t status = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, &error);
    if (status != MOX_OK && status != MOX_HEADER_SKIPPED) return outcome;
    if (pic.width > 512 || pic.height > 512) return outcome;  // keep each run short

    Job job{&stream};
    job.delivered = sys.consumedTotal;
    job.pieceSize = s.pieceSize == 0 ? std::max<uint32_t>(sys.totalSize, 64) : s.pieceSize;
    std::vector<uint8_t> piece(job.pieceSize);
    fill(&job, piece.data(), job.pieceSize);
    sys.inputBuffer = piece.data();
    sys.pieceSize = job.pieceSize;
    sys.pieceOffset = 0;

    pic.mode = s.mode;
    pic.reduction = s.reduction;
    pic.outFormat = s.outFormat;
    if (s.mode != MOX_MODE_JPEG) pic.componentCount = s.components;
    param.velaParam = s.velaWords;
    param.velaBpParam = s.velaWords;
    param.velaCopierParam = &s.copier;
    uint32_t bytesPerPixel = s.outFormat == 0 ? 1 : s.outFormat == 1 ? 3 : 4;
    if (pic.width <= 0 || pic.height <= 0) return outcome;
    sys.lineStride = uint32_t(pic.width) * bytesPerPixel;
    uint32_t bandLines = s.bandLines == 0 ? uint32_t(pic.height) : s.bandLines;
    sys.bandBufferSize = sys.lineStride * bandLines;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == nullptr) return outcome;
    if (s.useInput) MoxDecSetInFunc(ctx, input, &job);
    if (s.useOutput) MoxDecSetOutFunc(ctx, output, &job);

    int askedPastEnd = 0;
    for (int calls = 0;; ++calls) {
        if (calls > (1 << 20)) std::abort();  // a job that never ends
        uint32_t slot = 0;
        status = MoxDecode(ctx, 0, &slot);
        if (status == MOX_NEED_INPUT) {
            // With the whole stream given, the decoder must not keep asking.
            if (job.delivered >= stream.size() && ++askedPastEnd > 4 && s.mode == MOX_MODE_JPEG)
                std::abort();
            fill(&job, sys.inputBuffer, sys.pieceSize);
            continue;
        }
        if (status == MOX_OUTPUT_READY) {
            job.pixels.insert(job.pixels.end(), sys.bandBuffer, sys.bandBuffer + sys.bandBufferSize);
            continue;
        }
        break;
    }
    if (status == MOX_OK || status == MOX_STREAM_NO_EOI) {
        if (!s.useOutput) {
            uint32_t lines = uint32_t(pic.height) % bandLines;
            if (lines == 0) lines = bandLines;
            job.pixels.insert(job.pixels.end(), sys.bandBuffer,
                              sys.bandBuffer + lines * sys.lineStride);
        }
        moxfuzz::touch(job.pixels.data(), job.pixels.size());
    }
    if (sys.pieceOffset > sys.pieceSize) std::abort();
    // A failed job stays failed and untouched.
    if (status < 0 && MoxDecode(ctx, 0, nullptr) != status) std::abort();
    MoxDecFinalize(ctx);
    outcome.status = status;
    outcome.pixels = std::move(job.pixels);
    return outcome;
}

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
    // lines; 3 output form, reduction and VELA words; 4..6 the layout and
    // size of our own header; 7 VELA words.
    Settings s{};
    s.mode = o[0] & 3;
    const bool ownHeaderFirst = (o[0] & 4) != 0;
    s.useInput = (o[0] & 8) != 0;
    s.useOutput = (o[0] & 16) != 0;
    s.pieceSize = o[1] == 0 ? 0 : 64 + (uint32_t(o[1]) - 1) * 8;
    s.bandLines = o[2] == 0 ? 0 : o[2];
    static const int32_t kReductions[4] = {1, 2, 4, 8};
    s.reduction = (o[3] & 0x0C) == 0x0C ? -1 : kReductions[(o[3] >> 2) & 3];
    const bool vela12 = s.mode == MOX_MODE_VELA || s.mode == MOX_MODE_VELA_BP;
    s.outFormat = vela12 ? 4 + (o[3] & 1) : (o[3] & 1);
    s.components = vela12 ? ((o[3] & 2) ? 4 : 1) : ((o[3] & 2) ? 3 : 1);
    switch (s.mode) {
    case MOX_MODE_VELA:  // size mode 0/1, rotation 0..3
        s.velaWords[0] = o[7] & 1;
        s.velaWords[1] = (o[7] >> 1) & 3;
        break;
    case MOX_MODE_VELA_BP:  // 128-byte MCUs when word 2 is 1
        s.velaWords[2] = o[7] & 1;
        s.velaWords[4] = 1;
        break;
    case MOX_MODE_VELA_COPIER:
        s.copier.words[1] = 1;
        s.copier.variableSize = o[7] & 1;
        s.copier.value = (o[7] >> 1) / 8.0;
        for (int i = 0; i < 16; ++i) s.copier.bytes[i] = uint8_t(o[7] * (i + 1));
        break;
    default:
        break;
    }

    std::vector<uint8_t> stream;
    if (ownHeaderFirst) stream = ownHeader(o);
    stream.insert(stream.end(), data, data + o.dataSize());
    if (stream.empty()) return 0;

    Outcome pieces = decode(stream, s);
    if (s.mode == MOX_MODE_JPEG && (pieces.status == MOX_OK || pieces.status == MOX_STREAM_NO_EOI)) {
        Settings whole = s;
        whole.pieceSize = 0;
        whole.bandLines = 0;
        whole.useInput = whole.useOutput = false;
        Outcome reference = decode(stream, whole);
        if (reference.status != pieces.status || reference.pixels != pieces.pixels) std::abort();
    }
    return 0;
}
