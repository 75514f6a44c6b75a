// Encoder set-up: clearing the parameter record, the fixed-order checks of
// MoxEncInit (picture, parameters, system), the work-area layout, Finalize
// and the sizing advisers. Init is the only place the encoder allocates; a
// failed Init leaves nothing allocated and no library pointer in the caller's
// records.
#include <cstring>

#include "encoder/encoder.h"
#include "frame/errlog.h"
#include "frame/records.h"

namespace mox::enc {

namespace {

constexpr uint32_t kMaxPitchPerComponent = 12000;
constexpr uint32_t kMaxRestartInterval = 65535;
constexpr uint32_t kMaxOutBufSize = INT32_MAX;
constexpr size_t kMaxCommentText = 98;
constexpr char kMakerComment[] = "VELA IMAGING LAB";

bool notSet(int32_t value)
{
    return value == -1;
}

uint32_t componentsOf(int32_t pixelFormat)
{
    switch (pixelFormat) {
    case MOX_PIXEL_GRAY:
    case MOX_PIXEL_VELA_GRAY: return 1;
    case MOX_PIXEL_RGB:
    case MOX_PIXEL_FIRST_OF_3:
    case MOX_PIXEL_FIRST_OF_3_SHIFTED: return 3;
    case MOX_PIXEL_CMYK: return 4;
    default: return 0;
    }
}

// The caller's matrix is "not set" when its first element truncates to -1.
bool matrixNotSet(float first)
{
    return first > -2.0f && first <= -1.0f;
}

void setIdentity(float matrix[16])
{
    for (int i = 0; i < 16; ++i) matrix[i] = i % 5 == 0 ? 1.0f : 0.0f;
}

bool validQuantTable(const int32_t table[64])
{
    for (int n = 0; n < 64; ++n)
        if (table[n] < 1 || table[n] > 255) return false;
    return true;
}

// E_entrypicture. `components` is settled here.
int32_t E_entrypicture(EncoderContext* ctx, const EncodePicture* picture)
{
    if (picture->codingMode != kCodingBaseline && picture->codingMode != kCodingVela)
        return MOX_FAIL("E_entrypicture", MOX_ERR_CODING_MODE, ctx);
    if (picture->width < 1 || picture->height < 1)
        return MOX_FAIL("E_entrypicture", MOX_ERR_SIZE, ctx);
    uint32_t components = componentsOf(picture->pixelFormat);
    if (components == 0) return MOX_FAIL("E_entrypicture", MOX_ERR_FORMAT, ctx);

    ctx->codingMode = static_cast<uint8_t>(picture->codingMode);
    ctx->width = picture->width;
    ctx->height = picture->height;
    ctx->pixelFormat = static_cast<uint8_t>(picture->pixelFormat);
    ctx->components = static_cast<uint8_t>(components);
    if (ctx->codingMode == kCodingVela) {
        // VELA streams carry whole pictures and no markers at all.
        ctx->regionWidth = picture->width;
        ctx->regionHeight = picture->height;
        ctx->headerWritten = 1;
        ctx->noEoi = 1;
        return MOX_OK;
    }
    if (picture->regionLeft < 0 || picture->regionTop < 0 || picture->regionWidth < 1 ||
        picture->regionHeight < 1 ||
        int64_t{picture->regionLeft} + picture->regionWidth > picture->width ||
        int64_t{picture->regionTop} + picture->regionHeight > picture->height)
        return MOX_FAIL("E_entrypicture", MOX_ERR_SIZE, ctx);
    if (static_cast<uint32_t>(picture->qualityLevel) >= kQualityLevels)
        return MOX_FAIL("E_entrypicture", MOX_ERR_QUALITY, ctx);
    ctx->regionWidth = picture->regionWidth;
    ctx->regionHeight = picture->regionHeight;
    ctx->regionLeft = picture->regionLeft;
    ctx->regionTop = picture->regionTop;
    bool bare = picture->omitMarkers == 1;
    ctx->headerWritten = bare ? 1 : 0;
    ctx->noEoi = bare ? 1 : 0;
    ctx->densityX = static_cast<uint16_t>(picture->densityX);
    ctx->densityY = static_cast<uint16_t>(picture->densityY);
    ctx->densityUnit = static_cast<uint8_t>(picture->densityUnit);
    ctx->inputValidated = 0;
    ctx->imageDone = 0;
    return MOX_OK;
}

void setLevelShift(EncoderContext* ctx)
{
    // Colour-difference components are already centred on 0.
    bool centred = ctx->colorTransform == 1 || ctx->pixelFormat == MOX_PIXEL_FIRST_OF_3_SHIFTED;
    ctx->levelShift[0] = -128;
    ctx->levelShift[1] = centred ? 0 : -128;
    ctx->levelShift[2] = centred ? 0 : -128;
    ctx->levelShift[3] = -128;
}

// Quantisation tables selected by a component in use: the caller's values,
// or preset tables 0/1; unselected tables stay zero.
int32_t settleQuantTables(EncoderContext* ctx, const EncodeParam* param, const PresetRow* row,
                          const char* name)
{
    for (int t = 0; t < 4; ++t) {
        bool selected = false;
        for (int c = 0; c < ctx->components; ++c) selected |= ctx->quantSel[c] == t;
        std::memset(ctx->quantTable[t], 0, sizeof ctx->quantTable[t]);
        if (!selected) continue;
        if (notSet(param->quantTable[t][0])) {
            if (row == nullptr || t > 1) return MOX_FAIL(name, MOX_ERR_QUANT, ctx);
            std::memcpy(ctx->quantTable[t], row->quant[t], sizeof ctx->quantTable[t]);
            continue;
        }
        if (!validQuantTable(param->quantTable[t])) return MOX_FAIL(name, MOX_ERR_QUANT, ctx);
        std::memcpy(ctx->quantTable[t], param->quantTable[t], sizeof ctx->quantTable[t]);
    }
    return MOX_OK;
}

void settleComment(EncoderContext* ctx, const char* comment)
{
    std::memset(ctx->comment, 0, sizeof ctx->comment);
    size_t length = strnlen(comment, MOX_ENC_COMMENT_SIZE);
    if (length >= 1 && length <= kMaxCommentText) {
        std::memcpy(ctx->comment, comment, length);
    } else {
        std::memcpy(ctx->comment, kMakerComment, sizeof kMakerComment);
    }
}

// E_entryparam (baseline).
int32_t E_entryparam(EncoderContext* ctx, const EncodeParam* param, int level)
{
    PresetRow row;
    qualityPresets(level, &row);

    if (notSet(param->downsampleMode)) {
        ctx->downsampleMode = 1;
    } else if (param->downsampleMode == 0 || param->downsampleMode == 1) {
        ctx->downsampleMode = static_cast<uint8_t>(param->downsampleMode);
    } else {
        return MOX_FAIL("E_entryparam", MOX_ERR_CODING_4, ctx);
    }

    if (notSet(param->restartInterval)) {
        ctx->restartInterval = 0;
    } else if (static_cast<uint32_t>(param->restartInterval) > kMaxRestartInterval) {
        return MOX_FAIL("E_entryparam", MOX_ERR_CODING_4, ctx);  // DRI carries 16 bits
    } else {
        ctx->restartInterval = static_cast<uint32_t>(param->restartInterval);
    }

    if (notSet(param->colorTransform)) {
        ctx->colorTransform = ctx->pixelFormat == MOX_PIXEL_RGB ? 1 : 0;
    } else {
        ctx->colorTransform = param->colorTransform == 1 ? 1 : 0;
    }
    if (ctx->colorTransform == 1) {
        const float* source = matrixNotSet(param->colorMatrix[0]) ? kDefaultColorMatrix
                                                                  : param->colorMatrix;
        std::memcpy(ctx->colorMatrix, source, sizeof ctx->colorMatrix);
    } else {
        setIdentity(ctx->colorMatrix);
    }
    setLevelShift(ctx);

    static constexpr uint8_t kDefaultSel[4] = {0, 1, 1, 0};
    for (int c = 0; c < 4; ++c) {
        int32_t sel = param->quantSel[c];
        if (notSet(sel)) {
            ctx->quantSel[c] = kDefaultSel[c];
        } else if (sel < 0 || sel > 3) {
            return MOX_FAIL("E_entryparam", MOX_ERR_QUANT, ctx);
        } else {
            ctx->quantSel[c] = static_cast<uint8_t>(sel);
        }
    }
    int32_t status = settleQuantTables(ctx, param, &row, "E_entryparam");
    if (status != MOX_OK) return status;

    for (int id = 0; id < 2; ++id) {
        if (param->dcHuff[id].count == kNotSetWord) {
            defaultHuffmanTable(false, id, &ctx->dcHuff[id]);
        } else {
            ctx->dcHuff[id] = param->dcHuff[id];
        }
        if (param->acHuff[id].count == kNotSetWord) {
            defaultHuffmanTable(true, id, &ctx->acHuff[id]);
        } else {
            ctx->acHuff[id] = param->acHuff[id];
        }
    }

    for (int c = 0; c < 4; ++c) {
        ctx->dcSel[c] = notSet(param->dcSel[0]) ? kDefaultSel[c]
                                                : static_cast<uint8_t>(param->dcSel[c]);
        ctx->acSel[c] = notSet(param->acSel[0]) ? kDefaultSel[c]
                                                : static_cast<uint8_t>(param->acSel[c]);
    }
    // The header carries Huffman tables 0 and 1 only.
    for (int c = 0; c < ctx->components; ++c)
        if (ctx->dcSel[c] > 1 || ctx->acSel[c] > 1)
            return MOX_FAIL("E_entryparam", MOX_ERR_QUANT, ctx);

    settleComment(ctx, param->comment);

    for (int c = 0; c < 4; ++c) {
        ctx->hSamp[c] = notSet(param->hSamp[0]) ? row.h[c] : static_cast<uint8_t>(param->hSamp[c]);
        ctx->vSamp[c] = notSet(param->vSamp[0]) ? row.v[c] : static_cast<uint8_t>(param->vSamp[c]);
    }
    if (ctx->components == 1) {
        for (int c = 0; c < 4; ++c) ctx->hSamp[c] = ctx->vSamp[c] = 1;
    }
    ctx->hMax = ctx->vMax = 0;
    for (int c = 0; c < ctx->components; ++c) {
        if (ctx->hSamp[c] > ctx->hMax) ctx->hMax = ctx->hSamp[c];
        if (ctx->vSamp[c] > ctx->vMax) ctx->vMax = ctx->vSamp[c];
    }
    if (ctx->hMax > 2 || ctx->vMax > 2) return MOX_FAIL("E_entryparam", MOX_ERR_SAMPLING, ctx);
    for (int c = 0; c < ctx->components; ++c)
        if (ctx->hSamp[c] < 1 || ctx->vSamp[c] < 1)
            return MOX_FAIL("E_entryparam", MOX_ERR_SAMPLING, ctx);
    uint32_t blocks = 0;
    for (int c = 0; c < ctx->components; ++c) {
        blocks += uint32_t{ctx->hSamp[c]} * ctx->vSamp[c];
        if (blocks > kMaxBlocksPerMcu) return MOX_FAIL("E_entryparam", MOX_ERR_UNSUPPORTED, ctx);
    }
    return MOX_OK;
}

// Allowed maximum of each VelaEncodeParam word; words 10..15 need only a
// non-negative signed reading.
uint32_t velaWordLimit(int word)
{
    if (word >= 10 && word <= 15) return 0x7FFFFFFFu;
    if (word == 26) return 2;
    if (word == 32) return 15;
    if (word == 33) return 64;
    return 1;
}

// E_entryVELAparam (VELA mode): a fixed configuration around the caller's
// quantisation tables.
int32_t E_entryVELAparam(EncoderContext* ctx, const EncodeParam* param)
{
    if (param->velaMode < 1 || param->velaMode > 3)
        return MOX_FAIL("E_entryVELAparam", MOX_ERR_VELA_MODE, ctx);
    ctx->velaMode = static_cast<uint8_t>(param->velaMode);
    if (param->velaParam == nullptr) return MOX_FAIL("E_entryVELAparam", MOX_ERR_NULL, ctx);
    ctx->velaParam = *param->velaParam;
    for (int w = 0; w < MOX_VELA_PARAM_WORDS; ++w)
        if (ctx->velaParam.word[w] > velaWordLimit(w))
            return MOX_FAIL("E_entryVELAparam", MOX_ERR_NULL, ctx);

    ctx->restartInterval = 0;
    ctx->downsampleMode = 0;
    ctx->colorTransform = 0;
    setIdentity(ctx->colorMatrix);
    for (int c = 0; c < 4; ++c) ctx->levelShift[c] = -128;
    std::memset(ctx->comment, 0, sizeof ctx->comment);
    for (int c = 0; c < 4; ++c) {
        ctx->dcSel[c] = ctx->acSel[c] = 0;
        ctx->hSamp[c] = ctx->vSamp[c] = 1;
    }
    ctx->hMax = ctx->vMax = 1;

    for (int c = 0; c < 4; ++c) {
        int32_t sel = param->quantSel[c];
        if (sel < 0 || sel > 3) return MOX_FAIL("E_entryVELAparam", MOX_ERR_QUANT, ctx);
        ctx->quantSel[c] = static_cast<uint8_t>(sel);
    }
    for (int t = 0; t < 4; ++t) {
        bool selected = false;
        for (int c = 0; c < 4; ++c) selected |= ctx->quantSel[c] == t;
        std::memset(ctx->quantTable[t], 0, sizeof ctx->quantTable[t]);
        if (!selected) continue;
        if (notSet(param->quantTable[t][0]) || !validQuantTable(param->quantTable[t]))
            return MOX_FAIL("E_entryVELAparam", MOX_ERR_QUANT, ctx);
        std::memcpy(ctx->quantTable[t], param->quantTable[t], sizeof ctx->quantTable[t]);
    }
    defaultHuffmanTable(false, 0, &ctx->dcHuff[0]);
    defaultHuffmanTable(true, 0, &ctx->acHuff[0]);

    static constexpr uint8_t kTagOfMode[4] = {0, 1, 0, 2};
    std::memset(ctx->tagPlane, kTagOfMode[ctx->velaMode], sizeof ctx->tagPlane);
    return MOX_OK;
}

uint32_t blocksPerMcu(const EncoderContext* ctx)
{
    uint32_t blocks = 0;
    for (int c = 0; c < ctx->components; ++c) blocks += uint32_t{ctx->hSamp[c]} * ctx->vSamp[c];
    return blocks;
}

// Bytes the work area needs: MCU row buffer, spill, 4 converted and 4 raw
// planes, the block buffers and one code position record per block.
uint64_t requiredWorkSize(const EncoderContext* ctx)
{
    uint64_t hv = uint64_t{ctx->hMax} * ctx->vMax;
    uint64_t size = 8ull * ctx->vMax * ctx->lineBytes + kSpillSize + 2048 * hv +
                    (256 + sizeof(CodePositions)) * uint64_t{blocksPerMcu(ctx)};
    if (ctx->codingMode == kCodingVela) size += kVelaAreaSize;
    return size;
}

// Carves the work area. The spill comes first and gives up the 0..3 bytes
// that align the 32-bit areas after it, whatever the area's address; the
// other byte areas (MCU row buffer, VELA area) follow the 32-bit ones.
void carveWorkArea(EncoderContext* ctx, uint8_t* base)
{
    uint32_t hv = uint32_t{ctx->hMax} * ctx->vMax;
    ctx->planeSamples = 64 * hv;
    ctx->blocksPerMcu = blocksPerMcu(ctx);
    uint32_t misalign = static_cast<uint32_t>((reinterpret_cast<uintptr_t>(base) + kSpillSize) & 3u);
    ctx->spill = base;
    ctx->spillCapacity = kSpillSize - misalign;
    auto* words = reinterpret_cast<int32_t*>(base + ctx->spillCapacity);
    for (int c = 0; c < 4; ++c, words += ctx->planeSamples) ctx->convertedPlane[c] = words;
    for (int c = 0; c < 4; ++c, words += ctx->planeSamples) ctx->rawPlane[c] = words;
    for (int c = 0; c < 4; ++c) {
        ctx->blockBuf[c] = nullptr;
        if (c >= ctx->components) continue;
        ctx->blockBuf[c] = words;
        words += 64 * uint32_t{ctx->hSamp[c]} * ctx->vSamp[c];
    }
    if (ctx->codingMode == kCodingVela && ctx->components == 1) {
        // One input component still codes four blocks; with a single
        // component converted planes 1..3 are free and serve as blocks 1..3.
        for (int c = 1; c < 4; ++c) ctx->blockBuf[c] = ctx->convertedPlane[c];
    }
    ctx->positions = reinterpret_cast<CodePositions*>(words);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(ctx->positions + ctx->blocksPerMcu);
    ctx->mcuRowBuf = bytes;
    bytes += 8u * ctx->vMax * ctx->lineBytes;
    ctx->velaArea = ctx->codingMode == kCodingVela ? bytes : nullptr;
}

// Undoes what E_entrysystem stored: library buffers go, the caller's record
// gets its null pointers back.
void releaseSystemBuffers(EncoderContext* ctx, EncodeSystemParam* sys)
{
    if (ctx->inBuf != nullptr && !ctx->inBufSupplied) {
        release(ctx->alloc, ctx->inBuf);
        sys->inBuf = nullptr;
    }
    if (ctx->workBuf != nullptr && !ctx->workBufSupplied) {
        release(ctx->alloc, ctx->workBuf);
        sys->workBuf = nullptr;
    }
    ctx->inBuf = nullptr;
    ctx->workBuf = nullptr;
}

int32_t E_entrysystem(EncoderContext* ctx, EncodeSystemParam* sys)
{
    uint64_t minPitch = uint64_t{static_cast<uint32_t>(ctx->width)} * ctx->components;
    if (sys->lineBytes == 0 || sys->lineBytes < minPitch ||
        sys->lineBytes > kMaxPitchPerComponent * ctx->components)
        return MOX_FAIL("E_entrysystem", MOX_ERR_LINE_PITCH, ctx);
    if (sys->inBufSize == 0 || sys->inBufSize / sys->lineBytes == 0)
        return MOX_FAIL("E_entrysystem", MOX_ERR_IN_BUFFER, ctx);
    if (sys->outBufSize == 0) return MOX_FAIL("E_entrysystem", MOX_ERR_OUT_BUFFER, ctx);
    // The bit writer indexes the output buffer with a signed 32-bit byte index.
    if (sys->outBufSize > kMaxOutBufSize)
        return MOX_FAIL("E_entrysystem", MOX_ERR_BUFFER_LIMIT, ctx);
    ctx->lineBytes = sys->lineBytes;

    uint32_t required = 0;
    if (!fitsSize(requiredWorkSize(ctx), &required))
        return MOX_FAIL("E_entrysystem", MOX_ERR_LINE_PITCH, ctx);
    uint8_t* area = sys->workBuf;
    uint32_t areaSize = required;
    if (area == nullptr) {
        area = static_cast<uint8_t*>(allocate(ctx->alloc, required));
        if (area == nullptr) return MOX_FAIL("E_entrysystem", MOX_ERR_ALLOC, ctx);
        ctx->workBufSupplied = false;
        sys->workBuf = area;
    } else {
        if (sys->workSize < required) return MOX_FAIL("E_entrysystem", MOX_ERR_WORK_AREA, ctx);
        ctx->workBufSupplied = true;
        areaSize = sys->workSize;
    }
    ctx->workBuf = area;
    ctx->workSize = areaSize;
    std::memset(area, 0, areaSize);
    carveWorkArea(ctx, area);

    ctx->inBufSize = sys->inBufSize;
    if (sys->inBuf == nullptr) {
        ctx->inBuf = static_cast<uint8_t*>(allocate(ctx->alloc, sys->inBufSize));
        if (ctx->inBuf == nullptr) {
            releaseSystemBuffers(ctx, sys);
            return MOX_FAIL("E_entrysystem", MOX_ERR_ALLOC, ctx);
        }
        std::memset(ctx->inBuf, 0, sys->inBufSize);
        ctx->inBufSupplied = false;
        sys->inBuf = ctx->inBuf;
    } else {
        ctx->inBuf = sys->inBuf;
        ctx->inBufSupplied = true;
    }
    ctx->linesPerBand = sys->inBufSize / sys->lineBytes;

    ctx->outBufSize = sys->outBufSize;
    if (sys->outBuf == nullptr) {
        ctx->outBuf = static_cast<uint8_t*>(allocate(ctx->alloc, sys->outBufSize));
        if (ctx->outBuf == nullptr) {
            releaseSystemBuffers(ctx, sys);
            return MOX_FAIL("E_entrysystem", MOX_ERR_ALLOC, ctx);
        }
        ctx->outBufSupplied = false;
        sys->outBuf = ctx->outBuf;
    } else {
        ctx->outBuf = sys->outBuf;
        ctx->outBufSupplied = true;
    }
    std::memset(ctx->outBuf, 0, ctx->outBufSize);
    return MOX_OK;
}

void startLoopState(EncoderContext* ctx)
{
    uint32_t height = static_cast<uint32_t>(ctx->height);
    ctx->bandCount = (height + ctx->linesPerBand - 1) / ctx->linesPerBand;
    if (height < ctx->linesPerBand) ctx->linesPerBand = height;
    ctx->bandBytes = ctx->linesPerBand * ctx->lineBytes;
    ctx->bandCounter = 0;
    ctx->mcuRow = ctx->mcuColumn = 0;
    ctx->fetchedRow = -1;
    ctx->remainingTop = static_cast<uint32_t>(ctx->regionTop);
    ctx->mcusCoded = 0;
    ctx->restartIndex = 0;
    for (int c = 0; c < 4; ++c) ctx->dcPred[c] = 0;
    ctx->writer = BitCursor{};
    ctx->writer.bitPos = 7;
    ctx->writer.data = ctx->outBuf;
    ctx->spillPending = 0;
    ctx->outputMode = OutputMode::direct;
    ctx->state = kEncodeRunning;
    // The callbacks themselves are null in the fresh context; only the
    // set flags have a non-zero "unset" value.
    ctx->inputSet = kCallbackUnset;
    ctx->outputSet = kCallbackUnset;
}

}  // namespace

}  // namespace mox::enc

