// Output buffer discipline. The bit writer writes straight into the output
// buffer while at least one worst-case MCU still fits ("direct"); otherwise
// it writes into the spill buffer, whose complete bytes are moved on as the
// output buffer frees up ("spill"). Invariants: the waiting bytes always
// start at spill byte 0, the writer's byte index is the fill of the buffer it
// writes, and every buffer the writer ORs into is zero beyond the fill.
// Every hand-over carries exactly outBufSize bytes except the last.
#include <cstring>

#include "encoder/encoder.h"
#include "frame/errlog.h"

namespace mox::enc {

namespace {

bool hasOutputFunc(const EncoderContext* ctx)
{
    return ctx->outputSet == kCallbackSet;
}

// Gives the whole output buffer to OutputFunc and clears it.
int32_t handOver(EncoderContext* ctx, const char* name, int32_t* cbError)
{
    int32_t result = ctx->outputFunc(ctx->outBuf, 0, ctx->outBufSize, 0, ctx->outputUser);
    if (result != 0) {
        if (cbError != nullptr) *cbError = result;
        return MOX_FAIL(name, MOX_ERR_CALLBACK, ctx);
    }
    std::memset(ctx->outBuf, 0, ctx->outBufSize);
    *ctx->callerCount = 0;
    return MOX_OK;
}

// Moves `count` waiting bytes from the spill start to the output buffer at
// *callerCount, and shifts the rest of the spill (with the partial byte) down.
void moveFromSpill(EncoderContext* ctx, uint32_t count)
{
    std::memcpy(ctx->outBuf + *ctx->callerCount, ctx->spill, count);
    *ctx->callerCount += count;
    std::memmove(ctx->spill, ctx->spill + count, ctx->spillCapacity - count);
    std::memset(ctx->spill + ctx->spillCapacity - count, 0, count);
    ctx->spillPending -= count;
    ctx->writer.byteIndex = static_cast<int32_t>(ctx->spillPending);
}

// Back to direct writing: the waiting bytes and the partial byte go to the
// start of the (empty) output buffer.
void switchToDirect(EncoderContext* ctx)
{
    uint32_t carried = ctx->spillPending + (ctx->writer.bitPos != 7 ? 1 : 0);
    std::memcpy(ctx->outBuf, ctx->spill, carried);
    std::memset(ctx->spill, 0, ctx->spillCapacity);
    ctx->outputMode = OutputMode::direct;
    ctx->writer.data = ctx->outBuf;
    ctx->writer.byteIndex = static_cast<int32_t>(ctx->spillPending);
    ctx->spillPending = 0;
}

void switchToSpill(EncoderContext* ctx)
{
    BitCursor& w = ctx->writer;
    *ctx->callerCount += static_cast<uint32_t>(w.byteIndex);
    std::memset(ctx->spill, 0, ctx->spillCapacity);
    if (w.bitPos != 7) {
        ctx->spill[0] = w.data[w.byteIndex];
        w.data[w.byteIndex] = 0;
    }
    ctx->spillPending = 0;
    ctx->outputMode = OutputMode::spill;
    w.data = ctx->spill;
    w.byteIndex = 0;
}

}  // namespace

int32_t saveOutput(EncoderContext* ctx, bool final, int32_t* cbError)
{
    uint32_t& outBytes = *ctx->callerCount;
    if (ctx->outputMode == OutputMode::direct) {
        switchToSpill(ctx);
    } else if (ctx->writer.byteIndex > 0) {
        ctx->spillPending = static_cast<uint32_t>(ctx->writer.byteIndex);
        uint32_t room = ctx->outBufSize - outBytes;
        moveFromSpill(ctx, ctx->spillPending < room ? ctx->spillPending : room);
    }
    if (outBytes < ctx->outBufSize) return MOX_OK;
    if (!hasOutputFunc(ctx)) {
        ctx->state = kEncodeWaitingOutput;
        return MOX_OUTPUT_READY;
    }
    int32_t status = handOver(ctx, "E_saveoutband", cbError);
    while (status == MOX_OK && ctx->spillPending >= ctx->outBufSize) {
        moveFromSpill(ctx, ctx->outBufSize);
        status = handOver(ctx, "E_saveoutband", cbError);
    }
    if (status != MOX_OK) return status;
    if (final && ctx->outBufSize < ctx->spillPending + kRoomForEnd) return MOX_OK;
    switchToDirect(ctx);
    return final ? MOX_OK : kRetryMcu;
}

int32_t resumeOutput(EncoderContext* ctx, int32_t* cbError)
{
    std::memset(ctx->outBuf, 0, ctx->outBufSize);
    ctx->spillPending = static_cast<uint32_t>(ctx->writer.byteIndex);
    while (ctx->spillPending >= ctx->outBufSize) {
        moveFromSpill(ctx, ctx->outBufSize);
        if (!hasOutputFunc(ctx)) return MOX_OUTPUT_READY;  // still waiting for the caller
        int32_t status = handOver(ctx, "E_resetupOUt", cbError);
        if (status != MOX_OK) return status;
    }
    switchToDirect(ctx);
    ctx->state = kEncodeRunning;
    return MOX_OK;
}

int32_t drainFinal(EncoderContext* ctx, int32_t* cbError)
{
    uint32_t& outBytes = *ctx->callerCount;
    ctx->spillPending = static_cast<uint32_t>(ctx->writer.byteIndex);
    while (ctx->spillPending > ctx->outBufSize - outBytes) {
        moveFromSpill(ctx, ctx->outBufSize - outBytes);
        if (!hasOutputFunc(ctx)) {
            ctx->state = kEncodeWaitingOutput;
            return MOX_OUTPUT_READY;
        }
        int32_t status = handOver(ctx, "E_aftertreat", cbError);
        if (status != MOX_OK) return status;
    }
    // What is left fits; the writer's fill still equals it, and the driver
    // counts the fill after the drain.
    std::memcpy(ctx->outBuf + outBytes, ctx->spill, ctx->spillPending);
    return MOX_OK;
}

}  // namespace mox::enc
