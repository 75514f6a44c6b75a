// libFuzzer harness of the mode-1 decoder, through the public interface
// only. The last four bytes choose the size mode, rotation, picture size,
// piece size and band height; the rest is the stream, fed in pieces through
// InputFunc so that every resumption point is reached. Every output byte is
// read. Build: clang++ -fsanitize=fuzzer,address,undefined (see README).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "moxcodec.h"

namespace {

struct Feed {
    const uint8_t* data;
    size_t size;
    size_t at;
    uint32_t piece;
    uint32_t checksum;
};

int32_t input(uint8_t* buffer, uintptr_t, uint32_t, int32_t, void* user)
{
    auto* f = static_cast<Feed*>(user);
    size_t n = f->size - f->at < f->piece ? f->size - f->at : f->piece;
    std::memcpy(buffer, f->data + f->at, n);
    f->at += n;
    return 0;
}

int32_t output(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* f = static_cast<Feed*>(user);
    for (uint32_t i = 0; i < length; ++i) f->checksum += buffer[i];
    return 0;
}

void* allocate(uint32_t size)
{
    return std::malloc(size);
}

void release(void* p)
{
    std::free(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5) return 0;
    const uint8_t* opt = data + size - 4;
    size -= 4;
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(allocate, release, &sys);
    const uint32_t words[2] = {opt[0] & 1u, (opt[0] >> 1) & 3u};
    pic.mode = MOX_MODE_VELA;
    pic.width = 1 + opt[1] % 40;
    pic.height = 1 + opt[2] % 40;
    pic.componentCount = (opt[0] & 8) != 0 ? 1 : 4;
    pic.outFormat = (opt[0] & 16) != 0 ? 5 : 4;
    for (int c = 0; c < 4; ++c) param.quantSel[c] = c & 1;
    for (int i = 0; i < 64; ++i) {
        param.quantTable[0][i] = 1 + i;
        param.quantTable[1][i] = 16;
    }
    param.velaParam = words;
    Feed feed{data, size, 0, 64u + opt[3] % 140u, 0};
    sys.pieceSize = feed.piece;
    sys.totalSize = static_cast<uint32_t>(size);
    const uint32_t bpp = pic.outFormat == 5 ? 1 : 4;
    sys.lineStride = static_cast<uint32_t>(pic.width) * bpp;
    sys.bandBufferSize = sys.lineStride * (1 + (opt[1] >> 4) % 12);
    int32_t error = 0;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == nullptr) return 0;
    MoxDecSetInFunc(ctx, input, &feed);
    if ((opt[0] & 32) != 0) MoxDecSetOutFunc(ctx, output, &feed);
    for (int calls = 0; calls < 100000; ++calls) {
        uint32_t slot = 0;
        int32_t status = MoxDecode(ctx, 0, &slot);
        if (status == MOX_OUTPUT_READY) {
            for (uint32_t i = 0; i < sys.bandBufferSize; ++i) feed.checksum += sys.bandBuffer[i];
            continue;
        }
        if (status != 0 && status != MOX_ERR_CORRUPT) std::abort();  // only these two outcomes
        break;
    }
    MoxDecFinalize(ctx);
    return static_cast<int>(feed.checksum & 0);
}
