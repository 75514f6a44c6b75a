#include "decoder/harness.h"

#include <algorithm>
#include <cstring>

#include "decoder/decoder.h"
#include "decoder/fast.h"
#include "frame/t81tables.h"

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
    if (options.records) {
        options.records(pic, param);
    } else {
        fill(&job, head.data(), job.pieceSize);
        sys.inputBuffer = head.data();
        sys.pieceSize = job.pieceSize;
        result.headerStatus = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, nullptr);
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
        result.status = MoxDecode(ctx, 0, &result.errorSlot);
        ++result.calls;
        if (result.status == MOX_NEED_INPUT) {
            fill(&job, sys.inputBuffer, sys.pieceSize);
            if (refills++ == 0 && options.afterRefill) options.afterRefill(sys);
        } else if (result.status == MOX_OUTPUT_READY) {
            job.lines.insert(job.lines.end(), sys.bandBuffer, sys.bandBuffer + sys.bandBufferSize);
        } else {
            break;
        }
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

namespace {

// What an MCU decoder leaves: status, cursor, splice flag, predictors and,
// when it succeeded, the decoded planes.
std::vector<int32_t> outcome(const DecoderContext* ctx, int32_t status)
{
    std::vector<int32_t> o = {status, ctx->cursor.byteIndex, ctx->cursor.bitPos, int32_t(ctx->spliceFlag),
                              int32_t(ctx->cursor.data == ctx->cursor.pieceData)};
    o.insert(o.end(), ctx->dcPredictors, ctx->dcPredictors + mox::kMaxComponents);
    for (int c = 0; status == 0 && c < ctx->mcuParam.componentCount; ++c) {
        const mox::McuComponent& k = ctx->mcuParam.component[c];
        const int samples = ctx->blockWidth[c] * ctx->blockHeight[c] * k.hSamp * k.vSamp;
        o.insert(o.end(), ctx->planes[c + 1], ctx->planes[c + 1] + samples);
    }
    return o;
}

// The MCU loop of MoxDecode without the sample stages: every MCU is decoded
// by the fast decoder and, from the same start, by the reference decodeMcu
// (refilling on "need more data" as the driver does), which must agree; then
// it is read again from the same cursor block by block to keep the values.
std::string walk(DecoderContext* ctx, const std::function<bool()>& nextPiece, OurCoefficients* out)
{
    using namespace mox;
    auto refill = [&]() -> std::string {
        if (!nextPiece()) return "stream ends inside the scan";
        ++out->refills;
        return D_setStrCode(ctx) == 0 ? "" : "D_setStrCode failed";
    };
    if (D_setStrCode(ctx) != 0) return "D_setStrCode failed";
    D_setMcuParam(ctx);
    buildLookaheadTables(ctx);  // Init builds them only when the driver takes the fast decoder
    const McuParam& param = ctx->mcuParam;
    for (int c = 0; c < param.componentCount; ++c) {
        const McuComponent& k = param.component[c];
        out->blocksWide[c] = ctx->mcusPerRow * k.hSamp;
        out->blocksHigh[c] = ctx->mcuRows * k.vSamp;
        out->blocks[c].assign(size_t(out->blocksWide[c]) * out->blocksHigh[c] * 64, 0);
        std::memcpy(out->quant[c], k.quantTable, sizeof(out->quant[c]));
    }
    out->components = param.componentCount;
    for (int32_t r = 0; r < ctx->mcuRows; ++r)
        for (int32_t col = 0; col < ctx->mcusPerRow; ++col) {
            auto where = [&] { return " at MCU " + std::to_string(col) + "," + std::to_string(r); };
            for (;;) {
                BitCursor start = ctx->cursor;
                uint32_t startSplice = ctx->spliceFlag;
                int32_t predictors[kMaxComponents];
                std::memcpy(predictors, ctx->dcPredictors, sizeof(predictors));
                const std::vector<int32_t> fast = outcome(ctx, decodeMcuFast(ctx));
                ctx->cursor = start;
                ctx->spliceFlag = startSplice;
                std::memcpy(ctx->dcPredictors, predictors, sizeof(predictors));
                int32_t status = decodeMcuReference(ctx);
                if (outcome(ctx, status) != fast) return "the fast decoder differs" + where();
                if (status == kNeedMoreData) {
                    if (saveStrCode(ctx, col, r) != 0) return "saveStrCode failed" + where();
                    std::string failure = refill();
                    if (!failure.empty()) return failure + where();
                    continue;
                }
                if (status != 0) return "decodeMcu returned " + std::to_string(status) + where();
                start.spliceFlag = &startSplice;
                for (int c = 0; c < param.componentCount; ++c) {
                    const McuComponent& k = param.component[c];
                    for (int b = 0; b < k.hSamp * k.vSamp; ++b) {
                        int bx = col * k.hSamp + b % k.hSamp, by = r * k.vSamp + b / k.hSamp;
                        int32_t* block =
                            out->blocks[c].data() + (size_t(by) * out->blocksWide[c] + bx) * 64;
                        if (decodeHuffman(&start, k.dcTable, k.acTable, &predictors[c], block) != 0)
                            return "second reading failed" + where();
                    }
                }
                if (start.byteIndex != ctx->cursor.byteIndex || start.bitPos != ctx->cursor.bitPos)
                    return "second reading ends elsewhere" + where();
                break;
            }
            if (ctx->restartInterval == 0) continue;
            int32_t status;
            while ((status = processRST(ctx, col, r)) == MOX_NEED_INPUT) {
                std::string failure = refill();
                if (!failure.empty()) return failure + " before a restart marker" + where();
            }
            if (status != 0) return "processRST returned " + std::to_string(status) + where();
        }
    return "";
}

}  // namespace