using namespace mox;
using namespace mox::enc;

extern "C" MOX_API int32_t MoxEncClearParam(EncodeParam* param)
{
    if (param == nullptr) return MOX_FAIL("EncClearParam", MOX_ERR_NULL, nullptr);
    std::memset(param, 0, sizeof *param);
    param->downsampleMode = -1;
    for (int c = 0; c < 4; ++c) {
        param->hSamp[c] = param->vSamp[c] = -1;
        param->quantSel[c] = param->dcSel[c] = param->acSel[c] = -1;
        param->quantTable[c][0] = -1;
    }
    param->restartInterval = -1;
    param->colorMatrix[0] = -1.0f;
    param->colorTransform = -1;
    for (int t = 0; t < 2; ++t) {
        clearHuffmanRecord(&param->dcHuff[t]);
        clearHuffmanRecord(&param->acHuff[t]);
    }
    param->velaMode = -1;
    param->velaParam = nullptr;
    return MOX_OK;
}

extern "C" MOX_API EncoderContext* MoxEncInit(const EncodePicture* picture, EncodeSystemParam* sys,
                                              const EncodeParam* param, int32_t* status)
{
    if (status == nullptr) {
        MOX_FAIL("MoxEncInit", MOX_ERR_NULL, nullptr);
        return nullptr;
    }
    if (picture == nullptr || sys == nullptr || param == nullptr) {
        *status = MOX_FAIL("MoxEncInit", MOX_ERR_NULL, nullptr);
        return nullptr;
    }
    EncoderContext* ctx = openContext<EncoderContext>(*sys, "MoxEncInit", status);
    if (ctx == nullptr) return nullptr;

    int32_t result = E_entrypicture(ctx, picture);
    if (result == MOX_OK) {
        result = ctx->codingMode == kCodingVela ? E_entryVELAparam(ctx, param)
                                                : E_entryparam(ctx, param, picture->qualityLevel);
    }
    if (result == MOX_OK) result = E_entrysystem(ctx, sys);
    if (result != MOX_OK) {
        *status = MOX_FAIL("MoxEncInit", result, ctx);
        releaseContext(ctx);
        return nullptr;
    }
    startLoopState(ctx);
    *status = MOX_OK;
    return ctx;
}

