// Decoder set-up: MoxDecInit checks the caller's three records in a fixed
// order (picture, parameters, system), lays out the work area and derives
// the MCU grid; MoxDecFinalize releases exactly what the library allocated.
// Nothing of a failed Init stays allocated.
#include <cstring>

#include "decoder/context.h"
#include "decoder/decoder.h"
#include "decoder/fast.h"
#include "frame/errlog.h"
#include "frame/memory.h"
#include "moxcodec.h"
#include "vela/bp.h"

namespace mox {

namespace {

constexpr int32_t kNotSet = -1;
constexpr int32_t kMaxBlocksPerMcu = 10;   // T.81 B.2.3
constexpr int32_t kMaxSamplingFactor = 2;
constexpr uint32_t kMinPieceSize = 64;
constexpr uint32_t kMaxPieceSize = INT32_MAX;
constexpr uint64_t kMaxPixelsPerLine = 12000;

// Samples of the reduced picture along an edge of `full` samples.
inline int64_t reducedEdge(int32_t full, int32_t reduction)
{
    return (int64_t(full) + reduction - 1) / reduction;
}

int32_t failEntry(const char* name, int32_t code, DecoderContext* ctx, int line, int32_t* error)
{
    logFailure(name, code, ctx, line);
    *error = code;
    return -1;
}
#define ENTRY_FAIL(name, code) failEntry((name), (code), ctx, __LINE__, error)

// Mode 0 offers the grey and RGB forms; the VELA modes their own.
int32_t checkModeFormat(DecoderContext* ctx, const PictureInfo* pic, int32_t* error)
{
    int32_t components = pic->componentCount;
    int32_t format = pic->outFormat;
    switch (pic->mode) {
    case MOX_MODE_JPEG:
        if (components != 1 && components != 3) return ENTRY_FAIL("D_entrypic", MOX_ERR_FORMAT);
        if (format == kNotSet) format = 1;
        if (format != 0 && format != 1) return ENTRY_FAIL("D_entrypic", MOX_ERR_FORMAT);
        break;
    case MOX_MODE_VELA:
    case MOX_MODE_VELA_BP:
        if (components != 1 && components != 4) return ENTRY_FAIL("D_entrypic", MOX_ERR_FORMAT);
        if (format != 4 && format != 5) return ENTRY_FAIL("D_entrypic", MOX_ERR_FORMAT);
        components = 4;  // single-component VELA streams still carry four blocks
        break;
    case MOX_MODE_VELA_COPIER:
        if (components != 1 && components != 3) return ENTRY_FAIL("D_entrypic", MOX_ERR_FORMAT);
        if (format != 0 && format != 1) return ENTRY_FAIL("D_entrypic", MOX_ERR_FORMAT);
        break;
    default:
        return ENTRY_FAIL("D_entrypic", MOX_ERR_MODE);
    }
    // Previews: mode 0 decodes blocks to 8, 4, 2 or 1 samples a side.
    int32_t reduction = pic->reduction == kNotSet ? 1 : pic->reduction;
    bool divides = reduction == 1 || reduction == 2 || reduction == 4 || reduction == 8;
    if (!divides || (reduction != 1 && pic->mode != MOX_MODE_JPEG))
        return ENTRY_FAIL("D_entrypic", MOX_ERR_REDUCTION);

    ctx->mode = static_cast<uint8_t>(pic->mode);
    ctx->componentCount = components;
    ctx->outFormat = format;
    ctx->reduction = reduction;
    ctx->blockSize = kBlockSide / reduction;
    ctx->bytesPerPixel = (format == 0 || format == 5) ? 1 : components;
    return 0;
}

int32_t checkSampling(DecoderContext* ctx, const DecodeParam* param, int32_t* error)
{
    if (ctx->mode != MOX_MODE_JPEG) {
        for (int c = 0; c < kMaxComponents; ++c) ctx->hSamp[c] = ctx->vSamp[c] = 1;
    } else {
        if (param->hSamp[0] < 1 || param->vSamp[0] < 1)
            return ENTRY_FAIL("D_entryparam", MOX_ERR_SAMPLING);
        for (int c = 0; c < kMaxComponents; ++c) {
            ctx->hSamp[c] = static_cast<uint8_t>(param->hSamp[c]);
            ctx->vSamp[c] = static_cast<uint8_t>(param->vSamp[c]);
        }
        // A single-component scan is non-interleaved: one block per MCU
        // whatever the frame's factors say (T.81 A.2.2).
        if (ctx->componentCount == 1) ctx->hSamp[0] = ctx->vSamp[0] = 1;
    }
    ctx->hMax = ctx->vMax = 0;
    int32_t blocks = 0;
    for (int c = 0; c < ctx->componentCount; ++c) {
        if (ctx->hSamp[c] < 1 || ctx->vSamp[c] < 1)
            return ENTRY_FAIL("D_entryparam", MOX_ERR_SAMPLING);
        if (ctx->hSamp[c] > ctx->hMax) ctx->hMax = ctx->hSamp[c];
        if (ctx->vSamp[c] > ctx->vMax) ctx->vMax = ctx->vSamp[c];
        blocks += ctx->hSamp[c] * ctx->vSamp[c];
    }
    if (ctx->hMax > kMaxSamplingFactor || ctx->vMax > kMaxSamplingFactor)
        return ENTRY_FAIL("D_entryparam", MOX_ERR_SAMPLING);
    if (blocks > kMaxBlocksPerMcu) return ENTRY_FAIL("D_entryparam", MOX_ERR_UNSUPPORTED);
    return 0;
}

int32_t checkQuantisation(DecoderContext* ctx, const DecodeParam* param, int32_t* error)
{
    if (param->quantSel[0] == kNotSet) return ENTRY_FAIL("D_entryparam", MOX_ERR_QUANT);
    for (int c = 0; c < kMaxComponents; ++c) ctx->quantSel[c] = static_cast<uint8_t>(param->quantSel[c]);
    std::memcpy(ctx->quantTable, param->quantTable, sizeof(ctx->quantTable));
    for (int c = 0; c < ctx->componentCount; ++c) {
        int32_t sel = param->quantSel[c];
        if (sel < 0 || sel > 3) return ENTRY_FAIL("D_entryparam", MOX_ERR_QUANT);
        if (ctx->quantTable[sel][0] < 1) return ENTRY_FAIL("D_entryparam", MOX_ERR_QUANT);
    }
    return 0;
}

bool usableTable(const HuffDecodeTable& table)
{
    int32_t count = static_cast<int32_t>(table.count);
    return count >= 1 && count <= MOX_HUFF_MAX_CODES;
}

int32_t checkHuffman(DecoderContext* ctx, const DecodeParam* param, int32_t* error)
{
    switch (ctx->mode) {
    case MOX_MODE_JPEG:
        std::memcpy(ctx->dcHuff, param->dcHuff, sizeof(ctx->dcHuff));
        std::memcpy(ctx->acHuff, param->acHuff, sizeof(ctx->acHuff));
        for (int c = 0; c < kMaxComponents; ++c) {
            ctx->dcSel[c] = static_cast<uint8_t>(param->dcSel[c]);
            ctx->acSel[c] = static_cast<uint8_t>(param->acSel[c]);
        }
        for (int c = 0; c < ctx->componentCount; ++c) {
            int32_t dc = param->dcSel[c];
            int32_t ac = param->acSel[c];
            if (dc < 0 || dc > 1 || ac < 0 || ac > 1)
                return ENTRY_FAIL("D_entryparam", MOX_ERR_EMPTY_HUFFMAN);
            if (!usableTable(ctx->dcHuff[dc]) || !usableTable(ctx->acHuff[ac]))
                return ENTRY_FAIL("D_entryparam", MOX_ERR_EMPTY_HUFFMAN);
        }
        break;
    case MOX_MODE_VELA:
    case MOX_MODE_VELA_BP:
        loadAnnexKTables(ctx, 1);
        break;
    default: {
        static constexpr uint8_t kCopierSel[kMaxComponents] = {0, 1, 1, 0};
        loadAnnexKTables(ctx, 2);
        std::memcpy(ctx->dcSel, kCopierSel, sizeof(kCopierSel));
        std::memcpy(ctx->acSel, kCopierSel, sizeof(kCopierSel));
        break;
    }
    }
    return 0;
}

int32_t checkVelaParam(DecoderContext* ctx, const DecodeParam* param, int32_t* error)
{
    std::memset(ctx->velaParam, 0, sizeof(ctx->velaParam));
    std::memset(ctx->velaBpParam, 0, sizeof(ctx->velaBpParam));
    std::memset(&ctx->velaCopierParam, 0, sizeof(ctx->velaCopierParam));
    std::memset(ctx->bpTables, 0, sizeof(ctx->bpTables));
    switch (ctx->mode) {
    case MOX_MODE_VELA: {
        const uint32_t* words = param->velaParam;
        if (words == nullptr || words[0] > 1 || words[1] > 3)
            return ENTRY_FAIL("D_entryparam", MOX_ERR_NULL);
        ctx->velaParam[0] = words[0];
        ctx->velaParam[1] = words[1];
        break;
    }
    case MOX_MODE_VELA_BP: {
        const uint32_t* words = param->velaBpParam;
        if (words == nullptr) return ENTRY_FAIL("D_entryparam", MOX_ERR_NULL);
        std::memcpy(ctx->velaBpParam, words, sizeof(ctx->velaBpParam));
        if (words[0] != 0 || words[1] != 0 || words[2] > 1 || words[3] != 0 || words[4] != 1)
            return ENTRY_FAIL("D_entryparam", MOX_ERR_NULL);
        std::memcpy(ctx->bpTables, bpDefaultTables(), sizeof(ctx->bpTables));
        if (param->velaBpTables != nullptr) overlayBpTables(ctx->bpTables, param->velaBpTables);
        break;
    }
    case MOX_MODE_VELA_COPIER: {
        const VelaCopierParam* block = param->velaCopierParam;
        if (block == nullptr || block->words[0] != 0 || block->words[1] != 1 ||
            block->words[2] != 0 || block->words[3] != 0 || block->variableSize > 1)
            return ENTRY_FAIL("D_entryparam", MOX_ERR_NULL);
        ctx->velaCopierParam = *block;
        break;
    }
    default:
        break;
    }
    return 0;
}

// A subsampled component is decoded to the reduced resolution directly:
// its blocks cover (hMax / hSamp) times the picture's block width, so they
// keep up to 8 samples a side and need no doubling (at full size they keep
// 8 and are doubled as before).
void deriveBlockSides(DecoderContext* ctx)
{
    for (int c = 0; c < kMaxComponents; ++c) {
        int32_t h = ctx->hSamp[c] < 1 ? 1 : ctx->hSamp[c];
        int32_t v = ctx->vSamp[c] < 1 ? 1 : ctx->vSamp[c];
        int32_t across = ctx->blockSize * ctx->hMax / h;
        int32_t down = ctx->blockSize * ctx->vMax / v;
        ctx->blockWidth[c] = static_cast<uint8_t>(across < kBlockSide ? across : kBlockSide);
        ctx->blockHeight[c] = static_cast<uint8_t>(down < kBlockSide ? down : kBlockSide);
    }
}

// One byte per upsampled sample of the MCU, kept a multiple of 4 so that the
// tables behind stay aligned (reduced MCUs can be a few samples only).
uint32_t extraAreaBytes(const DecoderContext* ctx)
{
    uint32_t samples = static_cast<uint32_t>(ctx->hMax * ctx->vMax * ctx->blockSize * ctx->blockSize);
    return (samples + 3) & ~3u;
}

// Lays the work area out as splice area, overflow rows, per-component block,
// upsampling and further areas, range-limit table, colour tables and (reduction 8) preview skip tables. The
// 32-bit areas must be 4-byte aligned, so the splice area gives up the 0..3
// bytes that align them.
void layOutWorkArea(DecoderContext* ctx)
{
    uint8_t* base = ctx->workArea;
    uint32_t overflowBytes = static_cast<uint32_t>(ctx->blockSize * ctx->vMax) * ctx->lineStride;
    uintptr_t misalign = (reinterpret_cast<uintptr_t>(base) + kSpliceAreaBytes + overflowBytes) & 3u;
    ctx->spliceBuffer = base;
    ctx->spliceCapacity = kSpliceAreaBytes - static_cast<uint32_t>(misalign);
    ctx->overflowArea = base + ctx->spliceCapacity;
    uint8_t* next = ctx->overflowArea + overflowBytes;
    uint32_t mcuSamples = static_cast<uint32_t>(ctx->hMax * ctx->vMax * ctx->blockSize * ctx->blockSize);
    for (int c = 0; c < ctx->componentCount; ++c) {
        ctx->blockArea[c] = reinterpret_cast<int32_t*>(next);
        next += ctx->hSamp[c] * ctx->vSamp[c] * ctx->blockWidth[c] * ctx->blockHeight[c] * sizeof(int32_t);
    }
    for (int c = 0; c < ctx->componentCount; ++c) {
        ctx->upsampleArea[c] = reinterpret_cast<int32_t*>(next);
        next += mcuSamples * sizeof(int32_t);
    }
    for (int c = 0; c < ctx->componentCount; ++c) {
        ctx->extraArea[c] = reinterpret_cast<int32_t*>(next);
        next += extraAreaBytes(ctx);
    }
    ctx->rangeLimit = next + kRangeLimitOrigin;
    buildRangeLimit(next);
    next += kRangeLimitBytes;
    int32_t* color = reinterpret_cast<int32_t*>(next);
    ctx->crToR = color;
    ctx->cbToG = color + kColorTableEntries;
    ctx->crToG = color + 2 * kColorTableEntries;
    ctx->cbToB = color + 3 * kColorTableEntries;
    buildColorTables(ctx->crToR, ctx->cbToG, ctx->crToG, ctx->cbToB);
    next += 4 * kColorTableEntries * sizeof(int32_t);
    ctx->acSkip = nullptr;
    ctx->acSkipGroups = nullptr;
    if (ctx->reduction == 8) placePreviewSkipTables(ctx, next);
}

// Releases what D_entrysystem allocated and clears the pointers it wrote
// back into the caller's record.
void releaseSystemBuffers(DecoderContext* ctx, SystemParam* sys)
{
    if (ctx->ownsBandBuffer) {
        release(ctx->alloc, ctx->bandBuffer);
        sys->bandBuffer = nullptr;
    }
    if (ctx->ownsInputBuffer) {
        release(ctx->alloc, ctx->inputBuffer);
        sys->inputBuffer = nullptr;
    }
    if (ctx->ownsWorkArea) {
        release(ctx->alloc, ctx->workArea);
        sys->workArea = nullptr;
    }
    ctx->ownsBandBuffer = ctx->ownsInputBuffer = ctx->ownsWorkArea = false;
}

// Starting state of the band loop and the MCU grid.
void deriveGrid(DecoderContext* ctx)
{
    ctx->savedBitPos = 7;
    ctx->savedByteIndex = 0;
    ctx->mcuRow = ctx->mcuColumn = 0;
    for (int32_t& predictor : ctx->dcPredictors) predictor = 0;
    ctx->rowStarted = 1;
    ctx->rstPending = 0;
    ctx->pieceStream = *ctx->consumedTotal;
    ctx->finalStatus = -1;
    ctx->inputFunc = nullptr;
    ctx->inputUser = nullptr;
    ctx->outputFunc = nullptr;
    ctx->outputUser = nullptr;

    // 64-bit: a caller's height may come close to the 32-bit limit.
    ctx->mcusPerRow = static_cast<int32_t>((int64_t(ctx->imageWidth) + 8 * ctx->hMax - 1) / (8 * ctx->hMax));
    ctx->mcuRows = static_cast<int32_t>((int64_t(ctx->imageHeight) + 8 * ctx->vMax - 1) / (8 * ctx->vMax));
    ctx->mcuWidth = ctx->hMax * ctx->blockSize;
    ctx->mcuHeight = ctx->vMax * ctx->blockSize;
    // The reduced picture keeps every partly covered sample: its edges are
    // the full ones divided by the reduction, rounded up.
    ctx->outWidth = static_cast<int32_t>(reducedEdge(ctx->imageWidth, ctx->reduction));
    ctx->outHeight = static_cast<int32_t>(reducedEdge(ctx->imageHeight, ctx->reduction));
    ctx->lastMcuWidth = ctx->outWidth % ctx->mcuWidth;
    if (ctx->lastMcuWidth == 0) ctx->lastMcuWidth = ctx->mcuWidth;
    ctx->lastMcuHeight = ctx->outHeight % ctx->mcuHeight;
    if (ctx->lastMcuHeight == 0) ctx->lastMcuHeight = ctx->mcuHeight;
}

}  // namespace

int32_t D_entrypic(DecoderContext* ctx, const PictureInfo* pic, int32_t* error)
{
    if (pic->width < 1 || pic->height < 1) return ENTRY_FAIL("D_entrypic", MOX_ERR_SIZE);
    ctx->width = pic->width;
    ctx->height = pic->height;
    ctx->imageWidth = pic->imageWidth <= 0 ? pic->width : pic->imageWidth;
    ctx->imageHeight = pic->imageHeight <= 0 ? pic->height : pic->imageHeight;
    // The band loop writes lines of `width` pixels at most.
    if (ctx->imageWidth > ctx->width || ctx->imageHeight > ctx->height)
        return ENTRY_FAIL("D_entrypic", MOX_ERR_SIZE);
    ctx->auxX = pic->auxX < 0 ? 0 : pic->auxX;
    ctx->auxY = pic->auxY < 0 ? 0 : pic->auxY;
    ctx->densityX = static_cast<int16_t>(pic->densityX);
    ctx->densityY = static_cast<int16_t>(pic->densityY);
    ctx->densityUnit = static_cast<int16_t>(pic->densityUnit);
    return checkModeFormat(ctx, pic, error);
}

int32_t D_entryparam(DecoderContext* ctx, const DecodeParam* param, int32_t* error)
{
    if (checkSampling(ctx, param, error) != 0) return -1;
    ctx->restartCount = 0;
    ctx->restartInterval = param->restartInterval == kNotSet ? 0 : param->restartInterval;
    if (param->colorTransform == kNotSet) {
        ctx->colorTransform = ctx->componentCount == 3 ? 1 : 0;
    } else {
        ctx->colorTransform = static_cast<uint8_t>(param->colorTransform);
    }
    if (checkQuantisation(ctx, param, error) != 0) return -1;
    if (checkHuffman(ctx, param, error) != 0) return -1;
    std::memset(ctx->comment, 0, sizeof(ctx->comment));
    size_t length = strnlen(param->comment, kCommentBytes - 1);
    std::memcpy(ctx->comment, param->comment, length);
    return checkVelaParam(ctx, param, error);
}

void placePreviewSkipTables(DecoderContext* ctx, uint8_t* at)
{
    ctx->acSkip = reinterpret_cast<uint16_t(*)[1u << kLookaheadBits]>(at);
    ctx->acSkipGroups = reinterpret_cast<uint16_t(*)[1u << kSkipGroupBits]>(at + 2 * (2u << kLookaheadBits));
}

// Sized for the reduced MCU: per component 4 + 4 bytes per upsampled sample
// and the extra area, 4 per decoded sample (576 and 256 bytes a block at
// full size); at reduction 8 the preview skip tables besides.
uint64_t decoderWorkAreaSize(const DecoderContext* ctx, uint32_t lineStride)
{
    uint64_t side = static_cast<uint64_t>(ctx->blockSize);
    uint64_t perComponent = uint64_t(ctx->hMax) * ctx->vMax * side * side * 8 + extraAreaBytes(ctx);
    uint64_t size = side * ctx->vMax * lineStride + kFixedWorkBytes + ctx->componentCount * perComponent;
    if (ctx->reduction == 8) size += kPreviewSkipBytes;
    for (int c = 0; c < kMaxComponents; ++c) {
        uint64_t samples = c < ctx->componentCount ? uint64_t(ctx->blockWidth[c]) * ctx->blockHeight[c]
                                                   : side * side;
        size += uint64_t(ctx->hSamp[c]) * ctx->vSamp[c] * samples * 4;
    }
    return size;
}

int32_t D_entrysystem(DecoderContext* ctx, SystemParam* sys, int32_t* error)
{
    if (sys->pieceSize < kMinPieceSize) return ENTRY_FAIL("D_entrysystem", MOX_ERR_IN_BUFFER);
    // The bit cursor indexes a piece with a signed 32-bit byte index.
    if (sys->pieceSize > kMaxPieceSize) return ENTRY_FAIL("D_entrysystem", MOX_ERR_BUFFER_LIMIT);
    if (sys->bandBufferSize == 0) return ENTRY_FAIL("D_entrysystem", MOX_ERR_OUT_BUFFER);
    uint64_t minStride = uint64_t(reducedEdge(ctx->width, ctx->reduction)) * ctx->bytesPerPixel;
    uint64_t maxStride = kMaxPixelsPerLine * ctx->bytesPerPixel;
    if (sys->lineStride < minStride || sys->lineStride > maxStride)
        return ENTRY_FAIL("D_entrysystem", MOX_ERR_LINE_PITCH);
    // A band must hold at least one line.
    if (sys->bandBufferSize < sys->lineStride) return ENTRY_FAIL("D_entrysystem", MOX_ERR_OUT_BUFFER);
    if (sys->totalSize == 0) return ENTRY_FAIL("D_entrysystem", MOX_ERR_TOTAL_SIZE);
    if (sys->pieceOffset > sys->pieceSize) return ENTRY_FAIL("D_entrysystem", MOX_ERR_RESUME_OFFSET);

    ctx->lineStride = sys->lineStride;
    ctx->totalSize = sys->totalSize;
    ctx->pieceSize = sys->pieceSize;
    ctx->pieceOffset = &sys->pieceOffset;
    ctx->consumedTotal = &sys->consumedTotal;
    ctx->skipRemain = &sys->skipRemain;
    ctx->firstFill = ctx->mode == MOX_MODE_JPEG ? sys->firstFill : 1;

    deriveBlockSides(ctx);
    uint32_t workSize = 0;
    if (!fitsSize(decoderWorkAreaSize(ctx, sys->lineStride), &workSize))
        return ENTRY_FAIL("D_entrysystem", MOX_ERR_WORK_AREA);
    if (sys->workArea == nullptr) {
        sys->workArea = static_cast<uint8_t*>(allocate(ctx->alloc, workSize));
        if (sys->workArea == nullptr) return ENTRY_FAIL("D_entrysystem", MOX_ERR_ALLOC);
        ctx->ownsWorkArea = true;
        ctx->workAreaSize = workSize;
    } else {
        if (sys->workAreaSize < workSize) return ENTRY_FAIL("D_entrysystem", MOX_ERR_WORK_AREA);
        ctx->workAreaSize = sys->workAreaSize;
    }
    ctx->workArea = sys->workArea;
    std::memset(ctx->workArea, 0, ctx->workAreaSize);
    layOutWorkArea(ctx);

    if (sys->inputBuffer == nullptr) {
        sys->inputBuffer = static_cast<uint8_t*>(allocate(ctx->alloc, sys->pieceSize));
        if (sys->inputBuffer == nullptr) {
            releaseSystemBuffers(ctx, sys);
            return ENTRY_FAIL("D_entrysystem", MOX_ERR_ALLOC);
        }
        ctx->ownsInputBuffer = true;
        std::memset(sys->inputBuffer, 0, sys->pieceSize);
    }
    ctx->inputBuffer = sys->inputBuffer;

    if (sys->bandBuffer == nullptr) {
        sys->bandBuffer = static_cast<uint8_t*>(allocate(ctx->alloc, sys->bandBufferSize));
        if (sys->bandBuffer == nullptr) {
            releaseSystemBuffers(ctx, sys);
            return ENTRY_FAIL("D_entrysystem", MOX_ERR_ALLOC);
        }
        ctx->ownsBandBuffer = true;
    }
    ctx->bandBuffer = sys->bandBuffer;
    ctx->bandBufferSize = sys->bandBufferSize;
    std::memset(ctx->bandBuffer, 0, ctx->bandBufferSize);
    ctx->bandLines = ctx->bandLinesLeft = sys->bandBufferSize / sys->lineStride;
    return 0;
}

}  // namespace mox

