// The VELA MCU encoder: the tag-section coder, the byte budgets that make
// every MCU fit 64 bytes, and the copier that cuts each whole-coded block
// after the last code that fits, without coding it again.
#pragma once

#include <cstdint>

#include "encoder/context.h"
#include "vela/format.h"

namespace mox {

// Writing position in a zero-filled bit string (setValue's byte index and
// bit position).
struct BitString {
    uint8_t* bytes;
    int32_t byteIndex;
    int32_t bitPos;
    int32_t bits() const { return byteIndex * 8 + 7 - bitPos; }
};

// Tag section (tagcoder.cpp). Writes the section into `section` (zero-filled,
// at least kVelaTagSectionRoom bytes) and the MCU header byte (form and L).
// 0, or the negative code of the failing step (-99 or -1).
constexpr int32_t kVelaTagSectionRoom = 80;
int32_t codertagbit(const VelaEncodeParam* param, const uint8_t* tagPlane,
                    const uint8_t (*blocks)[kVelaPixels], uint8_t* section, uint8_t* headerByte);
// Appends the run code of `run` to `out`; its length, or -40.
int32_t CodeWyle(int32_t run, BitString* out);
// Appends the codes of `count` runs (none for run-family mode 0); 0 or -1.
int32_t CodeRle(int32_t mode, const int32_t* runs, int32_t count, BitString* out);

}  // namespace mox

namespace mox::enc {

// MCU coder (mcucoder.cpp): 0, or -8 on any failure.
int32_t MoxCodevelaMcu(EncoderContext* ctx, const BlockPointers* blocks, McuConfig* config);
// Byte budget of each block (written into config); 0 or -1.
int32_t calcAfixSize(int32_t shortForm, int32_t tagBytes, const CodePositions* positions,
                     int32_t blockCount, McuConfig* config);
// Index of the last code entry that fits `budget` bytes with an EOB after it; -1.
int32_t calcFixpos(const CodePositions* positions, int32_t budget, int32_t eobLength);
// Copies a coded block up to entry `cut`, without stuffing, with an EOB when
// entries were dropped, completed with 1-bits; 0 or -1.
int32_t copyCode(int32_t dcOnly, const BitCursor* block, int32_t cut,
                 const CodePositions* positions, int32_t eobLength, uint32_t eobCode,
                 uint8_t* out, int32_t* length);

}  // namespace mox::enc
