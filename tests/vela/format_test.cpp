// Known answers of the VELA format (run codes, tag sections written and
// read, byte budgets and cut positions, the unstuffed copy of a cut block, a
// quarter turn; MCU headers are read back from the bp writer's MCUs), tag
// sections that read back what they wrote, the mode-1 MCU decoder on
// hand-built MCUs: what the encoder never writes (tag modes 3 to 6, several
// flagged blocks, blocks 0..2 flagged, empty blocks) and what no writer
// should (oversized MCUs, runs past 64, short sections, bad Huffman data,
// runs past 63: a zero block); and the round trip over the encoder's
// parameter grid: MCU forms and lengths as the words ask, fixed-size MCUs of
// 64 bytes that decode alone; tags come back, palette blocks exactly, DCT
// blocks within a measured PSNR.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "decoder/harness.h"
#include "vela/coder.h"
#include "vela/vela.h"
#include "vela_support.h"

namespace {

using namespace mox;
using namespace velatest;

std::string runCode(int32_t run)
{
    uint8_t bytes[4] = {};
    BitString s{bytes, 0, 7};
    int32_t length = CodeWyle(run, &s);
    std::string bits;
    for (int32_t i = 0; i < length; ++i) bits += char('0' + (bytes[i / 8] >> (7 - i % 8) & 1));
    return length < 0 ? "fail" : bits;
}

// "hh: section bytes" for a tag plane, beside blocks of many values (none
// can become a palette block).
std::string tagSection(const std::function<uint8_t(int)>& tagAt)
{
    uint8_t tags[64], blocks[4][64];
    for (int p = 0; p < 64; ++p) {
        tags[p] = tagAt(p);
        for (int b = 0; b < 4; ++b) blocks[b][p] = uint8_t(p * 3 + b);
    }
    VelaEncodeParam words{};
    uint8_t section[kVelaTagSectionRoom] = {};
    uint8_t header = 0;
    if (codertagbit(&words, tags, blocks, section, &header) != 0) return "fail";
    return toHex(&header, 1) + ": " + toHex(section, header & 0x3F);
}

// The tag plane a section decodes to, as 64 digits.
std::string decodedTags(const std::string& hex)
{
    std::vector<uint8_t> section = fromHex(hex);
    uint8_t tags[64];
    int32_t palette[4][64];
    uint32_t flags = 0;
    if (decodertagbit(section.data(), uint8_t(section.size()), tags, palette, &flags) != 0) return "fail";
    std::string s;
    for (uint8_t t : tags) s += char('0' + t);
    return s;
}

// Byte budgets of four blocks whose DC entries end in byte 1 (with room for
// EOB) and whose last entries leave the given needs.
std::string budgets(const int32_t (&needs)[4])
{
    enc::CodePositions positions[4] = {};
    HuffDecodeTable ac{};
    ac.count = 1;
    ac.lengths[0] = 4;  // EOB
    enc::McuConfig config{};
    for (int i = 0; i < 4; ++i) {
        positions[i] = enc::CodePositions{{4}, {1, 1 + needs[i]}, 2};
        config.component[i].record.acTable = &ac;
    }
    if (enc::calcAfixSize(0, 2, positions, 4, &config) != 0) return "fail";
    std::string s;
    for (int i = 0; i < 4; ++i) s += std::to_string(config.component[i].record.byteBudget) + " ";
    return s;
}

std::string cutPositions()
{
    enc::CodePositions p{{3, 0, 5, 2, 4}, {0, 1, 3, 5, 6}, 5};
    std::string s;
    for (int32_t budget = 7; budget >= 1; --budget) s += std::to_string(enc::calcFixpos(&p, budget, 4)) + " ";
    return s;
}

std::string copied(int32_t cut)
{
    std::vector<uint8_t> coded = {0x12, 0xFF, 0x00, 0x34};
    BitCursor cursor = cursorOver(coded);
    enc::CodePositions p{{0, 4}, {0, 3}, 2};
    uint8_t out[8] = {};
    int32_t length = 0;
    if (enc::copyCode(0, &cursor, cut, &p, 4, 0x0A, out, &length) != 0) return "fail";
    return toHex(out, size_t(length));
}

TEST(VelaFormat, KnownAnswers)
{
    struct Case {
        const char* name;
        std::function<std::string()> have;
        std::string want;
    };
    const Case cases[] = {
        {"runs of 4, 5, 17, 64; none of 0",
         [] { return runCode(4) + " " + runCode(5) + " " + runCode(17) + " " + runCode(64) + " " + runCode(0); },
         "011 1000 11100000 1111011111 fail"},
        {"tag plane all 1: mode 0, F = 0, four 1-bits of padding",
         [] { return tagSection([](int) { return uint8_t(1); }); }, "02: 00 1F"},
        {"tags 0 in columns 0..3, 2 in 4..7: mode 1, column order wins the tie with order 3",
         [] { return tagSection([](int p) { return uint8_t(p % 8 < 4 ? 0 : 2); }); },
         "04: 20 8B BF BF"},
        {"three tag values: raw mode 6, 18 bytes, the last six bits 1",
         [] {
             std::string s = tagSection([](int p) { return uint8_t(p % 3); });
             return s.substr(0, 6) + " .. " + s.substr(s.size() - 2);
         },
         "12: C0 .. 3F"},
        {"section 20 8B BF BF reads as 0 in columns 0..3, 2 in 4..7",
         [] { return decodedTags("20 8B BF BF"); }, [] {
             std::string s;
             for (int p = 0; p < 64; ++p) s += p % 8 < 4 ? '0' : '2';
             return s;
         }()},
        {"budgets with needs 10, 20, 0, 30 (L = 2, minimum 2 each)",
         [] { return budgets({10, 20, 0, 30}); }, "10 18 2 27 "},
        {"cut positions for budgets 7..1 (EOB of 4 bits)", cutPositions, "4 2 2 2 1 0 -1 "},
        {"whole block copied without its stuffing byte", [] { return copied(1); }, "12 FF 3F"},
        {"block cut after its DC entry gets an EOB", [] { return copied(0); }, "12 AF"},
        {"rotation 3: row 0 = 0..7 becomes column 0 from the bottom",
         [] {
             Mcu mcu;
             for (int c = 0; c < 8; ++c) mcu.samples[0][c] = c, mcu.tags[c] = uint8_t(c);
             McuParam param{};
             param.rotation = 3;
             rotateMcu(mcu.planes(), &param);
             std::string s;
             for (int r = 0; r < 8; ++r) s += std::to_string(mcu.samples[0][r * 8]);
             for (int r = 0; r < 8; ++r) s += std::to_string(mcu.tags[r * 8]);
             return s;
         },
         "7654321076543210"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.have(), c.want) << c.name;
}


// Whatever tag plane and blocks the tag-section writer meets, and whatever
// the parameter words allow, the reader gives back the tag plane and the
// flagged blocks' samples exactly.
TEST(VelaFormat, TagSectionsReadBackWhatTheyWrite)
{
    uint32_t state = 12345;
    auto next = [&state](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    int modesSeen[8] = {};
    for (int round = 0; round < 4000; ++round) {
        uint8_t tags[64];
        uint8_t blocks[4][64];
        const uint32_t tagValues = 1 + next(4);
        const uint32_t pattern = next(4);
        for (int p = 0; p < 64; ++p) {
            uint32_t cls = pattern == 0 ? p % 8 < 3 : pattern == 1 ? (p / 8 + p % 8) % 2 : next(tagValues);
            tags[p] = uint8_t((cls * 3 + round) % tagValues);
        }
        for (int b = 0; b < 4; ++b) {
            const uint32_t values = 1 + next(5);
            const uint32_t shareTags = next(3) == 0;
            for (int p = 0; p < 64; ++p)
                blocks[b][p] = uint8_t(40 * (shareTags ? tags[p] % values : next(values)) + b);
        }
        VelaEncodeParam words{};
        for (int w : {0, 1, 8, 9, 19, 20, 21, 22, 23, 24, 25, 27, 28, 29, 30})
            words.word[w] = next(4) == 0;
        uint8_t section[kVelaTagSectionRoom] = {};
        uint8_t header = 0;
        ASSERT_EQ(codertagbit(&words, tags, blocks, section, &header), 0) << round;
        ++modesSeen[section[0] >> 5];
        uint8_t decodedTags[64];
        int32_t palette[4][64] = {};
        uint32_t flags = 0;
        ASSERT_EQ(decodertagbit(section, header, decodedTags, palette, &flags), 0) << round;
        ASSERT_EQ(flags & 0xE, 0u) << "only block 3 may be a palette block";
        for (int p = 0; p < 64; ++p) {
            ASSERT_EQ(decodedTags[p], tags[p]) << "round " << round << " pixel " << p;
            if (flags & 1) ASSERT_EQ(palette[3][p], blocks[3][p]) << "round " << round << " pixel " << p;
        }
    }
    // Every mode but 3 comes up (mode 3 needs two two-valued blocks, and only
    // block 3 is analysed).
    for (int m = 0; m <= 6; ++m)
        if (m != 3) EXPECT_GT(modesSeen[m], 0) << "tag mode " << m;
}

using Pixel = std::function<int(int)>;  // value at pixel p

const std::vector<uint8_t> kZeroBlock = {0x2B};        // DC 0, EOB: samples 128
const std::vector<uint8_t> kDcFive = {0x96, 0xBF};     // DC +5, EOB
constexpr int kDcFiveSample = 128 + 5 * 16 / 8;         // dequantised by K.1: 80, an eighth of it

// An MCU of the given form: header from the actual lengths unless
// `lengths` overrides them.
std::vector<uint8_t> mcu(bool shortForm, const std::vector<uint8_t>& tag,
                         const std::vector<std::vector<uint8_t>>& blocks,
                         std::vector<int32_t> lengths = {})
{
    VelaMcuHeader h{shortForm ? 1 : 0, int32_t(tag.size()), {}};
    for (size_t i = 0; i < blocks.size(); ++i)
        h.blockBytes[shortForm ? 3 : i] = lengths.empty() ? int32_t(blocks[i].size()) : lengths[i];
    std::vector<uint8_t> out(4);
    out.resize(size_t(packVelaHeader(h, out.data())));
    out.insert(out.end(), tag.begin(), tag.end());
    for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

Pixel constant(int v) { return [v](int) { return v; }; }

TEST(VelaDecoder, HandBuiltMcus)
{
    const Pixel dct = constant(128);  // a block of zero coefficients
    const Pixel none = constant(0);
    const std::vector<std::vector<uint8_t>> zeros(4, kZeroBlock);
    const std::vector<uint8_t> all1 = {0x00, 0x1F};  // tag section: 1 everywhere
    const std::vector<uint8_t> pastEnd = Bits().put(0, 2).put(0x7F9, 11).put(0x7F9, 11).put(0x7F9, 11).put(0x7F9, 11)
                                             .padded();  // DC 0, four ZRL
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t sizeMode;
        int32_t status;
        Pixel tags;
        Pixel planes[4];
    };
    const Case cases[] = {
        {"mode 3: blocks 0 and 2 flagged, a bitmap each",
         mcu(false,
             Bits().put(3, 3).put(0b1010, 4).put(0, 3).put(1, 2).put(10, 8).put(200, 8).put(30, 8)
                 .put(40, 8).map([](int p) { return (p / 8) % 2; }, 1).map([](int p) { return p % 8 >= 4; }, 1)
                 .padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kDcFive}),
         1, 0, constant(1),
         {[](int p) { return (p / 8) % 2 ? 200 : 10; }, dct, [](int p) { return p % 8 >= 4 ? 40 : 30; },
          constant(kDcFiveSample)}},
        {"mode 3: four flagged blocks, the fourth without a map keeps c0",
         mcu(false,
             Bits().put(3, 3).put(0b1111, 4).put(0, 3).put(2, 2).put(1, 8).put(2, 8).put(3, 8).put(4, 8)
                 .put(5, 8).put(6, 8).put(7, 8).put(8, 8).map([](int p) { return p & 1; }, 1)
                 .map([](int p) { return p < 32; }, 1).map([](int p) { return p == 9; }, 1).padded(), zeros),
         0, 0, constant(2),
         {[](int p) { return p & 1 ? 2 : 1; }, [](int p) { return p < 32 ? 4 : 3; },
          [](int p) { return p == 9 ? 6 : 5; }, constant(7)}},
        {"mode 4: one three-colour map for blocks 2 and 3",
         mcu(false,
             Bits().put(4, 3).put(0b0011, 4).put(0, 3).put(3, 2).put(11, 8).put(12, 8).put(13, 8)
                 .put(21, 8).put(22, 8).put(23, 8).map([](int p) { return p % 3; }, 2).padded(), zeros),
         0, 0, constant(3), {dct, dct, [](int p) { return 11 + p % 3; }, [](int p) { return 21 + p % 3; }}},
        {"mode 5: tag map, then maps of blocks 0 and 3",
         mcu(false,
             Bits().put(5, 3).put(0b1001, 4).put(0, 3).put(2, 2).put(3, 2).put(5, 8).put(6, 8).put(7, 8)
                 .put(8, 8).map([](int p) { return p < 32; }, 1).map([](int p) { return p % 2; }, 1)
                 .map([](int p) { return p >= 48; }, 1).padded(), zeros),
         0, 0, [](int p) { return p < 32 ? 3 : 2; },
         {[](int p) { return p % 2 ? 6 : 5; }, dct, dct, [](int p) { return p >= 48 ? 8 : 7; }}},
        {"mode 6: raw tags",
         mcu(false, Bits().put(6, 3).put(0, 4).put(0, 3).map([](int p) { return (p * 5) % 4; }, 2).padded(), zeros),
         0, 0, [](int p) { return (p * 5) % 4; }, {dct, dct, dct, dct}},
        {"mode 0 with block 3 flagged: no colours, samples 0",
         mcu(false, Bits().put(0, 3).put(1, 4).put(0, 3).put(2, 2).padded(), zeros),
         0, 0, constant(2), {dct, dct, dct, none}},
        {"short form: blocks 0..2 at 0 unless flagged (block 0 in a shared bitmap)",
         mcu(true,
             Bits().put(2, 3).put(0b1000, 4).put(0, 3).put(1, 2).put(50, 8).put(0, 2).put(60, 8)
                 .map([](int p) { return p % 8 == p / 8; }, 1).padded(),
             {kDcFive}),
         0, 0, [](int p) { return p % 8 == p / 8 ? 0 : 1; },
         {[](int p) { return p % 8 == p / 8 ? 60 : 50; }, none, none, constant(kDcFiveSample)}},
        {"empty block 1 keeps samples 0, the others decode at their offsets",
         mcu(false, all1, {kDcFive, {}, kZeroBlock, kDcFive}), 1, 0, constant(1),
         {constant(kDcFiveSample), none, dct, constant(kDcFiveSample)}},
        {"bad Huffman data, a run past 63: zero blocks, the MCU goes on",
         mcu(false, all1, {{0xFF, 0xFF, 0xFF}, pastEnd, kZeroBlock, kDcFive}),
         0, 0, constant(1), {dct, dct, dct, constant(kDcFiveSample)}},
        {"tag mode 7: class 0 everywhere, flagged block 0",
         mcu(false, Bits().put(7, 3).put(1, 4).put(0, 3).put(3, 2).padded(), zeros),
         0, 0, constant(3), {dct, dct, dct, none}},
        {"L + b0..b3 = 65", mcu(false, all1, {std::vector<uint8_t>(63, 0x2B)}, {63, 0, 0, 0}),
         0, MOX_ERR_CORRUPT, nullptr, {}},
        {"68 bytes: variable size takes it", mcu(false, all1, {std::vector<uint8_t>(62, 0x2B)}),
         1, 0, constant(1), {dct, none, none, none}},
        {"68 bytes: a fixed-size MCU may not overlap the next",
         mcu(false, all1, {std::vector<uint8_t>(62, 0x2B)}), 0, MOX_ERR_CORRUPT, nullptr, {}},
        {"runs 33 and 33 pass 64",
         mcu(false, Bits().put(1, 3).put(0, 4).put(0, 3).put(0, 2).put(1, 2).put(0b1111000000, 10)
                        .put(0b1111000000, 10).padded(), zeros),
         0, MOX_ERR_CORRUPT, nullptr, {}},
        {"run code cut by the end of the section",
         mcu(false, Bits().put(1, 3).put(0, 4).put(0, 3).put(0, 2).put(1, 2).put(0b1110111, 7).padded(), zeros),
         0, MOX_ERR_CORRUPT, nullptr, {}},
        {"mode 6 section without all of its tags",
         mcu(false, Bits().put(6, 3).put(0, 4).put(0, 3).map(constant(1), 1).padded(), {kZeroBlock}), 0,
         MOX_ERR_CORRUPT, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> stream = c.bytes;
        if (c.sizeMode == 0 && stream.size() < 64) stream.resize(64, 0xFF);
        const size_t bytes = stream.size();
        McuDecoder decoder(1, c.sizeMode);
        BitCursor cursor = cursorOver(stream);
        Mcu out;
        out.tags.fill(0xEE);
        ASSERT_EQ(vela_decodemcu(&cursor, &decoder.param, out.planes()), c.status);
        if (c.status != 0) continue;
        EXPECT_EQ(size_t(cursor.byteIndex), c.sizeMode == 0 ? 64 : bytes);
        for (int p = 0; p < 64; ++p) {
            ASSERT_EQ(out.tags[p], c.tags(p)) << "tag " << p;
            for (int i = 0; i < 4; ++i) ASSERT_EQ(out.samples[i][p], c.planes[i](p)) << "plane " << i << " pixel " << p;
        }
    }
}


// Distinct values of component c of the source in MCU (mx, my), edge pixels
// replicated as the encoder does.
int distinctValues(const moxtest::Picture& p, int mx, int my, int c)
{
    std::set<uint8_t> values;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            values.insert(p.at(std::min(mx * 8 + x, p.width - 1), std::min(my * 8 + y, p.height - 1), c));
    return int(values.size());
}

// PSNR over component `only`, or all components when it is negative.
double psnrOf(const moxtest::Picture& a, const moxtest::Picture& b, int only)
{
    double sum = 0, n = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        if (only < 0 || int(i % a.components) == only) {
            sum += (double(a.pixels[i]) - b.pixels[i]) * (double(a.pixels[i]) - b.pixels[i]);
            ++n;
        }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * n / sum);
}

TEST(VelaRoundTrip, ParameterGrid)
{
    const struct {
        const char* name;
        int pixelFormat;
        uint32_t sizeMode;
        int velaMode;
        uint32_t word26, word33;
        double minPsnr;  // measured, less about 0.7 dB; over the components carried
        void (*words)(VelaEncodeParam&) = nullptr;
    } cases[] = {
        {"4c fixed", 4, 0, 1, 0, 64, 24.5},
        {"4c variable", 4, 1, 2, 0, 64, 24.5},
        {"4c fixed, short when blocks 0..2 are 0", 4, 0, 3, 2, 64, 24.5},
        {"4c variable, blocks 0..2 dropped", 4, 1, 1, 1, 64, 40.5},
        {"4c fixed, DC only", 4, 0, 2, 0, 1, 11.5},
        {"4c fixed, no palette blocks, DC-only palette, orders 0..4 excluded", 4, 0, 1, 0, 64, 28.0,
         [](VelaEncodeParam& w) { w.word[0] = w.word[1] = w.word[32] = w.word[20] = w.word[21] = w.word[22] =
                                      w.word[23] = w.word[24] = 1; }},
        {"4c variable, tag value forced uniform, block 3 never palette", 4, 1, 1, 0, 64, 28.0,
         [](VelaEncodeParam& w) { w.word[28] = w.word[19] = 1; }},
        {"gray fixed short, word 33 = 0 sets no limit", 5, 0, 1, 2, 0, 41.5},
        {"gray fixed long, DC only", 5, 0, 3, 0, 1, 32.5},
        {"gray variable, forced short", 5, 1, 1, 1, 64, 41.5},
    };
    static const uint8_t kTagOfMode[4] = {0, 1, 0, 2};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int width = 43, height = 29, perRow = (width + 7) / 8;
        const size_t mcus = size_t(perRow) * ((height + 7) / 8);
        VelaSetup v = velaSetup(width, height, c.pixelFormat, c.velaMode, c.sizeMode);
        v.words.word[26] = c.word26;
        v.words.word[33] = c.word33;
        if (c.words) c.words(v.words);
        enctest::EncodeRun run = encodeVela(v);
        ASSERT_EQ(run.status, 0);
        if (c.sizeMode == 0) ASSERT_EQ(run.stream.size(), 64 * mcus);

        // MCU by MCU: tags, header forms, lengths, and each fixed-size MCU alone.
        int32_t status = 0;
        std::vector<Mcu> plain = McuDecoder(1, c.sizeMode).decodeAll(run.stream, &status, mcus);
        ASSERT_EQ(status, 0);
        ASSERT_EQ(plain.size(), mcus);
        size_t offset = 0;
        for (size_t k = 0; k < mcus; ++k) {
            for (uint8_t tag : plain[k].tags) ASSERT_EQ(tag, kTagOfMode[c.velaMode]) << "MCU " << k;
            const bool shortForm = (run.stream[offset] & 0x80) != 0;
            if (c.word26 == 1 || (c.word26 == 2 && c.pixelFormat == 5)) EXPECT_TRUE(shortForm) << k;
            if (c.word26 == 0) EXPECT_FALSE(shortForm) << k;
            mox::VelaMcuHeader h = mox::unpackVelaHeader(run.stream.data() + offset);
            int32_t span = mox::velaHeaderBytes(h.shortForm) + mox::velaBodyBytes(h);
            ASSERT_LE(span, 64) << "MCU " << k;
            if (c.word33 == 1)
                for (int i = shortForm ? 3 : 0; i < 4; ++i) EXPECT_LE(h.blockBytes[i], 3) << k;
            if (c.sizeMode == 0) {  // the MCU alone, from its own 64 bytes, filled with 0xFF
                std::vector<uint8_t> alone(run.stream.begin() + offset, run.stream.begin() + offset + 64);
                std::vector<Mcu> one = McuDecoder(1, 0).decodeAll(alone, &status, 1);
                ASSERT_TRUE(one.size() == 1 && one[0] == plain[k]) << "MCU " << k;
                EXPECT_EQ(std::count(alone.begin() + span, alone.end(), 0xFF), 64 - span) << "MCU " << k;
            }
            offset += c.sizeMode == 0 ? 64 : size_t(span);
        }
        if (c.sizeMode == 1) EXPECT_EQ(offset, run.stream.size());

        // The public decoder: palette blocks (block 3 with two or three
        // values) exact, the rest within the PSNR bound.
        moxtest::DecodeOptions options;
        options.useInput = true;
        options.outFormat = c.pixelFormat == 5 ? 5 : 4;
        const uint32_t velaWords[2] = {c.sizeMode, 0};
        options.records = [&](PictureInfo& pic, DecodeParam& param) {
            velaRecords(pic, param, width, height, options.outFormat, velaWords);
        };
        moxtest::DecodeResult decoded = moxtest::decodeStream(run.stream, options);
        ASSERT_EQ(decoded.status, 0);
        const moxtest::Picture &source = v.setup.picture, &back = decoded.picture;
        ASSERT_EQ(back.pixels.size(), source.pixels.size());
        const bool palettes = v.words.word[19] == 0 && v.words.word[0] == 0;
        const int third = source.components - 1;
        for (int my = 0; palettes && my < (height + 7) / 8; ++my)
            for (int mx = 0; mx < perRow; ++mx) {
                int n = distinctValues(source, mx, my, third);
                if (n != 2 && n != 3) continue;
                for (int y = my * 8; y < std::min(height, my * 8 + 8); ++y)
                    for (int x = mx * 8; x < std::min(width, mx * 8 + 8); ++x)
                        ASSERT_EQ(back.at(x, y, third), source.at(x, y, third))
                            << "palette block " << mx << "," << my;
            }
        const bool dropped = c.word26 == 1 && c.pixelFormat == 4;
        double psnr = psnrOf(source, back, dropped ? 3 : -1);
        EXPECT_GE(psnr, c.minPsnr);
        std::printf("  %-70s PSNR %.2f dB, %zu bytes\n", c.name, psnr, run.stream.size());
    }
}

}  // namespace
