// Tag-section coder: the palettes and class maps of the tag plane and of
// the blocks, the choice of tag mode that the parameter words allow, and
// the shorter of a run-coded and a raw candidate where both are allowed.
// Only block 3 may become a palette block, and only the tag plane and
// block 3 are analysed for two values.
#include <bit>
#include <cstring>

#include "frame/bits.h"
#include "frame/errlog.h"
#include "vela/coder.h"

namespace mox {

namespace {

constexpr int32_t kEntities = 5;        // tag plane, then blocks 0..3
constexpr uint32_t kTagEntityBit = 16;  // mask bit of the tag plane; block b is 8 >> b
constexpr uint32_t kBlockBits = 15;

struct Palette {
    uint8_t entry[3];
    uint8_t classOf[kVelaPixels];
    int32_t distinct;  // 1..3, or 4 for four or more values
};

// Palette in order of first appearance, walking in raster order, with up to
// `limit` entries; one more value stops the walk.
Palette analysePalette(const uint8_t* values, int32_t limit)
{
    Palette p{};
    for (int32_t i = 0; i < kVelaPixels; ++i) {
        int32_t k = 0;
        while (k < p.distinct && p.entry[k] != values[i]) ++k;
        if (k == p.distinct) {
            if (p.distinct == limit) {
                p.distinct = limit + 1;
                return p;
            }
            p.entry[p.distinct++] = values[i];
        }
        p.classOf[i] = static_cast<uint8_t>(k);
    }
    return p;
}

uint32_t entityBit(int32_t entity)
{
    return entity == 0 ? kTagEntityBit : velaFlagBit(entity - 1);
}

// What chooseTagModes decides.
struct ModeChoice {
    int32_t run;      // run family: 0, 1, or kTagModeNone
    int32_t raw;      // raw family: 2..6, or kTagModeNone
    int32_t pick;     // 1 raw, 2 run, 3 the shorter
    int32_t palette;  // 1: palette blocks allowed
};

constexpr ModeChoice kUniformOnly{kTagModeUniform, kTagModeNone, 2, 0};

ModeChoice chooseTagModes(int32_t t, uint8_t value, int32_t c2, int32_t c3, bool identical,
                          const uint32_t* word)
{
    if (t == 0) {
        if (word[27 + (value & 3)] == 1 || (c2 == 0 && c3 == 0)) return kUniformOnly;
        if (c2 == 0) return word[0] == 0 ? ModeChoice{kTagModeNone, kTagModeThreeColour, 1, 1} : kUniformOnly;
        if (c2 == 1) return word[1] == 0 ? ModeChoice{kTagModeRunCoded, kTagModeSharedBitmap, 3, 1} : kUniformOnly;
        int32_t w = 2 * (c2 - 1) + (identical ? 0 : 1);
        if (word[w] != 0) return kUniformOnly;
        return identical ? ModeChoice{kTagModeRunCoded, kTagModeSharedBitmap, 3, 1}
                         : ModeChoice{kTagModeNone, kTagModeBlockBitmaps, 1, 1};
    }
    if (t == 1) {
        const ModeChoice tagOnly{kTagModeRunCoded, kTagModeSharedBitmap, 3, 0};
        if (c2 == 0) return tagOnly;
        int32_t w = 8 + 2 * (c2 - 1) + (identical ? 0 : 1);
        if (word[w] != 0) return tagOnly;
        return identical ? ModeChoice{kTagModeRunCoded, kTagModeSharedBitmap, 3, 1}
                         : ModeChoice{kTagModeNone, kTagModeTagAndBlocks, 1, 1};
    }
    return ModeChoice{kTagModeNone, kTagModeRawTags, 1, 0};
}

struct ScanChoice {
    int32_t order;
    uint8_t firstClass;
    int32_t runs[kVelaPixels];
    int32_t count;
};

int32_t runCodeLength(int32_t run)
{
    uint32_t bits = 0;
    return velaRunCode(run, &bits);
}

ScanChoice scanRuns(const uint8_t* map, int32_t order)
{
    const uint8_t* scan = velaScanOrder(order);
    ScanChoice c{};
    c.order = order;
    c.firstClass = map[scan[0]] & 1;
    uint8_t current = c.firstClass;
    int32_t run = 0;
    for (int32_t t = 0; t < kVelaPixels; ++t) {
        uint8_t cls = map[scan[t]] & 1;
        if (cls != current) {
            c.runs[c.count++] = run;
            current = cls;
            run = 0;
        }
        ++run;
    }
    c.runs[c.count++] = run;
    return c;
}

// chooseScanOrder: the allowed order with the shortest run code; on a tie
// the lower order. All six excluded: raster.
ScanChoice chooseScanOrder(const uint8_t* map, const uint32_t* word)
{
    ScanChoice best = scanRuns(map, 0);
    int32_t bestBits = -1;
    for (int32_t x = 0; x < kVelaScanOrders; ++x) {
        if (word[20 + x] == 1) continue;
        ScanChoice c = scanRuns(map, x);
        int32_t bits = 0;
        for (int32_t i = 0; i < c.count; ++i) bits += runCodeLength(c.runs[i]);
        if (bestBits < 0 || bits < bestBits) {
            best = c;
            bestBits = bits;
        }
    }
    return best;
}

void put(BitString* s, uint32_t value, int32_t n)
{
    setValue(value, n, s->bytes, &s->byteIndex, &s->bitPos);
}

// Completes the last byte with 1-bits; returns the byte count.
int32_t closeSection(BitString* s)
{
    if (s->bitPos != 7) put(s, (1u << (s->bitPos + 1)) - 1u, s->bitPos + 1);
    return s->byteIndex;
}

struct Analysis {
    Palette tag;
    Palette block[kVelaBlocks];
    uint32_t flagsRun;  // F of the run candidate
    uint32_t flagsRaw;
    uint8_t sharedMap[kVelaPixels];
    bool tagTwoValued;
};

void writeColours(BitString* s, const Analysis& a, uint32_t flags, int32_t colourClass)
{
    for (int32_t b = 0; b < kVelaBlocks; ++b)
        if ((flags & velaFlagBit(b)) != 0) put(s, a.block[b].entry[colourClass], kTagColourBits);
}

void writeCommon(BitString* s, int32_t mode, uint32_t flags, int32_t order)
{
    put(s, static_cast<uint32_t>(mode), kTagModeBits);
    put(s, flags, kTagFlagBits);
    put(s, static_cast<uint32_t>(order), kTagScanBits);
}

// writeRunHeader and the run codes. Classes are renumbered so that the
// first pixel visited is class 0.
int32_t writeRunCandidate(BitString* s, const Analysis& a, int32_t mode, const ScanChoice& scan)
{
    if (mode == kTagModeNone) return 0;
    const uint32_t flags = a.flagsRun;
    writeCommon(s, mode, flags, mode == kTagModeRunCoded ? scan.order : 0);
    if (mode == kTagModeUniform) {
        put(s, a.tag.entry[0], kTagValueBits);
        return 0;
    }
    const int32_t first = scan.firstClass;
    put(s, a.tagTwoValued ? a.tag.entry[first] : a.tag.entry[0], kTagValueBits);
    writeColours(s, a, flags, first);
    put(s, a.tagTwoValued ? a.tag.entry[1 - first] : a.tag.entry[0], kTagValueBits);
    writeColours(s, a, flags, 1 - first);
    return CodeRle(mode, scan.runs, scan.count, s);
}

void writeMap(BitString* s, const uint8_t* map, int32_t width)
{
    for (int32_t p = 0; p < kVelaPixels; ++p) put(s, map[p] & ((1u << width) - 1u), width);
}

// writeMapHeader and writeMaps.
void writeRawCandidate(BitString* s, const Analysis& a, int32_t mode, const uint8_t* tagPlane)
{
    if (mode == kTagModeNone) return;
    const uint32_t flags = a.flagsRaw;
    writeCommon(s, mode, flags, 0);
    if (mode != kTagModeRawTags) put(s, a.tag.entry[0], kTagValueBits);
    const uint8_t y1 = a.tagTwoValued ? a.tag.entry[1] : a.tag.entry[0];
    switch (mode) {
    case kTagModeSharedBitmap:
        writeColours(s, a, flags, 0);
        put(s, y1, kTagValueBits);
        writeColours(s, a, flags, 1);
        writeMap(s, a.sharedMap, 1);
        break;
    case kTagModeBlockBitmaps:
    case kTagModeThreeColour:
    case kTagModeTagAndBlocks: {
        if (mode == kTagModeTagAndBlocks) put(s, y1, kTagValueBits);
        const int32_t classes = mode == kTagModeThreeColour ? 3 : 2;
        for (int32_t b = 0; b < kVelaBlocks; ++b)
            if ((flags & velaFlagBit(b)) != 0)
                for (int32_t k = 0; k < classes; ++k) put(s, a.block[b].entry[k], kTagColourBits);
        if (mode == kTagModeTagAndBlocks) writeMap(s, a.tag.classOf, 1);
        for (int32_t b = 0; b < kVelaBlocks; ++b)
            if ((flags & velaFlagBit(b)) != 0)
                writeMap(s, a.block[b].classOf, mode == kTagModeThreeColour ? 2 : 1);
        break;
    }
    case kTagModeRawTags:
        writeMap(s, tagPlane, 2);
        break;
    default:
        break;
    }
}

}  // namespace

int32_t CodeWyle(int32_t run, BitString* out)
{
    uint32_t bits = 0;
    int32_t length = velaRunCode(run, &bits);
    if (length == 0) return MOX_FAIL("CodeWyle", MOX_ERR_RUN_CODE, nullptr);
    put(out, bits, length);
    return length;
}

int32_t CodeRle(int32_t mode, const int32_t* runs, int32_t count, BitString* out)
{
    if (mode == kTagModeUniform) return 0;
    for (int32_t i = 0; i < count; ++i)
        if (CodeWyle(runs[i], out) < 0) return MOX_FAIL("CodeRle", MOX_ERR_ALLOC, nullptr);
    return 0;
}

int32_t codertagbit(const VelaEncodeParam* param, const uint8_t* tagPlane,
                    const uint8_t (*blocks)[kVelaPixels], uint8_t* section, uint8_t* headerByte)
{
    const uint32_t* word = param->word;
    Analysis a{};
    // analyseTagPalettes: the tag plane (two values at most are mapped),
    // then each block with up to three values.
    a.tag = analysePalette(tagPlane, 2);
    for (uint8_t& e : a.tag.entry) e &= 3;
    for (uint8_t& c : a.tag.classOf) c &= 3;
    const int32_t t = a.tag.distinct - 1;
    for (int32_t b = 0; b < kVelaBlocks; ++b) {
        a.block[b] = analysePalette(blocks[b], 3);
        if (a.block[b].distinct > 3) a.block[b] = Palette{{}, {}, 4};
    }
    uint32_t twoMask = 0;
    uint32_t threeMask = 0;
    for (int32_t e = 0; e < kEntities; ++e) {
        int32_t distinct = e == 0 ? a.tag.distinct : a.block[e - 1].distinct;
        if (distinct == 2) twoMask |= entityBit(e);
        if (distinct == 3 && e > 0) threeMask |= entityBit(e);
    }
    const uint32_t keep = (word[19] & 1) == 0 ? kTagEntityBit | velaFlagBit(3) : kTagEntityBit;
    twoMask &= keep;
    threeMask &= keep;
    const int32_t c2 = std::popcount(twoMask & kBlockBits);
    const int32_t c3 = std::popcount(threeMask & kBlockBits);
    a.tagTwoValued = (twoMask & kTagEntityBit) != 0;

    // checkSharedMap.
    bool identical = true;
    const uint8_t* first = nullptr;
    for (int32_t e = 0; e < kEntities; ++e) {
        if ((twoMask & entityBit(e)) == 0) continue;
        const uint8_t* map = e == 0 ? a.tag.classOf : a.block[e - 1].classOf;
        if (first == nullptr) first = map;
        else
            for (int32_t p = 0; p < kVelaPixels; ++p) identical &= (map[p] & 1) == (first[p] & 1);
    }
    const uint8_t* shared = identical && first != nullptr ? first : a.tag.classOf;
    for (int32_t p = 0; p < kVelaPixels; ++p) a.sharedMap[p] = shared[p] & 1;

    if (t < 0 || t > 2) return MOX_FAIL("codertagbit", MOX_ERR_TAG_CODER, nullptr);
    const ModeChoice choice = chooseTagModes(t, a.tag.entry[0], c2, c3, identical, word);

    // adjustPaletteFlags.
    uint32_t runMask = choice.run == kTagModeRunCoded ? twoMask : 0;
    uint32_t rawMask = 0;
    switch (choice.raw) {
    case kTagModeSharedBitmap:
    case kTagModeBlockBitmaps:
    case kTagModeTagAndBlocks: rawMask = twoMask; break;
    case kTagModeThreeColour: rawMask = c3 == 1 ? threeMask : 0; break;
    case kTagModeRawTags: rawMask = kTagEntityBit; break;
    default: break;
    }
    if (choice.palette == 0) {
        runMask &= kTagEntityBit;
        rawMask &= kTagEntityBit;
    }
    a.flagsRun = runMask & kBlockBits;
    a.flagsRaw = rawMask & kBlockBits;

    // Header form: short when asked, or when blocks 0..2 hold sample 0 only.
    bool zeroBlocks = true;
    for (int32_t b = 0; b < 3; ++b)
        zeroBlocks &= a.block[b].distinct == 1 && a.block[b].entry[0] == 0;
    const int32_t shortForm = word[26] == 1 || (word[26] == 2 && zeroBlocks) ? 1 : 0;

    uint8_t runMap[kVelaPixels] = {};
    if (choice.run == kTagModeRunCoded) std::memcpy(runMap, a.sharedMap, kVelaPixels);
    const ScanChoice scan = chooseScanOrder(runMap, word);

    uint8_t runBytes[kVelaTagSectionRoom] = {};
    uint8_t rawBytes[kVelaTagSectionRoom] = {};
    BitString run{runBytes, 0, 7};
    BitString raw{rawBytes, 0, 7};
    if (writeRunCandidate(&run, a, choice.run, scan) != 0)
        return MOX_FAIL("codertagbit", MOX_ERR_ALLOC, nullptr);
    writeRawCandidate(&raw, a, choice.raw, tagPlane);

    // pickTagSection.
    const bool takeRun = choice.pick == 2 || (choice.pick == 3 && run.bits() <= raw.bits());
    BitString& taken = takeRun ? run : raw;
    const int32_t length = closeSection(&taken) % 64;
    std::memcpy(section, taken.bytes, static_cast<size_t>(length));
    *headerByte = static_cast<uint8_t>((shortForm << 7) | length);
    return 0;
}

}  // namespace mox
