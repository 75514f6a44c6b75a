// Fast baseline Huffman decoding of one MCU, producing what decodeMcu
// (huffman.cpp) produces. Bits come from a 64-bit buffer refilled several
// bytes at a time; codes of up to kLookaheadBits bits, most with their extra
// bits, resolve in one look-up; the coefficients land dequantised in the
// transposed order of the vector inverse DCT; a preview's reduced blocks
// are summed as they are decoded, or passed over but for their DC term.
//
// Anything unusual sends the whole MCU back to decodeMcu from its start: a
// cursor in the splice buffer, data running out or a marker reached within
// the bits the MCU needs, or a code or symbol that is not a valid one. The
// reference then produces exactly its own statuses, cursor and error-log
// records, so the fast path only ever handles MCUs it decodes completely.
#include <algorithm>
#include <bit>
#include <cstring>

#include "decoder/fast.h"
#include "decoder/reduced.h"
#include "frame/markers.h"
#include "frame/t81tables.h"

namespace mox {

namespace {

constexpr int32_t kMaxCodeLength = 16;
constexpr uint32_t kZeroRun = 0xF0;
constexpr int kMaxBlocksPerComponent = 4;
constexpr int kRefillBelow = 32;  // a code and its extra bits take at most 32
constexpr uint32_t kSkipEndOfBlock = 128;  // zig-zag step of an EOB in a skip table
// A group table entry: the bits its whole codes take, whether the last is an
// EOB, and the zig-zag positions they advance (one more with an EOB).
constexpr uint32_t kGroupLengthMask = 15;
constexpr uint32_t kGroupEnd = 16;
constexpr int kGroupAdvanceShift = 5;
static_assert(kSkipGroupBits <= int(kGroupLengthMask));

constexpr uint32_t kEntryResolved = 1u << 6;
constexpr int64_t entryLength(uint32_t e) { return e & 63; }
constexpr uint32_t entrySymbol(uint32_t e) { return (e >> 8) & 0xFF; }
constexpr int32_t entryRun(uint32_t e) { return static_cast<int32_t>((e >> 16) & 15); }
constexpr int32_t entryValue(uint32_t e) { return static_cast<int32_t>(e) >> 22; }

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
    // 64-bit counts: the coefficient stores (32-bit) cannot alias them, so
    // the compiler keeps them in registers.
    uint64_t acc;
    int64_t count;
    int64_t padding;
    int64_t clean;    // bytes from here on were loaded one byte per 8 bits
    bool stopped;     // a marker or the end of data reached

    // Loads whole bytes until at least 57 bits are held. Stuffing bytes
    // are dropped; the 0xFF in front of a marker still yields its eight
    // 1-bits, as the reference reads them, and loading stops there.
    void refill()
    {
        if (!stopped && next + 8 <= end) {
            uint64_t word;
            std::memcpy(&word, data + next, sizeof(word));
            if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
            const uint64_t inverted = ~word;
            // Flags every 0xFF byte, and perhaps a 0xFE right before one.
            const uint64_t ff = (inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull;
            int64_t bytes = (64 - count) >> 3;
            if (ff != 0) bytes = std::min<int64_t>(bytes, std::countl_zero(ff) >> 3);
            if (bytes > 0) {
                acc |= (word & (~0ull << (64 - 8 * bytes))) >> count;
                count += 8 * bytes;
                next += bytes;
            }
            if (ff == 0) return;
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
                clean = next;
            }
            acc |= uint64_t(byte) << (56 - count);
            count += 8;
        }
    }