OurCoefficients readCoefficients(const std::vector<uint8_t>& stream, uint32_t pieceSize, int32_t reduction)
{
    OurCoefficients out;
    DecodeOptions options;
    options.pieceSize = pieceSize;
    options.reduction = reduction;
    options.drive = [&](DecoderContext* ctx, const std::function<bool()>& refill) {
        out.failure = walk(ctx, refill, &out);
        return out.failure.empty() ? 0 : -1;
    };
    DecodeResult run = decodeStream(stream, options);
    if (run.headerStatus != 0) out.failure = "header status " + std::to_string(run.headerStatus);
    if (run.initStatus != 0) out.failure = "Init status " + std::to_string(run.initStatus);
    if (out.failure.empty() && run.liveBlocks != 0) out.failure = "blocks left after Finalize";
    return out;
}

std::string compareCoefficients(const RefCoefficients& ref, const OurCoefficients& ours)
{
    if (!ref.ok) return "reference: " + ref.message;
    if (!ours.failure.empty()) return "ours: " + ours.failure;
    if (ref.components != ours.components) return "component counts differ";
    for (int c = 0; c < ours.components; ++c) {
        std::string which = "component " + std::to_string(c);
        if (ref.blocksWide[c] != ours.blocksWide[c] || ref.blocksHigh[c] != ours.blocksHigh[c])
            return which + ": block grids differ";
        for (int k = 0; k < 64; ++k)
            if (ref.quant[c][k] != ours.quant[c][k]) return which + ": quantisation tables differ";
        for (int by = 0; by < ours.blocksHigh[c]; ++by)
            for (int bx = 0; bx < ours.blocksWide[c]; ++bx) {
                const int16_t* want = ref.block(c, bx, by);
                const int32_t* have = ours.blocks[c].data() + (size_t(by) * ours.blocksWide[c] + bx) * 64;
                for (int k = 0; k < 64; ++k)
                    if (have[k] != want[mox::kZigzagToNatural[k]])
                        return which + " block " + std::to_string(bx) + "," + std::to_string(by) +
                               " coefficient " + std::to_string(k) + ": have " + std::to_string(have[k]) +
                               ", want " + std::to_string(want[mox::kZigzagToNatural[k]]);
            }
    }
    return "";
}

}  // namespace moxtest
