// The bp (mode 2) and copier (mode 3) variants against the test-side
// writer: every bp key a stream can carry round-trips through an MCU, the
// layout rules of both variants, malformed tag sections that print their
// reason, known rows of the default table block; and VELA streams of every
// mode through MoxDecode: the same pixels in any piece size and band
// height, cut streams that fail, a caller table block that changes exactly
// what its value bytes say.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "decoder/decoder.h"
#include "decoder/harness.h"
#include "frame/t81tables.h"
#include "vela/bp.h"
#include "vela_support.h"

namespace moxtest {
namespace {

using namespace velatest;

const uint8_t* const kTables = mox::bpDefaultTables();

std::string captureStdout(const std::function<void()>& run)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(VelaBp, EveryKeyRoundTripsThroughAnMcu)
{
    const std::vector<BpKey> keys = validKeys();
    bool seenA[34] = {};
    for (const BpKey& key : keys) seenA[key.a] = true;
    for (int a = 0; a <= 33; ++a) EXPECT_TRUE(seenA[a]) << "no valid key for A = " << a;
    int decoded[2] = {};  // MCUs of 64 and 128 bytes

    for (const BpKey& key : keys)
        for (int e : {0, 119, (key.a * 7 + key.d * 3 + key.k) % 120}) {
            const uint32_t seed = uint32_t(key.a * 1000 + key.d * 50 + key.k + e);
            BpTag tag = makeTag(kTables, key.a, key.d, key.k, e, seed % 5 == 0, seed);
            std::vector<uint8_t> section = writeBpTag(kTables, tag);
            BpPlanes want = bpExpected(kTables, tag);
            const bool shortForm = seed % 3 == 0;
            for (int size : {64, 128}) {
                McuDecoder v(2, uint32_t(size));
                std::vector<uint8_t> blocks[4];
                std::array<std::array<int32_t, 64>, 4> wantSamples{};
                for (int b = shortForm ? 3 : 0; b < 4; ++b) {
                    std::array<int32_t, 64> z = someCoefficients(seed + b);
                    blocks[b] = writeBlock(z.data(), false);  // a palette block's data is skipped
                    if (!(want.flags >> (3 - b) & 1)) wantSamples[b] = v.samples(z.data(), b);
                }
                for (int b = 0; b < 4; ++b)
                    if (want.flags >> (3 - b) & 1)
                        for (int p = 0; p < 64; ++p) wantSamples[b][p] = want.values[b + 1][p];
                std::vector<uint8_t> stream = writeBpMcu(section, blocks, shortForm, size);
                if (stream.size() > size_t(size)) {
                    ASSERT_EQ(size, 64) << "every section fits an MCU of 128 bytes";
                    continue;
                }
                stream.push_back(0x5A);  // the next MCU's first byte
                Mcu mcu;
                mox::BitCursor cursor = cursorOver(stream);
                const std::string where = "A " + std::to_string(key.a) + " D " + std::to_string(key.d) + " K " +
                                          std::to_string(key.k) + " E " + std::to_string(e) + " size " + std::to_string(size);
                std::string printed = captureStdout([&] {
                    ASSERT_EQ(mox::vela_bp_decodemcu(&cursor, &v.param, mcu.planes()), 0) << where;
                });
                ASSERT_EQ(printed, "") << where;
                EXPECT_EQ(cursor.byteIndex, size) << where;
                for (int p = 0; p < 64; ++p) ASSERT_EQ(mcu.tags[p], want.values[0][p]) << where << " tag " << p;
                for (int b = 0; b < 4; ++b) ASSERT_EQ(mcu.samples[b], wantSamples[b]) << where << " block " << b;
                ++decoded[size / 64 - 1];
            }
        }
    EXPECT_GT(decoded[0], 200) << "MCUs of 64 bytes";
    EXPECT_EQ(decoded[1], int(keys.size()) * 3) << "MCUs of 128 bytes";
}

// The layout rules of both variants, one case per rule: the status, where
// the cursor ends and which planes hold decoded data. (An MCU cut by a piece
// end is retried whole: the stream sweep below.)
TEST(VelaVariants, LayoutEdgeCases)
{
    const std::array<int32_t, 64> z = someCoefficients(17);
    const std::vector<uint8_t> block = writeBlock(z.data(), false);           // 2 bytes
    const std::vector<uint8_t> chromaBlock = writeBlock(z.data(), true);
    std::vector<uint8_t> ten = block;
    ten.resize(10, 0xFF);  // b3 = 10: the block's codes, then bytes it never reaches
    const std::vector<uint8_t> none;
    const std::vector<uint8_t> uniformTag = {0x84, 0x03};  // A 33, B 0, E 0, tag value 3
    std::vector<uint8_t> threeBytes = uniformTag;
    threeBytes.push_back(0xFF);

    struct Case {
        const char* name;
        int mode, size, outFormat;
        uint32_t rule;  // copier rotation rule (1: fixed rotation 0)
        bool variable;
        std::vector<uint8_t> stream;
        int32_t status;
        int32_t cursorAfter;
        std::array<bool, 4> decoded;  // planes that hold the block's samples
        uint32_t rotation;            // applied to the decoded planes
        uint8_t tag;                  // uniform tag value expected
    };
    const std::vector<uint8_t> bp4[4] = {block, block, block, block};
    const std::vector<uint8_t> bpShort[4] = {none, none, none, ten};
    std::vector<uint8_t> tag53 = uniformTag;
    tag53.resize(53, 0xFF);  // 4 + 53 + 4 x 2 = 65 bytes
    std::vector<uint8_t> over65 = writeBpMcu(tag53, bp4, false, 128);
    // Copier header 0x20 0x41 0x05: R = 2, b0 = 4, b1 = 4, b2 = 5.
    std::vector<uint8_t> b0 = block, b1 = chromaBlock, b2 = chromaBlock;
    b0.resize(4, 0xFF), b1.resize(4, 0xFF), b2.resize(5, 0xFF);
    const std::vector<uint8_t> copierBlocks[3] = {b0, b1, b2};
    std::vector<uint8_t> copier = writeCopierMcu(2, copierBlocks, false);
    std::vector<uint8_t> copierVariable = writeCopierMcu(2, copierBlocks, true);
    std::vector<uint8_t> copierOver = {0x0F, 0xFF, 0xFF};  // 3 + 63 + 63 + 63 bytes
    copierOver.resize(64, 0);

    const Case cases[] = {
        {"short form, L 3, b3 10: 49 filler bytes", 2, 64, 4, 1, false, writeBpMcu(threeBytes, bpShort, true, 64),
         0, 64, {false, false, false, true}, 0, 3},
        {"65 bytes against S 64", 2, 64, 4, 1, false, over65, MOX_ERR_CORRUPT, 0, {}, 0, 0},
        {"65 bytes against S 128 (map data past 264 bits: tag 0)", 2, 128, 4, 1, false, over65, 0, 128,
         {true, true, true, true}, 0, 0},
        {"outFormat 5 decodes block 3 only", 2, 64, 5, 1, false, writeBpMcu(threeBytes, bp4, false, 64), 0, 64,
         {false, false, false, true}, 0, 3},
        {"copier R 2 under rule 0 turns half way", 3, 64, 1, 0, false, copier, 0, 64, {true, true, true, false}, 2,
         0},
        {"copier outFormat 0: component 0, cursor after block 2", 3, 64, 0, 1, true, copierVariable, 0, 16,
         {true, false, false, false}, 0, 0},
        {"copier blocks beyond 64 bytes", 3, 64, 1, 1, false, copierOver, MOX_ERR_CORRUPT, 0, {}, 0, 0},
    };
    for (const Case& c : cases) {
        McuDecoder v(c.mode, uint32_t(c.size), c.outFormat);
        v.param.copier.words[1] = c.rule;
        v.param.copier.variableSize = c.variable ? 1 : 0;
        std::vector<uint8_t> stream = c.stream;
        Mcu mcu;
        for (auto& plane : mcu.samples) plane.fill(77);
        mox::BitCursor cursor = cursorOver(stream);
        int32_t status = c.mode == 2 ? mox::vela_bp_decodemcu(&cursor, &v.param, mcu.planes())
                                     : mox::vela_copier_decodeMcu(&cursor, &v.param, mcu.planes());
        ASSERT_EQ(status, c.status) << c.name;
        EXPECT_EQ(cursor.byteIndex, c.cursorAfter) << c.name;
        if (status != 0) continue;
        for (int b = 0; b < 4; ++b) {
            std::array<int32_t, 64> want{};
            if (c.decoded[b]) want = v.samples(z.data(), b);
            if (c.decoded[b] && c.rotation == 2) std::reverse(want.begin(), want.end());
            if (c.mode == 3 && b == 3) want.fill(77);  // the copier has no fourth plane
            EXPECT_EQ(mcu.samples[b], want) << c.name << ": plane " << b;
        }
        if (c.mode == 2)
            for (uint8_t t : mcu.tags) ASSERT_EQ(t, c.tag) << c.name;
    }
}

// Malformed sections: the message printed, and what is left of the outputs.
// A key that does not resolve (or a section too short for its fields, or
// map data past the 264-bit map area) zeroes everything; a broken map or
// palette keeps what was read before it.
TEST(VelaBpTag, MalformedSectionsPrintTheirReason)
{
    std::vector<uint8_t> badPosition(kTables, kTables + mox::kBpTableBytes);
    badPosition[mox::kBpColPosiOffset + 1] = 7;  // E 0: entity 0 at position 7
    std::vector<uint8_t> bigTagPalette(kTables, kTables + mox::kBpTableBytes);
    bigTagPalette[mox::kBpMsOffset + 1] = 3;  // A 0: four values, (A, t) = (0, 3) has no row
    std::vector<uint8_t> shortPalette(kTables, kTables + mox::kBpTableBytes);
    shortPalette[mox::kBpCnLenOffset + 3 + 2] = 3;  // (0, 1): 3 bits for two 2-bit values

    // Fields: A, D, E, then the palette bits, K, and map bits, as (value, bits) pairs.
    using Fields = std::vector<std::pair<uint32_t, uint32_t>>;
    const Fields runHeader = {{3, 6}, {0, 1}, {14, 4}, {0, 7}, {2, 2}, {1, 2}, {0xAB, 8}, {0xCD, 8}};
    auto with = [](Fields f, const Fields& more) {
        f.insert(f.end(), more.begin(), more.end());
        return f;
    };
    struct Case {
        const char* name;
        const uint8_t* tables;
        Fields fields;
        uint32_t length;  // section bytes (0: as written)
        const char* printed;
        uint32_t flags;
        int tagValue;     // uniform tag value expected
        int block0Value;  // uniform block 0 value, -1: all zero, -2: not checked
    };
    const Case cases[] = {
        {"A 34", kTables, {{34, 6}, {0, 1}, {1, 4}, {0, 7}, {0, 8}}, 0, "ms_TBL not found\n", 0, 0, -1},
        {"E 120", kTables, {{0, 6}, {0, 1}, {1, 4}, {120, 7}, {0, 8}}, 0, "col_posi TBL not found\n", 0, 0, -1},
        {"position 7", badPosition.data(), {{0, 6}, {0, 1}, {1, 4}, {0, 7}, {0, 8}}, 0, "DEC_wc_TBL search error\n",
         0, 0, -1},
        {"no palette row", bigTagPalette.data(), {{0, 6}, {0, 1}, {1, 4}, {0, 7}, {0, 16}}, 0,
         "cn_len_TBL not found\n", 0, 0, -1},
        {"A 3 has no D 5", kTables, {{3, 6}, {0, 1}, {5, 4}, {0, 7}, {0, 20}, {0, 8}}, 0,
         "add_len_TBL search error\n", 0, 0, -1},
        {"A 9 D 2 has no K 3", kTables, {{9, 6}, {0, 1}, {2, 4}, {0, 7}, {0, 36}, {3, 2}, {0, 8}}, 0,
         "mb_len_TBL search error\n", 0, 0, -1},
        {"fields cut short", kTables, {{3, 6}, {0, 1}, {14, 4}}, 0, "", 0, 0, -1},
        {"map data of 266 bits", kTables, {{0, 6}, {0, 1}, {1, 4}, {0, 7}, {2, 2}, {3, 2}, {0, 2}}, 36, "", 0, 0, -1},
        {"map data of 258 bits", kTables, {{0, 6}, {0, 1}, {1, 4}, {0, 7}, {2, 2}, {3, 2}, {0, 2}}, 35, "", 0, 2, -1},
        {"palette short of its values", shortPalette.data(), {{0, 6}, {0, 1}, {1, 4}, {0, 7}, {2, 2}, {1, 1}, {0, 3}},
         9, "cen val decode error,over cn_bit \n", 0, 2, -1},
        {"scan order 6", kTables, with(runHeader, {{6, 3}, {0xF7C0, 16}}), 0, "code broken,RLE scan range 0-5\n", 8,
         2, 0xAB},
        {"prefix of five ones", kTables, with(runHeader, {{0, 3}, {0x1F, 5}, {0, 8}}), 0,
         "Wyle code broken,code header over\n", 8, 2, 0xAB},
        {"runs 60 + 5", kTables, with(runHeader, {{0, 3}, {0x3DB, 10}, {0x8, 4}}), 0, "RLE data unmatch\n", 8, 2,
         0xAB},
        {"runs 32 + 32 decode", kTables, with(runHeader, {{2, 3}, {0xEF, 8}, {0xEF, 8}}), 0, "", 8, -1, -2},
    };
    for (const Case& c : cases) {
        Bits bits;
        for (auto [value, count] : c.fields) bits.put(value, count);
        std::vector<uint8_t> section = bits.padded();
        if (c.length != 0) section.resize(c.length, 0x00);
        uint8_t tagPlane[64];
        int32_t palettes[4][64];
        uint32_t flags = 99;
        std::string printed = captureStdout([&] {
            mox::decodeBpTag(c.tables, section.data(), uint32_t(section.size()), tagPlane, palettes, &flags);
        });
        EXPECT_EQ(printed, c.printed) << c.name;
        EXPECT_EQ(flags, c.flags) << c.name;
        if (c.tagValue >= 0)
            for (uint8_t t : tagPlane) ASSERT_EQ(t, c.tagValue) << c.name;
        for (int b = c.block0Value == -2 ? 1 : 0; b < 4; ++b)
            for (int p = 0; p < 64; ++p)
                ASSERT_EQ(palettes[b][p], b == 0 && c.block0Value >= 0 ? c.block0Value : 0) << c.name << " block " << b;
    }
}

// The default table block: known rows of each table, found by their keys.
TEST(VelaBpTables, KnownRows)
{
    // Table 0 cn_len_TBL (A, t) -> palette bits; 1 add_len_TBL (A, D) -> K
    // bits; 2 mb_len_TBL (A, D, K) -> map types, n, groups, map indices.
    const struct {
        int table, a, second, third;
        std::vector<uint8_t> values;
    } rows[] = {
        {0, 0, 0, 0, {18}}, {0, 0, 1, 0, {4}}, {0, 33, 0, 0, {2}}, {0, 13, 3, 0, {8 * 9 - 6 * 4}},
        {1, 30, 3, 0, {5}}, {1, 27, 9, 0, {0}}, {1, 33, 0, 0, {0}},
        {2, 0, 7, 31, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4}},
        {2, 3, 2, 31, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 4, 4, 4}},
        {2, 4, 9, 31, {2, 0, 0, 0, 3, 1, 1, 0, 0, 0, 0, 0, 4, 4, 4}},
        {2, 19, 4, 31, {1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}},
        {2, 22, 13, 0, {2, 2, 0, 0, 6, 1, 2, 2, 1, 0, 1, 0, 0, 1, 4}},
        {2, 33, 0, 31, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4, 4}},
    };
    for (const auto& r : rows) {
        const uint8_t* row = bpFindRow(kTables, r.table, r.a, r.second, r.third);
        const std::string where = "table " + std::to_string(r.table) + " (" + std::to_string(r.a) + "," +
                                  std::to_string(r.second) + "," + std::to_string(r.third) + ")";
        ASSERT_NE(row, nullptr) << where;
        const int keys = r.table == 2 ? 3 : 2;
        EXPECT_EQ(std::vector<uint8_t>(row + keys, row + keys + r.values.size()), r.values) << where;
    }
    // ms_TBL row 22: A, then the palette size code of entities 0..4.
    const uint8_t* ms22 = kTables + mox::kBpMsOffset + 22 * mox::kBpMsBytes;
    EXPECT_EQ(std::vector<uint8_t>(ms22, ms22 + 6), (std::vector<uint8_t>{22, 1, 1, 2, 2, 5}));
}


