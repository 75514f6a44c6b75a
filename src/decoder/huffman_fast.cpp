// Fast baseline Huffman decoding of one MCU, producing what decodeMcu
// (huffman.cpp) produces. Bits come from a 64-bit buffer refilled several
// bytes at a time; codes of up to kLookaheadBits bits, most with their extra
// bits, resolve in one look-up; the coefficients land dequantised in the
// transposed order of the vector inverse DCT.
//
// Anything unusual sends the whole MCU back to decodeMcu from its start: a
// cursor in the splice buffer, data running out or a marker reached within
// the bits the MCU needs, or a code or symbol that is not a valid one. The
// reference then produces exactly its own statuses, cursor and error-log
// records, so the fast path only ever handles MCUs it decodes completely.
#include <cstring>

#include "decoder/fast.h"
#include "frame/markers.h"
#include "frame/t81tables.h"

namespace mox {

namespace {

constexpr int32_t kMaxCodeLength = 16;
constexpr uint32_t kZeroRun = 0xF0;
constexpr int kMaxBlocksPerComponent = 4;
constexpr int kRefillBelow = 32;  // a code and its extra bits take at most 32

constexpr uint32_t entrySymbol(uint32_t e) { return e & 0xFF; }
constexpr int entryLength(uint32_t e) { return static_cast<int>((e >> 8) & 31); }
constexpr int entryTotal(uint32_t e) { return static_cast<int>((e >> 14) & 31); }
constexpr int32_t entryValue(uint32_t e) { return static_cast<int32_t>(e) >> 20; }

inline int32_t extend(int32_t bits, int32_t s)
{
    return bits < (1 << (s - 1)) ? bits + 1 - (1 << s) : bits;
}

// kZigzagToTransposed[k]: the place of zig-zag coefficient k in a block
// held transposed (entry 8 * column + row).
struct TransposedOrder {
    uint8_t index[64];
};
constexpr TransposedOrder makeTransposedOrder()
{
    // T.81 Figure A.6, natural index of each zig-zag position.
    constexpr uint8_t natural[64] = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
        12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
        35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
        58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    TransposedOrder order{};
    for (int k = 0; k < 64; ++k) order.index[k] = static_cast<uint8_t>(8 * (natural[k] & 7) + (natural[k] >> 3));
    return order;
}
constexpr TransposedOrder kZigzagToTransposed = makeTransposedOrder();

// The reference's code search (decode1Huffman) on the first `available`
// bits of `bits` (most significant first). Returns the code length and sets
// *symbol, 0 when the bits run out first, -1 when no code matches.
int searchCode(const HuffDecodeTable& table, uint32_t bits, int available, uint32_t* symbol)
{
    const int32_t count = static_cast<int32_t>(table.count);
    uint32_t code = 0;
    int32_t length = 0;
    int32_t i = 0;
    while (i < count && length < kMaxCodeLength) {
        ++length;
        if (length > available) return 0;
        code = code * 2 + ((bits >> (31 - (length - 1))) & 1u);
        while (i < count && table.lengths[i] == static_cast<uint32_t>(length)) {
            if (table.codes[i] == code) {
                *symbol = table.symbols[i];
                return length;
            }
            ++i;
        }
    }
    return -1;
}

// The bit buffer over the piece: `acc` holds `count` bits at its top, of
// which the last `padding` are zeros standing for data not (yet) there.
struct BitBuffer {
    const uint8_t* data;
    int64_t end;      // bytes of data that may be read
    int64_t next;     // next byte to load
    uint64_t acc;
    int count;
    int padding;
    bool stopped;     // a marker or the end of data reached

    // Loads whole bytes until at least 57 bits are held. Stuffing bytes
    // are dropped; the 0xFF in front of a marker still yields its eight
    // 1-bits, as the reference reads them, and loading stops there.
    void refill()
    {
        if (!stopped && next + 8 <= end) {
            uint64_t word = 0;
            for (int i = 0; i < 8; ++i) word = word << 8 | data[next + i];
            const uint64_t inverted = ~word;
            bool hasFF = ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
            if (!hasFF) {
                int bytes = (64 - count) >> 3;
                acc |= (word & (~0ull << (64 - 8 * bytes))) >> count;
                count += 8 * bytes;
                next += bytes;
                return;
            }
        }
        while (count <= 56) {
            if (stopped || next >= end) {
                stopped = true;
                padding += 64 - count;  // zeros; consuming one of them fails the MCU
                count = 64;
                return;
            }
            uint8_t byte = data[next];
            ++next;
            if (byte == kMarkerPrefix) {
                if (next < end && data[next] == 0x00) {
                    ++next;
                } else {
                    stopped = true;
                }
            }
            acc |= uint64_t(byte) << (56 - count);
            count += 8;
        }
    }

