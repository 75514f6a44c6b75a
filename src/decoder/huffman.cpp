// Baseline Huffman decoding of one MCU (T.81 F.2.2). Every MCU is decoded
// completely or not at all: when the data runs out inside it, the whole
// cursor and the DC predictors go back to their state at the MCU's start,
// so the driver can refill and decode it again from there.
#include <cstring>

#include "decoder/decoder.h"
#include "frame/markers.h"
#include "frame/errlog.h"

namespace mox {

namespace {

constexpr int32_t kMaxCodeLength = 16;
constexpr int32_t kEndOfBlock = 0x00;
constexpr int32_t kZeroRun = 0xF0;      // ZRL: sixteen zero coefficients
constexpr int32_t kEoiInBlock = 217;    // EOI met where an AC symbol was due
constexpr int32_t kMaxBlocksPerComponent = 4;

// Extends an s-bit magnitude to its signed value (T.81 F.2.2.1, EXTEND).
inline int32_t extend(int32_t bits, int32_t s)
{
    return bits < (1 << (s - 1)) ? bits + 1 - (1 << s) : bits;
}

// Reads the s extra bits of a coefficient; a marker in their place leaves
// the block corrupt.
int32_t readExtraBits(BitCursor* cursor, int32_t s, int32_t* value)
{
    if (checkJpgBits(cursor, s) != 0) return kNeedMoreData;
    int32_t bits = getJpgValue(cursor, s);
    if (bits < 0) return MOX_FAIL("decodeHuffman", MOX_ERR_CORRUPT, nullptr);
    *value = extend(bits, s);
    return 0;
}

}  // namespace

// Bit-serial search of the canonical code list: one bit read and one
// comparison per code length, no lookahead tables.
int32_t decode1Huffman(BitCursor* cursor, const HuffDecodeTable* table)
{
    const int32_t count = static_cast<int32_t>(table->count);
    uint32_t code = 0;
    int32_t length = 0;
    int32_t i = 0;
    while (i < count && length < kMaxCodeLength) {
        ++length;
        if (checkJpgBits(cursor, 1) != 0) return kNeedMoreData;
        int32_t bit = getJpgValue(cursor, 1);
        if (bit < 0) return bit;  // a marker in place of a code
        code = code * 2 + static_cast<uint32_t>(bit);
        while (i < count && table->lengths[i] == static_cast<uint32_t>(length)) {
            if (table->codes[i] == code) return static_cast<int32_t>(table->symbols[i]);
            ++i;
        }
    }
    return MOX_FAIL("decode1Huffman", MOX_ERR_CORRUPT, nullptr);
}

int32_t decodeHuffman(BitCursor* cursor, const HuffDecodeTable* dcTable,
                      const HuffDecodeTable* acTable, int32_t* dcPredictor, int32_t* block)
{
    int32_t t = decode1Huffman(cursor, dcTable);
    if (t == kNeedMoreData) return kNeedMoreData;
    if (t < 0 || t > kMaxCodeLength) return MOX_FAIL("decodeHuffman", MOX_ERR_CORRUPT, nullptr);
    int32_t difference = 0;
    if (t > 0) {
        int32_t status = readExtraBits(cursor, t, &difference);
        if (status != 0) return status;
    }
    // The predictor wraps like the two's-complement sum it is; only a
    // corrupt stream gets near the limits.
    *dcPredictor = static_cast<int32_t>(static_cast<uint32_t>(*dcPredictor) +
                                        static_cast<uint32_t>(difference));
    block[0] = *dcPredictor;

    for (int32_t k = 1; k < 64; ++k) {
        int32_t rs = decode1Huffman(cursor, acTable);
        if (rs == -kMarkerEoi) return kEoiInBlock;
        if (rs == kNeedMoreData) return kNeedMoreData;
        if (rs == kEndOfBlock) {
            std::memset(block + k, 0, sizeof(int32_t) * static_cast<size_t>(64 - k));
            return 0;
        }
        if (rs < 0) return MOX_FAIL("decodeHuffman", MOX_ERR_CORRUPT, nullptr);
        int32_t s = rs & 15;
        int32_t r = rs >> 4;
        int32_t value = 0;
        if (s > 0) {
            int32_t status = readExtraBits(cursor, s, &value);
            if (status != 0) return status;
        } else if (rs != kZeroRun) {
            return MOX_FAIL("decodeHuffman", MOX_ERR_CORRUPT, nullptr);
        }
        if (k + r > 63) return MOX_FAIL("decodeHuffman", MOX_ERR_CORRUPT, nullptr);
        for (int32_t z = 0; z < r; ++z) block[k++] = 0;
        block[k] = value;
    }
    return 0;
}

int32_t decodeMcu(BitCursor* cursor, const McuParam* param, int32_t* dcPredictors,
                  int32_t* const* planes)
{
    const BitCursor savedCursor = *cursor;
    const uint32_t savedSplice = *cursor->spliceFlag;
    int32_t savedPredictors[kMaxComponents];
    std::memcpy(savedPredictors, dcPredictors, sizeof(savedPredictors));

    int32_t coefficients[kMaxComponents][kMaxBlocksPerComponent][kBlockSamples];
    for (int c = 0; c < param->componentCount; ++c) {
        const McuComponent& component = param->component[c];
        int blocks = component.hSamp * component.vSamp;
        for (int b = 0; b < blocks; ++b) {
            int32_t status = decodeHuffman(cursor, component.dcTable, component.acTable,
                                           &dcPredictors[c], coefficients[c][b]);
            if (status == kNeedMoreData) {
                *cursor = savedCursor;
                *cursor->spliceFlag = savedSplice;
                std::memcpy(dcPredictors, savedPredictors, sizeof(savedPredictors));
                return kNeedMoreData;
            }
            if (status != 0) return MOX_FAIL("decodeMcu", MOX_ERR_CORRUPT, nullptr);
        }
    }
    for (int c = 0; c < param->componentCount; ++c) {
        const McuComponent& component = param->component[c];
        const bool reduced = component.reducedWidth != 0;
        const int samples = reduced ? component.reducedWidth * component.reducedHeight : kBlockSamples;
        int blocks = component.hSamp * component.vSamp;
        for (int b = 0; b < blocks; ++b) {
            int32_t* output = planes[c + 1] + b * samples;
            if (!reduced) {
                D_idctBlock(coefficients[c][b], param, &component, output);
                continue;
            }
            D_idctReduced(coefficients[c][b], param, &component, blockCover(component, b), output);
        }
    }
    return 0;
}

}  // namespace mox
