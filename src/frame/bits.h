// Bit-level reading and writing shared by every coder. Bits are most
// significant first; bit 7 of a byte is read or written first. The JPEG
// routines honour 0xFF/0x00 stuffing and report markers as -(marker code).
#pragma once

#include <cstdint>

namespace mox {

// Internal status: the reader needs more input; nothing was consumed.
constexpr int32_t kNeedMoreData = -11111;

struct BitCursor {
    uint32_t* spliceFlag;   // decoder flag: 1 while data is the splice buffer
    int32_t bitPos;         // 7..0, next bit inside the current byte
    int32_t byteIndex;      // current byte in data
    uint8_t* data;          // piece or splice buffer being read / output being written
    uint8_t* pieceData;     // unread part of the caller's current piece
    uint8_t* spliceData;    // splice buffer (carried tail + first bytes of next piece)
    uint32_t available;     // valid bytes at pieceData
    uint32_t spliceLength;  // carried-over bytes at the start of spliceData
};

// Raw read of 0..8 bits; -1 for n > 8.
int32_t getValue(BitCursor* cursor, int32_t n);
// JPEG read of 1..8 bits with stuffing; -(marker) when a marker is met.
int32_t GetJpg1ByteValue(BitCursor* cursor, int32_t n);
// JPEG read of 1..16 bits; -(marker), or -1 for n > 16.
int32_t getJpgValue(BitCursor* cursor, int32_t n);
// Raw read of 1..16 bits bounded by `available`; 0 past the end; -99999 for n > 16.
int32_t getvelaValue(BitCursor* cursor, int32_t n);

// Raw write of 0..16 bits into a zero-filled buffer; -1 for n > 16.
int32_t setValue(uint32_t value, int32_t n, uint8_t* buffer, int32_t* byteIndex,
                 int32_t* bitPos);
// JPEG write of 1..8 bits; a completed 0xFF byte is followed by a stuffing 0x00.
int32_t setJpg1ByteValue(uint32_t value, int32_t n, BitCursor* cursor);
// JPEG write of 1..16 bits.
int32_t setJpgValue(uint32_t value, int32_t n, BitCursor* cursor);

// At a byte start: skips a stuffing byte after 0xFF; -(marker) for a marker.
int32_t checkJpgStuffing(const uint8_t* buffer, int32_t* byteIndex);
// Are the next n bits present? 0 or kNeedMoreData. Switches from the splice
// buffer to the piece once the carried bytes are used up.
int32_t checkJpgBits(BitCursor* cursor, int32_t n);
// Are n whole bytes present? 0 or kNeedMoreData; stores the index after a
// switch from the splice buffer into *indexSlot.
int32_t checkVelaBytes(BitCursor* cursor, int32_t n, int32_t* indexSlot);

}  // namespace mox
