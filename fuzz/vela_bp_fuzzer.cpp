// Fuzz harness of the bp (mode 2) and copier (mode 3) decoders through the
// public interface. The last 8 input bytes choose the job: mode, MCU size,
// variable size, output form, components, picture size, piece size, band
// height, whether a caller table block (the input itself, repeated) is
// given and which allocation fails; the rest is the stream, fed in small
// pieces through InputFunc.
// Every output byte is read. Build:
//   clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -Iinclude -Isrc \
//       fuzz/vela_bp_fuzzer.cpp src/*/*.cpp -o vela_bp_fuzzer
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "moxcodec.h"

namespace {

constexpr size_t kOptionBytes = 8;
constexpr size_t kTableBlockBytes = 6672;

struct Job {
    const uint8_t* data;
    size_t size;
    size_t delivered = 0;
    uint32_t checksum = 0;
};

// Allocation failures are injected: the allocation numbered failAt fails.
int allocations = 0;
int failAt = -1;

void* allocate(uint32_t size)
{
    return allocations++ == failAt ? nullptr : std::malloc(size == 0 ? 1 : size);
}

void release(void* pointer)
{
    std::free(pointer);
}

int32_t input(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* job = static_cast<Job*>(user);
    size_t n = job->size - job->delivered < length ? job->size - job->delivered : length;
    std::memcpy(buffer, job->data + job->delivered, n);
    job->delivered += n;
    return 0;
}

int32_t output(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* job = static_cast<Job*>(user);
    for (uint32_t i = 0; i < length; ++i) job->checksum = job->checksum * 31 + buffer[i];
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size <= kOptionBytes) return 0;
    const uint8_t* o = data + size - kOptionBytes;
    size -= kOptionBytes;
    const bool copier = o[0] & 1;
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    allocations = 0;
    failAt = (o[6] >> 1 & 7) >= 4 ? (o[6] >> 1 & 7) - 4 : -1;
    MoxDecSetupMalloc(allocate, release, &sys);
    pic.mode = copier ? MOX_MODE_VELA_COPIER : MOX_MODE_VELA_BP;
    pic.width = 1 + o[1] % 40;
    pic.height = 1 + o[2] % 40;
    pic.componentCount = copier ? (o[0] & 2 ? 3 : 1) : (o[0] & 2 ? 4 : 1);
    pic.outFormat = copier ? (o[0] >> 2 & 1) : 4 + (o[0] >> 2 & 1);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 64; ++i) param.quantTable[t][i] = 1 + (i * 7 + t) % 40;
    for (int c = 0; c < 4; ++c) param.quantSel[c] = c & 1;
    const uint32_t bpWords[5] = {0, 0, uint32_t(o[0] >> 3 & 1), 0, 1};
    VelaCopierParam copierParam{};
    copierParam.words[1] = 1;
    copierParam.variableSize = o[0] >> 4 & 1;
    std::vector<uint8_t> tables;
    if (o[0] & 0x20) {  // hostile caller tables: the stream bytes over and over
        tables.resize(kTableBlockBytes);
        for (size_t i = 0; i < kTableBlockBytes; ++i) tables[i] = uint8_t(data[i % size] ^ o[7]);
        param.velaBpTables = tables.data();
    }
    param.velaBpParam = bpWords;
    param.velaCopierParam = &copierParam;
    const uint32_t bytesPerPixel = pic.outFormat == 0 || pic.outFormat == 5 ? 1 : uint32_t(pic.componentCount);
    sys.pieceSize = 64 + o[3] % 192;
    sys.totalSize = uint32_t(size);
    sys.lineStride = uint32_t(pic.width) * bytesPerPixel + o[4] % 3;
    sys.bandBufferSize = sys.lineStride * (1 + o[5] % 24);
    int32_t error = 0;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == nullptr) return 0;
    Job job{data, size};
    MoxDecSetInFunc(ctx, input, &job);
    const bool pushBands = o[6] & 1;
    if (!pushBands) MoxDecSetOutFunc(ctx, output, &job);
    for (int calls = 0; calls < 100000; ++calls) {
        int32_t status = MoxDecode(ctx, 0, nullptr);
        if (status != MOX_OUTPUT_READY) break;
        output(sys.bandBuffer, 0, sys.bandBufferSize, 0, &job);
    }
    output(sys.bandBuffer, 0, sys.bandBufferSize, 0, &job);
    MoxDecFinalize(ctx);
    static volatile uint32_t sink;
    sink = job.checksum;  // every output byte was read
    return 0;
}