extern "C" MOX_API int32_t MoxEncFinalize(EncoderContext* ctx)
{
    if (ctx == nullptr) return MOX_FAIL("MoxEncFinalize", MOX_ERR_NULL, nullptr);
    if (!ctx->inBufSupplied) release(ctx->alloc, ctx->inBuf);
    if (!ctx->workBufSupplied) release(ctx->alloc, ctx->workBuf);
    if (!ctx->outBufSupplied) release(ctx->alloc, ctx->outBuf);
    releaseContext(ctx);
    return MOX_OK;
}

extern "C" MOX_API int32_t MoxEncCalcOptBandSize(const EncodePicture* picture,
                                                 const EncodeSystemParam* sys,
                                                 const EncodeParam* param, uint32_t memory,
                                                 uint32_t* bandBytes, uint32_t* bandCount)
{
    if (picture == nullptr || sys == nullptr || param == nullptr || bandBytes == nullptr ||
        bandCount == nullptr)
        return MOX_FAIL("CalcBandsiz", MOX_ERR_NULL, nullptr);
    uint32_t components = componentsOf(picture->pixelFormat);
    uint64_t minPitch = uint64_t{static_cast<uint32_t>(picture->width)} * components;
    if (picture->width < 1 || picture->height < 1)
        return MOX_FAIL("CalcBandsiz", MOX_ERR_SIZE, nullptr);
    if (components == 0 || sys->lineBytes == 0 || sys->lineBytes < minPitch || sys->lineBytes > kMaxPitchPerComponent * components)
        return MOX_FAIL("CalcBandsiz", MOX_ERR_LINE_PITCH, nullptr);
    uint32_t height = static_cast<uint32_t>(picture->height);
    uint32_t lines = memory / sys->lineBytes;
    // Not even one line fits: there is no band to advise.
    if (lines == 0) return MOX_FAIL("CalcBandsiz", MOX_ERR_IN_BUFFER, nullptr);
    if (lines < 16) {
        *bandBytes = sys->lineBytes * lines;
        *bandCount = (height - 1 + lines) / lines;
    } else if (lines >= height) {
        *bandBytes = height * sys->lineBytes;
        *bandCount = 1;
    } else {
        lines -= lines % 16;
        *bandBytes = sys->lineBytes * lines;
        *bandCount = (height - 1 + lines) / lines;
    }
    return MOX_OK;
}

