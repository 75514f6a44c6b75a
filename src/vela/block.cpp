// Block data of a VELA MCU: T.81 Huffman codes read bit by bit without byte
// stuffing, the DC value taken against 0. A block whose codes make no sense
// decodes as all zeros and its MCU goes on: each block has its own bytes.
#include <algorithm>
#include <cstring>

#include "frame/bits.h"
#include "frame/errlog.h"
#include "vela/vela.h"

namespace mox {

namespace {

constexpr int32_t kMaxCodeBits = 16;
constexpr int32_t kEndOfBlock = 0x00;
constexpr int32_t kZeroRun = 0xF0;  // sixteen zeros

// T.81 F.2.2.1: a value of s bits whose top bit is 0 is negative.
inline int32_t extend(int32_t bits, int32_t s)
{
    return bits < (1 << (s - 1)) ? bits - (1 << s) + 1 : bits;
}

// 0: block complete; 1: invalid data; kNeedMoreData. *firstAcEob is set
// when the first AC symbol is EOB.
int32_t decodeBlockCodes(BitCursor* cursor, const HuffDecodeTable* dcTable,
                         const HuffDecodeTable* acTable, int32_t* block, bool* firstAcEob)
{
    std::memset(block, 0, kVelaPixels * sizeof(int32_t));
    *firstAcEob = false;
    int32_t s = veladecode1huffman(cursor, dcTable);
    if (s == kNeedMoreData) return kNeedMoreData;
    if (s < 0 || s > kMaxCodeBits) return 1;
    if (s > 0) block[0] = extend(getvelaValue(cursor, s), s);
    for (int32_t k = 1; k < kVelaPixels;) {
        int32_t rs = veladecode1huffman(cursor, acTable);
        if (rs == kNeedMoreData) return kNeedMoreData;
        if (rs < 0) return 1;
        if (rs == kEndOfBlock) {
            *firstAcEob = k == 1;
            return 0;
        }
        int32_t r = rs >> 4;
        int32_t size = rs & 15;
        if (size == 0 && rs != kZeroRun) return 1;
        if (k + r > kVelaPixels - 1) return 1;
        k += r;
        if (size != 0) block[k] = extend(getvelaValue(cursor, size), size);
        ++k;
    }
    return 0;
}

int32_t decodeBlock(BitCursor* cursor, const HuffDecodeTable* dcTable,
                    const HuffDecodeTable* acTable, int32_t* block, bool* firstAcEob)
{
    int32_t status = decodeBlockCodes(cursor, dcTable, acTable, block, firstAcEob);
    if (status == 1) {
        std::memset(block, 0, kVelaPixels * sizeof(int32_t));
        *firstAcEob = false;
        return 0;
    }
    return status;
}

}  // namespace

int32_t veladecode1huffman(BitCursor* cursor, const HuffDecodeTable* table)
{
    const int32_t count = static_cast<int32_t>(std::min<uint32_t>(table->count, MOX_HUFF_MAX_CODES));
    uint32_t code = 0;
    int32_t i = 0;
    for (int32_t length = 1; length <= kMaxCodeBits; ++length) {
        int32_t bit = getvelaValue(cursor, 1);
        if (bit < 0) return bit;
        code = code * 2 + static_cast<uint32_t>(bit);
        while (i < count && table->lengths[i] < static_cast<uint32_t>(length)) ++i;
        for (; i < count && table->lengths[i] == static_cast<uint32_t>(length); ++i)
            if (table->codes[i] == code) return static_cast<int32_t>(table->symbols[i]);
    }
    return MOX_FAIL("veladecode1huffman", MOX_ERR_CORRUPT, nullptr);
}

int32_t decodeVelaBlock(BitCursor* cursor, const HuffDecodeTable* dcTable,
                        const HuffDecodeTable* acTable, int32_t* block)
{
    bool firstAcEob = false;
    return decodeBlock(cursor, dcTable, acTable, block, &firstAcEob);
}

int32_t decodeVelaBlockDc(BitCursor* cursor, const HuffDecodeTable* dcTable,
                          const HuffDecodeTable* acTable, int32_t* block, uint8_t* dcOnly)
{
    bool firstAcEob = false;
    int32_t status = decodeBlock(cursor, dcTable, acTable, block, &firstAcEob);
    *dcOnly = firstAcEob ? 1 : 0;
    return status;
}

}  // namespace mox
