// Baseline block coding (T.81 F.1.2): DC difference and AC run/size symbols
// with their additional bits, written through the stuffing bit writer. Each
// code entry's end is kept in a code position record so that a caller can
// later cut a coded block after any entry.
#include <cstring>

#include "encoder/encoder.h"
#include "encoder/fast.h"
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

bool huffmanTableFits(const HuffDecodeTable* table, uint32_t lastIndex)
{
    if (table->count < lastIndex) return false;
    for (uint32_t i = 0; i <= lastIndex; ++i) {
        uint32_t length = table->lengths[i];
        if (length < 1 || length > 16 || (table->codes[i] >> length) != 0) return false;
    }
    return true;
}

namespace {

// The stuffing bit writer with a 64-bit accumulator: the same bytes as
// setJpgValue. After each code the complete bytes go out together with the
// partial byte and zeros behind it (four bytes stored at once, the index
// advanced past the complete ones); only when a complete byte is 0xFF do
// they go out one at a time with their stuffing. The writer cursor is read
// at the start of a block and written back at its end, with the bits of an
// incomplete byte in the byte at the cursor. Needs kSinkSlack bytes of room
// beyond the coded bytes (zeros are stored there, as the area holds).
constexpr uint32_t kSinkSlack = 4;

class BitSink {
public:
    explicit BitSink(const BitCursor* cursor) : data_(cursor->data), index_(cursor->byteIndex)
    {
        if (cursor->bitPos != 7) {
            bits_ = 7 - cursor->bitPos;
            pending_ = data_[index_] >> (cursor->bitPos + 1);
        }
    }

    // Appends the low n bits of value (1 <= n <= 27, value < 2^n).
    void put(uint32_t value, uint32_t n)
    {
        pending_ = (pending_ << n) | value;
        bits_ += n;  // at most 7 + 27: four complete bytes
        const uint32_t top = static_cast<uint32_t>((pending_ << (64 - bits_)) >> 32);
        const uint32_t inverted = ~top;  // a 0xFF byte is a zero byte here
        if (((inverted - 0x01010101u) & ~inverted & 0x80808080u) != 0) {
            // A partial byte has a zero bit and the bytes behind it are zero.
            for (; bits_ >= 8; bits_ -= 8) putByte(static_cast<uint8_t>(pending_ >> (bits_ - 8)));
            return;
        }
        const uint32_t bigEndian = __builtin_bswap32(top);
        std::memcpy(data_ + index_, &bigEndian, 4);
        index_ += static_cast<int32_t>(bits_ >> 3);
        bits_ &= 7;
    }

    void store(BitCursor* cursor)
    {
        cursor->byteIndex = index_;
        cursor->bitPos = 7 - static_cast<int32_t>(bits_);
        if (bits_ > 0) data_[index_] = static_cast<uint8_t>(pending_ << (8 - bits_));
    }

private:
    void putByte(uint8_t byte)
    {
        data_[index_++] = byte;
        if (byte == 0xFF) data_[index_++] = 0x00;
    }

    uint8_t* data_;
    int32_t index_;
    uint64_t pending_ = 0;
    uint32_t bits_ = 0;
};

// The size category and the additional bits of a value, without a branch
// on its sign (which is as good as random). A nonzero value needs no
// test for 0.
struct Category {
    uint32_t size, extra;
};

template <bool kNonzero>
inline Category categoryOf(int32_t value)
{
    const uint32_t sign = static_cast<uint32_t>(value >> 31);  // all ones when negative
    const uint32_t magnitude = (static_cast<uint32_t>(value) ^ sign) - sign;
    uint32_t size;
    if constexpr (kNonzero) {
        size = 32 - static_cast<uint32_t>(__builtin_clz(magnitude));
    } else {
        size = magnitude == 0 ? 0 : 32 - static_cast<uint32_t>(__builtin_clz(magnitude));
    }
    // value - 1 when negative, low `size` bits.
    return {size, (static_cast<uint32_t>(value) + sign) & ((1u << size) - 1)};
}

// One code with its additional bits.
inline void putSymbol(BitSink& sink, const HuffDecodeTable* table, uint32_t index, Category category)
{
    sink.put((table->codes[index] << category.size) | category.extra, table->lengths[index] + category.size);
}

}  // namespace

