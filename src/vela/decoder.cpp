// Mode-1 MCU decoder. The whole MCU is gathered first (its header gives its
// length), so it is decoded completely or not at all, and every read stays
// inside the MCU's own bytes whatever the stream holds. An MCU that starts
// in the carried tail of the splice buffer is read from the tail and then
// from the piece, so a piece shorter than the rest of the MCU only means
// another retry with the tail kept.
#include <algorithm>
#include <cstring>

#include "decoder/decoder.h"
#include "frame/errlog.h"
#include "vela/vela.h"

namespace mox {

namespace {

bool readsSplice(const BitCursor* cursor)
{
    return cursor->spliceFlag != nullptr && *cursor->spliceFlag == 1;
}

// Once the carried tail is read, the cursor continues in the piece.
void leaveSpliceWhenPassed(BitCursor* cursor)
{
    if (readsSplice(cursor) && cursor->byteIndex >= static_cast<int32_t>(cursor->spliceLength)) {
        cursor->byteIndex -= static_cast<int32_t>(cursor->spliceLength);
        cursor->data = cursor->pieceData;
        *cursor->spliceFlag = 0;
    }
}

int32_t corrupt()
{
    return MOX_FAIL("vela_decodemcu", MOX_ERR_CORRUPT, nullptr);
}

}  // namespace

int32_t velaMcuBytes(BitCursor* cursor, int32_t count, uint8_t* out)
{
    leaveSpliceWhenPassed(cursor);
    int64_t fromTail = 0;
    if (readsSplice(cursor)) {
        fromTail = std::min<int64_t>(int64_t(cursor->spliceLength) - cursor->byteIndex, count);
        std::memcpy(out, cursor->data + cursor->byteIndex, static_cast<size_t>(fromTail));
    }
    int64_t pieceStart = readsSplice(cursor) ? 0 : cursor->byteIndex;
    int64_t fromPiece = count - fromTail;
    if (pieceStart + fromPiece > int64_t(cursor->available)) return kNeedMoreData;
    std::memcpy(out + fromTail, cursor->pieceData + pieceStart, static_cast<size_t>(fromPiece));
    return 0;
}

void velaSkipBytes(BitCursor* cursor, int32_t count)
{
    cursor->byteIndex += count;
    cursor->bitPos = 7;
    leaveSpliceWhenPassed(cursor);
}

void rotateMcu(int32_t* const* planes, const McuParam* param)
{
    const uint32_t rotation = param->rotation & 3;
    if (rotation == 0) return;
    // source[p]: the pixel whose value lands at p = row * 8 + column.
    uint8_t source[kVelaPixels];
    for (int32_t r = 0; r < 8; ++r)
        for (int32_t c = 0; c < 8; ++c) {
            int32_t from = rotation == 1 ? (7 - c) * 8 + r
                         : rotation == 2 ? 63 - (r * 8 + c)
                                         : c * 8 + (7 - r);
            source[r * 8 + c] = static_cast<uint8_t>(from);
        }
    for (int32_t i = 1; i <= kVelaBlocks; ++i) {
        if (planes[i] == nullptr) continue;
        int32_t copy[kVelaPixels];
        std::memcpy(copy, planes[i], sizeof(copy));
        for (int32_t p = 0; p < kVelaPixels; ++p) planes[i][p] = copy[source[p]];
    }
    uint8_t* tags = reinterpret_cast<uint8_t*>(planes[0]);
    uint8_t copy[kVelaPixels];
    std::memcpy(copy, tags, sizeof(copy));
    for (int32_t p = 0; p < kVelaPixels; ++p) tags[p] = copy[source[p]];
}

int32_t velaReadMcuHeader(BitCursor* cursor, uint8_t* mcu, VelaMcuHeader* header)
{
    int32_t status = velaMcuBytes(cursor, 1, mcu);
    if (status != 0) return status;
    const int32_t headerBytes = velaHeaderBytesOf(mcu[0]);
    status = velaMcuBytes(cursor, headerBytes, mcu);
    if (status != 0) return status;
    *header = unpackVelaHeader(mcu);
    return headerBytes;
}

int32_t vela_decodemcu(BitCursor* cursor, const McuParam* param, int32_t* const* planes)
{
    uint8_t mcu[kVelaMaxMcuSpan];
    VelaMcuHeader header;
    const int32_t headerBytes = velaReadMcuHeader(cursor, mcu, &header);
    if (headerBytes < 0) return headerBytes;
    const int32_t span = headerBytes + velaBodyBytes(header);
    if (velaBodyBytes(header) > kVelaMcuBytes) return corrupt();
    // A fixed-size MCU that would run into the next one is refused too.
    const bool fixedSize = param->sizeMode == 0;
    if (fixedSize && span > kVelaMcuBytes) return corrupt();
    const int32_t length = fixedSize ? kVelaMcuBytes : span;
    int32_t status = velaMcuBytes(cursor, length, mcu);
    if (status != 0) return status;

    uint8_t* tagPlane = reinterpret_cast<uint8_t*>(planes[0]);
    int32_t palette[kVelaBlocks][kVelaPixels] = {};
    for (int32_t i = 1; i <= kVelaBlocks; ++i)
        if (planes[i] != nullptr) std::memset(planes[i], 0, kVelaPixels * sizeof(int32_t));
    uint32_t flags = 0;
    if (decodertagbit(mcu + headerBytes, mcu[0], tagPlane, palette, &flags) != 0) return corrupt();

    // Blocks start at their own offsets, however many bits the previous one
    // used; reads past the MCU's last byte see zero bits. A block of length
    // 0 has no data and keeps samples 0, like the blocks the short form omits.
    BitCursor blocks{nullptr, 7, 0, mcu, mcu, nullptr, static_cast<uint32_t>(length), 0};
    int32_t offset = headerBytes + header.tagBytes;
    int32_t coefficients[kVelaPixels];
    for (int32_t i = header.shortForm != 0 ? kVelaBlocks - 1 : 0; i < kVelaBlocks; ++i) {
        const McuComponent& component = param->component[i];
        if ((flags & velaFlagBit(i)) == 0 && header.blockBytes[i] > 0 && planes[i + 1] != nullptr) {
            blocks.byteIndex = offset;
            blocks.bitPos = 7;
            status = decodeVelaBlock(&blocks, component.dcTable, component.acTable, coefficients);
            if (status != 0) return corrupt();
            D_idctBlock(coefficients, param, &component, planes[i + 1]);
        }
        offset += header.blockBytes[i];
    }
    for (int32_t i = 0; i < kVelaBlocks; ++i)
        if ((flags & velaFlagBit(i)) != 0 && planes[i + 1] != nullptr)
            std::memcpy(planes[i + 1], palette[i], sizeof(palette[i]));
    if (param->rotation != 0) rotateMcu(planes, param);
    velaSkipBytes(cursor, length);
    return 0;
}

}  // namespace mox
