// Baseline block coding (T.81 F.1.2): DC difference and AC run/size symbols
// with their additional bits, written through the stuffing bit writer. Each
// code entry's end is kept in a code position record so that a caller can
// later cut a coded block after any entry.
#include <cstring>

#include "encoder/encoder.h"
#include "frame/errlog.h"

namespace mox::enc {

namespace {

// Number of significant bits of |value| (the T.81 size category).
int32_t sizeCategory(int32_t value)
{
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    int32_t size = 0;
    while (magnitude != 0) {
        ++size;
        magnitude >>= 1;
    }
    return size;
}

// Additional bits: the value itself, or value - 1 when negative, low `size` bits.
uint32_t additionalBits(int32_t value, int32_t size)
{
    uint32_t bits = static_cast<uint32_t>(value < 0 ? value - 1 : value);
    return bits & ((1u << size) - 1);
}

void recordEnd(const BitCursor* cursor, CodePositions* positions, int32_t entry)
{
    if (cursor->bitPos == 7) {
        positions->freeBits[entry] = 0;
        positions->byteIndex[entry] = cursor->byteIndex - 1;
    } else {
        positions->freeBits[entry] = cursor->bitPos + 1;
        positions->byteIndex[entry] = cursor->byteIndex;
    }
}

int32_t writeCode(const HuffDecodeTable* table, uint32_t index, BitCursor* cursor)
{
    return setJpgValue(table->codes[index], static_cast<int32_t>(table->lengths[index]), cursor);
}

}  // namespace

int32_t codeHuffman(const int32_t zz[64], const HuffDecodeTable* dcTable,
                    const HuffDecodeTable* acTable, int32_t* predictor, BitCursor* cursor,
                    CodePositions* positions)
{
    int32_t diff = zz[0] - *predictor;
    int32_t size = sizeCategory(diff);
    if (static_cast<uint32_t>(size) > dcTable->count) return MOX_FAIL("codeHuffman", kHuffDcCategory, nullptr);
    if (writeCode(dcTable, static_cast<uint32_t>(size), cursor) < 0)
        return MOX_FAIL("codeHuffman", kHuffDcCode, nullptr);
    recordEnd(cursor, positions, 0);
    if (size > 0) {
        if (setJpgValue(additionalBits(diff, size), size, cursor) < 0)
            return MOX_FAIL("codeHuffman", kHuffDcBits, nullptr);
        recordEnd(cursor, positions, 0);
    }
    positions->count = 1;

    int32_t run = 0;
    for (int k = 1; k < 64; ++k) {
        int32_t value = zz[k];
        if (value == 0) {
            if (k < 63) {
                ++run;
                continue;
            }
            if (writeCode(acTable, 0, cursor) < 0) return MOX_FAIL("codeHuffman", kHuffEob, nullptr);
            recordEnd(cursor, positions, positions->count++);
            break;
        }
        for (; run > 15; run -= 16)
            if (writeCode(acTable, kAcIndexZrl, cursor) < 0)
                return MOX_FAIL("codeHuffman", kHuffZrl, nullptr);
        size = sizeCategory(value);
        uint32_t index = static_cast<uint32_t>(10 * run + size + (run == 15 ? 1 : 0));
        if (index > acTable->count) return MOX_FAIL("codeHuffman", kHuffAcIndex, nullptr);
        if (writeCode(acTable, index, cursor) < 0) return MOX_FAIL("codeHuffman", kHuffAcCode, nullptr);
        if (setJpgValue(additionalBits(value, size), size, cursor) < 0)
            return MOX_FAIL("codeHuffman", kHuffAcBits, nullptr);
        recordEnd(cursor, positions, positions->count++);
        run = 0;
    }
    *predictor = zz[0];
    return MOX_OK;
}

int32_t codeJpgBlk(const int32_t block[64], const ComponentRecord* component, int32_t* predictor,
                   BitCursor* cursor, CodePositions* positions)
{
    float coefficients[64];
    int32_t quantized[64];
    int32_t zigzagBlock[64];
    forwardDct(block, coefficients);
    quantize(coefficients, component->quantTable, quantized);
    zigzag(quantized, zigzagBlock);
    if (codeHuffman(zigzagBlock, component->dcTable, component->acTable, predictor, cursor,
                    positions) < 0)
        return MOX_FAIL("codeJpgBlk", kBlockCodingFailed, nullptr);
    return MOX_OK;
}

int32_t MoxCodeMcu(EncoderContext* ctx, const BlockPointers* blocks, const McuConfig* config)
{
    std::memset(ctx->positions, 0, sizeof(CodePositions) * ctx->blocksPerMcu);
    // The driver reserves a worst-case MCU before each one; the MCU is still
    // coded only when that room is there, so that no caller table or
    // picture can make the writer run past its buffer.
    const uint32_t capacity =
        ctx->writer.data == ctx->spill ? ctx->spillCapacity : ctx->outBufSize;
    const bool room = capacity >= static_cast<uint32_t>(ctx->writer.byteIndex) &&
                      capacity - static_cast<uint32_t>(ctx->writer.byteIndex) >=
                          worstMcuBytes(ctx->blocksPerMcu);
    uint32_t k = 0;
    for (uint32_t c = 0; c < config->components; ++c) {
        const McuComponent& component = config->component[c];
        uint32_t count = uint32_t{component.h} * component.v;
        for (uint32_t b = 0; b < count; ++b, ++k) {
            if (config->dcReset) ctx->dcPred[c] = 0;
            int32_t status = kHuffNoRoom;
            if (room) {
                status = codeJpgBlk(blocks->blocks[c] + 64 * b, &component.record,
                                    &ctx->dcPred[c], &ctx->writer, &ctx->positions[k]);
            }
            if (status < 0) {
                ErrLogRecord("MoxCodeMcu", status, ctx, static_cast<uint16_t>(__LINE__));
                ErrLogDetail(static_cast<int16_t>(c), static_cast<int16_t>(b), 0,
                             static_cast<int16_t>(config->components), static_cast<int16_t>(count),
                             0, "c", "b", nullptr);
                ErrLogStamp();
                return MOX_ERR_CODING_8;
            }
        }
    }
    return MOX_OK;
}

}  // namespace mox::enc