struct Stream {
    int mode = 2;
    int width = 48, height = 40;  // 6 x 5 MCUs
    int componentCount = 4;
    int outFormat = 4;
    uint32_t bpSize = 0;          // velaBpParam word 2: 0 (64 bytes) or 1 (128)
    uint32_t variable = 0;        // copier variable-size flag, mode 1 size mode
    const uint8_t* tables = nullptr;
    std::vector<uint8_t> bytes;
};

// The variant decoders fetch every piece through InputFunc; bands go to
// OutputFunc or are taken on return 2.
DecodeResult decode(const Stream& s, uint32_t pieceSize, uint32_t bandLines, bool useOutput)
{
    const uint32_t bpWords[5] = {0, 0, s.bpSize, 0, 1}, velaWords[2] = {s.variable, 1};
    VelaCopierParam copier{};
    copier.words[1] = 1;
    copier.variableSize = s.variable;
    DecodeOptions options;
    options.pieceSize = pieceSize;
    options.bandLines = bandLines;
    options.useInput = true;
    options.useOutput = useOutput;
    options.outFormat = s.outFormat;
    options.records = [&](PictureInfo& pic, DecodeParam& param) {
        pic.width = s.width, pic.height = s.height;
        pic.mode = s.mode;
        pic.componentCount = s.componentCount;
        for (int t = 0; t < 4; ++t)
            for (int i = 0; i < 64; ++i) param.quantTable[t][i] = 1 + (i + t) % 7;
        for (int c = 0; c < 4; ++c) param.quantSel[c] = c % 2;
        param.velaParam = velaWords;
        param.velaBpParam = bpWords;
        param.velaBpTables = s.tables;
        param.velaCopierParam = &copier;
    };
    return decodeStream(s.bytes, options);
}

