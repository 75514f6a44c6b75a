// Byte-level and marker readers shared by the header analysis and the
// decoder's restart handling, over a buffer that is never refilled while
// they run:
// every read is bounded by `size`. Words and skips keep one byte of slack
// (they need strictly more bytes than they take); single bytes do not.
// Each reader records its own failure ("GetByte", "GetWord", "SkipByte",
// "GetMarker"); the caller records again under its own name.
#pragma once

#include <cstdint>

namespace mox {

struct ByteReader {            // a buffer, its size and a position
    const uint8_t* data;
    uint32_t size;             // bytes that may be read
    uint32_t offset;           // next byte
};

// Reads one byte: 0, or 1 when the buffer has ended (nothing consumed).
int GetByte(ByteReader* reader, uint8_t* value);
// Reads a big-endian 16-bit value; needs at least 3 bytes left. 0 or 1.
int GetWord(ByteReader* reader, uint32_t* value);
// Advances by n; needs more than n bytes left. 0, or 1 without moving.
int SkipByte(ByteReader* reader, uint32_t n);

// Returns the marker code, 1 when the buffer ended, 0xFF when the bytes are
// not a marker. The bytes read stay consumed. Fill bytes (0xFF 0xFF) are not
// skipped: the second 0xFF comes back as 0xFF. The temporary marker 0x01 is
// indistinguishable from the end of the buffer.
uint8_t GetMarker(ByteReader* reader);
constexpr uint8_t kMarkerBufferEnded = 1;
constexpr uint8_t kMarkerInvalid = 0xFF;

// Bytes left between the position and the end of the buffer (0 when the
// position is already past it).
inline uint32_t bytesLeft(const ByteReader* reader)
{
    return reader->offset < reader->size ? reader->size - reader->offset : 0;
}

}  // namespace mox