    uint32_t peek(int64_t n) const { return static_cast<uint32_t>(acc >> (64 - n)); }
    void skip(int64_t n)
    {
        acc <<= n;
        count -= n;
    }
};

// How a preview decodes a block: one sample of a whole block (its DC term
// only, the AC codes passed over), a square block inside the picture
// (summed while decoded, into its samples), or any other (a row-major block
// for the reference transform).
enum class PreviewBlock : uint8_t { kDcOnly, kInside, kGeneral };

// What decoding and transforming one block of an MCU take, worked out once
// per MCU or run of MCUs.
struct BlockPlan {
    const HuffDecodeTable* dcTable;
    const HuffDecodeTable* acTable;
    const HuffLookahead* dcLook;
    const HuffLookahead* acLook;
    const int32_t* quantZigzag;
    int32_t* predictor;
    int32_t* out;  // the block's samples in ctx->planes
    int component;
    int indexInComponent;
    bool reduced;
    // Previews: how the block is decoded, the skip tables of its AC codes,
    // and the samples' line stride at `out`.
    PreviewBlock kind;
    BlockCover cover;
    int side;  // kInside: samples across and down
    const uint16_t* acSkip;
    const uint16_t* acSkipGroups;
    int stride;
};
struct McuPlan {
    int blockCount;
    BlockPlan block[kMaxComponents * kMaxBlocksPerComponent];
};

// A code longer than the look-up or none: its symbol (0..255), with its
// length in *length, or -1 when the MCU must go back to the reference.
inline int32_t longCode(uint64_t acc, const HuffLookahead& look, const HuffDecodeTable& table, int64_t* length)
{
    uint32_t symbol = 0;
    int found = 0;
    if (look.canonical != 0) {
        const uint32_t bits = static_cast<uint32_t>(acc >> (64 - kMaxCodeLength));
        for (int l = kLookaheadBits + 1; l <= kMaxCodeLength; ++l) {
            int32_t code = static_cast<int32_t>(bits >> (kMaxCodeLength - l));
            if (code <= look.maxCode[l]) {
                symbol = table.symbols[look.valueOffset[l] + code];
                found = l;
                break;
            }
        }
    } else {
        found = searchCode(table, static_cast<uint32_t>(acc >> 32), kMaxCodeLength, &symbol);
    }
    if (found <= 0 || symbol > 0xFF) return -1;
    *length = found;
    return static_cast<int32_t>(symbol);
}

// Where decodeBlock puts each dequantised coefficient (zig-zag position k,
// in increasing k): a block of zeros held transposed for the vector
// transform, or in row-major order for the reduced one; or the sums of a
// preview's block (reduced.h).
struct PutTransposed {
    int32_t* block;
    void operator()(int k, int32_t value) const { block[kZigzagToTransposed.index[k]] = value; }
};
struct PutNatural {
    int32_t* block;
    void operator()(int k, int32_t value) const { block[kZigzagToNatural[k]] = value; }
};

// The DC term alone, for a preview's one-sample blocks.
struct PutDc {
    int32_t* dc;
    void operator()(int, int32_t value) const { *dc = value; }
};

// One block through `put`. Returns 0 when the first AC symbol ends the
// block (the DC value alone), 1 when not, or -1 to hand the MCU back to the
// reference. The bit buffer lives in locals. PassOverAc (a preview's
// one-sample blocks) reads past the AC codes and their extra bits through
// the skip tables, and returns 0.
template <class Put, bool PassOverAc = false>
inline int decodeBlock(BitBuffer& in, const BlockPlan& plan, int32_t* predictor, Put& put)
{
    const int32_t* quantZigzag = plan.quantZigzag;
    uint64_t acc = in.acc;
    int64_t count = in.count;
    auto refill = [&] {
        in.acc = acc;
        in.count = count;
        in.refill();
        acc = in.acc;
        count = in.count;
    };
    auto symbol = [&](const HuffLookahead& look, const HuffDecodeTable& table) -> int32_t {
        uint32_t e = look.entry[acc >> (64 - kLookaheadBits)];
        int64_t length = entryLength(e);
        int32_t rs = static_cast<int32_t>(entrySymbol(e));
        if (length == 0) {
            rs = longCode(acc, look, table, &length);
            if (rs < 0) return -1;
        }
        acc <<= length;
        count -= length;
        return rs;
    };
    auto take = [&](int32_t size) {
        int32_t bits = static_cast<int32_t>(acc >> (64 - size));
        acc <<= size;
        count -= size;
        return extend(bits, size);
    };

    if (count < kLookaheadBits) refill();
    int32_t difference = 0;
    const uint32_t dcEntry = plan.dcLook->entry[acc >> (64 - kLookaheadBits)];
    if ((dcEntry & kEntryResolved) != 0) {  // the size and its bits in one look-up
        acc <<= entryLength(dcEntry);
        count -= entryLength(dcEntry);
        difference = entryValue(dcEntry);
    } else {
        if (count < kRefillBelow) refill();
        int32_t s = symbol(*plan.dcLook, *plan.dcTable);
        if (s < 0 || s > kMaxCodeLength) return -1;
        if (s > 0) {
            if (count < kRefillBelow) refill();
            difference = take(s);
        }
    }
    *predictor = static_cast<int32_t>(static_cast<uint32_t>(*predictor) + static_cast<uint32_t>(difference));
    put(0, static_cast<int32_t>(static_cast<uint32_t>(*predictor) * static_cast<uint32_t>(quantZigzag[0])));

    if constexpr (PassOverAc) {
        // k: the next zig-zag position; a code past 63 is invalid, EOB jumps
        // far beyond.
        for (uint32_t k = 1; k < 64;) {
            // A group lies within its look-up bits: refilled less often.
            if (count < kSkipGroupBits) refill();
            // Several short codes at once, while they end before position 64.
            const uint32_t group = plan.acSkipGroups[acc >> (64 - kSkipGroupBits)];
            if (group != 0 && k + (group >> kGroupAdvanceShift) <= 64) {
                acc <<= group & kGroupLengthMask;
                count -= group & kGroupLengthMask;
                if ((group & kGroupEnd) != 0) break;
                k += group >> kGroupAdvanceShift;
                continue;
            }
            if (count < kRefillBelow) refill();  // leaves the bits looked up as they are
            uint32_t step = plan.acSkip[acc >> (64 - kLookaheadBits)];
            if (step == 0) {  // a longer code, none, or an invalid symbol
                if (entryLength(plan.acLook->entry[acc >> (64 - kLookaheadBits)]) != 0) return -1;
                int64_t length = 0;
                int32_t rs = longCode(acc, *plan.acLook, *plan.acTable, &length);
                if (rs < 0 || ((rs & 15) == 0 && static_cast<uint32_t>(rs) != kZeroRun && rs != 0)) return -1;
                step = rs == 0 ? kSkipEndOfBlock << 8 | uint32_t(length)
                               : uint32_t((rs >> 4) + 1) << 8 | uint32_t(length + (rs & 15));
            }
            acc <<= step & 0xFF;
            count -= step & 0xFF;
            k += step >> 8;
            if (k > 64 && k < kSkipEndOfBlock) return -1;
        }
        in.acc = acc;
        in.count = count;
        return 0;
    }
    const HuffLookahead& acLook = *plan.acLook;
    int k = 1;
    for (; k < 64; ++k) {
        if (count < kRefillBelow) refill();
        uint32_t e = acLook.entry[acc >> (64 - kLookaheadBits)];
        int32_t value;
        if ((e & kEntryResolved) != 0) {
            acc <<= entryLength(e);
            count -= entryLength(e);
            value = entryValue(e);
            k += entryRun(e);
        } else {
            int64_t length = entryLength(e);
            int32_t rs = static_cast<int32_t>(entrySymbol(e));
            if (length == 0) {
                rs = longCode(acc, acLook, *plan.acTable, &length);
                if (rs < 0) return -1;
            }
            acc <<= length;
            count -= length;
            if (rs == 0) break;  // end of block
            int32_t size = rs & 15;
            k += rs >> 4;
            if (size > 0) {
                value = take(size);
            } else if (static_cast<uint32_t>(rs) == kZeroRun) {
                value = 0;
            } else {
                return -1;
            }
        }
        if (k > 63) return -1;
        put(k, static_cast<int32_t>(static_cast<uint32_t>(value) * static_cast<uint32_t>(quantZigzag[k])));
    }
    in.acc = acc;
    in.count = count;
    return k > 1 ? 1 : 0;
}

template <int N>
int decodeInside(BitBuffer& in, const BlockPlan& plan, int32_t* predictor, const uint8_t* limit)
{
    reduced::InsideSums<N, N> sums;
    int result = decodeBlock(in, plan, predictor, sums);
    if (result >= 0) sums.store(limit, plan.out, plan.stride);
    return result;
}

PreviewBlock previewBlockOf(const McuComponent& component, const BlockCover& cover)
{
    if (cover.cutAcross || cover.cutDown) return PreviewBlock::kGeneral;
    const int w = component.reducedWidth, h = component.reducedHeight;
    if (w == 1 && h == 1) return PreviewBlock::kDcOnly;
    return w == h && (w == 2 || w == 4) ? PreviewBlock::kInside : PreviewBlock::kGeneral;
}

// One block of a preview: the dequantised DC term into block[0] (kDcOnly),
// the samples to plan.out (kInside, even when a later block hands the MCU
// back), or the dequantised row-major block into `block` (kGeneral, zeros on
// entry). Returns < 0 to hand the MCU back to the reference.
int decodePreviewBlock(BitBuffer& in, const BlockPlan& plan, int32_t* predictor, const uint8_t* limit,
                       int32_t* block)
{
    switch (plan.kind) {
    case PreviewBlock::kDcOnly: {
        PutDc put{block};
        return decodeBlock<PutDc, true>(in, plan, predictor, put);
    }
    case PreviewBlock::kInside:
        return plan.side == 2 ? decodeInside<2>(in, plan, predictor, limit)
                              : decodeInside<4>(in, plan, predictor, limit);
    default: {
        PutNatural put{block};
        return decodeBlock(in, plan, predictor, put);
    }
    }
}

// Puts the cursor where the reference would stand after the bits consumed:
// inside a partly read byte, or (lazily, as the reference does) at the byte
// after a fully read one, which for a stuffed 0xFF is its stuffing byte.
void storeCursor(const BitBuffer& in, int64_t firstStart, int64_t firstEnd, int firstBits,
                 BitCursor* cursor)
{
    int64_t remaining = in.count - in.padding;  // loaded bits not consumed
    int64_t end = in.next;
    // Usually the bytes involved held no stuffing: count back directly.
    const int64_t whole = remaining >> 3, part = remaining & 7;
    if (end - whole - 1 >= in.clean) {
        if (part != 0) {
            cursor->byteIndex = static_cast<int32_t>(end - whole - 1);
            cursor->bitPos = static_cast<int32_t>(part - 1);
        } else {
            cursor->byteIndex = static_cast<int32_t>(end - whole);
            cursor->bitPos = 7;
        }
        return;
    }
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
                cursor->bitPos = static_cast<int32_t>(remaining - 1);
            }
            return;
        }
        remaining -= bits;
        end = start;
    }
}

