#include "encoder/encode_support.h"

#include "support/allocator.h"

#include <algorithm>
#include <cstring>

namespace enctest {

namespace {

struct Feeder {
    const EncodeSetup* setup;
    uint32_t lineBytes;
    uint32_t nextLine = 0;

    void fill(uint8_t* buffer, uint32_t lines)
    {
        const auto& pixels = setup->picture.pixels;
        size_t from = size_t(nextLine) * lineBytes;
        size_t bytes = std::min(size_t(lines) * lineBytes, pixels.size() - from);
        std::memcpy(buffer, pixels.data() + from, bytes);
        nextLine += lines;
    }
};

struct Collector {
    EncodeRun* run;
};

int32_t pullIn(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* feeder = static_cast<Feeder*>(user);
    feeder->fill(buffer, length / feeder->lineBytes);
    return 0;
}

int32_t pullOut(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* collector = static_cast<Collector*>(user);
    collector->run->stream.insert(collector->run->stream.end(), buffer, buffer + length);
    collector->run->handOvers.push_back(length);
    return 0;
}

}  // namespace

int bytesPerPixel(int pixelFormat)
{
    switch (pixelFormat) {
    case MOX_PIXEL_RGB:
    case MOX_PIXEL_FIRST_OF_3:
    case MOX_PIXEL_FIRST_OF_3_SHIFTED: return 3;
    case MOX_PIXEL_CMYK: return 4;
    default: return 1;
    }
}

EncodeSetup makeSetup(int width, int height, int pixelFormat, int quality, uint32_t seed)
{
    EncodeSetup setup;
    setup.picture = moxtest::makePicture(width, height, bytesPerPixel(pixelFormat), seed);
    setup.pic.width = width;
    setup.pic.height = height;
    setup.pic.regionWidth = width;
    setup.pic.regionHeight = height;
    setup.pic.qualityLevel = quality;
    setup.pic.pixelFormat = pixelFormat;
    setup.pic.densityX = 72;
    setup.pic.densityY = 72;
    setup.pic.densityUnit = 1;
    MoxEncClearParam(&setup.param);
    return setup;
}

EncodeRun runEncode(const EncodeSetup& setup)
{
    EncodeRun run;
    const uint32_t lineBytes = uint32_t(setup.pic.width) * bytesPerPixel(setup.pic.pixelFormat);
    const uint32_t bandLines = setup.bandLines == 0 ? uint32_t(setup.pic.height) : setup.bandLines;
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(moxtest::plainAlloc, moxtest::plainFree, &sys);
    sys.lineBytes = lineBytes;
    sys.inBufSize = bandLines * lineBytes;
    sys.outBufSize = setup.outBufSize;
    EncoderContext* ctx = MoxEncInit(&setup.pic, &sys, &setup.param, &run.initStatus);
    if (ctx == nullptr) return run;

    Feeder feeder{&setup, lineBytes};
    Collector collector{&run};
    if (setup.pullInput) {
        MoxEncSetInFunc(ctx, pullIn, &feeder);
    } else {
        feeder.fill(sys.inBuf, std::min<uint32_t>(bandLines, uint32_t(setup.pic.height)));
    }
    if (setup.pullOutput) MoxEncSetOutFunc(ctx, pullOut, &collector);

    // The count survives a return of 1: the output buffer keeps its bytes.
    uint32_t outBytes = 0;
    for (int guard = 0; guard < 10000000; ++guard) {
        int32_t cbError = 0;
        run.status = MoxEncode(ctx, &outBytes, &cbError);
        if (run.status == MOX_NEED_INPUT) {
            ++run.needInput;
            feeder.fill(sys.inBuf, uint32_t(MoxGetCurrentBandHeight(ctx)));
            continue;
        }
        if (run.status == MOX_OUTPUT_READY) {
            ++run.outputFull;
            run.pushed.push_back(outBytes);
            run.stream.insert(run.stream.end(), sys.outBuf, sys.outBuf + outBytes);
            continue;
        }
        if (run.status == MOX_OK && !setup.pullOutput)
            run.stream.insert(run.stream.end(), sys.outBuf, sys.outBuf + outBytes);
        break;
    }
    MoxEncFinalize(ctx);
    return run;
}

LibraryDecoded decodeWithLibrary(const std::vector<uint8_t>& stream)
{
    LibraryDecoded result;
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(moxtest::plainAlloc, moxtest::plainFree, &sys);
    std::vector<uint8_t> input(stream.begin(), stream.end());
    input.resize(std::max<size_t>(input.size(), 64));
    sys.inputBuffer = input.data();
    sys.pieceSize = uint32_t(input.size());
    sys.totalSize = uint32_t(stream.size());
    int32_t error = 0;
    result.status = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, &error);
    if (result.status != MOX_OK && result.status != MOX_HEADER_SKIPPED) return result;
    pic.mode = MOX_MODE_JPEG;
    pic.outFormat = 1;
    sys.lineStride = uint32_t(pic.width * pic.componentCount);
    sys.bandBufferSize = sys.lineStride * uint32_t(pic.height);
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &result.status);
    if (ctx == nullptr) return result;
    uint32_t slot = 0;
    result.status = MoxDecode(ctx, 0, &slot);
    if (result.status == MOX_OK || result.status == MOX_OUTPUT_READY) {
        result.status = MOX_OK;
        result.picture.width = pic.width;
        result.picture.height = pic.height;
        result.picture.components = pic.componentCount;
        result.picture.pixels.assign(sys.bandBuffer, sys.bandBuffer + sys.bandBufferSize);
    }
    MoxDecFinalize(ctx);
    return result;
}

}  // namespace enctest