// A bp picture: every MCU another key, placement and header form, a uniform
// tag where a section is too big for the MCU.
Stream bpPicture(uint32_t bpSize, int placement = -1, const uint8_t* tables = kTables)
{
    Stream s;
    s.bpSize = bpSize;
    const int size = bpSize == 1 ? 128 : 64;
    const std::vector<BpKey> keys = validKeys();
    for (uint32_t m = 0; m < 30; ++m) {
        const BpKey& key = keys[m * 37 % keys.size()];
        const int e = placement >= 0 ? placement : int(m * 53 % 120);
        const BpTag tag = makeTag(tables, key.a, key.d, key.k, e, m % 5 == 0, m + 7 * bpSize);
        const bool shortForm = m % 4 == 1;
        std::vector<uint8_t> blocks[4];
        for (uint32_t b = shortForm ? 3 : 0; b < 4; ++b) blocks[b] = writeBlock(someCoefficients(m * 4 + b).data(), false);
        std::vector<uint8_t> mcu = writeBpMcu(writeBpTag(tables, tag), blocks, shortForm, size);
        if (mcu.size() > size_t(size)) mcu = writeBpMcu({0x84, uint8_t(m % 4)}, blocks, shortForm, size);
        s.bytes.insert(s.bytes.end(), mcu.begin(), mcu.end());
    }
    return s;
}