// Whether the code list holds exactly the canonical codes of its lengths
// (T.81 C.2) in order; then the largest code of each length decides, as the
// list search would. Fills maxCode and valueOffset.
bool describeCanonical(const HuffDecodeTable& table, HuffLookahead* look)
{
    for (int length = 0; length <= kMaxCodeLength; ++length) {
        look->maxCode[length] = -1;
        look->valueOffset[length] = 0;
    }
    uint32_t code = 0;
    uint32_t length = table.count > 0 ? table.lengths[0] : 1;
    for (uint32_t i = 0; i < table.count; ++i) {
        if (table.lengths[i] < length || table.lengths[i] > kMaxCodeLength || length < 1) return false;
        while (length < table.lengths[i]) {
            code <<= 1;
            ++length;
        }
        if (code >= (1u << length) || table.codes[i] != code) return false;
        if (look->maxCode[length] < 0)
            look->valueOffset[length] = static_cast<int32_t>(i) - static_cast<int32_t>(code);
        look->maxCode[length] = static_cast<int32_t>(code);
        ++code;
    }
    return true;
}

// Builds one look-up table by running the reference search on every
// kLookaheadBits-bit prefix.
void buildLookahead(const HuffDecodeTable& table, bool ac, HuffLookahead* look)
{
    if (table.count > MOX_HUFF_MAX_CODES) {
        // Not a table any component can use (Init refuses those).
        *look = HuffLookahead{};
        return;
    }
    look->canonical = describeCanonical(table, look) ? 1 : 0;
    for (uint32_t prefix = 0; prefix < (1u << kLookaheadBits); ++prefix) {
        uint32_t symbol = 0;
        int length = searchCode(table, prefix << (32 - kLookaheadBits), kLookaheadBits, &symbol);
        uint32_t entry = 0;
        if (length > 0 && symbol <= 0xFF) {
            entry = symbol << 8 | uint32_t(length);
            // AC: a size with a run (EOB and ZRL stay symbols); DC: any size.
            int size = ac ? static_cast<int>(symbol & 15) : static_cast<int>(symbol);
            if ((ac ? size > 0 : symbol <= 15) && length + size <= kLookaheadBits) {
                int32_t bits = static_cast<int32_t>((prefix >> (kLookaheadBits - length - size)) &
                                                    ((1u << size) - 1));
                int32_t value = size == 0 ? 0 : extend(bits, size);
                entry = symbol << 8 | uint32_t(length + size) | kEntryResolved | (symbol >> 4) << 16 |
                        static_cast<uint32_t>(value) << 22;
            }
        }
        look->entry[prefix] = entry;
    }
}

