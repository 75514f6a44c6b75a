// MCU decoders of the bp (mode 2) and copier (mode 3) variants. Like mode 1,
// an MCU is gathered whole before anything is decoded, and its blocks are
// read through a cursor bounded to its bytes, so corrupt lengths or block
// data never read outside it; a retry after a refill starts at its header.
#include <cstring>

#include "decoder/decoder.h"
#include "frame/errlog.h"
#include "vela/bp.h"
#include "vela/vela.h"

namespace mox {

namespace {

constexpr int32_t kBpMaxMcuBytes = 128;
constexpr int32_t kCopierHeaderBytes = 3;
constexpr int32_t kCopierBlocks = 3;
constexpr int32_t kGreyFormat = 0;        // copier: component 0 only
constexpr int32_t kFourthOnlyFormat = 5;  // bp: block 3 only

// Decodes block k of the MCU, whose data starts at byte `at`, into its plane.
int32_t decodeBlock(BitCursor* mcu, int32_t at, const McuParam* param, int32_t k, int32_t* plane)
{
    int32_t coefficients[kVelaPixels];
    uint8_t dcOnly = 0;
    mcu->byteIndex = at;
    mcu->bitPos = 7;
    const McuComponent& component = param->component[k];
    int32_t status = decodeVelaBlockDc(mcu, component.dcTable, component.acTable, coefficients, &dcOnly);
    if (status != 0) return status;
    return D_idctBlock(coefficients, param, &component, plane);
}

void clearPlanes(int32_t* const* planes, int32_t last)
{
    for (int32_t i = 1; i <= last; ++i)
        if (planes[i] != nullptr) std::memset(planes[i], 0, kVelaPixels * sizeof(int32_t));
}

// The copier's quarter turns: the MCU's own R field, the fixed rotation, or
// both added, by the rotation rule; any other rule keeps the stored code.
uint32_t copierRotation(uint32_t field, const VelaCopierParam& copier, uint32_t stored)
{
    const uint32_t fixed = copier.words[0] & 3;
    switch (copier.words[1]) {
    case 0: return field;
    case 1: return fixed;
    case 2: return (field + fixed) & 3;
    default: return stored;
    }
}

}  // namespace

int32_t vela_bp_decodemcu(BitCursor* cursor, const McuParam* param, int32_t* const* planes)
{
    clearPlanes(planes, kVelaBlocks);
    uint8_t mcu[kBpMaxMcuBytes];
    VelaMcuHeader header;
    const int32_t headerBytes = velaReadMcuHeader(cursor, mcu, &header);
    if (headerBytes < 0) return headerBytes;
    const int32_t size = param->mcuSize;
    if (size > kBpMaxMcuBytes || headerBytes + velaBodyBytes(header) > size)
        return MOX_FAIL("vela_bp_decodemcu", MOX_ERR_CORRUPT, nullptr);
    int32_t status = velaMcuBytes(cursor, size, mcu);  // the filler included
    if (status != 0) return status;

    int32_t palette[kVelaBlocks][kVelaPixels];
    uint32_t flags = 0;
    decodeBpTag(param->bpTables, mcu + headerBytes, uint32_t(header.tagBytes),
                reinterpret_cast<uint8_t*>(planes[0]), palette, &flags);
    BitCursor blocks{nullptr, 7, 0, mcu, mcu, nullptr, static_cast<uint32_t>(size), 0};
    int32_t offset = headerBytes + header.tagBytes;
    for (int32_t k = header.shortForm != 0 ? kVelaBlocks - 1 : 0; k < kVelaBlocks; ++k) {
        const bool skipped = (flags & velaFlagBit(k)) != 0 ||
                             (param->outFormat == kFourthOnlyFormat && k < kVelaBlocks - 1);
        if (!skipped && decodeBlock(&blocks, offset, param, k, planes[k + 1]) != 0)
            return MOX_FAIL("vela_decodemcu", MOX_ERR_CORRUPT, nullptr);
        offset += header.blockBytes[k];
    }
    for (int32_t k = 0; k < kVelaBlocks; ++k)
        if ((flags & velaFlagBit(k)) != 0) std::memcpy(planes[k + 1], palette[k], sizeof(palette[k]));
    if (param->rotation != 0) rotateMcu(planes, param);
    velaSkipBytes(cursor, size);
    return 0;
}

int32_t vela_copier_decodeMcu(BitCursor* cursor, const McuParam* param, int32_t* const* planes)
{
    clearPlanes(planes, kCopierBlocks);
    uint8_t mcu[kVelaMcuBytes];
    int32_t status = velaMcuBytes(cursor, kCopierHeaderBytes, mcu);
    if (status != 0) return status;
    // 24 bits: 2 unused, R (2), 2 unused, then three 6-bit block lengths.
    const uint32_t bits = uint32_t(mcu[0]) << 16 | uint32_t(mcu[1]) << 8 | mcu[2];
    const uint32_t field = bits >> 20 & 3;
    const int32_t lengths[kCopierBlocks] = {int32_t(bits >> 12 & 0x3F), int32_t(bits >> 6 & 0x3F),
                                            int32_t(bits & 0x3F)};
    const int32_t used = kCopierHeaderBytes + lengths[0] + lengths[1] + lengths[2];
    if (used > kVelaMcuBytes) return MOX_FAIL("vela_bp_decodemcu", MOX_ERR_CORRUPT, nullptr);
    const int32_t size = param->copier.variableSize != 0 ? used : kVelaMcuBytes;
    status = velaMcuBytes(cursor, size, mcu);
    if (status != 0) return status;

    // Grey output needs component 0 only; the cursor still passes all three blocks.
    const int32_t decoded = param->outFormat == kGreyFormat               ? 1
                            : param->componentCount < kCopierBlocks ? param->componentCount
                                                                    : kCopierBlocks;
    BitCursor blocks{nullptr, 7, 0, mcu, mcu, nullptr, static_cast<uint32_t>(size), 0};
    int32_t offset = kCopierHeaderBytes;
    for (int32_t k = 0; k < kCopierBlocks; ++k) {
        if (k < decoded && decodeBlock(&blocks, offset, param, k, planes[k + 1]) != 0)
            return MOX_FAIL("vela_copier_decodeMcu", MOX_ERR_CORRUPT, nullptr);
        offset += lengths[k];
    }
    McuParam turned = *param;
    turned.rotation = copierRotation(field, param->copier, param->rotation);
    if (turned.rotation != 0) rotateMcu(planes, &turned);
    velaSkipBytes(cursor, size);
    return 0;
}

}  // namespace mox
