// The VELA MCU decoders (decoding modes 1..3) and the pieces they share:
// the driver's call shape, whole-MCU reads across a piece end, the block
// decoder without stuffing or DC prediction, and the rotation of an MCU.
// Every MCU is decoded completely or not at all, so a refill can retry it.
#pragma once

#include <cstdint>

#include "decoder/context.h"
#include "vela/format.h"

namespace mox {

// What the decode driver calls once per MCU in modes 1..3: 0, kNeedMoreData
// (the cursor is back at the MCU start) or a negative failure. planes[0] is
// the 64-byte tag plane, planes[1..4] the sample planes of components 0..3.
using VelaMcuDecoder = int32_t (*)(BitCursor* cursor, const McuParam* param,
                                   int32_t* const* planes);

// Mode 1 (decoder.cpp).
int32_t vela_decodemcu(BitCursor* cursor, const McuParam* param, int32_t* const* planes);

// Copies the next `count` bytes at the cursor into `out` without moving it:
// first what is left of the carried tail in the splice buffer, then the
// piece. kNeedMoreData when the stream so far holds fewer. Once the tail is
// used up the cursor is moved onto the piece first.
int32_t velaMcuBytes(BitCursor* cursor, int32_t count, uint8_t* out);
// Reads the two- or four-byte MCU header at the cursor into `mcu` and
// unpacks it, without moving the cursor: the header's size, or kNeedMoreData.
int32_t velaReadMcuHeader(BitCursor* cursor, uint8_t* mcu, VelaMcuHeader* header);
// Moves the cursor `count` bytes on (to bit 7), leaving the splice buffer
// for the piece when it passes the carried tail.
void velaSkipBytes(BitCursor* cursor, int32_t count);

// Tag section (tags.cpp). tagBytes holds the L bytes given by headerByte.
// Fills the tag plane and, for each block flagged in *flags, its palette
// samples; 0, or -1 for a section that its fields or maps overrun.
int32_t decodertagbit(const uint8_t* tagBytes, uint8_t headerByte, uint8_t* tagPlane,
                      int32_t (*palette)[kVelaPixels], uint32_t* flags);
// Run-coded class map in scan order x from `count` map bytes; 0 or -1.
int32_t decode_rle(int32_t scanOrder, const uint8_t* bytes, uint8_t* map, int32_t count);
// Raw maps of modes 2..6 from `count` map bytes (see format.h); 0 or -1
// when the maps need more bits than the section holds.
int32_t decodeRawMaps(int32_t mode, uint32_t flags, int32_t flagged, const uint8_t* bytes,
                      int32_t count, uint8_t* tagMap, uint8_t (*blockMaps)[kVelaPixels]);

// Block data (block.cpp): DC against 0, AC to EOB or position 63, no
// stuffing. Invalid data gives an all-zero block and 0; kNeedMoreData is
// passed up. Coefficients in zig-zag order.
int32_t decodeVelaBlock(BitCursor* cursor, const HuffDecodeTable* dcTable,
                        const HuffDecodeTable* acTable, int32_t* block);
// The same; *dcOnly = 1 when the first AC symbol is EOB, else 0.
int32_t decodeVelaBlockDc(BitCursor* cursor, const HuffDecodeTable* dcTable,
                          const HuffDecodeTable* acTable, int32_t* block, uint8_t* dcOnly);
// One symbol, bit by bit through getvelaValue; -99999 when no code of up to
// 16 bits matches.
int32_t veladecode1huffman(BitCursor* cursor, const HuffDecodeTable* table);

// Quarter turns of the MCU (param->rotation: 1 clockwise, 2 half, 3
// counter-clockwise) applied to the four sample planes and the tag plane.
void rotateMcu(int32_t* const* planes, const McuParam* param);

}  // namespace mox