// The skip table of an AC table (DecoderContext::acSkip), from its look-up
// table.
void buildSkip(const HuffLookahead& look, uint16_t* skip)
{
    for (uint32_t prefix = 0; prefix < (1u << kLookaheadBits); ++prefix) {
        const uint32_t e = look.entry[prefix];
        const uint32_t rs = entrySymbol(e);
        const uint32_t length = static_cast<uint32_t>(entryLength(e));  // with the extra bits when resolved
        uint32_t entry = 0;
        if (length > 0 && rs == 0) {
            entry = kSkipEndOfBlock << 8 | length;
        } else if (length > 0 && ((rs & 15) != 0 || rs == kZeroRun)) {
            entry = ((rs >> 4) + 1) << 8 | ((e & kEntryResolved) != 0 ? length : length + (rs & 15));
        }
        skip[prefix] = static_cast<uint16_t>(entry);
    }
}

// The group table of an AC table (DecoderContext::acSkipGroups), from its
// skip table: a code found in zero-padded bits that fits the prefix is the
// code there, the codes being free of prefixes.
void buildSkipGroups(const uint16_t* skip, uint16_t* groups)
{
    for (uint32_t prefix = 0; prefix < (1u << kSkipGroupBits); ++prefix) {
        uint32_t used = 0, advance = 0, end = 0;
        while (used < uint32_t(kSkipGroupBits)) {
            uint32_t window = (prefix << used) & ((1u << kSkipGroupBits) - 1);
            uint32_t step = skip[window >> (kSkipGroupBits - kLookaheadBits)];
            uint32_t bits = step & 0xFF;
            if (step == 0 || used + bits > uint32_t(kSkipGroupBits)) break;
            used += bits;
            if (step >> 8 == kSkipEndOfBlock) {
                end = 1;
                break;
            }
            advance += step >> 8;
        }
        groups[prefix] = static_cast<uint16_t>(used == 0 ? 0 : (advance + end) << kGroupAdvanceShift | end * kGroupEnd | used);
    }
}

}  // namespace