Stream copierPicture(uint32_t variable, int components)
{
    Stream s;
    s.mode = 3;
    s.componentCount = components;
    s.outFormat = 1;
    s.variable = variable;
    for (uint32_t m = 0; m < 30; ++m) {
        std::vector<uint8_t> blocks[3];
        for (uint32_t b = 0; b < 3; ++b) blocks[b] = writeBlock(someCoefficients(m * 3 + b + variable).data(), b != 0);
        std::vector<uint8_t> mcu = writeCopierMcu(m % 4, blocks, variable != 0);
        s.bytes.insert(s.bytes.end(), mcu.begin(), mcu.end());
    }
    return s;
}

// A mode-1 picture from our encoder, fixed or variable MCU size.
Stream velaPicture(uint32_t sizeMode)
{
    VelaSetup v = velaSetup(43, 29, MOX_PIXEL_CMYK, 2, sizeMode, 5);
    Stream s;
    s.mode = 1;
    s.width = 43, s.height = 29;
    s.variable = sizeMode;
    s.bytes = encodeVela(v).stream;
    return s;
}

TEST(VelaStreams, AnyPieceSizeAndBandHeightGiveTheSamePixels)
{
    const Stream streams[] = {velaPicture(0),       velaPicture(1),       bpPicture(0),        bpPicture(1),
                              copierPicture(0, 3), copierPicture(1, 3), copierPicture(1, 1)};
    for (const Stream& s : streams) {
        std::string name = "mode " + std::to_string(s.mode) + " size " + std::to_string(s.bpSize) + " variable " +
                           std::to_string(s.variable) + " components " + std::to_string(s.componentCount);
        DecodeResult whole = decode(s, uint32_t(s.bytes.size()), uint32_t(s.height), true);
        const std::vector<uint8_t>& pixels = whole.picture.pixels;
        ASSERT_EQ(whole.status, 0) << name;
        ASSERT_EQ(pixels.size(), size_t(s.width * s.height * s.componentCount)) << name;
        ASSERT_NE(std::count(pixels.begin(), pixels.end(), pixels[0]), ptrdiff_t(pixels.size()))
            << name << ": a picture of one value proves nothing";
        for (uint32_t piece = 64; piece <= 200; ++piece) {
            uint32_t band = std::array<uint32_t, 5>{1, 3, 8, 13, 40}[piece % 5];
            DecodeResult parts = decode(s, piece, band, piece % 2 == 0);
            ASSERT_EQ(parts.status, 0) << name << " piece " << piece << " band " << band;
            ASSERT_EQ(parts.picture.pixels, pixels) << name << " piece " << piece << " band " << band;
            ASSERT_EQ(parts.liveBlocks, 0) << name;
            ASSERT_EQ(parts.consumedTotal, s.bytes.size()) << name << " piece " << piece;
        }
    }
}

