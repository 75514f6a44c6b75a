#include "encoder/encode_support.h"

#include <algorithm>
#include <cstring>

#include "support/allocator.h"

namespace enctest {

namespace {

struct Job {
    const EncodeSetup* setup;
    uint32_t lineBytes;
    EncodeRun* run;
    uint32_t nextLine = 0;

    // The next `lines` lines of the picture (fewer past its end).
    void feed(uint8_t* buffer, uint32_t lines)
    {
        const auto& pixels = setup->picture.pixels;
        size_t from = std::min(pixels.size(), size_t(nextLine) * lineBytes);
        std::memcpy(buffer, pixels.data() + from,
                    std::min(size_t(lines) * lineBytes, pixels.size() - from));
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
    job->run->stream.insert(job->run->stream.end(), buffer, buffer + length);
    job->run->handOvers.push_back(length);
    return job->setup->outputResult;
}

}  // namespace

int bytesPerPixel(int pixelFormat)
{
    if (pixelFormat == MOX_PIXEL_CMYK) return 4;
    bool three = pixelFormat >= MOX_PIXEL_RGB && pixelFormat <= MOX_PIXEL_FIRST_OF_3_SHIFTED;
    return three ? 3 : 1;
}

EncodeSetup makeSetup(int width, int height, int pixelFormat, int quality, uint32_t seed)
{
    EncodeSetup setup;
    setup.picture = moxtest::makePicture(width, height, bytesPerPixel(pixelFormat), seed);
    setup.pic = EncodePicture{width, height, width, height, 0, 0, quality, pixelFormat,
                              0,     72,     72,    1,      0};
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
    sys.workBuf = setup.workBuf;
    sys.workSize = setup.workSize;
    EncoderContext* ctx = MoxEncInit(&setup.pic, &sys, &setup.param, &run.initStatus);
    if (ctx == nullptr) {
        run.status = run.initStatus;
        return run;
    }

    Job job{&setup, lineBytes, &run};
    if (setup.pullInput) {
        MoxEncSetInFunc(ctx, pullIn, &job);
    } else {
        job.feed(sys.inBuf, std::min<uint32_t>(bandLines, uint32_t(setup.pic.height)));
    }
    if (setup.pullOutput) MoxEncSetOutFunc(ctx, pullOut, &job);

    // The count survives a return of 1: the output buffer keeps its bytes.
    uint32_t outBytes = 0;
    for (int calls = 0; calls < (1 << 24); ++calls) {  // a stuck job fails, not hangs
        run.status = MoxEncode(ctx, &outBytes, &run.callbackError);
        if (run.status == MOX_NEED_INPUT) {
            ++run.needInput;
            job.feed(sys.inBuf, uint32_t(MoxGetCurrentBandHeight(ctx)));
            continue;
        }
        if (run.status == MOX_OUTPUT_READY) run.pushed.push_back(outBytes);
        if (run.status == MOX_OUTPUT_READY || (run.status == MOX_OK && !setup.pullOutput))
            run.stream.insert(run.stream.end(), sys.outBuf, sys.outBuf + outBytes);
        if (run.status != MOX_OUTPUT_READY) break;
    }
    MoxEncFinalize(ctx);
    return run;
}

void useDenseCodes(EncodeParam* param)
{
    for (HuffDecodeTable* table : {&param->dcHuff[0], &param->acHuff[0]}) {
        table->count = table == &param->dcHuff[0] ? 12 : 162;
        for (uint32_t i = 0; i < table->count; ++i) {
            table->lengths[i] = 16;
            table->codes[i] = 0xFFFF - i;
            table->symbols[i] = i;
        }
    }
}

}  // namespace enctest
