// VELA MCU coder: the tag section, then each block coded whole (DC against
// 0) into its own buffer, byte budgets that share what the 64-byte MCU has
// left, and a cut of each block after its last code that fits. The MCU is
// assembled apart and copied out whole, so the output never holds more than
// the 64 bytes the encode driver reserved.
#include <algorithm>
#include <cstring>

#include "encoder/encoder.h"
#include "frame/errlog.h"
#include "vela/coder.h"

namespace mox::enc {

namespace {

constexpr uint32_t kEobIndex = 0;  // EOB in symbol-index order

int32_t eobLengthOf(const ComponentRecord& record)
{
    return static_cast<int32_t>(record.acTable->lengths[kEobIndex]);
}

int32_t failMcu(EncoderContext* ctx, int32_t code)
{
    MOX_FAIL("MoxCodevelaMcu", code, ctx);
    return MOX_ERR_CODING_8;
}

}  // namespace

int32_t calcAfixSize(int32_t shortForm, int32_t tagBytes, const CodePositions* positions,
                     int32_t blockCount, McuConfig* config)
{
    if (shortForm != 0 && shortForm != 1) return MOX_FAIL("calcAfixSize", MOX_ERR_ALLOC, nullptr);
    int32_t avail = kVelaMcuBytes - tagBytes - velaHeaderBytes(shortForm);
    int32_t least[kVelaBlocks] = {};
    int32_t need[kVelaBlocks] = {};
    int32_t sum = 0;
    for (int32_t i = 0; i < blockCount && i < kVelaBlocks; ++i) {
        const CodePositions& p = positions[i];
        least[i] = p.byteIndex[0] + 1 +
                   (eobLengthOf(config->component[i].record) > p.freeBits[0] ? 1 : 0);
        avail -= least[i];
        if (shortForm == 0 || i == kVelaBlocks - 1)
            need[i] = std::max(p.byteIndex[std::max(p.count - 1, 0)] - least[i] + 1, 0);
        sum += need[i];
    }
    if (avail < 0) return MOX_FAIL("calcAfixSize", MOX_ERR_ALLOC, nullptr);
    for (int32_t i = 0; i < blockCount && i < kVelaBlocks; ++i) {
        int32_t budget = sum == 0 ? least[i] : least[i] + need[i] * avail / sum;
        config->component[i].record.byteBudget = static_cast<uint32_t>(budget);
    }
    return 0;
}

int32_t calcFixpos(const CodePositions* p, int32_t budget, int32_t eobLength)
{
    int32_t dcBytes = p->byteIndex[0] + (eobLength <= p->freeBits[0] ? 1 : 2);
    if (dcBytes > budget) return MOX_FAIL("calcFixpos", MOX_ERR_ALLOC, nullptr);
    if (p->count <= 0) return -1;
    int32_t k = 0;
    while (k < p->count && p->byteIndex[k] < budget) ++k;
    if (k == p->count) return p->count - 1;  // everything fits
    if (p->freeBits[k - 1] >= eobLength) return k - 1;
    for (int32_t j = k - 1; j >= 0; --j)
        if (p->byteIndex[j] <= budget - 2 || (j < k - 1 && p->freeBits[j] >= eobLength)) return j;
    return 0;  // not reached: entry 0 fits with its EOB
}

int32_t copyCode(int32_t dcOnly, const BitCursor* block, int32_t cut, const CodePositions* p,
                 int32_t eobLength, uint32_t eobCode, uint8_t* out, int32_t* length)
{
    if (dcOnly == 1) cut = 0;
    if (cut < 0 || cut >= p->count) return MOX_FAIL("copyCode", MOX_ERR_ALLOC, nullptr);
    BitString s{out, 0, 7};
    const uint8_t* bytes = block->data;
    const int32_t last = p->byteIndex[cut];
    for (int32_t i = 0; i <= last; ++i) {
        bool stuffing = i > 0 && bytes[i - 1] == 0xFF && bytes[i] == 0x00;
        if (stuffing) continue;
        int32_t bits = i < last ? 8 : 8 - p->freeBits[cut];
        if (setValue(uint32_t{bytes[i]} >> (8 - bits), bits, out, &s.byteIndex, &s.bitPos) != 0)
            return MOX_FAIL("copyCode", MOX_ERR_ALLOC, nullptr);
    }
    if (cut < p->count - 1 &&
        setValue(eobCode, eobLength, out, &s.byteIndex, &s.bitPos) != 0)
        return MOX_FAIL("copyCode", MOX_ERR_ALLOC, nullptr);
    if (s.bitPos != 7) setValue((1u << (s.bitPos + 1)) - 1u, s.bitPos + 1, out, &s.byteIndex, &s.bitPos);
    *length = s.byteIndex;
    return 0;
}

int32_t MoxCodevelaMcu(EncoderContext* ctx, const BlockPointers* blocks, McuConfig* config)
{
    VelaCoderArea& area = ctx->velaCoder;
    std::memset(&area, 0, sizeof(area));
    const uint32_t* word = ctx->velaParam.word;

    // Components the picture lacks are coded as blocks of sample 0, so every
    // MCU carries four blocks; they take the tables of their place.
    int32_t zeroSamples[kVelaPixels];
    std::fill(zeroSamples, zeroSamples + kVelaPixels, -128);
    const int32_t* samples[kVelaBlocks];
    uint8_t bytes[kVelaBlocks][kVelaPixels];
    for (int32_t i = 0; i < kVelaBlocks; ++i) {
        bool present = uint32_t(i) < config->components && blocks->blocks[i] != nullptr;
        samples[i] = present ? blocks->blocks[i] : zeroSamples;
        if (!present) {
            ComponentRecord& record = config->component[i].record;
            record.dcTable = &ctx->dcHuff[0];
            record.acTable = &ctx->acHuff[0];
            record.quantTable = ctx->quantTable[ctx->quantSel[i] & 3];
        }
        for (int32_t p = 0; p < kVelaPixels; ++p)
            bytes[i][p] = static_cast<uint8_t>(samples[i][p] + 128);
    }

    uint8_t headerByte = 0;
    int32_t status = codertagbit(&ctx->velaParam, blocks->tagPlane, bytes, area.tagSection, &headerByte);
    if (status != 0) return failMcu(ctx, status);
    const uint32_t flags = (area.tagSection[0] >> 1) & 0x0F;
    int32_t dcOnly[kVelaBlocks] = {};
    dcOnly[3] = (flags & velaFlagBit(3)) != 0 && (word[32] & 1) != 0 ? 1 : 0;

    BitCursor coded[kVelaBlocks];
    for (int32_t i = 0; i < kVelaBlocks; ++i) {
        coded[i] = BitCursor{nullptr, 7, 0, area.blockBits[i], nullptr, nullptr, 0, 0};
        int32_t predictor = 0;
        status = codeJpgBlk(samples[i], &config->component[i].record, &predictor, &coded[i],
                            &area.positions[i]);
        if (status != 0) {
            ErrLogRecord("MoxCodevelaMcu", status, ctx, static_cast<uint16_t>(__LINE__));
            ErrLogDetail(static_cast<int16_t>(i), 0, 0, kVelaBlocks, 0, 0, "c", nullptr, nullptr);
            ErrLogStamp();
            return MOX_ERR_CODING_8;
        }
    }

    VelaMcuHeader header{};
    header.shortForm = headerByte >> 7;
    header.tagBytes = headerByte & kVelaTagLengthMask;
    status = calcAfixSize(header.shortForm, header.tagBytes, area.positions, kVelaBlocks, config);
    if (status != 0) return failMcu(ctx, status);
    // Word 33 limits the entries a block keeps; 0 sets no limit.
    const int32_t keep = word[33] == 0 ? kVelaPixels : static_cast<int32_t>(word[33]);
    uint8_t blockData[kVelaBlocks][kVelaMcuBytes];
    for (int32_t i = header.shortForm != 0 ? kVelaBlocks - 1 : 0; i < kVelaBlocks; ++i) {
        const ComponentRecord& record = config->component[i].record;
        const int32_t eobLength = eobLengthOf(record);
        int32_t cut = calcFixpos(&area.positions[i], static_cast<int32_t>(record.byteBudget), eobLength);
        if (cut < 0) return failMcu(ctx, MOX_ERR_ALLOC);
        cut = std::min(cut, keep - 1);
        std::memset(blockData[i], 0, sizeof(blockData[i]));
        status = copyCode(dcOnly[i], &coded[i], cut, &area.positions[i], eobLength,
                          record.acTable->codes[kEobIndex], blockData[i], &header.blockBytes[i]);
        if (status != 0) return failMcu(ctx, status);
    }

    // Header, tag section, block data, and in fixed-size mode the filler.
    int32_t length = packVelaHeader(header, area.mcu);
    std::memcpy(area.mcu + length, area.tagSection, static_cast<size_t>(header.tagBytes));
    length += header.tagBytes;
    for (int32_t i = 0; i < kVelaBlocks; ++i) {
        if (length + header.blockBytes[i] > kVelaMcuBytes) return failMcu(ctx, MOX_ERR_CODING_8);
        std::memcpy(area.mcu + length, blockData[i], static_cast<size_t>(header.blockBytes[i]));
        length += header.blockBytes[i];
    }
    if (config->velaSizeMode == 0) {
        std::memset(area.mcu + length, kVelaFiller, static_cast<size_t>(kVelaMcuBytes - length));
        length = kVelaMcuBytes;
    }
    const uint32_t capacity = ctx->writer.data == ctx->spill ? ctx->spillCapacity : ctx->outBufSize;
    if (capacity < static_cast<uint32_t>(ctx->writer.byteIndex) + static_cast<uint32_t>(length))
        return failMcu(ctx, MOX_ERR_CODING_8);
    std::memcpy(ctx->writer.data + ctx->writer.byteIndex, area.mcu, static_cast<size_t>(length));
    ctx->writer.byteIndex += length;
    ctx->writer.bitPos = 7;
    return 0;
}

}  // namespace mox::enc
