// MoxDecode: the resumable band loop. All position state lives in the
// context, so a call may stop after any MCU (more input: 1, full band: 2)
// and the next call continues there. The unread tail of a piece moves to
// the splice buffer, followed by the first bytes of the next piece, and the
// cursor switches back to the piece once the tail is read. The consumed-
// byte counters in the caller's SystemParam are derived from the cursor.
#include <algorithm>
#include <cstring>

#include "decoder/decoder.h"
#include "decoder/fast.h"
#include "frame/markers.h"
#include "frame/errlog.h"
#include "frame/reader.h"
#include "vela/bp.h"
#include "vela/vela.h"

namespace mox {

namespace {

// Bytes of the next piece copied behind a tail (mode 0). A value of up to
// 16 bits begun in the tail may end in the fourth of them: 00 | FF 00 | xx
// when the tail ends in a whole 0xFF.
constexpr uint32_t kJpegSpliceLead = 5;
constexpr uint32_t kVelaSpliceBytes = 64;  // modes 1..3 fill the splice buffer to 64 bytes

McuPosition positionOf(const DecoderContext* ctx, int32_t column, int32_t row)
{
    return McuPosition{column, row, ctx->mcusPerRow, ctx->mcuRows};
}

// Cursor position relative to the piece's first unread byte; negative while
// it stands inside the carried tail.
int64_t pieceRelative(const DecoderContext* ctx)
{
    int64_t at = ctx->cursor.byteIndex;
    return ctx->spliceFlag == 1 ? at - ctx->spliceLength : at;
}

uint8_t byteAt(const DecoderContext* ctx, int64_t at)
{
    return at < 0 ? ctx->spliceBuffer[ctx->spliceLength + at] : ctx->cursor.pieceData[at];
}

// Sets pieceOffset and consumedTotal to the cursor; a partly read byte
// counts as consumed when `countPartial`.
void syncCounters(DecoderContext* ctx, bool countPartial)
{
    int64_t at = pieceRelative(ctx);
    if (countPartial && ctx->cursor.bitPos != 7) ++at;
    int64_t consumed = std::clamp<int64_t>(int64_t(ctx->pieceStream) + at, 0, UINT32_MAX);
    *ctx->consumedTotal = static_cast<uint32_t>(consumed);
    int64_t offset = int64_t(ctx->pieceOrigin) + std::max<int64_t>(at, 0);
    *ctx->pieceOffset = static_cast<uint32_t>(std::min<int64_t>(offset, ctx->pieceSize));
}

// Bytes InputFunc is asked for: the rest of the stream, at most a piece.
uint32_t nextPieceLength(const DecoderContext* ctx)
{
    uint64_t delivered = uint64_t(ctx->piecesRead) * ctx->pieceSize;
    if (delivered >= ctx->totalSize) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(ctx->totalSize - delivered, ctx->pieceSize));
}

bool streamExhausted(const DecoderContext* ctx)
{
    return ctx->pieceStream >= ctx->totalSize;
}

int32_t fetchPiece(DecoderContext* ctx, const char* name)
{
    uint32_t length = nextPieceLength(ctx);
    ++ctx->piecesRead;
    int32_t result = ctx->inputFunc(ctx->inputBuffer, 0, length, 0, ctx->inputUser);
    if (result == 0) return 0;
    if (ctx->errorOut != nullptr) *ctx->errorOut = static_cast<uint32_t>(result);
    return MOX_FAIL(name, MOX_ERR_CALLBACK, ctx);
}

// Records a "MoxDecode" failure, with the MCU position inside the band loop.
int32_t failDecode(DecoderContext* ctx, int32_t code, bool inLoop, int32_t column, int32_t row)
{
    if (inLoop) return MOX_FAIL_AT("MoxDecode", code, ctx, positionOf(ctx, column, row));
    return MOX_FAIL("MoxDecode", code, ctx);
}

// Fetches the next piece and rebuilds the cursor for the row in progress.
int32_t validatteCallIn(DecoderContext* ctx, bool inLoop, int32_t column, int32_t row)
{
    int32_t status = fetchPiece(ctx, "validatteCallIn");
    if (status == 0) {
        status = D_setStrCode(ctx);
        if (status != 0) MOX_FAIL("validatteCallIn", status, ctx);
    }
    if (status == 0) {
        status = changeWritebuf(ctx, row);
        if (status != 0) MOX_FAIL("validatteCallIn", status, ctx);
    }
    if (status != 0) return failDecode(ctx, status, inLoop, column, row);
    return 0;
}

int32_t deliverBand(DecoderContext* ctx, uint32_t length, bool inLoop, int32_t column, int32_t row)
{
    int32_t result = ctx->outputFunc(ctx->bandBuffer, 0, length, 0, ctx->outputUser);
    if (result == 0) return 0;
    if (ctx->errorOut != nullptr) *ctx->errorOut = static_cast<uint32_t>(result);
    return failDecode(ctx, MOX_ERR_CALLBACK, inLoop, column, row);
}

// A full band waits: keep the position, then hand the band over or return 2.
int32_t bandFull(DecoderContext* ctx, int32_t row, bool inLoop, int32_t column)
{
    ctx->savedBitPos = ctx->cursor.bitPos;
    ctx->savedByteIndex = ctx->cursor.byteIndex;
    ctx->mcuRow = row;
    ctx->bandMcuRows = 0;
    if (ctx->outputFunc == nullptr) return failDecode(ctx, MOX_OUTPUT_READY, inLoop, column, row);
    return deliverBand(ctx, ctx->bandBufferSize, inLoop, column, row);
}

// A reduced block averages only the picture samples it covers: tell the
// components how many of MCU (c, r)'s samples lie inside the picture.
void setInsideSamples(DecoderContext* ctx, int32_t c, int32_t r)
{
    int64_t across = kBlockSide * ctx->hMax;
    int64_t down = kBlockSide * ctx->vMax;
    auto inside = static_cast<uint16_t>(std::min(across, ctx->imageWidth - c * across));
    auto insideDown = static_cast<uint16_t>(std::min(down, ctx->imageHeight - r * down));
    for (int k = 0; k < ctx->componentCount; ++k) {
        ctx->mcuParam.component[k].insideWidth = inside;
        ctx->mcuParam.component[k].insideHeight = insideDown;
    }
}

int32_t decodeMcuOfMode(DecoderContext* ctx, const DecoderKernels& kernels)
{
    VelaMcuDecoder velaDecoder = nullptr;
    switch (ctx->mode) {
    case MOX_MODE_VELA:
        velaDecoder = vela_decodemcu;
        break;
    case MOX_MODE_VELA_BP:
        velaDecoder = vela_bp_decodemcu;
        break;
    case MOX_MODE_VELA_COPIER:
        velaDecoder = vela_copier_decodeMcu;
        break;
    default:
        return kernels.decodeMcu(ctx);
    }
    return velaDecoder(&ctx->cursor, &ctx->mcuParam, ctx->planes);
}

// Decodes, upsamples and stores MCU (c, r), refilling as often as needed.
int32_t decodeOneMcu(DecoderContext* ctx, int32_t c, int32_t r)
{
    if (ctx->reduction != 1) setInsideSamples(ctx, c, r);
    const DecoderKernels& kernels = decoderKernels();
    for (;;) {
        int32_t status = decodeMcuOfMode(ctx, kernels);
        if (status == kNeedMoreData) {
            status = saveStrCode(ctx, c, r);
            if (status == 0 && streamExhausted(ctx)) status = MOX_ERR_CORRUPT;  // truncated stream
            if (status != 0) return failDecode(ctx, status, true, c, r);
            if (ctx->inputFunc == nullptr) return MOX_NEED_INPUT;
            status = validatteCallIn(ctx, true, c, r);
            if (status != 0) return status;
            continue;
        }
        const bool full = ctx->reduction == 1;
        if (status == 0) status = full ? kernels.upSample(ctx) : upSample(ctx);
        if (status != 0) {
            syncCounters(ctx, true);
            return failDecode(ctx, status, true, c, r);
        }
        return full ? kernels.storeMcu(ctx, c, r) : storeMcu(ctx, c, r);
    }
}

// Reads the restart marker due after MCU (c, r), refilling as needed.
int32_t restartAfter(DecoderContext* ctx, int32_t c, int32_t r)
{
    for (;;) {
        int32_t status = processRST(ctx, c, r);
        if (status == MOX_NEED_INPUT) {
            ctx->rstPending = 1;
            if (streamExhausted(ctx)) return failDecode(ctx, MOX_ERR_RESTART, true, c, r);
            if (ctx->inputFunc == nullptr) return failDecode(ctx, MOX_NEED_INPUT, true, c, r);
            status = validatteCallIn(ctx, true, c, r);
            if (status != 0) return status;
            continue;
        }
        if (status != 0) {
            syncCounters(ctx, true);
            return failDecode(ctx, status, true, c, r);
        }
        return 0;
    }
}

// MCUs from column c of row r on that decodeRunFast may take in one go:
// whole ones, after which no restart marker is due.
int32_t runRoom(const DecoderContext* ctx, int32_t c, int32_t r)
{
    if (r == ctx->mcuRows - 1 && ctx->lastMcuHeight != ctx->mcuHeight) return 0;
    int32_t room = ctx->mcusPerRow - c - (ctx->lastMcuWidth != ctx->mcuWidth ? 1 : 0);
    if (ctx->restartInterval != 0) room = std::min(room, ctx->restartInterval - ctx->restartCount - 1);
    return room;
}

int32_t decodeRows(DecoderContext* ctx)
{
    // The fused output layouts and previews decode runs of MCUs with one bit buffer.
    const bool runs = (ctx->fusedOutput != 0 || ctx->reduction != 1) && decoderKernels().decodeMcu == &decodeMcuFast;
    for (int32_t r = ctx->mcuRow; r < ctx->mcuRows; ++r) {
        int32_t status;
        while ((status = changeWritebuf(ctx, r)) != 0) {
            status = bandFull(ctx, r, true, ctx->mcuColumn);
            if (status != 0) return status;
        }
        for (int32_t c = ctx->mcuColumn; c < ctx->mcusPerRow; ++c) {
            if (runs && ctx->rstPending != 1 && runRoom(ctx, c, r) > 0) {
                const int32_t room = runRoom(ctx, c, r);
                const int32_t done = ctx->reduction != 1 ? decodePreviewRun(ctx, c, r, room)
                                                         : decodeRunFast(ctx, c, room);
                if (ctx->restartInterval != 0) ctx->restartCount += done;
                c += done;
                if (c == ctx->mcusPerRow) break;
            }
            if (ctx->rstPending != 1) {
                status = decodeOneMcu(ctx, c, r);
                if (status != 0) return status;
            }
            if (ctx->restartInterval != 0) {
                status = restartAfter(ctx, c, r);
                if (status != 0) return status;
            }
        }
        ctx->mcuColumn = 0;
    }
    ctx->mcuRow = ctx->mcuRows;
    return 0;
}

// The last band: the lines of the picture that the full bands left.
uint32_t lastBandLength(const DecoderContext* ctx)
{
    uint32_t lines = static_cast<uint32_t>(ctx->outHeight) % ctx->bandLines;
    if (lines == 0) lines = ctx->bandLines;
    return lines * ctx->lineStride;
}

int32_t finishPicture(DecoderContext* ctx)
{
    int32_t status;
    while ((status = flushOverflow(ctx)) != 0) {
        status = bandFull(ctx, ctx->mcuRows, false, 0);
        if (status != 0) return status;
    }
    if (ctx->outputFunc != nullptr) {
        status = deliverBand(ctx, lastBandLength(ctx), false, 0, 0);
        if (status != 0) return status;
    }
    syncCounters(ctx, true);
    ctx->picturePassed = true;
    return 0;
}

int32_t findEndOfImage(DecoderContext* ctx)
{
    for (;;) {
        int32_t status = seekEOI(ctx);
        if (status == 0) return 0;
        if (status == MOX_STREAM_NO_EOI) return MOX_FAIL("MoxDecode", MOX_STREAM_NO_EOI, ctx);
        status = saveStrCode(ctx, ctx->mcuColumn, ctx->mcuRows);
        if (status != 0) return MOX_FAIL("MoxDecode", status, ctx);
        if (ctx->inputFunc == nullptr) return MOX_NEED_INPUT;
        status = validatteCallIn(ctx, false, ctx->mcuColumn, ctx->mcuRows);
        if (status != 0) return status;
    }
}

}  // namespace

