// Band bookkeeping of the MCU rows. Rows are written straight into the band
// below the lines already there; the one row that crosses a band boundary
// is decoded into the overflow area, whose first lines complete the band
// and whose remaining lines open the next one.
#include <cstring>

#include "decoder/decoder.h"
#include "frame/errlog.h"

namespace mox {

namespace {

constexpr int32_t kBandFull = MOX_OUTPUT_READY;

void copyLines(DecoderContext* ctx, uint32_t toLine, const uint8_t* from, uint32_t lines)
{
    std::memcpy(ctx->bandBuffer + size_t(toLine) * ctx->lineStride, from,
                size_t(lines) * ctx->lineStride);
}

}  // namespace

int32_t flushOverflow(DecoderContext* ctx)
{
    if (ctx->overflowPending != 1) return 0;
    uint32_t free = ctx->bandLinesLeft;
    ctx->bandTopLine = ctx->bandLines - free;
    if (ctx->overflowLines > free) {
        copyLines(ctx, ctx->bandTopLine, ctx->writePointer, free);
        ctx->overflowLines -= free;
        ctx->writePointer += size_t(free) * ctx->lineStride;
        ctx->bandLinesLeft = ctx->bandLines;
        return kBandFull;
    }
    copyLines(ctx, ctx->bandTopLine, ctx->writePointer, ctx->overflowLines);
    ctx->bandTopLine = ctx->overflowLines;
    ctx->bandLinesLeft = ctx->bandLines - ctx->overflowLines;
    ctx->overflowLines = 0;
    ctx->overflowPending = 0;
    return 0;
}

int32_t changeWritebuf(DecoderContext* ctx, int32_t row)
{
    // After a suspension inside a row, the row is already set up.
    if (ctx->rowStarted == 0) {
        ctx->rowStarted = 1;
        return 0;
    }
    int32_t status = flushOverflow(ctx);
    if (status != 0) return MOX_FAIL("changeWritebuf", status, ctx);

    const uint32_t mcuHeight = static_cast<uint32_t>(ctx->mcuHeight);
    if (ctx->bandLinesLeft >= mcuHeight) {
        ctx->bandLinesLeft -= mcuHeight;
        ctx->writePointer = ctx->bandBuffer +
                            size_t(ctx->bandMcuRows * mcuHeight + ctx->bandTopLine) * ctx->lineStride;
        ++ctx->bandMcuRows;
    } else if (ctx->bandLinesLeft == 0) {
        ctx->bandTopLine = 0;
        ctx->bandLinesLeft = ctx->bandLines;
        return kBandFull;
    } else {
        ctx->writePointer = ctx->overflowArea;
        ctx->overflowLines = row == ctx->mcuRows - 1 ? static_cast<uint32_t>(ctx->lastMcuHeight)
                                                     : mcuHeight;
        ctx->overflowPending = 1;
    }
    ctx->rowStarted = 1;
    return 0;
}

}  // namespace mox