// A stream cut anywhere, at any piece size, fails with -99999 and leaks nothing.
TEST(VelaStreams, CutStreamsFail)
{
    for (uint32_t sizeMode : {0u, 1u}) {
        Stream s = velaPicture(sizeMode);
        const std::vector<uint8_t> whole = s.bytes;
        for (size_t cut = 1; cut < whole.size(); ++cut) {
            s.bytes.assign(whole.begin(), whole.begin() + long(cut));
            DecodeResult r = decode(s, 64 + uint32_t(cut % 37), 0, false);
            ASSERT_EQ(r.status, MOX_ERR_CORRUPT) << "size mode " << sizeMode << ", cut at " << cut;
            ASSERT_EQ(r.liveBlocks, 0);
        }
    }
}

TEST(VelaStreams, CallerTablesReplaceValueBytesOnly)
{
    // Every key byte scrambled (the decoder keeps its own keys); col_posi
    // row 0 given the placement of row 119.
    std::vector<uint8_t> caller(mox::kBpTableBytes, 0xA5);
    const std::vector<uint8_t> defaults(kTables, kTables + mox::kBpTableBytes);
    const struct {
        uint32_t offset, rows, stride, bytes;
    } values[] = {{2, 89, 3, 1}, {269, 99, 3, 1}, {567, 288, 18, 15}, {5749, 34, 6, 5}, {5953, 120, 6, 5}};
    for (const auto& v : values)
        for (uint32_t r = 0; r < v.rows; ++r)
            std::memcpy(caller.data() + v.offset + r * v.stride, kTables + v.offset + r * v.stride, v.bytes);
    std::memcpy(caller.data() + 5953, kTables + 5953 + 119 * 6, 5);

    std::vector<uint8_t> effective = defaults;  // what the decoder holds after Init
    mox::overlayBpTables(effective.data(), caller.data());
    Stream first = bpPicture(0, 0, effective.data());
    Stream last = bpPicture(0, 119);
    DecodeResult reference = decode(last, 4096, 40, true);
    first.tables = caller.data();
    DecodeResult replaced = decode(first, 4096, 40, true);
    first.tables = nullptr;
    DecodeResult plain = decode(first, 4096, 40, true);
    ASSERT_EQ(reference.status, 0);
    ASSERT_EQ(replaced.status, 0);
    EXPECT_EQ(replaced.picture.pixels, reference.picture.pixels) << "E 0 under the caller's row = E 119 under the default";
    EXPECT_NE(plain.picture.pixels, reference.picture.pixels) << "the placement must matter for this picture";
}

}  // namespace
}  // namespace moxtest