int32_t D_setStrCode(DecoderContext* ctx)
{
    if (ctx->firstFill == 1) {
        if (ctx->inputFunc == nullptr) return MOX_ERR_NULL;
        if (fetchPiece(ctx, "D_setStrCode") != 0) return MOX_ERR_CALLBACK;
        ctx->firstFill = 0;
    }
    BitCursor& cursor = ctx->cursor;
    ctx->pieceOrigin = *ctx->pieceOffset;
    cursor.bitPos = ctx->savedBitPos;
    cursor.byteIndex = ctx->savedByteIndex;
    cursor.pieceData = ctx->inputBuffer + ctx->pieceOrigin;
    // Bytes of this stream in the piece; a short last piece leaves stale
    // bytes behind, which are never read.
    uint64_t inPiece = ctx->pieceSize - ctx->pieceOrigin;
    uint64_t inStream = ctx->totalSize > ctx->pieceStream ? ctx->totalSize - ctx->pieceStream : 0;
    cursor.available = static_cast<uint32_t>(std::min(inPiece, inStream));
    cursor.spliceFlag = &ctx->spliceFlag;
    cursor.spliceData = ctx->spliceBuffer;
    cursor.spliceLength = ctx->spliceLength;
    if (ctx->spliceFlag != 1) {
        cursor.data = cursor.pieceData;
        return 0;
    }
    // Behind the tail: the first bytes of the new piece, then zeros.
    uint32_t lead = ctx->mode == MOX_MODE_JPEG ? kJpegSpliceLead
                    : ctx->spliceLength < kVelaSpliceBytes ? kVelaSpliceBytes - ctx->spliceLength
                                                           : 0;
    uint32_t room = ctx->spliceCapacity - ctx->spliceLength;
    lead = std::min(lead, room);
    uint32_t copied = std::min(lead, cursor.available);
    std::memcpy(ctx->spliceBuffer + ctx->spliceLength, cursor.pieceData, copied);
    std::memset(ctx->spliceBuffer + ctx->spliceLength + copied, 0, room - copied);
    cursor.data = ctx->spliceBuffer;
    return 0;
}

