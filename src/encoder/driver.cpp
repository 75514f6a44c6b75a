// MoxEncode: the resumable loop over the region's MCUs. A call stops before
// an MCU when the caller must supply a band (1) or take a full output buffer
// (2) and continues there at the next call; with callbacks both transfers
// happen inside the call. The header goes out at the first call, restart
// markers between MCUs, the end of image after the last MCU.
#include <cstring>

#include "encoder/encoder.h"
#include "encoder/fast.h"
#include "frame/errlog.h"
#include "vela/coder.h"

namespace mox::enc {

namespace {

// Points the MCU coder at the block buffers and tables, and clears the
// planes and block buffers.
void buildMcuSetup(EncoderContext* ctx)
{
    const bool vela = ctx->codingMode == kCodingVela;
    // One VELA input component is coded as four blocks (0..2 constant).
    const bool fourFromOne = vela && ctx->pixelFormat == MOX_PIXEL_VELA_GRAY;
    const uint32_t coded = fourFromOne ? 4u : ctx->components;
    BlockPointers& blocks = ctx->blockPointers;
    blocks.tagPlane = vela ? ctx->tagPlane : nullptr;
    McuConfig& config = ctx->mcuConfig;
    config = McuConfig{};
    config.velaSizeMode = ctx->velaParam.word[31];
    config.velaMode = ctx->velaMode;
    config.dcReset = 0;
    config.mcuSize = 64;
    config.components = coded;
    for (uint32_t c = 0; c < kMaxComponents; ++c) {
        blocks.blocks[c] = c < coded ? ctx->blockBuf[c] : nullptr;
        if (c >= coded) continue;
        uint32_t from = fourFromOne ? 0 : c;  // whose factors and tables
        McuComponent& component = config.component[c];
        component.h = ctx->hSamp[from];
        component.v = ctx->vSamp[from];
        component.record.byteBudget = 0;
        component.record.dcTable = &ctx->dcHuff[ctx->dcSel[from]];
        component.record.acTable = &ctx->acHuff[ctx->acSel[from]];
        component.record.quantTable = ctx->quantTable[ctx->quantSel[from]];
        component.divisors = nullptr;
        if (huffmanTableFits(component.record.dcTable, kLastDcIndex) &&
            huffmanTableFits(component.record.acTable, kLastAcIndex)) {
            transposedDivisors(component.record.quantTable, ctx->divisors[c]);
            component.divisors = ctx->divisors[c];
        }
    }
    for (int c = 0; c < 4; ++c) {
        std::memset(ctx->convertedPlane[c], 0, ctx->planeSamples * sizeof(int32_t));
        std::memset(ctx->rawPlane[c], 0, ctx->planeSamples * sizeof(int32_t));
    }
    for (uint32_t c = 0; c < coded; ++c)
        std::memset(ctx->blockBuf[c], 0,
                    64u * ctx->mcuConfig.component[c].h * ctx->mcuConfig.component[c].v *
                        sizeof(int32_t));
}

// Header at the first call. Output buffers too small for the header (or
// below 700 bytes) receive it through the spill like any other data.
void startHeader(EncoderContext* ctx)
{
    uint32_t length = headerLength(ctx);
    bool viaSpill = ctx->outBufSize < kSmallOutputBuffer || ctx->outBufSize < length;
    if (viaSpill) {
        std::memset(ctx->spill, 0, ctx->spillCapacity);
        ctx->writer.data = ctx->spill;
        ctx->writer.byteIndex = 0;
        ctx->writer.bitPos = 7;
        ctx->outputMode = OutputMode::spill;
    }
    writeHeader(ctx);
    ctx->headerWritten = 1;
    if (viaSpill) {
        ctx->spillPending = length;
        ctx->state = kEncodeWaitingOutput;
    }
}

// Returns 1 and 2 are logged under "MoxEncode" with their own value.
int32_t askCaller(EncoderContext* ctx, int32_t code)
{
    return MOX_FAIL("MoxEncode", code, ctx);
}

uint32_t fill(const EncoderContext* ctx)
{
    return static_cast<uint32_t>(ctx->writer.byteIndex);
}

int32_t encodeMcus(EncoderContext* ctx, int32_t* cbError)
{
    const uint32_t room =
        ctx->codingMode == kCodingVela ? kRoomPerMcuVela : worstMcuBytes(ctx->blocksPerMcu);
    const bool pull = ctx->inputSet == kCallbackSet;
    while (ctx->mcuRow < ctx->mcuRows) {
        if (ctx->outBufSize < uint64_t{*ctx->callerCount} + fill(ctx) + room) {
            int32_t status = saveOutput(ctx, false, cbError);
            if (status == kRetryMcu) continue;
            if (status == MOX_OUTPUT_READY) return askCaller(ctx, status);
            if (status < 0) return MOX_FAIL("MoxEncode", status, ctx);
        }
        if (ctx->fetchedRow < static_cast<int32_t>(ctx->mcuRow) &&
            fetchMcuRow(ctx) == RowResult::bandUsedUp) {
            if (!pull) {
                switchBand(ctx);
                ctx->readPos = 0;
                ctx->rowSource = nullptr;
                ctx->state = kEncodeWaitingInput;
                return MOX_NEED_INPUT;  // an ordinary band boundary: not logged
            }
            do {
                switchBand(ctx);
                // Cleared whole, so a callback that fills less than the band
                // leaves zeros rather than the previous band's samples.
                std::memset(ctx->inBuf, 0, ctx->inBufSize);
                int32_t status = pullBand(ctx, "E_callinband", cbError);
                if (status != MOX_OK) return MOX_FAIL("MoxEncode", status, ctx);
            } while (completeMcuRow(ctx) == RowResult::bandUsedUp);
            continue;
        }

        McuPosition at{static_cast<int>(ctx->mcuColumn), static_cast<int>(ctx->mcuRow),
                       static_cast<int>(ctx->mcuColumns), static_cast<int>(ctx->mcuRows)};
        encoderKernels().prepareMcu(ctx, ctx->mcuColumn);
        int32_t status = ctx->codingMode == kCodingVela
                             ? MoxCodevelaMcu(ctx, &ctx->blockPointers, &ctx->mcuConfig)
                             : MoxCodeMcu(ctx, &ctx->blockPointers, &ctx->mcuConfig);
        if (status < 0) return MOX_FAIL_AT("MoxEncode", status, ctx, at);

        ++ctx->mcusCoded;
        bool lastMcu = ctx->mcuRow + 1 == ctx->mcuRows && ctx->mcuColumn + 1 == ctx->mcuColumns;
        if (ctx->restartInterval != 0 && ctx->mcusCoded % ctx->restartInterval == 0 && !lastMcu)
            writeRestart(ctx);
        if (++ctx->mcuColumn == ctx->mcuColumns) {
            ctx->mcuColumn = 0;
            ++ctx->mcuRow;
        }
    }
    return MOX_OK;
}

int32_t finishImage(EncoderContext* ctx, int32_t* cbError)
{
    uint32_t& outBytes = *ctx->callerCount;
    if (!ctx->noEoi && ctx->outBufSize < uint64_t{outBytes} + fill(ctx) + kRoomForEnd) {
        int32_t status = saveOutput(ctx, true, cbError);
        if (status == MOX_OUTPUT_READY) return askCaller(ctx, status);
        if (status < 0) return MOX_FAIL("MoxEncode", status, ctx);
    }
    writeEnd(ctx);
    if (ctx->outputMode == OutputMode::spill) {
        int32_t status = drainFinal(ctx, cbError);
        if (status == MOX_OUTPUT_READY) return askCaller(ctx, status);
        if (status < 0) return MOX_FAIL("MoxEncode", status, ctx);
    }
    outBytes += fill(ctx);
    if (ctx->outputSet == kCallbackSet && outBytes > 0) {
        int32_t result = ctx->outputFunc(ctx->outBuf, 0, outBytes, 0, ctx->outputUser);
        if (result != 0) {
            if (cbError != nullptr) *cbError = result;
            return MOX_FAIL("E_aftertreat", MOX_ERR_CALLBACK, ctx);
        }
    }
    ++ctx->bandCounter;
    ctx->imageDone = 1;
    return MOX_OK;
}

}  // namespace

}  // namespace mox::enc