    uint32_t peek(int n) const { return static_cast<uint32_t>(acc >> (64 - n)); }
    void skip(int n)
    {
        acc <<= n;
        count -= n;
    }
};

struct Decoder {
    BitBuffer in;
    const HuffDecodeTable* dcTable;
    const HuffDecodeTable* acTable;
    const HuffLookahead* dcLook;
    const HuffLookahead* acLook;
};

// One symbol: -1 when the MCU must go back to the reference.
inline int32_t decodeSymbol(BitBuffer& in, const HuffLookahead& look, const HuffDecodeTable& table)
{
    uint32_t e = look.entry[in.peek(kLookaheadBits)];
    int length = entryLength(e);
    if (length != 0) {
        in.skip(length);
        return static_cast<int32_t>(entrySymbol(e));
    }
    uint32_t symbol = 0;
    length = searchCode(table, in.peek(32), kMaxCodeLength, &symbol);
    if (length <= 0 || symbol > 0xFF) return -1;
    in.skip(length);
    return static_cast<int32_t>(symbol);
}

// One block into `block` (transposed, dequantised; zeroed by the caller).
// Returns how many nonzero AC coefficients it holds, or -1 to hand the MCU
// back to the reference.
inline int decodeBlock(Decoder& dec, const int32_t* quant, int32_t* predictor, int32_t* block)
{
    BitBuffer& in = dec.in;
    if (in.count < kRefillBelow) in.refill();
    int32_t s = decodeSymbol(in, *dec.dcLook, *dec.dcTable);
    if (s < 0 || s > kMaxCodeLength) return -1;
    int32_t difference = 0;
    if (s > 0) {
        if (in.count < kRefillBelow) in.refill();
        difference = extend(static_cast<int32_t>(in.peek(s)), s);
        in.skip(s);
    }
    *predictor = static_cast<int32_t>(static_cast<uint32_t>(*predictor) + static_cast<uint32_t>(difference));
    block[0] = static_cast<int32_t>(static_cast<uint32_t>(*predictor) * static_cast<uint32_t>(quant[0]));

    int nonzero = 0;
    for (int k = 1; k < 64; ++k) {
        if (in.count < kRefillBelow) in.refill();
        uint32_t e = dec.acLook->entry[in.peek(kLookaheadBits)];
        int32_t value;
        int32_t run;
        if (entryTotal(e) != 0) {
            in.skip(entryTotal(e));
            value = entryValue(e);
            run = static_cast<int32_t>(entrySymbol(e) >> 4);
        } else {
            int32_t rs = decodeSymbol(in, *dec.acLook, *dec.acTable);
            if (rs < 0) return -1;
            if (rs == 0) return nonzero;  // end of block
            int32_t size = rs & 15;
            run = rs >> 4;
            if (size > 0) {
                value = extend(static_cast<int32_t>(in.peek(size)), size);
                in.skip(size);
            } else if (static_cast<uint32_t>(rs) == kZeroRun) {
                value = 0;
            } else {
                return -1;
            }
        }
        k += run;
        if (k > 63) return -1;
        if (value != 0) ++nonzero;
        int n = kZigzagToNatural[k];
        block[kZigzagToTransposed.index[k]] =
            static_cast<int32_t>(static_cast<uint32_t>(value) * static_cast<uint32_t>(quant[n]));
    }
    return nonzero;
}

// Puts the cursor where the reference would stand after the bits consumed:
// inside a partly read byte, or (lazily, as the reference does) at the byte
// after a fully read one, which for a stuffed 0xFF is its stuffing byte.
void storeCursor(const BitBuffer& in, int64_t firstStart, int64_t firstEnd, int firstBits,
                 BitCursor* cursor)
{
    int remaining = in.count - in.padding;  // loaded bits not consumed
    int64_t end = in.next;
    for (;;) {
        int64_t start;
        int bits;
        if (end == firstEnd) {
            start = firstStart;
            bits = firstBits;
        } else {
            bool stuffed = end - 2 >= 0 && in.data[end - 1] == 0x00 && in.data[end - 2] == kMarkerPrefix;
            start = stuffed ? end - 2 : end - 1;
            bits = 8;
        }
        if (remaining < bits) {
            if (remaining == 0) {
                cursor->byteIndex = static_cast<int32_t>(start + 1);
                cursor->bitPos = 7;
            } else {
                cursor->byteIndex = static_cast<int32_t>(start);
                cursor->bitPos = remaining - 1;
            }
            return;
        }
        remaining -= bits;
        end = start;
    }
}

// Builds one look-up table by running the reference search on every
// kLookaheadBits-bit prefix.
void buildLookahead(const HuffDecodeTable& table, bool ac, HuffLookahead* look)
{
    for (uint32_t prefix = 0; prefix < (1u << kLookaheadBits); ++prefix) {
        uint32_t symbol = 0;
        int length = searchCode(table, prefix << (32 - kLookaheadBits), kLookaheadBits, &symbol);
        uint32_t entry = 0;
        if (length > 0 && symbol <= 0xFF) {
            entry = symbol | uint32_t(length) << 8;
            int size = ac ? static_cast<int>(symbol & 15) : 0;
            if (size > 0 && length + size <= kLookaheadBits) {
                int32_t bits = static_cast<int32_t>((prefix >> (kLookaheadBits - length - size)) &
                                                    ((1u << size) - 1));
                int32_t value = extend(bits, size);
                entry |= uint32_t(length + size) << 14 | static_cast<uint32_t>(value) << 20;
            }
        }
        look->entry[prefix] = entry;
    }
}

}  // namespace

void buildLookaheadTables(DecoderContext* ctx)
{
    for (int t = 0; t < 2; ++t) {
        buildLookahead(ctx->dcHuff[t], false, &ctx->dcLookahead[t]);
        buildLookahead(ctx->acHuff[t], true, &ctx->acLookahead[t]);
    }
}

int32_t decodeMcuReference(DecoderContext* ctx)
{
    return decodeMcu(&ctx->cursor, &ctx->mcuParam, ctx->dcPredictors, ctx->planes);
}

int32_t decodeMcuFast(DecoderContext* ctx)
{
    BitCursor* cursor = &ctx->cursor;
    const McuParam& param = ctx->mcuParam;
    if ((cursor->spliceFlag != nullptr && *cursor->spliceFlag != 0) || ctx->reduction != 1)
        return decodeMcuReference(ctx);

    Decoder dec;
    BitBuffer& in = dec.in;
    in.data = cursor->data;
    in.end = cursor->available;
    in.acc = 0;
    in.count = 0;
    in.padding = 0;
    in.stopped = false;
    int64_t i = cursor->byteIndex;
    int64_t firstStart = -1, firstEnd = -1;
    int firstBits = 0;
    if (i >= in.end) return decodeMcuReference(ctx);
    if (cursor->bitPos != 7) {
        // The rest of a partly read byte, then past its stuffing byte.
        firstStart = i;
        firstBits = cursor->bitPos + 1;
        uint8_t byte = in.data[i];
        in.acc = uint64_t(byte & ((1u << firstBits) - 1)) << (64 - firstBits);
        in.count = firstBits;
        in.next = i + 1;
        if (byte == kMarkerPrefix) {
            if (in.next < in.end && in.data[in.next] == 0x00) ++in.next;
            else in.stopped = true;
        }
        firstEnd = in.next;
    } else if (i > 0 && in.data[i - 1] == kMarkerPrefix) {
        if (in.data[i] != 0x00) return decodeMcuReference(ctx);  // a marker right here
        in.next = i + 1;
    } else {
        in.next = i;
    }

    int32_t predictors[kMaxComponents];
    std::memcpy(predictors, ctx->dcPredictors, sizeof(predictors));
    alignas(64) int32_t blocks[kMaxComponents * kMaxBlocksPerComponent][kBlockSamples];
    int acNonzero[kMaxComponents * kMaxBlocksPerComponent];
    int blockCount = 0;
    for (int c = 0; c < param.componentCount; ++c) {
        const McuComponent& component = param.component[c];
        dec.dcTable = component.dcTable;
        dec.acTable = component.acTable;
        dec.dcLook = &ctx->dcLookahead[component.dcTable - ctx->dcHuff];
        dec.acLook = &ctx->acLookahead[component.acTable - ctx->acHuff];
        const int blocksHere = component.hSamp * component.vSamp;
        for (int b = 0; b < blocksHere; ++b, ++blockCount) {
            int32_t* block = blocks[blockCount];
            std::memset(block, 0, sizeof(blocks[0]));
            acNonzero[blockCount] = decodeBlock(dec, component.quantTable, &predictors[c], block);
            if (acNonzero[blockCount] < 0 || in.count < in.padding) return decodeMcuReference(ctx);
        }
    }

    storeCursor(in, firstStart, firstEnd, firstBits, cursor);
    std::memcpy(ctx->dcPredictors, predictors, sizeof(predictors));
    const IdctTransposedFn idct = idctTransposedKernel();
    const IdctDcOnlyFn idctDcOnly = idctDcOnlyKernel();
    blockCount = 0;
    for (int c = 0; c < param.componentCount; ++c) {
        const McuComponent& component = param.component[c];
        const int blocksHere = component.hSamp * component.vSamp;
        for (int b = 0; b < blocksHere; ++b, ++blockCount) {
            int32_t* out = ctx->planes[c + 1] + b * kBlockSamples;
            if (acNonzero[blockCount] == 0) {
                idctDcOnly(blocks[blockCount][0], out);
            } else {
                idct(blocks[blockCount], out);
            }
        }
    }
    return 0;
}

}  // namespace mox
