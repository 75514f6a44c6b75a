#include "decoder/harness.h"

#include <algorithm>
#include <cstring>

namespace moxtest {

namespace {

struct Job {
    const std::vector<uint8_t>* stream;
    uint32_t pieceSize;
    size_t delivered = 0;     // stream bytes handed to the decoder
    std::vector<uint8_t> lines;  // delivered band bytes, in order
    std::vector<uint32_t> bandLengths;
    int32_t inputResult = 0;
    int32_t outputResult = 0;
};

void fill(Job* job, uint8_t* buffer, uint32_t length)
{
    // The header analysis may report a position past the stream's end (a
    // segment length that runs off it): nothing is left to hand over then.
    size_t left = job->stream->size() - std::min(job->delivered, job->stream->size());
    size_t n = std::min<size_t>(left, length);
    std::memcpy(buffer, job->stream->data() + job->delivered, n);
    job->delivered += n;
}

// The pieces after the header do not start at a multiple of the piece size,
// so the length the decoder asks for can fall short at the stream's end;
// the job always hands over a whole piece.
int32_t input(uint8_t* buffer, uintptr_t, uint32_t, int32_t, void* user)
{
    auto* job = static_cast<Job*>(user);
    fill(job, buffer, job->pieceSize);
    return job->inputResult;
}

int32_t output(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* job = static_cast<Job*>(user);
    job->lines.insert(job->lines.end(), buffer, buffer + length);
    job->bandLengths.push_back(length);
    return job->outputResult;
}

}  // namespace

size_t scanStart(const std::vector<uint8_t>& s)
{
    for (size_t i = 0; i + 3 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] == 0xDA) return i + 2 + (size_t(s[i + 2]) << 8 | s[i + 3]);
    return s.size();
}

DecodeResult decodeStream(const std::vector<uint8_t>& stream, const DecodeOptions& options)
{
    DecodeResult result;
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    CountingAllocator counter;
    useCounting(&sys, &counter);

    // The header is read from one large piece; decoding then continues with
    // the caller's piece size from the first unread byte.
    std::vector<uint8_t> head(std::max<size_t>(stream.size(), 4096));
    Job job{&stream, static_cast<uint32_t>(head.size())};
    sys.totalSize = static_cast<uint32_t>(stream.size());
    int32_t error = 0;
    if (options.records) {
        options.records(pic, param);
    } else {
        fill(&job, head.data(), job.pieceSize);
        sys.inputBuffer = head.data();
        sys.pieceSize = job.pieceSize;
        result.headerStatus = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, &error);
        if (result.headerStatus != 0 && result.headerStatus != 10) return result;
        pic.mode = MOX_MODE_JPEG;
    }

    job.pieceSize = options.pieceSize == 0 ? std::max<uint32_t>(sys.totalSize, 64) : options.pieceSize;
    std::vector<uint8_t> buffer(job.pieceSize);
    job.delivered = sys.consumedTotal;
    if (!options.records) fill(&job, buffer.data(), job.pieceSize);
    sys.inputBuffer = buffer.data();
    sys.pieceSize = job.pieceSize;
    sys.pieceOffset = 0;

    pic.outFormat = options.outFormat;
    if (options.reduction != -1) pic.reduction = options.reduction;
    param.colorTransform = options.colorTransform;
    int32_t bpp = (options.outFormat == 0 || options.outFormat == 5) ? 1 : pic.componentCount;
    const int32_t r = std::max(pic.reduction, 1);
    const int32_t width = (pic.width + r - 1) / r;
    const int32_t height = (pic.height + r - 1) / r;
    sys.lineStride = static_cast<uint32_t>(width * bpp);
    uint32_t bandLines = options.bandLines == 0 ? static_cast<uint32_t>(height) : options.bandLines;
    sys.bandBufferSize = sys.lineStride * bandLines;
    if (options.beforeInit) options.beforeInit(sys);
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &result.initStatus);
    if (ctx == nullptr) return result;
    job.inputResult = options.inputResult;
    job.outputResult = options.outputResult;
    if (options.useInput) MoxDecSetInFunc(ctx, input, &job);
    if (options.useOutput) MoxDecSetOutFunc(ctx, output, &job);

    auto refill = [&] {
        if (job.delivered >= stream.size()) return false;
        fill(&job, sys.inputBuffer, sys.pieceSize);
        return true;
    };
    for (int refills = 0; options.drive == nullptr;) {
        uint32_t slot = 0;
        int32_t status = MoxDecode(ctx, 0, &slot);
        ++result.calls;
        result.status = status;
        result.errorSlot = slot;
        if (status == MOX_NEED_INPUT) {
            fill(&job, sys.inputBuffer, sys.pieceSize);
            if (refills++ == 0 && options.afterRefill) options.afterRefill(sys);
            continue;
        }
        if (status == MOX_OUTPUT_READY) {
            job.lines.insert(job.lines.end(), sys.bandBuffer, sys.bandBuffer + sys.bandBufferSize);
            continue;
        }
        break;
    }
    if (options.drive) result.status = options.drive(ctx, refill);
    if (result.status < 0 && !options.drive) {
        size_t bands = job.bandLengths.size();
        result.statusAgain = MoxDecode(ctx, 0, nullptr);
        if (job.bandLengths.size() != bands) result.statusAgain = 0;  // it went on
    }
    if (!options.useOutput && (result.status == 0 || result.status == MOX_STREAM_NO_EOI)) {
        uint32_t lines = static_cast<uint32_t>(height) % bandLines;
        if (lines == 0) lines = bandLines;
        job.lines.insert(job.lines.end(), sys.bandBuffer, sys.bandBuffer + lines * sys.lineStride);
    }
    result.bandLengths = job.bandLengths;
    result.consumedTotal = sys.consumedTotal;
    result.pieceOffset = sys.pieceOffset;
    MoxDecFinalize(ctx);
    result.liveBlocks = counter.live;
    result.picture.width = width;
    result.picture.height = height;
    result.picture.components = bpp;
    result.picture.pixels = std::move(job.lines);
    return result;
}

}  // namespace moxtest