using namespace mox;
using namespace mox::enc;

namespace {

int32_t encodeJob(EncoderContext* ctx, uint32_t* outBytes, int32_t* cbError)
{
    ctx->callerCount = outBytes;
    if (ctx->state == kEncodeRunning || ctx->state == kEncodeWaitingOutput) *outBytes = 0;
    // After a return of 1 the count is the caller's: it must fit the buffer.
    if (*outBytes > ctx->outBufSize) return MOX_FAIL("MoxEncode", MOX_ERR_OUT_COUNT, ctx);
    if (ctx->imageDone) return MOX_OK;

    // Pull input keeps its band across re-entries; only the first band is
    // pulled here, later ones at band boundaries.
    if (ctx->inputSet == kCallbackSet && !ctx->firstBandPulled) {
        int32_t status = pullBand(ctx, "MoxEncode", cbError);
        if (status != MOX_OK) return status;
        ctx->firstBandPulled = true;
    }
    if (!ctx->headerWritten) startHeader(ctx);
    if (ctx->state == kEncodeWaitingOutput) {
        int32_t status = resumeOutput(ctx, cbError);
        if (status == MOX_OUTPUT_READY) return askCaller(ctx, status);
        if (status < 0) return MOX_FAIL("MoxEncode", status, ctx);
    }
    if (!ctx->inputValidated) {
        int32_t status = skipTopBands(ctx, cbError);
        if (status == MOX_NEED_INPUT) return askCaller(ctx, status);
        if (status < 0) return MOX_FAIL("MoxEncode", status, ctx);
        ctx->inputValidated = 1;
        ctx->readPos = ctx->remainingTop * ctx->lineBytes;
        uint32_t mcuHeight = 8u * ctx->vMax;
        uint32_t mcuWidth = 8u * ctx->hMax;
        ctx->mcuRows = (static_cast<uint32_t>(ctx->regionHeight) + mcuHeight - 1) / mcuHeight;
        ctx->mcuColumns = (static_cast<uint32_t>(ctx->regionWidth) + mcuWidth - 1) / mcuWidth;
    }
    if (ctx->state == kEncodeWaitingInput && ctx->heldBytes > 0 &&
        completeMcuRow(ctx) == RowResult::bandUsedUp) {
        switchBand(ctx);
        return askCaller(ctx, MOX_NEED_INPUT);
    }
    ctx->state = kEncodeRunning;

    for (int i = 0; i < 16; ++i) ctx->fixedMatrix[i] = fixedMatrixEntry(ctx->colorMatrix[i]);
    buildMcuSetup(ctx);

    int32_t status = encodeMcus(ctx, cbError);
    if (status != MOX_OK) return status;
    return finishImage(ctx, cbError);
}

}  // namespace

extern "C" MOX_API int32_t MoxEncode(EncoderContext* ctx, uint32_t* outBytes, int32_t* cbError)
{
    if (ctx == nullptr || outBytes == nullptr) return MOX_FAIL("MoxEncode", MOX_ERR_NULL, ctx);
    // The first failure wins: a failed job is only fit for MoxEncFinalize.
    if (ctx->failure < 0) return MOX_FAIL("MoxEncode", ctx->failure, ctx);
    int32_t status = encodeJob(ctx, outBytes, cbError);
    if (status < 0) ctx->failure = status;
    return status;
}
