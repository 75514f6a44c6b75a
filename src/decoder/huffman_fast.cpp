// Fast baseline Huffman decoding of one MCU, producing what decodeMcu
// (huffman.cpp) produces. Bits come from a 64-bit buffer refilled several
// bytes at a time; codes of up to kLookaheadBits bits, most with their extra
// bits, resolve in one look-up; the coefficients land dequantised in the
// transposed order of the vector inverse DCT, or, for a preview's reduced
// blocks, in row-major order for the reduced transform.
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
            bool hasFF = ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
            if (!hasFF) {
                int64_t bytes = (64 - count) >> 3;
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

struct Decoder {
    BitBuffer in;
    const HuffDecodeTable* dcTable;
    const HuffDecodeTable* acTable;
    const HuffLookahead* dcLook;
    const HuffLookahead* acLook;
    const uint16_t* acSkip;  // previews' one-sample blocks
    const uint32_t* acSkipGroups;
};

// A code longer than the look-up or none: its symbol (0..255), with its
// length in *length, or -1 when the MCU must go back to the reference.
int32_t longCode(uint64_t acc, const HuffLookahead& look, const HuffDecodeTable& table, int64_t* length)
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
// in increasing k): a zeroed block held transposed for the vector transform,
// or in row-major order for the reduced one; or the sums of a preview's
// block (reduced.h).
struct PutTransposed {
    int32_t* block;
    void operator()(int k, int32_t value) const { block[kZigzagToTransposed.index[k]] = value; }
};
struct PutNatural {
    int32_t* block;
    void operator()(int k, int32_t value) const { block[kZigzagToNatural[k]] = value; }
};

// One block through `put`. Returns 1 when it holds a nonzero AC
// coefficient, 0 when not, or -1 to hand the MCU back to the reference. The
// bit buffer lives in locals.
template <class Put>
inline int decodeBlock(Decoder& dec, const int32_t* quantZigzag, int32_t* predictor, Put& put)
{
    BitBuffer& in = dec.in;
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

    if (count < kRefillBelow) refill();
    int32_t s = symbol(*dec.dcLook, *dec.dcTable);
    if (s < 0 || s > kMaxCodeLength) return -1;
    int32_t difference = 0;
    if (s > 0) {
        if (count < kRefillBelow) refill();
        difference = take(s);
    }
    *predictor = static_cast<int32_t>(static_cast<uint32_t>(*predictor) + static_cast<uint32_t>(difference));
    put(0, static_cast<int32_t>(static_cast<uint32_t>(*predictor) * static_cast<uint32_t>(quantZigzag[0])));

    int nonzero = 0;
    const HuffLookahead& acLook = *dec.acLook;
    for (int k = 1; k < 64; ++k) {
        if (count < kRefillBelow) refill();
        uint32_t e = acLook.entry[acc >> (64 - kLookaheadBits)];
        int32_t value;
        if ((e & kEntryResolved) != 0) {
            acc <<= entryLength(e);
            count -= entryLength(e);
            value = entryValue(e);
            k += entryRun(e);
            nonzero = 1;
        } else {
            int64_t length = entryLength(e);
            int32_t rs = static_cast<int32_t>(entrySymbol(e));
            if (length == 0) {
                rs = longCode(acc, acLook, *dec.acTable, &length);
                if (rs < 0) return -1;
            }
            acc <<= length;
            count -= length;
            if (rs == 0) break;  // end of block
            int32_t size = rs & 15;
            k += rs >> 4;
            if (size > 0) {
                value = take(size);
                nonzero = 1;
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
    return nonzero;
}

// One block of which only the DC term counts (a preview's one-sample
// blocks): the AC codes and their extra bits are passed over unread.
// Returns the dequantised DC term in *dc and 0, or -1 as decodeBlock does.
inline int skipBlock(Decoder& dec, int32_t quantDc, int32_t* predictor, int32_t* dc)
{
    BitBuffer& in = dec.in;
    uint64_t acc = in.acc;
    int64_t count = in.count;
    auto refill = [&] {
        in.acc = acc;
        in.count = count;
        in.refill();
        acc = in.acc;
        count = in.count;
    };
    if (count < kRefillBelow) refill();
    uint32_t e = dec.dcLook->entry[acc >> (64 - kLookaheadBits)];
    int64_t length = entryLength(e);
    int32_t s = static_cast<int32_t>(entrySymbol(e));
    if (length == 0) {
        s = longCode(acc, *dec.dcLook, *dec.dcTable, &length);
        if (s < 0) return -1;
    }
    if (s > kMaxCodeLength) return -1;
    acc <<= length;
    count -= length;
    int32_t difference = 0;
    if (s > 0) {
        if (count < kRefillBelow) refill();
        difference = extend(static_cast<int32_t>(acc >> (64 - s)), s);
        acc <<= s;
        count -= s;
    }
    *predictor = static_cast<int32_t>(static_cast<uint32_t>(*predictor) + static_cast<uint32_t>(difference));
    *dc = static_cast<int32_t>(static_cast<uint32_t>(*predictor) * static_cast<uint32_t>(quantDc));

    // k: the next zig-zag position; a code past 63 is invalid, EOB jumps
    // far beyond.
    for (uint32_t k = 1; k < 64;) {
        if (count < kRefillBelow) refill();
        // Several short codes at once, while they end before position 64.
        const uint32_t group = dec.acSkipGroups[acc >> (64 - kSkipGroupBits)];
        if (group != 0 && k + (group >> 24) <= 64) {
            acc <<= group & 0xFF;
            count -= group & 0xFF;
            if ((group & 0x10000) != 0) break;
            k += (group >> 8) & 0xFF;
            continue;
        }
        uint32_t step = dec.acSkip[acc >> (64 - kLookaheadBits)];
        if (step == 0) {  // a longer code, none, or an invalid symbol
            if (entryLength(dec.acLook->entry[acc >> (64 - kLookaheadBits)]) != 0) return -1;
            int32_t rs = longCode(acc, *dec.acLook, *dec.acTable, &length);
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

// How a preview decodes a block: one sample of a whole block (its DC term
// only, the AC codes passed over), a square block inside the picture
// (summed while decoded), or any other (a row-major block for the
// reference transform).
enum class PreviewBlock { kDcOnly, kInside, kGeneral };

template <int N>
int decodeInside(Decoder& dec, const int32_t* quantZigzag, int32_t* predictor, const uint8_t* limit,
                 int32_t* out, int stride)
{
    reduced::InsideSums<N, N> sums;
    int result = decodeBlock(dec, quantZigzag, predictor, sums);
    if (result >= 0) sums.store(limit, out, stride);
    return result;
}

PreviewBlock previewBlockOf(const McuComponent& component, const BlockCover& cover)
{
    if (cover.cutAcross || cover.cutDown) return PreviewBlock::kGeneral;
    const int w = component.reducedWidth, h = component.reducedHeight;
    if (w == 1 && h == 1) return PreviewBlock::kDcOnly;
    return w == h && (w == 2 || w == 4) ? PreviewBlock::kInside : PreviewBlock::kGeneral;
}

// Decodes one block of a preview's component: into `block` the dequantised
// DC term (kDcOnly) or the dequantised row-major block (kGeneral); a
// kInside block's samples go to `out`, lines `stride` apart (even when a
// later block of the MCU hands it back). Returns < 0 to hand the MCU back
// to the reference.
int decodePreviewBlock(Decoder& dec, PreviewBlock kind, const McuComponent& component,
                       const int32_t* quantZigzag, int32_t* predictor, const uint8_t* limit, int32_t* block,
                       int32_t* out, int stride)
{
    switch (kind) {
    case PreviewBlock::kDcOnly:
        return skipBlock(dec, quantZigzag[0], predictor, block);
    case PreviewBlock::kInside:
        return component.reducedWidth == 2 ? decodeInside<2>(dec, quantZigzag, predictor, limit, out, stride)
                                           : decodeInside<4>(dec, quantZigzag, predictor, limit, out, stride);
    default: {
        std::memset(block, 0, sizeof(int32_t) * kBlockSamples);
        PutNatural put{block};
        return decodeBlock(dec, quantZigzag, predictor, put);
    }
    }
}

// The samples of a block that decodePreviewBlock left in `block`, lines
// `stride` apart (a kInside block's are there already).
void previewSamples(PreviewBlock kind, const int32_t* block, const McuParam& param,
                    const McuComponent& component, const BlockCover& cover, int32_t* out, int stride)
{
    if (kind == PreviewBlock::kDcOnly) {
        out[0] = reduced::dcSample(block[0], param.rangeLimit);
    } else if (kind == PreviewBlock::kGeneral) {
        const int w = component.reducedWidth, h = component.reducedHeight;
        int32_t samples[kBlockSamples];
        idctReducedDequantised(block, &param, &component, cover, samples);
        for (int j = 0; j < h; ++j)
            for (int m = 0; m < w; ++m) out[stride * j + m] = samples[w * j + m];
    }
}

// Puts the cursor where the reference would stand after the bits consumed:
// inside a partly read byte, or (lazily, as the reference does) at the byte
// after a fully read one, which for a stuffed 0xFF is its stuffing byte.
// Where the cursor stood inside a partly read byte when the buffer opened.
struct FirstByte {
    int64_t start = -1, end = -1;
    int bits = 0;
};

// Opens the bit buffer at the cursor (not in the splice buffer); false when
// the cursor stands at the end of the data or right before a marker.
bool openBuffer(const BitCursor& cursor, BitBuffer* buffer, FirstByte* first)
{
    BitBuffer& in = *buffer;
    in.data = cursor.data;
    in.end = cursor.available;
    in.acc = 0;
    in.count = 0;
    in.padding = 0;
    in.stopped = false;
    int64_t i = cursor.byteIndex;
    if (i >= in.end) return false;
    if (cursor.bitPos != 7) {
        // The rest of a partly read byte, then past its stuffing byte.
        first->start = i;
        first->bits = cursor.bitPos + 1;
        uint8_t byte = in.data[i];
        in.acc = uint64_t(byte & ((1u << first->bits) - 1)) << (64 - first->bits);
        in.count = first->bits;
        in.next = i + 1;
        if (byte == kMarkerPrefix) {
            if (in.next < in.end && in.data[in.next] == 0x00) ++in.next;
            else in.stopped = true;
        }
        first->end = in.next;
    } else if (i > 0 && in.data[i - 1] == kMarkerPrefix) {
        if (in.data[i] != 0x00) return false;  // a marker right here
        in.next = i + 1;
    } else {
        in.next = i;
    }
    in.clean = in.next;
    return true;
}

void storeCursor(const BitBuffer& in, const FirstByte& first, BitCursor* cursor)
{
    const int64_t firstStart = first.start, firstEnd = first.end;
    const int firstBits = first.bits;
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
            int size = ac ? static_cast<int>(symbol & 15) : 0;
            if (size > 0 && length + size <= kLookaheadBits) {
                int32_t bits = static_cast<int32_t>((prefix >> (kLookaheadBits - length - size)) &
                                                    ((1u << size) - 1));
                int32_t value = extend(bits, size);
                entry = symbol << 8 | uint32_t(length + size) | kEntryResolved | (symbol >> 4) << 16 |
                        static_cast<uint32_t>(value) << 22;
            }
        }
        look->entry[prefix] = entry;
    }
}

// The skip table of an AC table (DecoderContext::acSkip).
void buildSkip(const HuffDecodeTable& table, uint16_t* skip)
{
    for (uint32_t prefix = 0; prefix < (1u << kLookaheadBits); ++prefix) {
        uint32_t rs = 0;
        int length = table.count > MOX_HUFF_MAX_CODES
                         ? -1
                         : searchCode(table, prefix << (32 - kLookaheadBits), kLookaheadBits, &rs);
        uint32_t entry = 0;
        if (length > 0 && rs == 0) {
            entry = kSkipEndOfBlock << 8 | uint32_t(length);
        } else if (length > 0 && rs <= 0xFF && ((rs & 15) != 0 || rs == kZeroRun)) {
            entry = ((rs >> 4) + 1) << 8 | (uint32_t(length) + (rs & 15));
        }
        skip[prefix] = static_cast<uint16_t>(entry);
    }
}

// The group table of an AC table (DecoderContext::acSkipGroups), from its
// skip table: a code found in zero-padded bits that fits the prefix is the
// code there, the codes being free of prefixes.
void buildSkipGroups(const uint16_t* skip, uint32_t* groups)
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
        groups[prefix] = used == 0 ? 0 : (advance + end) << 24 | end << 16 | advance << 8 | used;
    }
}

}  // namespace

void buildLookaheadTables(DecoderContext* ctx)
{
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < kBlockSamples; ++k) ctx->quantZigzag[t][k] = ctx->quantTable[t][kZigzagToNatural[k]];
    for (int t = 0; t < 2; ++t) {
        buildLookahead(ctx->dcHuff[t], false, &ctx->dcLookahead[t]);
        buildLookahead(ctx->acHuff[t], true, &ctx->acLookahead[t]);
        buildSkip(ctx->acHuff[t], ctx->acSkip[t]);
        if (ctx->reduction == 8) buildSkipGroups(ctx->acSkip[t], ctx->acSkipGroups[t]);
    }
}

namespace {

// The tables of a component's blocks.
void useComponent(Decoder& dec, const DecoderContext* ctx, const McuComponent& component)
{
    const ptrdiff_t ac = component.acTable - ctx->acHuff;
    dec.dcTable = component.dcTable;
    dec.acTable = component.acTable;
    dec.dcLook = &ctx->dcLookahead[component.dcTable - ctx->dcHuff];
    dec.acLook = &ctx->acLookahead[ac];
    dec.acSkip = ctx->acSkip[ac];
    dec.acSkipGroups = ctx->acSkipGroups[ac];
}

const int32_t* quantFor(const DecoderContext* ctx, const McuComponent& component)
{
    return ctx->quantZigzag[(component.quantTable - ctx->quantTable[0]) / kBlockSamples];
}

}  // namespace

int32_t decodeMcuReference(DecoderContext* ctx)
{
    return decodeMcu(&ctx->cursor, &ctx->mcuParam, ctx->dcPredictors, ctx->planes);
}

int32_t decodeMcuFast(DecoderContext* ctx)
{
    BitCursor* cursor = &ctx->cursor;
    const McuParam& param = ctx->mcuParam;
    if (cursor->spliceFlag != nullptr && *cursor->spliceFlag != 0) return decodeMcuReference(ctx);

    Decoder dec;
    BitBuffer& in = dec.in;
    FirstByte first;
    if (!openBuffer(*cursor, &in, &first)) return decodeMcuReference(ctx);

    int32_t predictors[kMaxComponents];
    std::memcpy(predictors, ctx->dcPredictors, sizeof(predictors));
    alignas(64) int32_t blocks[kMaxComponents * kMaxBlocksPerComponent][kBlockSamples];
    int acNonzero[kMaxComponents * kMaxBlocksPerComponent];
    PreviewBlock kinds[kMaxComponents * kMaxBlocksPerComponent];
    int blockCount = 0;
    for (int c = 0; c < param.componentCount; ++c) {
        const McuComponent& component = param.component[c];
        useComponent(dec, ctx, component);
        const int32_t* quantZigzag = quantFor(ctx, component);
        const int blocksHere = component.hSamp * component.vSamp;
        const bool reduced = component.reducedWidth != 0;
        for (int b = 0; b < blocksHere; ++b, ++blockCount) {
            int32_t* block = blocks[blockCount];
            if (reduced) {
                kinds[blockCount] = previewBlockOf(component, blockCover(component, b));
                const int samples = component.reducedWidth * component.reducedHeight;
                acNonzero[blockCount] =
                    decodePreviewBlock(dec, kinds[blockCount], component, quantZigzag, &predictors[c],
                                       param.rangeLimit, block, ctx->planes[c + 1] + b * samples, component.reducedWidth);
            } else {
                std::memset(block, 0, sizeof(blocks[0]));
                PutTransposed put{block};
                acNonzero[blockCount] = decodeBlock(dec, quantZigzag, &predictors[c], put);
            }
            if (acNonzero[blockCount] < 0 || in.count < in.padding) return decodeMcuReference(ctx);
        }
    }

    storeCursor(in, first, cursor);
    std::memcpy(ctx->dcPredictors, predictors, sizeof(predictors));
    const IdctTransposedFn idct = decoderKernels().idctTransposed;
    const IdctDcOnlyFn idctDcOnly = decoderKernels().idctDcOnly;
    blockCount = 0;
    for (int c = 0; c < param.componentCount; ++c) {
        const McuComponent& component = param.component[c];
        const int blocksHere = component.hSamp * component.vSamp;
        if (component.reducedWidth != 0) {
            const int samples = component.reducedWidth * component.reducedHeight;
            for (int b = 0; b < blocksHere; ++b, ++blockCount)
                previewSamples(kinds[blockCount], blocks[blockCount], param, component, blockCover(component, b),
                               ctx->planes[c + 1] + b * samples, component.reducedWidth);
            continue;
        }
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

// Where block b of component c of a preview's MCU stands in the raster that
// storeMcu reads: blocks side by side go straight to their place in the
// MCU (upSample would only copy them there), a single column of blocks is
// the raster as it is. (A subsampled component reduced half as much needs
// no doubling.)
int32_t* placeOf(DecoderContext* ctx, int c, int b)
{
    const int h = ctx->hSamp[c];
    const int width = ctx->blockWidth[c], height = ctx->blockHeight[c];
    if (h == 1) return ctx->blockArea[c] + b * width * height;
    return ctx->upsampleArea[c] + (b / h) * height * ctx->mcuWidth + (b % h) * width;
}

// A preview's MCUs wholly inside the picture, one after another in the same
// bit buffer, straight into the band; see fast.h.
int32_t decodePreviewRun(DecoderContext* ctx, int32_t column, int32_t row)
{
    BitCursor* cursor = &ctx->cursor;
    const McuParam& param = ctx->mcuParam;
    if (cursor->spliceFlag != nullptr && *cursor->spliceFlag != 0) return 0;
    // Full-size extent of an MCU: the run stops before the picture's edge,
    // and before an MCU that a restart marker follows.
    const int64_t across = int64_t(kBlockSide) * ctx->hMax, down = int64_t(kBlockSide) * ctx->vMax;
    if ((row + 1) * down > ctx->imageHeight) return 0;
    int32_t count = static_cast<int32_t>(std::min<int64_t>(ctx->mcusPerRow, ctx->imageWidth / across)) - column;
    if (ctx->restartInterval != 0) count = std::min(count, ctx->restartInterval - ctx->restartCount - 1);
    if (count <= 0) return 0;

    Decoder dec;
    BitBuffer& in = dec.in;
    FirstByte first;
    if (!openBuffer(*cursor, &in, &first)) return 0;
    const BlockCover whole{};  // inside the picture: no cut
    const IdctTransposedFn idct = decoderKernels().idctTransposed;
    const IdctDcOnlyFn idctDcOnly = decoderKernels().idctDcOnly;
    // Full-size blocks (a subsampled component at 1/2) must not be tiled.
    for (int c = 0; c < param.componentCount; ++c)
        if (param.component[c].reducedWidth == 0 && param.component[c].hSamp != 1) return 0;
    const bool grey = param.componentCount == 1 && param.component[0].reducedWidth != 0 && ctx->hSamp[0] == 1 && ctx->vSamp[0] == 1 &&
                      ctx->bytesPerPixel == 1 && ctx->mcuWidth == param.component[0].reducedWidth;
    int32_t predictors[kMaxComponents];
    std::memcpy(predictors, ctx->dcPredictors, sizeof(predictors));
    alignas(64) int32_t blocks[kMaxComponents * kMaxBlocksPerComponent][kBlockSamples];
    int nonzero[kMaxComponents * kMaxBlocksPerComponent];
    int32_t done = 0;
    if (grey && previewBlockOf(param.component[0], whole) == PreviewBlock::kDcOnly) {
        // 1/8 grey: a byte a block.
        useComponent(dec, ctx, param.component[0]);
        const int32_t quantDc = quantFor(ctx, param.component[0])[0];
        uint8_t* to = ctx->writePointer + column;
        for (; done < count; ++done) {
            const BitBuffer start = in;
            const int32_t predictor = predictors[0];
            int32_t dc;
            if (skipBlock(dec, quantDc, &predictors[0], &dc) < 0 || in.count < in.padding) {
                in = start;  // the reference takes this MCU from its start
                predictors[0] = predictor;
                break;
            }
            to[done] = param.rangeLimit[reduced::dcSample(dc, param.rangeLimit)];
        }
        count = 0;  // skips the general loop
    }
    for (; done < count; ++done) {
        const BitBuffer start = in;
        int32_t startPredictors[kMaxComponents];
        std::memcpy(startPredictors, predictors, sizeof(predictors));
        int blockCount = 0;
        bool failed = false;
        for (int c = 0; c < param.componentCount && !failed; ++c) {
            const McuComponent& component = param.component[c];
            useComponent(dec, ctx, component);
            const int32_t* quantZigzag = quantFor(ctx, component);
            const bool reduced = component.reducedWidth != 0;
            const PreviewBlock kind = previewBlockOf(component, whole);
            const int blocksHere = component.hSamp * component.vSamp;
            for (int b = 0; b < blocksHere; ++b, ++blockCount) {
                int32_t* block = blocks[blockCount];
                int result;
                if (reduced) {
                    int32_t* out = grey ? block : placeOf(ctx, c, b);  // a grey block's samples wait in `block`
                    const int stride = grey || component.hSamp == 1 ? component.reducedWidth : ctx->mcuWidth;
                    result = decodePreviewBlock(dec, kind, component, quantZigzag, &predictors[c], param.rangeLimit,
                                                block, out, stride);
                } else {
                    std::memset(block, 0, sizeof(blocks[0]));
                    PutTransposed put{block};
                    result = decodeBlock(dec, quantZigzag, &predictors[c], put);
                }
                nonzero[blockCount] = result;
                if (result < 0 || in.count < in.padding) {
                    failed = true;
                    break;
                }
            }
        }
        if (failed) {  // the reference takes this MCU from its start
            in = start;
            std::memcpy(predictors, startPredictors, sizeof(predictors));
            break;
        }
        if (grey) {  // one block an MCU: its samples go straight into the band
            const McuComponent& component = param.component[0];
            const int width = component.reducedWidth, height = component.reducedHeight;
            uint8_t* to = ctx->writePointer + size_t(column + done) * size_t(width);
            int32_t samples[kBlockSamples];
            const PreviewBlock kind = previewBlockOf(component, whole);
            previewSamples(kind, blocks[0], param, component, whole, samples, width);
            const int32_t* from = kind == PreviewBlock::kInside ? blocks[0] : samples;
            for (int line = 0; line < height; ++line)
                for (int x = 0; x < width; ++x)
                    to[line * ctx->lineStride + x] = param.rangeLimit[from[line * width + x]];
            continue;
        }
        blockCount = 0;
        for (int c = 0; c < param.componentCount; ++c) {
            const McuComponent& component = param.component[c];
            const bool reduced = component.reducedWidth != 0;
            // storeMcu reads the blocks where they stand (placeOf).
            ctx->upsampled[c] = component.hSamp != 1 ? ctx->upsampleArea[c] : ctx->blockArea[c];
            for (int b = 0; b < component.hSamp * component.vSamp; ++b, ++blockCount) {
                const int stride = component.hSamp != 1 ? ctx->mcuWidth : component.reducedWidth;
                int32_t* out = placeOf(ctx, c, b);
                if (reduced) {
                    previewSamples(previewBlockOf(component, whole), blocks[blockCount], param, component, whole,
                                   out, stride);
                } else if (nonzero[blockCount] == 0) {  // a subsampled component at 1/2: the full transform
                    idctDcOnly(blocks[blockCount][0], out);
                } else {
                    idct(blocks[blockCount], out);
                }
            }
        }
        storeMcu(ctx, column + done, row);
    }
    if (done == 0) return 0;  // the cursor stays where it stands
    storeCursor(in, first, cursor);
    std::memcpy(ctx->dcPredictors, predictors, sizeof(predictors));
    ctx->restartCount += done;
    return done;
}

}  // namespace mox