void codeHuffmanFast(const int32_t coefficients[64], const uint8_t order[64], uint64_t nonzero,
                     const HuffDecodeTable* dcTable, const HuffDecodeTable* acTable,
                     int32_t* predictor, BitCursor* cursor)
{
    BitSink sink(cursor);
    const int32_t dc = coefficients[order[0]];
    const int32_t diff = dc - *predictor;
    const Category dcCategory = categoryOf<false>(diff);
    putSymbol(sink, dcTable, dcCategory.size, dcCategory);
    uint64_t left = nonzero & ~uint64_t{1};
    int previous = 0;
    while (left != 0) {
        int k = __builtin_ctzll(left);
        left &= left - 1;
        uint32_t run = static_cast<uint32_t>(k - previous - 1);
        for (; run > 15; run -= 16) sink.put(acTable->codes[kAcIndexZrl], acTable->lengths[kAcIndexZrl]);
        const Category category = categoryOf<true>(coefficients[order[k]]);
        putSymbol(sink, acTable, 10 * run + category.size + (run == 15 ? 1 : 0), category);
        previous = k;
    }
    if (previous != 63) sink.put(acTable->codes[0], acTable->lengths[0]);
    sink.store(cursor);
    *predictor = dc;
}

int32_t MoxCodeMcu(EncoderContext* ctx, const BlockPointers* blocks, const McuConfig* config)
{
    // The fast block coder keeps no code positions (baseline streams never
    // cut a block); the records are cleared for the reference coder.
    const ForwardDctQuantizeFn transform = encoderKernels().forwardDctQuantize;
    if (transform == nullptr)
        std::memset(ctx->positions, 0, sizeof(CodePositions) * ctx->blocksPerMcu);
    // Fast path: every block whose component allows it is transformed first
    // (no side effects; back-to-back transforms overlap in the processor),
    // then coded in order below.
    int32_t quantized[kMaxBlocksPerMcu][64];
    uint64_t nonzero[kMaxBlocksPerMcu];
    if (transform != nullptr) {
        for (uint32_t c = 0, k = 0; c < config->components; ++c) {
            const McuComponent& component = config->component[c];
            for (uint32_t b = 0; b < uint32_t{component.h} * component.v; ++b, ++k) {
                if (component.divisors != nullptr && k < kMaxBlocksPerMcu)
                    nonzero[k] = transform(blocks->blocks[c] + 64 * b, component.divisors, quantized[k]);
            }
        }
    }
    // The driver reserves a worst-case MCU before each one; the MCU is still
    // coded only when that room is there, so that no caller table or
    // picture can make the writer run past its buffer.
    const uint32_t capacity =
        ctx->writer.data == ctx->spill ? ctx->spillCapacity : ctx->outBufSize;
    const uint32_t left = capacity >= static_cast<uint32_t>(ctx->writer.byteIndex)
                              ? capacity - static_cast<uint32_t>(ctx->writer.byteIndex)
                              : 0;
    const bool room = left >= worstMcuBytes(ctx->blocksPerMcu);
    const bool fastRoom = left >= worstMcuBytes(ctx->blocksPerMcu) + kSinkSlack;
    uint32_t k = 0;
    for (uint32_t c = 0; c < config->components; ++c) {
        const McuComponent& component = config->component[c];
        uint32_t count = uint32_t{component.h} * component.v;
        for (uint32_t b = 0; b < count; ++b, ++k) {
            if (config->dcReset) ctx->dcPred[c] = 0;
            int32_t status = kHuffNoRoom;
            if (fastRoom && transform != nullptr && component.divisors != nullptr &&
                k < kMaxBlocksPerMcu) {
                codeHuffmanFast(quantized[k], kZigzagToTransposed, nonzero[k],
                                component.record.dcTable, component.record.acTable,
                                &ctx->dcPred[c], &ctx->writer);
                status = MOX_OK;
            } else if (room) {
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