using namespace mox;

extern "C" MOX_API DecoderContext* MoxDecInit(const PictureInfo* pic, SystemParam* sys,
                                              const DecodeParam* param, int32_t* error)
{
    if (pic == nullptr || sys == nullptr || param == nullptr || error == nullptr) {
        if (error != nullptr) *error = MOX_ERR_NULL;
        MOX_FAIL("MoxDecInit", MOX_ERR_NULL, nullptr);
        return nullptr;
    }
    DecoderContext* ctx = openContext<DecoderContext>(*sys, "MoxDecInit", error);
    if (ctx == nullptr) return nullptr;
    if (D_entrypic(ctx, pic, error) != 0 || D_entryparam(ctx, param, error) != 0 ||
        D_entrysystem(ctx, sys, error) != 0) {
        MOX_FAIL("MoxDecInit", *error, ctx);
        releaseContext(ctx);
        return nullptr;
    }
    deriveGrid(ctx);
    prepareFastPaths(ctx);
    *error = MOX_OK;
    return ctx;
}

extern "C" MOX_API int32_t MoxDecFinalize(DecoderContext* ctx)
{
    if (ctx == nullptr) return MOX_FAIL("MoxDecFinalize", MOX_ERR_NULL, nullptr);
    if (ctx->ownsInputBuffer) release(ctx->alloc, ctx->inputBuffer);
    if (ctx->ownsWorkArea) release(ctx->alloc, ctx->workArea);
    if (ctx->ownsBandBuffer) release(ctx->alloc, ctx->bandBuffer);
    releaseContext(ctx);
    return MOX_OK;
}
