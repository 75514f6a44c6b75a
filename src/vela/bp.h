// The bp (mode 2) and copier (mode 3) MCU decoders and the table block that
// drives the bp tag section. Both decoders work on one whole MCU at a time:
// nothing is read until every byte of it is present, and nothing outside it.
#pragma once

#include <cstdint>

#include "decoder/context.h"
#include "frame/bits.h"

namespace mox {

// The bp table block: five tables of fixed-size records, each searched from
// its first row; the first row whose key bytes match is taken. Key bytes
// come first in a record, value bytes after them.
constexpr uint32_t kBpCnLenOffset = 0, kBpCnLenRows = 89, kBpCnLenBytes = 3;      // A, t | bits
constexpr uint32_t kBpAddLenOffset = 267, kBpAddLenRows = 99, kBpAddLenBytes = 3;  // A, D | bits
constexpr uint32_t kBpMbLenOffset = 564, kBpMbLenRows = 288, kBpMbLenBytes = 18;   // A, D, K | 15
constexpr uint32_t kBpMsOffset = 5748, kBpMsRows = 34, kBpMsBytes = 6;             // A | 5 sizes
constexpr uint32_t kBpColPosiOffset = 5952, kBpColPosiRows = 120, kBpColPosiBytes = 6;  // E | 5
static_assert(kBpColPosiOffset + kBpColPosiRows * kBpColPosiBytes == kBpTableBytes);

constexpr uint8_t kBpAnyD = 15;      // D column wildcard
constexpr uint8_t kBpAnyK = 25;      // K column wildcard
constexpr uint8_t kBpAbsent = 5;     // ms_TBL size code of an absent entity
constexpr uint8_t kBpNoMap = 4;      // mb_len_TBL map index of an entity without a map
constexpr uint8_t kBpNoK = 31;       // K when add_len_TBL gives no bits
constexpr uint8_t kBpNoD = 0;        // D of the entity set without entities (no D field)
constexpr uint8_t kBpEmptySet = 33;  // A of that set
constexpr uint8_t kBpRunCodedD = 14; // map 0 run-coded in scan order K
constexpr uint32_t kBpMapAreaBits = 264;  // map data beyond this is malformed

const uint8_t* bpDefaultTables();  // kBpTableBytes bytes
// Takes the value bytes of every record, and nothing else, from the caller's block.
void overlayBpTables(uint8_t* tables, const uint8_t* caller);

// Decodes an L-byte bp tag section into the tag plane (64 values 0..3), the
// palette blocks of blocks 0..3 and their flags (bit 3 = block 0 ... bit 0 =
// block 3). A malformed section leaves every output at zero; the reasons are
// printed on standard output. Always returns 0.
int32_t decodeBpTag(const uint8_t* tables, const uint8_t* section, uint32_t length,
                    uint8_t* tagPlane, int32_t (*paletteBlocks)[kBlockSamples],
                    uint32_t* paletteFlags);

// One MCU of mode 2 / mode 3: 0, kNeedMoreData (cursor back at the MCU
// start) or MOX_ERR_CORRUPT.
int32_t vela_bp_decodemcu(BitCursor* cursor, const McuParam* param, int32_t* const* planes);
int32_t vela_copier_decodeMcu(BitCursor* cursor, const McuParam* param, int32_t* const* planes);

}  // namespace mox