void buildLookaheadTables(DecoderContext* ctx)
{
    std::memset(ctx->fastBlocks, 0, sizeof(ctx->fastBlocks));
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < kBlockSamples; ++k) ctx->quantZigzag[t][k] = ctx->quantTable[t][kZigzagToNatural[k]];
    for (int t = 0; t < 2; ++t) {
        buildLookahead(ctx->dcHuff[t], false, &ctx->dcLookahead[t]);
        buildLookahead(ctx->acHuff[t], true, &ctx->acLookahead[t]);
        if (ctx->reduction == 8) {  // the tables of the one-sample blocks
            buildSkip(ctx->acLookahead[t], ctx->acSkip[t]);
            buildSkipGroups(ctx->acSkip[t], ctx->acSkipGroups[t]);
        }
    }
}

int32_t decodeMcuReference(DecoderContext* ctx)
{
    return decodeMcu(&ctx->cursor, &ctx->mcuParam, ctx->dcPredictors, ctx->planes);
}

namespace {

// Where the bit buffer began: a partly read byte at firstStart holding
// firstBits unread bits, the next whole byte at firstEnd (-1: none).
struct BufferStart {
    int64_t firstStart = -1;
    int64_t firstEnd = -1;
    int firstBits = 0;
};

// Opens the bit buffer at the cursor; false when the reference must decode
// from there (splice buffer, end of data, a marker right here).
bool openBuffer(const BitCursor* cursor, BitBuffer& in, BufferStart& start)
{
    if (cursor->spliceFlag != nullptr && *cursor->spliceFlag != 0) return false;
    in.data = cursor->data;
    in.end = cursor->available;
    in.acc = 0;
    in.count = 0;
    in.padding = 0;
    in.stopped = false;
    int64_t i = cursor->byteIndex;
    if (i >= in.end) return false;
    if (cursor->bitPos != 7) {
        // The rest of a partly read byte, then past its stuffing byte.
        start.firstStart = i;
        start.firstBits = cursor->bitPos + 1;
        uint8_t byte = in.data[i];
        in.acc = uint64_t(byte & ((1u << start.firstBits) - 1)) << (64 - start.firstBits);
        in.count = start.firstBits;
        in.next = i + 1;
        if (byte == kMarkerPrefix) {
            if (in.next < in.end && in.data[in.next] == 0x00) ++in.next;
            else in.stopped = true;
        }
        start.firstEnd = in.next;
    } else if (i > 0 && in.data[i - 1] == kMarkerPrefix) {
        if (in.data[i] != 0x00) return false;  // a marker right here
        in.next = i + 1;
    } else {
        in.next = i;
    }
    in.clean = in.next;
    return true;
}

// The plan of the current MCU; a preview's MCU `inside` the picture (a
// run's) needs no cover of its blocks.
void planMcu(DecoderContext* ctx, int32_t* predictors, McuPlan* plan, bool inside = false)
{
    const McuParam& param = ctx->mcuParam;
    int n = 0;
    for (int c = 0; c < param.componentCount; ++c) {
        const McuComponent& component = param.component[c];
        const bool reduced = component.reducedWidth != 0;
        const int samples = reduced ? component.reducedWidth * component.reducedHeight : kBlockSamples;
        const int blocksHere = component.hSamp * component.vSamp;
        for (int b = 0; b < blocksHere; ++b, ++n) {
            BlockPlan& block = plan->block[n];
            const ptrdiff_t ac = component.acTable - ctx->acHuff;
            block.dcTable = component.dcTable;
            block.acTable = component.acTable;
            block.dcLook = &ctx->dcLookahead[component.dcTable - ctx->dcHuff];
            block.acLook = &ctx->acLookahead[ac];
            block.quantZigzag = ctx->quantZigzag[(component.quantTable - ctx->quantTable[0]) / kBlockSamples];
            block.predictor = &predictors[c];
            block.out = ctx->planes[c + 1] + b * samples;
            block.component = c;
            block.indexInComponent = b;
            block.reduced = reduced;
            if (reduced) {
                block.cover = inside ? BlockCover{} : blockCover(component, b);
                block.kind = previewBlockOf(component, block.cover);
                block.side = component.reducedWidth;
                // The skip tables exist at 1/8 only.
                block.acSkip = ctx->acSkip != nullptr ? ctx->acSkip[ac] : nullptr;
                block.acSkipGroups = ctx->acSkipGroups != nullptr ? ctx->acSkipGroups[ac] : nullptr;
                block.stride = component.reducedWidth;
            }
        }
    }
    plan->blockCount = n;
}

// The blocks of one MCU into ctx->fastBlocks, with the predictors; false
// (blocks cleared again) when the MCU must go to the reference.
bool decodeBlocks(DecoderContext* ctx, BitBuffer& in, const McuPlan& plan, int* acNonzero)
{
    int32_t (*blocks)[kBlockSamples] = ctx->fastBlocks;
    for (int n = 0; n < plan.blockCount; ++n) {
        const BlockPlan& block = plan.block[n];
        if (block.reduced) {
            acNonzero[n] = decodePreviewBlock(in, block, block.predictor, ctx->mcuParam.rangeLimit, blocks[n]);
        } else {
            PutTransposed put{blocks[n]};
            acNonzero[n] = decodeBlock(in, block, block.predictor, put);
        }
        if (acNonzero[n] < 0 || in.count < in.padding) {
            std::memset(blocks, 0, sizeof(ctx->fastBlocks[0]) * (n + 1));
            return false;
        }
    }
    return true;
}

// A preview's block as decodePreviewBlock left it: its samples at
// block.out (a kInside block's are there already), `coefficients` cleared.
void previewSamples(DecoderContext* ctx, const BlockPlan& block, int32_t* coefficients)
{
    if (block.kind == PreviewBlock::kDcOnly) {
        block.out[0] = reduced::dcSample(coefficients[0], ctx->mcuParam.rangeLimit);
        coefficients[0] = 0;
    } else if (block.kind == PreviewBlock::kGeneral) {
        const McuComponent& component = ctx->mcuParam.component[block.component];
        const int w = component.reducedWidth, h = component.reducedHeight;
        int32_t samples[kBlockSamples];
        idctReducedDequantised(coefficients, &ctx->mcuParam, &component, block.cover, samples);
        for (int j = 0; j < h; ++j)
            for (int m = 0; m < w; ++m) block.out[block.stride * j + m] = samples[w * j + m];
        std::memset(coefficients, 0, sizeof(int32_t) * kBlockSamples);
    }
}

// The inverse transforms of the decoded blocks into ctx->planes (or where
// the plan says), leaving the blocks cleared.
void transformBlocks(DecoderContext* ctx, const DecoderKernels& kernels, const McuPlan& plan,
                     const int* acNonzero)
{
    int32_t (*blocks)[kBlockSamples] = ctx->fastBlocks;
    for (int n = 0; n < plan.blockCount; ++n) {
        const BlockPlan& block = plan.block[n];
        if (block.reduced) {
            previewSamples(ctx, block, blocks[n]);
        } else if (acNonzero[n] == 0) {
            kernels.idctDcOnly(blocks[n][0], block.out);
            blocks[n][0] = 0;
        } else {
            kernels.idctTransposed(blocks[n], block.out);
        }
    }
}

// A run of MCUs in one bit buffer, with the plan of their blocks.
struct Run {
    BitBuffer in;
    BufferStart start;
    int32_t predictors[kMaxComponents];
    McuPlan plan;
    int acNonzero[kMaxComponents * kMaxBlocksPerComponent];