void D_setMcuParam(DecoderContext* ctx)
{
    McuParam& p = ctx->mcuParam;
    p = McuParam{};
    p.componentCount = ctx->componentCount;
    p.mcuSize = ctx->mode == MOX_MODE_VELA_BP && ctx->velaBpParam[2] == 1 ? 128 : 64;
    p.outFormat = ctx->outFormat;
    p.rangeLimit = ctx->rangeLimit;
    switch (ctx->mode) {
    case MOX_MODE_VELA:
        p.velaWords[0] = ctx->velaParam[0];
        p.velaWords[1] = ctx->velaParam[1];
        p.sizeMode = ctx->velaParam[0];
        p.rotation = ctx->velaParam[1];
        break;
    case MOX_MODE_VELA_BP:
        std::memcpy(p.velaWords, ctx->velaBpParam, sizeof(p.velaWords));
        p.rotation = ctx->velaBpParam[1];
        p.bpTables = ctx->bpTables;
        break;
    case MOX_MODE_VELA_COPIER:
        p.copier = ctx->velaCopierParam;
        p.rotation = 0;
        break;
    default:
        break;
    }
    ctx->planes[0] = ctx->tagPlane;
    for (int c = 0; c < kMaxComponents; ++c) {
        McuComponent& component = p.component[c];
        ctx->planes[c + 1] = c < ctx->componentCount ? ctx->blockArea[c] : nullptr;
        if (c >= ctx->componentCount) continue;
        component.hSamp = ctx->hSamp[c];
        component.vSamp = ctx->vSamp[c];
        component.dcTable = &ctx->dcHuff[ctx->dcSel[c] & 1];
        component.acTable = &ctx->acHuff[ctx->acSel[c] & 1];
        component.quantTable = ctx->quantTable[ctx->quantSel[c] & 3];
        if (ctx->blockWidth[c] != kBlockSide || ctx->blockHeight[c] != kBlockSide) {
            component.reducedWidth = ctx->blockWidth[c];
            component.reducedHeight = ctx->blockHeight[c];
            component.spreadX = static_cast<uint8_t>(ctx->hMax / ctx->hSamp[c]);
            component.spreadY = static_cast<uint8_t>(ctx->vMax / ctx->vSamp[c]);
        }
    }
}

