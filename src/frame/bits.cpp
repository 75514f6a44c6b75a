// Bit reader and writer. Only getvelaValue, checkJpgBits and checkVelaBytes
// look at the buffer end: JPEG readers are always preceded by checkJpgBits,
// and writers rely on the caller reserving room before each MCU.
#include "frame/bits.h"
#include "frame/markers.h"

#include "frame/errlog.h"
#include "moxcodec.h"

namespace mox {

namespace {

inline uint32_t lowMask(int32_t n)
{
    return (1u << n) - 1u;
}

// Moves the write position on by `count` bits inside the current byte;
// a completed byte moves the cursor to the next one at bit 7.
inline void advanceWriteBits(int32_t count, int32_t* byteIndex, int32_t* bitPos)
{
    *bitPos -= count;
    if (*bitPos < 0) {
        *bitPos = 7;
        ++*byteIndex;
    }
}

// Raw write of k <= 8 bits.
void putBits(uint32_t value, int32_t k, uint8_t* buffer, int32_t* byteIndex, int32_t* bitPos)
{
    value &= lowMask(k);
    int32_t room = *bitPos + 1;
    if (k <= room) {
        buffer[*byteIndex] |= static_cast<uint8_t>(value << (room - k));
        advanceWriteBits(k, byteIndex, bitPos);
        return;
    }
    int32_t spill = k - room;  // bits that go to the top of the next byte
    buffer[*byteIndex] |= static_cast<uint8_t>(value >> spill);
    ++*byteIndex;
    uint8_t& next = buffer[*byteIndex];
    next = static_cast<uint8_t>((next & (0xFFu >> spill)) | ((value & lowMask(spill)) << (8 - spill)));
    *bitPos = 7 - spill;
}

}  // namespace

int32_t getValue(BitCursor* cursor, int32_t n)
{
    if (n > 8) return MOX_FAIL("getValue", MOX_ERR_ALLOC, nullptr);
    if (n <= 0) return 0;
    const uint8_t* data = cursor->data;
    int32_t pos = cursor->bitPos;
    uint32_t current = data[cursor->byteIndex];
    if (n <= pos + 1) {
        uint32_t value = (current >> (pos - n + 1)) & lowMask(n);
        cursor->bitPos = pos - n;
        if (cursor->bitPos < 0) {
            cursor->bitPos = 7;
            ++cursor->byteIndex;
        }
        return static_cast<int32_t>(value);
    }
    int32_t fromNext = n - pos - 1;
    uint32_t next = data[cursor->byteIndex + 1];
    uint32_t value = ((current & lowMask(pos + 1)) << fromNext) | (next >> (8 - fromNext));
    ++cursor->byteIndex;
    cursor->bitPos = 7 - fromNext;
    return static_cast<int32_t>(value);
}

int32_t checkJpgStuffing(const uint8_t* buffer, int32_t* byteIndex)
{
    if (*byteIndex == 0 || buffer[*byteIndex - 1] != kMarkerPrefix) return 0;
    uint8_t skipped = buffer[*byteIndex];
    ++*byteIndex;
    if (skipped == 0x00) return 0;
    MOX_FAIL("setJpgValue", MOX_ERR_ALLOC, nullptr);
    return -static_cast<int32_t>(skipped);
}

int32_t GetJpg1ByteValue(BitCursor* cursor, int32_t n)
{
    int32_t high = 0;
    if (n > cursor->bitPos + 1) {
        int32_t rest = cursor->bitPos + 1;
        high = getValue(cursor, rest) << (n - rest);
        n -= rest;
    }
    if (cursor->bitPos == 7) {
        int32_t marker = checkJpgStuffing(cursor->data, &cursor->byteIndex);
        if (marker < 0) return MOX_FAIL("GetJpg1ByteValue", marker, nullptr);
    }
    int32_t low = getValue(cursor, n);
    if (low < 0) return low;
    return high + low;
}

int32_t getJpgValue(BitCursor* cursor, int32_t n)
{
    if (n > 16) return MOX_FAIL("getJpgValue", MOX_ERR_ALLOC, nullptr);
    int32_t high = 0;
    if (n > 8) {
        int32_t top = GetJpg1ByteValue(cursor, n - 8);
        if (top < 0) return MOX_FAIL("getJpgValue", top, nullptr);
        high = top << 8;
        n = 8;
    }
    int32_t low = GetJpg1ByteValue(cursor, n);
    if (low < 0) return MOX_FAIL("getJpgValue", low, nullptr);
    return high + low;
}

int32_t getvelaValue(BitCursor* cursor, int32_t n)
{
    if (n > 16) return MOX_FAIL("getvelaValue", MOX_ERR_CORRUPT, nullptr);
    if (n <= 0) return 0;  // nothing to read; the shift below needs n >= 1
    int64_t index = cursor->byteIndex;
    int64_t available = cursor->available;
    if (index >= available) return 0;
    const uint8_t* data = cursor->data;
    uint32_t word = uint32_t(data[index]) << 24;
    if (index + 1 < available) word |= uint32_t(data[index + 1]) << 16;
    if (index + 2 < available) word |= uint32_t(data[index + 2]) << 8;
    uint32_t value = (word >> (cursor->bitPos - n + 25)) & lowMask(n);
    int32_t travelled = (7 - cursor->bitPos) + n;
    cursor->byteIndex += travelled / 8;
    cursor->bitPos = 7 - travelled % 8;
    return static_cast<int32_t>(value);
}

int32_t checkJpgBits(BitCursor* cursor, int32_t n)
{
    if (cursor->spliceFlag != nullptr && *cursor->spliceFlag == 1) {
        // The splice buffer holds the carried tail plus the next piece's first
        // bytes; once the tail is read, continue in the piece itself. A byte
        // right after a 0xFF that ends the tail is either its stuffing 0x00
        // or a marker code, which only the splice buffer shows behind its
        // 0xFF; the cursor crosses it there. The lead bytes behind the tail
        // suffice for one value.
        int64_t intoPiece = int64_t(cursor->byteIndex) - cursor->spliceLength;
        bool behindTailFF = intoPiece == 0 && cursor->bitPos == 7 && cursor->byteIndex > 0 &&
                            cursor->data[cursor->byteIndex - 1] == kMarkerPrefix;
        if (intoPiece < 0 || behindTailFF) return 0;
        cursor->byteIndex = static_cast<int32_t>(intoPiece);
        cursor->data = cursor->pieceData;
        *cursor->spliceFlag = 0;
    }
    // Counts the data bits up to the piece end as the JPEG readers will take
    // them: a 0x00 after 0xFF is stuffing and holds none; a marker code
    // after 0xFF ends the read there (the reader returns the marker), so the
    // bits before it suffice. Every byte a read touches lies in the piece.
    const uint8_t* data = cursor->data;
    const int64_t end = cursor->available;
    int64_t i = cursor->byteIndex;
    if (i >= end) return kNeedMoreData;
    int32_t bits = cursor->bitPos + 1;
    if (cursor->bitPos == 7 && i > 0 && data[i - 1] == kMarkerPrefix) {
        if (data[i] != 0x00) return 0;
        bits = 0;
    }
    for (++i; bits < n; ++i) {
        if (i >= end) return kNeedMoreData;
        if (data[i - 1] != kMarkerPrefix) {
            bits += 8;
        } else if (data[i] != 0x00) {
            return 0;
        }
    }
    return 0;
}

int32_t checkVelaBytes(BitCursor* cursor, int32_t n, int32_t* indexSlot)
{
    if (cursor->spliceFlag != nullptr && *cursor->spliceFlag == 1) {
        int64_t intoPiece = int64_t(cursor->byteIndex) - cursor->spliceLength;
        if (intoPiece >= 0) {
            cursor->byteIndex = static_cast<int32_t>(intoPiece);
            cursor->data = cursor->pieceData;
            *cursor->spliceFlag = 0;
            *indexSlot = cursor->byteIndex;
        }
        return 0;
    }
    return int64_t(cursor->byteIndex) + n > int64_t(cursor->available) ? kNeedMoreData : 0;
}

int32_t setValue(uint32_t value, int32_t n, uint8_t* buffer, int32_t* byteIndex, int32_t* bitPos)
{
    if (n == 0) return 0;
    if (n < 0 || n > 16) return MOX_FAIL("setValue", MOX_ERR_ALLOC, nullptr);
    if (n > 8) {
        putBits(value >> 8, n - 8, buffer, byteIndex, bitPos);
        putBits(value, 8, buffer, byteIndex, bitPos);
    } else {
        putBits(value, n, buffer, byteIndex, bitPos);
    }
    return 0;
}

int32_t setJpg1ByteValue(uint32_t value, int32_t n, BitCursor* cursor)
{
    if (n < 1 || n > 8) return MOX_FAIL("setJpg1ByteValue", MOX_ERR_ALLOC, nullptr);
    int32_t left = n;
    while (left > 0) {
        int32_t chunk = cursor->bitPos + 1 < left ? cursor->bitPos + 1 : left;
        uint32_t bits = (value >> (left - chunk)) & lowMask(chunk);
        uint8_t& byte = cursor->data[cursor->byteIndex];
        byte |= static_cast<uint8_t>(bits << (cursor->bitPos - chunk + 1));
        left -= chunk;
        cursor->bitPos -= chunk;
        if (cursor->bitPos < 0) {
            cursor->bitPos = 7;
            bool stuff = byte == kMarkerPrefix;
            ++cursor->byteIndex;
            // The zero byte already in the buffer becomes the stuffing 0x00.
            if (stuff) ++cursor->byteIndex;
        }
    }
    return 0;
}

int32_t setJpgValue(uint32_t value, int32_t n, BitCursor* cursor)
{
    int32_t result;
    if (n <= 8) {
        result = setJpg1ByteValue(value & 0xFF, n, cursor);
    } else {
        result = setJpg1ByteValue((value >> 8) & 0xFF, n - 8, cursor);
        if (result == 0) result = setJpg1ByteValue(value & 0xFF, 8, cursor);
    }
    if (result < 0) return MOX_FAIL("setJpgValue", result, nullptr);
    return 0;
}

}  // namespace mox
