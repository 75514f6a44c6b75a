// The VELA MCU layout, defined once for the encoder and every VELA decoder:
// MCU header forms, tag-section fields and tag modes, the run code and the
// scan orders of the run-coded class map. An MCU stands alone: its header
// gives the length of every part, so it can be skipped without decoding.
#pragma once

#include <cstdint>

namespace mox {

constexpr int32_t kVelaMcuBytes = 64;          // fixed-size MCUs, and the limit of every MCU
constexpr int32_t kVelaBlocks = 4;             // one block of each of four components
constexpr int32_t kVelaPixels = 64;            // 8x8 pixels, index row * 8 + column
constexpr int32_t kVelaLongHeaderBytes = 4;
constexpr int32_t kVelaShortHeaderBytes = 2;
constexpr uint8_t kVelaShortFormBit = 0x80;    // in the MCU header byte; bits 6..0 are L
constexpr uint8_t kVelaTagLengthMask = 0x7F;
constexpr int32_t kVelaMaxTagBytes = 63;       // the writer keeps L to six bits
constexpr int32_t kVelaMaxBlockBytes = 63;     // six-bit block length fields
constexpr uint8_t kVelaShortLowBits = 0x03;    // set by the writer in the short header's byte 1
constexpr uint8_t kVelaFiller = 0xFF;          // pads a fixed-size MCU to 64 bytes
// A reader refuses an MCU whose tag section and block data exceed 64 bytes
// (header bytes not counted), so the longest MCU a reader meets is:
constexpr int32_t kVelaMaxMcuSpan = kVelaLongHeaderBytes + kVelaMcuBytes;

// Tag modes (field M, three bits). kTagModeNone is the encoder's "no
// candidate" and never appears in a stream; a reader meeting it keeps class 0.
enum VelaTagMode : int32_t {
    kTagModeUniform = 0,       // no map: every pixel class 0
    kTagModeRunCoded = 1,      // c0 per flagged block, Y1, c1 per flagged block; run-coded map
    kTagModeSharedBitmap = 2,  // fields as mode 1; one 64-bit map for tags and blocks
    kTagModeBlockBitmaps = 3,  // c0, c1 per flagged block; a 64-bit map per flagged block
    kTagModeThreeColour = 4,   // c0, c1, c2 per flagged block; one 2-bit-per-pixel map
    kTagModeTagAndBlocks = 5,  // Y1, c0, c1 per flagged block; tag map, then block maps
    kTagModeRawTags = 6,       // no Y0: 64 two-bit tag values
    kTagModeNone = 7,
};

// Field widths of the tag section, in writing order.
constexpr int32_t kTagModeBits = 3;
constexpr int32_t kTagFlagBits = 4;
constexpr int32_t kTagScanBits = 3;
constexpr int32_t kTagValueBits = 2;
constexpr int32_t kTagColourBits = 8;
constexpr int32_t kTagCommonBits = kTagModeBits + kTagFlagBits + kTagScanBits;  // 10
constexpr int32_t kMaxMapsMode3 = 3;  // block bitmaps a mode-3 reader takes
constexpr int32_t kMaxMapsMode5 = 2;  // block bitmaps after the tag map in mode 5

// F: bit 3 flags block 0 ... bit 0 flags block 3.
constexpr uint32_t velaFlagBit(int32_t block)
{
    return 8u >> block;
}

// Scan orders X of the run-coded map; 6 and 7 read as raster.
constexpr int32_t kVelaScanOrders = 6;
// velaScanOrder(x)[t]: the pixel visited t-th in scan order x (x taken mod 8).
const uint8_t* velaScanOrder(int32_t x);

// The run code (Wyle code) of a run of r = 1..64 pixels: 0 + two bits r - 1
// for r <= 4; else, with k = floor(log2(r - 1)), k - 1 one-bits, a zero and
// the low k bits of r - 1. velaRunCode gives its length and its bits
// (right-aligned), or 0 for a run outside 1..64.
int32_t velaRunCode(int32_t run, uint32_t* bits);
// The map bytes of a single run of 64 (11110 11111), used for mode 0.
constexpr uint8_t kVelaRunOf64[2] = {0xF7, 0xC0};

// The MCU header.
struct VelaMcuHeader {
    int32_t shortForm;       // 1: blocks 0..2 absent
    int32_t tagBytes;        // L
    int32_t blockBytes[kVelaBlocks];
};

constexpr int32_t velaHeaderBytes(int32_t shortForm)
{
    return shortForm != 0 ? kVelaShortHeaderBytes : kVelaLongHeaderBytes;
}
constexpr int32_t velaHeaderBytesOf(uint8_t firstByte)
{
    return velaHeaderBytes((firstByte & kVelaShortFormBit) != 0 ? 1 : 0);
}
// Writes the two or four header bytes; returns their number.
int32_t packVelaHeader(const VelaMcuHeader& header, uint8_t* out);
// Reads a header whose velaHeaderBytesOf(bytes[0]) bytes are present.
VelaMcuHeader unpackVelaHeader(const uint8_t* bytes);
// L + b0 + b1 + b2 + b3: the part a reader holds against kVelaMcuBytes.
int32_t velaBodyBytes(const VelaMcuHeader& header);

}  // namespace mox