int32_t saveStrCode(DecoderContext* ctx, int32_t column, int32_t row)
{
    BitCursor& cursor = ctx->cursor;
    ctx->mcuColumn = column;
    ctx->mcuRow = row;
    ctx->savedBitPos = cursor.bitPos;
    ctx->savedByteIndex = 0;

    // Unread bytes: the rest of the tail (at < 0), then the rest of the piece.
    int64_t at = pieceRelative(ctx);
    // A whole 0xFF of entropy data just behind the cursor means its stuffing
    // byte is the next one, perhaps still in the next piece. Only a 0xFF
    // right before it makes the reader skip that byte, so the 0xFF is
    // carried too and the cursor resumes just behind it.
    if (row < ctx->mcuRows && cursor.bitPos == 7 && cursor.byteIndex > 0 &&
        at - 1 < int64_t(cursor.available) && byteAt(ctx, at - 1) == kMarkerPrefix) {
        --at;
        ctx->savedByteIndex = 1;
    }
    int64_t fromPiece = std::max<int64_t>(at, 0);
    int64_t pieceRest = std::max<int64_t>(int64_t(cursor.available) - fromPiece, 0);
    int64_t tailRest = at < 0 ? -at : 0;
    int64_t unread = tailRest + pieceRest;
    if (unread + kVelaSpliceBytes > ctx->spliceCapacity) {
        return MOX_FAIL("saveStrCode", MOX_ERR_CORRUPT, ctx);  // no MCU is that long
    }
    if (tailRest > 0)
        std::memmove(ctx->spliceBuffer, ctx->spliceBuffer + ctx->spliceLength - tailRest,
                     static_cast<size_t>(tailRest));
    if (pieceRest > 0)
        std::memcpy(ctx->spliceBuffer + tailRest, cursor.pieceData + fromPiece,
                    static_cast<size_t>(pieceRest));
    ctx->spliceLength = static_cast<uint32_t>(unread);
    ctx->spliceFlag = unread >= 1 ? 1 : 0;

    // The next piece continues the stream where this one's bytes end.
    uint32_t nextStream = ctx->pieceStream + cursor.available;
    if (column != ctx->mcusPerRow && row != ctx->mcuRows) {
        *ctx->consumedTotal = nextStream;  // the whole piece counts, its tail is carried
    } else {
        *ctx->consumedTotal = nextStream - ctx->spliceLength;
    }
    ctx->pieceStream = nextStream;
    *ctx->pieceOffset = 0;
    ctx->rowStarted = 0;
    return 0;
}