    // False when the reference must decode from the cursor.
    bool open(DecoderContext* ctx, bool inside)
    {
        if (!openBuffer(&ctx->cursor, in, start)) return false;
        std::memcpy(predictors, ctx->dcPredictors, sizeof(predictors));
        planMcu(ctx, predictors, &plan, inside);
        return true;
    }

    // The next MCU; when it must go to the reference (decodeMcuFast), false
    // with the bit buffer and predictors back at its start.
    bool next(DecoderContext* ctx)
    {
        const BitBuffer before = in;
        int32_t kept[kMaxComponents];
        std::memcpy(kept, predictors, sizeof(kept));
        if (decodeBlocks(ctx, in, plan, acNonzero)) return true;
        in = before;
        std::memcpy(predictors, kept, sizeof(kept));
        return false;
    }

    // The cursor and predictors behind the last of `done` MCUs.
    void end(DecoderContext* ctx, int32_t done) const
    {
        if (done == 0) return;
        storeCursor(in, start.firstStart, start.firstEnd, start.firstBits, &ctx->cursor);
        std::memcpy(ctx->dcPredictors, predictors, sizeof(ctx->dcPredictors));
    }
};

// Where block b of component c of a preview's MCU stands in the raster that
// storeMcu reads: blocks side by side go straight to their place in the
// MCU (upSample would only copy them there); a single column of blocks is
// the raster as it is. (A subsampled component reduced half as much needs
// no doubling.)
int32_t* placeOf(DecoderContext* ctx, int c, int b, int* stride)
{
    const int h = ctx->hSamp[c];
    const int width = ctx->blockWidth[c], height = ctx->blockHeight[c];
    *stride = h == 1 ? width : ctx->mcuWidth;
    if (h == 1) return ctx->blockArea[c] + b * width * height;
    return ctx->upsampleArea[c] + (b / h) * height * ctx->mcuWidth + (b % h) * width;
}

// decodePreviewRun's work (fast.h).
int32_t previewRun(DecoderContext* ctx, int32_t column, int32_t row, int32_t count)
{
    // Full-size extent of an MCU: the run stops before the picture's edge.
    const int64_t across = int64_t(kBlockSide) * ctx->hMax, down = int64_t(kBlockSide) * ctx->vMax;
    if ((row + 1) * down > ctx->imageHeight) return 0;
    count = static_cast<int32_t>(std::min<int64_t>(count, ctx->imageWidth / across - column));
    const McuParam& param = ctx->mcuParam;
    for (int c = 0; c < param.componentCount; ++c)  // full-size blocks side by side stay out
        if (param.component[c].reducedWidth == 0 && param.component[c].hSamp != 1) return 0;
    Run run;
    if (count <= 0 || !run.open(ctx, true)) return 0;
    const DecoderKernels& kernels = decoderKernels();
    McuPlan& plan = run.plan;
    const bool grey = param.componentCount == 1 && ctx->hSamp[0] == 1 && ctx->vSamp[0] == 1 &&
                      ctx->bytesPerPixel == 1 && param.component[0].reducedWidth == ctx->mcuWidth;
    // YCbCr to RGB in 8x8 MCUs: the fused output's vector store.
    const bool ycc = param.componentCount == 3 && ctx->outFormat == 1 && ctx->colorTransform != 0 &&
                     ctx->mcuWidth == kBlockSide && ctx->mcuHeight == kBlockSide &&
                     decoderKernels().storeMcu == &storeMcuFast;
    int32_t greySamples[kBlockSamples];
    for (int n = 0; n < plan.blockCount; ++n) {
        BlockPlan& block = plan.block[n];
        block.out = grey ? greySamples : placeOf(ctx, block.component, block.indexInComponent, &block.stride);
        ctx->upsampled[block.component] = ctx->hSamp[block.component] == 1 ? ctx->blockArea[block.component]
                                                                            : ctx->upsampleArea[block.component];
    }
    int32_t done = 0;
    if (grey && plan.block[0].kind == PreviewBlock::kDcOnly) {
        // 1/8 grey: a byte a block.
        uint8_t* to = ctx->writePointer + column;
        int32_t dc = 0;
        for (; done < count; ++done) {
            const BitBuffer before = run.in;
            const int32_t kept = run.predictors[0];
            PutDc put{&dc};
            if (decodeBlock<PutDc, true>(run.in, plan.block[0], &run.predictors[0], put) < 0 ||
                run.in.count < run.in.padding) {
                run.in = before;  // this MCU is left to decodeMcuFast
                run.predictors[0] = kept;
                break;
            }
            to[done] = param.rangeLimit[reduced::dcSample(dc, param.rangeLimit)];
        }
        count = 0;
    }
    for (; done < count; ++done) {
        if (!run.next(ctx)) break;
        transformBlocks(ctx, kernels, plan, run.acNonzero);
        if (grey) {
            const int width = param.component[0].reducedWidth, height = param.component[0].reducedHeight;
            uint8_t* to = ctx->writePointer + size_t(column + done) * size_t(width);
            for (int line = 0; line < height; ++line)
                for (int x = 0; x < width; ++x)
                    to[line * ctx->lineStride + x] = param.rangeLimit[greySamples[line * width + x]];
        } else if (ycc) {
            storeYccRaster(ctx->upsampled[0], ctx->upsampled[1], ctx->upsampled[2],
                           ctx->writePointer + size_t(column + done) * 3 * kBlockSide, ctx->lineStride);
        } else {
            storeMcu(ctx, column + done, row);
        }
    }
    run.end(ctx, done);
    return done;
}

}  // namespace

