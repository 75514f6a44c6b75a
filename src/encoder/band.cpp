// Band input: pictures arrive as bands of whole lines in the input buffer;
// MCU rows (8 x Vmax lines) are read in place when they lie inside one band
// and assembled in the MCU row buffer when they straddle a band boundary.
// The region's top is reached by skipping whole bands, then lines.
#include <cstring>

#include "encoder/encoder.h"
#include "frame/errlog.h"

namespace mox::enc {

namespace {

bool isLastBand(const EncoderContext* ctx)
{
    return ctx->bandCounter + 1 >= ctx->bandCount;
}

uint32_t mcuRowBytes(const EncoderContext* ctx)
{
    return 8u * ctx->vMax * ctx->lineBytes;
}

}  // namespace

void switchBand(EncoderContext* ctx)
{
    ++ctx->bandCounter;
    uint32_t height = static_cast<uint32_t>(ctx->height);
    // The last band holds only the picture's remaining lines.
    if (height < uint64_t{ctx->bandCounter + 1} * ctx->linesPerBand)
        ctx->linesPerBand = height - ctx->linesPerBand * ctx->bandCounter;
    ctx->bandBytes = ctx->linesPerBand * ctx->lineBytes;
}

int32_t pullBand(EncoderContext* ctx, const char* name, int32_t* cbError)
{
    int32_t result = ctx->inputFunc(ctx->inBuf, 0, ctx->bandBytes, 0, ctx->inputUser);
    if (result == 0) return MOX_OK;
    if (cbError != nullptr) *cbError = result;
    return MOX_FAIL(name, MOX_ERR_CALLBACK, ctx);
}

int32_t skipTopBands(EncoderContext* ctx, int32_t* cbError)
{
    while (ctx->linesPerBand <= ctx->remainingTop) {
        // Lines are counted off before the switch, which may shorten the band.
        ctx->remainingTop -= ctx->linesPerBand;
        if (ctx->inputSet != kCallbackSet) {
            switchBand(ctx);
            ctx->state = kEncodeWaitingInput;
            return MOX_NEED_INPUT;
        }
        std::memset(ctx->inBuf, 0, ctx->inBufSize);
        switchBand(ctx);
        int32_t status = pullBand(ctx, "E_checkInput", cbError);
        if (status != MOX_OK) return status;
    }
    return MOX_OK;
}

RowResult fetchMcuRow(EncoderContext* ctx)
{
    const uint32_t rowBytes = mcuRowBytes(ctx);
    ctx->heldBytes = 0;
    const uint32_t rest = ctx->readPos < ctx->bandBytes ? ctx->bandBytes - ctx->readPos : 0;
    if (uint64_t{ctx->readPos} + rowBytes <= ctx->bandBytes || (isLastBand(ctx) && rest > 0)) {
        // Inside the band; a short last row is completed by line replication.
        ctx->rowSource = ctx->inBuf + ctx->readPos;
        ctx->rowBytes = rest;
        ctx->readPos += rowBytes;
        ctx->fetchedRow = static_cast<int32_t>(ctx->mcuRow);
        return RowResult::ready;
    }
    // The row straddles bands: it is assembled in the cleared row buffer (a
    // row read in place never touches the buffer, so it is cleared only here).
    std::memset(ctx->mcuRowBuf, 0, rowBytes);
    std::memcpy(ctx->mcuRowBuf, ctx->inBuf + ctx->readPos, rest);
    ctx->heldBytes = rest;
    ctx->rowBytes = rest;
    return RowResult::bandUsedUp;
}

RowResult completeMcuRow(EncoderContext* ctx)
{
    const uint32_t rowBytes = mcuRowBytes(ctx);
    const uint32_t needed = rowBytes - ctx->heldBytes;  // held bytes are whole lines
    uint8_t* tail = ctx->mcuRowBuf + ctx->heldBytes;
    ctx->rowSource = ctx->mcuRowBuf;
    if (needed <= ctx->bandBytes) {
        std::memcpy(tail, ctx->inBuf, needed);
        ctx->readPos = needed;
        ctx->rowBytes = rowBytes;
    } else {
        std::memcpy(tail, ctx->inBuf, ctx->bandBytes);
        ctx->heldBytes += ctx->bandBytes;
        ctx->rowBytes = ctx->heldBytes;
        if (!isLastBand(ctx)) {
            ctx->readPos = 0;
            return RowResult::bandUsedUp;
        }
        ctx->readPos = ctx->bandBytes;
    }
    ctx->heldBytes = 0;
    ctx->fetchedRow = static_cast<int32_t>(ctx->mcuRow);
    return RowResult::ready;
}

}  // namespace mox::enc