int32_t processRST(DecoderContext* ctx, int32_t column, int32_t row)
{
    ++ctx->restartCount;
    if (ctx->restartCount < ctx->restartInterval ||
        (column + 1 == ctx->mcusPerRow && row + 1 == ctx->mcuRows)) {
        ctx->rstPending = 0;
        return 0;
    }
    BitCursor& cursor = ctx->cursor;
    // Before the marker: the padding bits of a partly read byte and, when
    // that byte is 0xFF, its stuffing byte. All must be present before the
    // cursor moves, or a piece end between 0xFF and 0x00 loses the 0x00.
    if (cursor.bitPos == 7 && cursor.byteIndex > 0 && cursor.data[cursor.byteIndex - 1] == kMarkerPrefix) {
        // The data ended with a whole 0xFF whose stuffing byte is still
        // ahead: stand on the 0xFF's last bit, so both are skipped together.
        --cursor.byteIndex;
        cursor.bitPos = 0;
    }
    int32_t padding = 0;
    bool paddedFF = false;
    if (cursor.bitPos != 7) {
        paddedFF = cursor.data[cursor.byteIndex] == kMarkerPrefix;
        padding = cursor.bitPos + 1 + (paddedFF ? 8 : 0);
    }
    if (checkJpgBits(&cursor, padding + 16) != 0) {
        saveStrCode(ctx, column, row);
        --ctx->restartCount;  // counted again on the retry
        return MOX_NEED_INPUT;
    }
    if (padding != 0) {
        cursor.byteIndex += paddedFF ? 2 : 1;
        cursor.bitPos = 7;
    }
    uint32_t size = cursor.available;
    if (ctx->spliceFlag == 1) size = ctx->spliceLength + std::min(kJpegSpliceLead, cursor.available);
    ByteReader reader{cursor.data, size, static_cast<uint32_t>(cursor.byteIndex)};
    uint8_t marker = GetMarker(&reader);
    if (marker < kMarkerRst0 || marker > kMarkerRst7) return MOX_FAIL("processRST", MOX_ERR_RESTART, ctx);
    // Any RSTn is taken, whatever number is due.
    cursor.byteIndex = static_cast<int32_t>(reader.offset);
    cursor.bitPos = 7;
    for (int32_t& predictor : ctx->dcPredictors) predictor = 0;
    ctx->restartCount = 0;
    ctx->rstPending = 0;
    return 0;
}

