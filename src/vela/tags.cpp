// Tag-section decoding: the common fields, the colours of palette blocks
// and the class maps (run-coded or raw). No read leaves the L bytes of the
// section: a section too short for its own fields or maps is corrupt.
#include <algorithm>
#include <bit>
#include <cstring>

#include "frame/bits.h"
#include "frame/errlog.h"
#include "vela/vela.h"

namespace mox {

namespace {

constexpr int32_t kMaxRunPrefix = 4;  // five one-bits would announce a run above 64

// getValue over a byte string of `limit` bits; -1 for a read past its end.
struct SectionReader {
    BitCursor cursor;
    int32_t limit;

    SectionReader(const uint8_t* bytes, int32_t count)
        : cursor{nullptr, 7, 0, const_cast<uint8_t*>(bytes), nullptr, nullptr, 0, 0},
          limit(count * 8)
    {
    }
    int32_t used() const { return cursor.byteIndex * 8 + 7 - cursor.bitPos; }
    int32_t read(int32_t n)
    {
        if (used() + n > limit) return -1;
        return getValue(&cursor, n);
    }
};

// Reads 64 values of `width` bits into map; false when the bits run out.
bool readMap(SectionReader& reader, int32_t width, uint8_t* map)
{
    for (int32_t p = 0; p < kVelaPixels; ++p) {
        int32_t v = reader.read(width);
        if (v < 0) return false;
        map[p] = static_cast<uint8_t>(v);
    }
    return true;
}

// The section's bits from `from` on, packed into bytes from bit 7.
int32_t repack(const uint8_t* bytes, int32_t count, int32_t from, uint8_t* out)
{
    int32_t bits = count * 8 - from;
    int32_t outBytes = (bits + 7) / 8;
    std::memset(out, 0xFF, static_cast<size_t>(outBytes));
    for (int32_t i = 0; i < bits; ++i) {
        int32_t at = from + i;
        uint8_t bit = (bytes[at / 8] >> (7 - at % 8)) & 1;
        if (bit == 0) out[i / 8] = static_cast<uint8_t>(out[i / 8] & ~(0x80 >> (i % 8)));
    }
    return outBytes;
}

struct TagFields {
    int32_t mode;
    uint32_t flags;
    int32_t scanOrder;
    int32_t flagged;
    uint8_t tagValue[2];
    uint8_t colour[kVelaBlocks][4];  // class 3 of a three-colour map has no colour: 0
};

// Reads `count` colour classes (c0, c1 or c2) for every flagged block.
bool readColours(SectionReader& reader, const TagFields& f, int32_t colourClass, uint8_t (*colour)[4])
{
    for (int32_t b = 0; b < kVelaBlocks; ++b) {
        if ((f.flags & velaFlagBit(b)) == 0) continue;
        int32_t v = reader.read(kTagColourBits);
        if (v < 0) return false;
        colour[b][colourClass] = static_cast<uint8_t>(v);
    }
    return true;
}

// parseTagHeader: the common fields and the fields of the mode.
bool parseTagHeader(SectionReader& reader, TagFields* f)
{
    int32_t m = reader.read(kTagModeBits);
    int32_t flags = reader.read(kTagFlagBits);
    int32_t x = reader.read(kTagScanBits);
    if (m < 0 || flags < 0 || x < 0) return false;
    f->mode = m;
    f->flags = static_cast<uint32_t>(flags);
    f->scanOrder = x;
    f->flagged = std::popcount(f->flags);
    if (m != kTagModeRawTags) {
        int32_t y0 = reader.read(kTagValueBits);
        if (y0 < 0) return false;
        f->tagValue[0] = static_cast<uint8_t>(y0);
    }
    auto readY1 = [&]() {
        int32_t y1 = reader.read(kTagValueBits);
        f->tagValue[1] = static_cast<uint8_t>(y1);
        return y1 >= 0;
    };
    switch (m) {
    case kTagModeRunCoded:
    case kTagModeSharedBitmap:
        return readColours(reader, *f, 0, f->colour) && readY1() && readColours(reader, *f, 1, f->colour);
    case kTagModeBlockBitmaps:
    case kTagModeThreeColour:
    case kTagModeTagAndBlocks: {
        if (m == kTagModeTagAndBlocks && !readY1()) return false;
        int32_t classes = m == kTagModeThreeColour ? 3 : 2;
        for (int32_t b = 0; b < kVelaBlocks; ++b) {
            if ((f->flags & velaFlagBit(b)) == 0) continue;
            for (int32_t k = 0; k < classes; ++k) {
                int32_t v = reader.read(kTagColourBits);
                if (v < 0) return false;
                f->colour[b][k] = static_cast<uint8_t>(v);
            }
        }
        return true;
    }
    default:
        return true;  // modes 0, 6 and 7 carry no further fields
    }
}

}  // namespace

int32_t decode_rle(int32_t scanOrder, const uint8_t* bytes, uint8_t* map, int32_t count)
{
    SectionReader reader(bytes, count);
    uint8_t sequence[kVelaPixels];
    int32_t done = 0;
    uint8_t value = 0;
    while (done < kVelaPixels) {
        int32_t ones = 0;
        int32_t bit;
        while ((bit = reader.read(1)) == 1 && ones <= kMaxRunPrefix) ++ones;
        if (bit < 0 || ones > kMaxRunPrefix) return MOX_FAIL("decode_rle", MOX_ERR_ALLOC, nullptr);
        int32_t suffix = reader.read(ones == 0 ? 2 : ones + 1);
        if (suffix < 0) return MOX_FAIL("decode_rle", MOX_ERR_ALLOC, nullptr);
        int32_t run = ones == 0 ? suffix + 1 : (1 << (ones + 1)) + 1 + suffix;
        if (done + run > kVelaPixels) return MOX_FAIL("decode_rle", MOX_ERR_ALLOC, nullptr);
        std::memset(sequence + done, value, static_cast<size_t>(run));
        done += run;
        value = static_cast<uint8_t>(1 - value);
    }
    const uint8_t* order = velaScanOrder(scanOrder);
    for (int32_t t = 0; t < kVelaPixels; ++t) map[order[t]] = sequence[t];
    return 0;
}

int32_t decodeRawMaps(int32_t mode, uint32_t flags, int32_t flagged, const uint8_t* bytes,
                      int32_t count, uint8_t* tagMap, uint8_t (*blockMaps)[kVelaPixels])
{
    SectionReader reader(bytes, count);
    std::memset(tagMap, 0, kVelaPixels);
    for (int32_t b = 0; b < kVelaBlocks; ++b) std::memset(blockMaps[b], 0, kVelaPixels);
    bool ok = true;
    switch (mode) {
    case kTagModeSharedBitmap:
    case kTagModeThreeColour: {
        // One map for every flagged block; in mode 2 it is the tag map too.
        uint8_t shared[kVelaPixels];
        ok = readMap(reader, mode == kTagModeSharedBitmap ? 1 : 2, shared);
        if (mode == kTagModeSharedBitmap) std::memcpy(tagMap, shared, kVelaPixels);
        for (int32_t b = 0; ok && b < kVelaBlocks; ++b)
            if ((flags & velaFlagBit(b)) != 0) std::memcpy(blockMaps[b], shared, kVelaPixels);
        break;
    }
    case kTagModeBlockBitmaps:
    case kTagModeTagAndBlocks: {
        // One map per flagged block in flag order, as many as the mode
        // carries; further flagged blocks keep class 0.
        int32_t maps = std::min(flagged, mode == kTagModeBlockBitmaps ? kMaxMapsMode3 : kMaxMapsMode5);
        if (mode == kTagModeTagAndBlocks) ok = readMap(reader, 1, tagMap);
        for (int32_t b = 0; ok && b < kVelaBlocks && maps > 0; ++b) {
            if ((flags & velaFlagBit(b)) == 0) continue;
            ok = readMap(reader, 1, blockMaps[b]);
            --maps;
        }
        break;
    }
    case kTagModeRawTags:
        ok = readMap(reader, 2, tagMap);
        break;
    default:
        break;
    }
    return ok ? 0 : MOX_FAIL("decodeRawMaps", MOX_ERR_ALLOC, nullptr);
}

int32_t decodertagbit(const uint8_t* tagBytes, uint8_t headerByte, uint8_t* tagPlane,
                      int32_t (*palette)[kVelaPixels], uint32_t* flags)
{
    const int32_t length = headerByte & kVelaTagLengthMask;
    SectionReader reader(tagBytes, length);
    TagFields f{};
    if (!parseTagHeader(reader, &f)) return MOX_FAIL("decodertagbit", MOX_ERR_ALLOC, nullptr);

    uint8_t tagMap[kVelaPixels] = {};
    uint8_t blockMaps[kVelaBlocks][kVelaPixels] = {};
    uint8_t mapBytes[kVelaTagLengthMask + 1];
    int32_t status = 0;
    if (f.mode == kTagModeUniform || f.mode == kTagModeRunCoded) {
        int32_t count = 2;
        const uint8_t* source = kVelaRunOf64;
        if (f.mode == kTagModeRunCoded) {
            count = repack(tagBytes, length, reader.used(), mapBytes);
            source = mapBytes;
        }
        status = decode_rle(f.scanOrder, source, tagMap, count);
        for (int32_t b = 0; b < kVelaBlocks; ++b) std::memcpy(blockMaps[b], tagMap, kVelaPixels);
    } else if (f.mode != kTagModeNone) {
        int32_t count = repack(tagBytes, length, reader.used(), mapBytes);
        status = decodeRawMaps(f.mode, f.flags, f.flagged, mapBytes, count, tagMap, blockMaps);
    }
    if (status != 0) return MOX_FAIL("decodertagbit", MOX_ERR_ALLOC, nullptr);

    for (int32_t p = 0; p < kVelaPixels; ++p) {
        uint8_t tagClass = f.mode == kTagModeBlockBitmaps || f.mode == kTagModeThreeColour ||
                                   f.mode == kTagModeNone
                               ? 0
                               : tagMap[p];
        tagPlane[p] = f.mode == kTagModeRawTags ? tagClass : f.tagValue[tagClass & 1];
    }
    // Modes 0, 6 and 7 send no colours: flagged blocks stay 0.
    for (int32_t b = 0; b < kVelaBlocks; ++b) {
        if ((f.flags & velaFlagBit(b)) == 0) continue;
        for (int32_t p = 0; p < kVelaPixels; ++p) palette[b][p] = f.colour[b][blockMaps[b][p] & 3];
    }
    *flags = f.flags;
    return 0;
}

}  // namespace mox
