// Header analysis over hostile bytes: the whole stream in one exact-size
// buffer, a prefix of it (the analysis must ask for more input, not read
// past the piece), or a first fill through InputFunc; then decoder Init
// over whatever the analysis filled in, and Finalize.
#include <cstring>
#include <memory>

#include "fuzz_support.h"

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
};

int32_t fillFirst(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* source = static_cast<Source*>(user);
    std::memcpy(buffer, source->data, length < source->size ? length : source->size);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    moxfuzz::Options options(data, size, 2);
    const size_t streamSize = options.dataSize();
    if (streamSize == 0) return 0;
    // Piece: the whole stream, or a prefix of at least one byte.
    size_t piece = streamSize;
    if (options[0] & 1) piece = 1 + (size_t(options[1]) * streamSize) / 256;
    const bool pull = (options[0] & 2) != 0;

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[piece]);
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(moxfuzz::allocBlock, moxfuzz::freeBlock, &sys);
    sys.inputBuffer = buffer.get();
    sys.pieceSize = static_cast<uint32_t>(piece);
    sys.totalSize = static_cast<uint32_t>(streamSize);
    Source source{data, streamSize};
    int32_t error = 0;
    int32_t status;
    if (pull) {
        sys.firstFill = 1;
        status = MoxAnalysisHeader(&sys, fillFirst, &source, &pic, &param, &error);
    } else {
        std::memcpy(buffer.get(), data, piece);
        status = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, &error);
    }
    if (status != MOX_OK && status != MOX_HEADER_SKIPPED) return 0;
    if (sys.pieceOffset > sys.pieceSize || sys.consumedTotal > sys.totalSize) std::abort();

    // Init checks the records as the analysis left them.
    pic.mode = MOX_MODE_JPEG;
    pic.outFormat = (options[0] >> 2) & 1;
    uint32_t bytesPerPixel = pic.outFormat == 0 ? 1 : 3;
    if (pic.width > 0 && pic.width <= 4096 && pic.height > 0 && pic.height <= 4096) {
        sys.lineStride = uint32_t(pic.width) * bytesPerPixel;
        sys.bandBufferSize = sys.lineStride * 16;
        if (sys.pieceSize < 64) {
            // Init wants a piece of at least 64 bytes; keep the stream's.
            return 0;
        }
        DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
        if (ctx != nullptr) MoxDecFinalize(ctx);
    }
    return 0;
}