int32_t seekEOI(DecoderContext* ctx)
{
    BitCursor& cursor = ctx->cursor;
    if (cursor.bitPos != 7) {
        ++cursor.byteIndex;
        cursor.bitPos = 7;
    }
    for (;;) {
        int64_t at = pieceRelative(ctx);
        if (at >= 0 && ctx->spliceFlag == 1) {  // tail used up: read the piece itself
            ctx->spliceFlag = 0;
            cursor.data = cursor.pieceData;
            cursor.byteIndex = static_cast<int32_t>(at);
        }
        int64_t left = int64_t(cursor.available) - at;
        if (left <= 0 || (left == 1 && byteAt(ctx, at) == kMarkerPrefix)) {
            syncCounters(ctx, false);
            if (uint64_t(ctx->pieceStream) + cursor.available >= ctx->totalSize)
                return MOX_FAIL("seekEOI", MOX_STREAM_NO_EOI, ctx);
            return kNeedMoreData;  // a lone 0xFF is scanned again behind the next piece
        }
        bool eoi = byteAt(ctx, at) == kMarkerPrefix && byteAt(ctx, at + 1) == kMarkerEoi;
        cursor.byteIndex += eoi ? 2 : 1;
        if (eoi) {
            if (ctx->spliceFlag == 1 && pieceRelative(ctx) >= 0) {
                ctx->spliceFlag = 0;
                cursor.data = cursor.pieceData;
                cursor.byteIndex -= static_cast<int32_t>(ctx->spliceLength);
            }
            syncCounters(ctx, false);
            return 0;
        }
    }
}

}  // namespace mox

using namespace mox;

namespace {

int32_t decodeJob(DecoderContext* ctx)
{
    if (ctx->finalStatus >= 0) return ctx->finalStatus;  // a complete job stays complete
    // The caller may move pieceOffset between calls; it must stay in the piece.
    if (*ctx->pieceOffset > ctx->pieceSize) return MOX_FAIL("MoxDecode", MOX_ERR_RESUME_OFFSET, ctx);
    int32_t status = D_setStrCode(ctx);
    if (status != 0) return MOX_FAIL("MoxDecode", status, ctx);
    D_setMcuParam(ctx);
    if (!ctx->picturePassed) {
        status = decodeRows(ctx);
        if (status == 0) status = finishPicture(ctx);
        if (status != 0) return status;
    }
    if (ctx->mode != MOX_MODE_JPEG) {  // a VELA stream is its MCUs and nothing else
        ctx->finalStatus = MOX_OK;
        return MOX_OK;
    }
    status = findEndOfImage(ctx);
    if (status == MOX_OK || status == MOX_STREAM_NO_EOI) ctx->finalStatus = status;
    return status;
}

}  // namespace

extern "C" MOX_API int32_t MoxDecode(DecoderContext* ctx, uintptr_t /*reserved*/, uint32_t* errorOut)
{
    if (ctx == nullptr) return MOX_FAIL("MoxDecode", MOX_ERR_NULL, nullptr);
    // The first failure wins: a failed job is only fit for MoxDecFinalize.
    if (ctx->failure < 0) return MOX_FAIL("MoxDecode", ctx->failure, ctx);
    ctx->errorOut = errorOut;
    int32_t status = decodeJob(ctx);
    if (status < 0) ctx->failure = status;
    return status;
}