int32_t decodeMcuFast(DecoderContext* ctx)
{
    BitBuffer in;
    BufferStart start;
    if (!openBuffer(&ctx->cursor, in, start)) return decodeMcuReference(ctx);
    int32_t predictors[kMaxComponents];
    std::memcpy(predictors, ctx->dcPredictors, sizeof(predictors));
    McuPlan plan;
    planMcu(ctx, predictors, &plan);
    int acNonzero[kMaxComponents * kMaxBlocksPerComponent];
    if (!decodeBlocks(ctx, in, plan, acNonzero)) return decodeMcuReference(ctx);
    storeCursor(in, start.firstStart, start.firstEnd, start.firstBits, &ctx->cursor);
    std::memcpy(ctx->dcPredictors, predictors, sizeof(predictors));
    transformBlocks(ctx, decoderKernels(), plan, acNonzero);
    return 0;
}

int32_t decodeRunFast(DecoderContext* ctx, int32_t column, int32_t count)
{
    Run run;
    if (!run.open(ctx, false)) return 0;
    const DecoderKernels& kernels = decoderKernels();
    const int* acNonzero = run.acNonzero;
    const bool gray = ctx->componentCount == 1;
    int32_t done = 0;
    for (; done < count; ++done) {
        if (!run.next(ctx)) break;
        if (gray) {
            // One block per MCU: transformed straight into the band.
            uint8_t* out = ctx->writePointer + size_t(column + done) * kBlockSide;
            if (acNonzero[0] == 0) {
                kernels.idctDcOnlyBytes(ctx->fastBlocks[0][0], out, ctx->lineStride);
                ctx->fastBlocks[0][0] = 0;
            } else {
                kernels.idctBytes(ctx->fastBlocks[0], out, ctx->lineStride);
            }
        } else {
            transformBlocks(ctx, kernels, run.plan, acNonzero);
            storeWholeMcu(ctx, column + done);
        }
    }
    run.end(ctx, done);
    return done;
}

int32_t decodePreviewRun(DecoderContext* ctx, int32_t column, int32_t row, int32_t count)
{
    return previewRun(ctx, column, row, count);
}

}  // namespace mox