extern "C" MOX_API int32_t MoxEncCalcWorkSize(const EncodePicture* picture,
                                              const EncodeSystemParam* sys,
                                              const EncodeParam* param)
{
    if (picture == nullptr || sys == nullptr || param == nullptr)
        return MOX_FAIL("CalcBandsiz", MOX_ERR_NULL, nullptr);
    // 16 lines, the spill and 12288 bytes of planes, blocks and code records.
    uint64_t size = 16ull * sys->lineBytes + 12288 + kSpillSize;
    if (size > INT32_MAX) return MOX_FAIL("CalcBandsiz", MOX_ERR_LINE_PITCH, nullptr);
    return static_cast<int32_t>(size);
}

extern "C" MOX_API int32_t MoxGetCurrentBandHeight(EncoderContext* ctx)
{
    if (ctx == nullptr) return MOX_FAIL("MoxGetCurrentBandHeight", MOX_ERR_NULL, nullptr);
    if (!ctx->imageDone) return static_cast<int32_t>(ctx->linesPerBand);
    uint32_t height = static_cast<uint32_t>(ctx->height);
    ++ctx->bandCounter;
    if (uint64_t{ctx->bandCounter + 1} * ctx->linesPerBand <= height)
        return static_cast<int32_t>(ctx->linesPerBand);
    ctx->linesPerBand = height - ctx->linesPerBand * ctx->bandCounter;
    return static_cast<int32_t>(ctx->linesPerBand);
}
