// The mode-1 MCU decoder on hand-built MCUs: what the encoder never writes
// (tag modes 3 to 6, several flagged blocks, blocks 0..2 flagged, empty
// blocks) and what no writer should (oversized MCUs, runs past 64, short
// sections, bad Huffman data); and the block decoder all the VELA modes
// share (no stuffing, DC against 0, bad data gives a zero block).
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

#include "frame/t81tables.h"
#include "vela/vela.h"
#include "vela_support.h"

namespace {

using namespace mox;
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

Pixel constant(int v)
{
    return [v](int) { return v; };
}

TEST(VelaDecoder, HandBuiltMcus)
{
    const Pixel dct = constant(128);  // a block of zero coefficients
    const Pixel none = constant(0);
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
             velatest::Bits().put(3, 3).put(0b1010, 4).put(0, 3).put(1, 2).put(10, 8).put(200, 8).put(30, 8)
                 .put(40, 8).map([](int p) { return (p / 8) % 2; }, 1).map([](int p) { return p % 8 >= 4; }, 1)
                 .padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kDcFive}),
         1, 0, constant(1),
         {[](int p) { return (p / 8) % 2 ? 200 : 10; }, dct, [](int p) { return p % 8 >= 4 ? 40 : 30; },
          constant(kDcFiveSample)}},
        {"mode 3: four flagged blocks, the fourth without a map keeps c0",
         mcu(false,
             velatest::Bits().put(3, 3).put(0b1111, 4).put(0, 3).put(2, 2).put(1, 8).put(2, 8).put(3, 8).put(4, 8)
                 .put(5, 8).put(6, 8).put(7, 8).put(8, 8).map([](int p) { return p & 1; }, 1)
                 .map([](int p) { return p < 32; }, 1).map([](int p) { return p == 9; }, 1).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, constant(2),
         {[](int p) { return p & 1 ? 2 : 1; }, [](int p) { return p < 32 ? 4 : 3; },
          [](int p) { return p == 9 ? 6 : 5; }, constant(7)}},
        {"mode 4: one three-colour map for blocks 2 and 3",
         mcu(false,
             velatest::Bits().put(4, 3).put(0b0011, 4).put(0, 3).put(3, 2).put(11, 8).put(12, 8).put(13, 8)
                 .put(21, 8).put(22, 8).put(23, 8).map([](int p) { return p % 3; }, 2).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, constant(3), {dct, dct, [](int p) { return 11 + p % 3; }, [](int p) { return 21 + p % 3; }}},
        {"mode 5: tag map, then maps of blocks 0 and 3",
         mcu(false,
             velatest::Bits().put(5, 3).put(0b1001, 4).put(0, 3).put(2, 2).put(3, 2).put(5, 8).put(6, 8).put(7, 8)
                 .put(8, 8).map([](int p) { return p < 32; }, 1).map([](int p) { return p % 2; }, 1)
                 .map([](int p) { return p >= 48; }, 1).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, [](int p) { return p < 32 ? 3 : 2; },
         {[](int p) { return p % 2 ? 6 : 5; }, dct, dct, [](int p) { return p >= 48 ? 8 : 7; }}},
        {"mode 6: raw tags",
         mcu(false, velatest::Bits().put(6, 3).put(0, 4).put(0, 3).map([](int p) { return (p * 5) % 4; }, 2).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, [](int p) { return (p * 5) % 4; }, {dct, dct, dct, dct}},
        {"mode 0 with block 3 flagged: no colours, samples 0",
         mcu(false, velatest::Bits().put(0, 3).put(1, 4).put(0, 3).put(2, 2).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, constant(2), {dct, dct, dct, none}},
        {"short form: blocks 0..2 at 0 unless flagged (block 0 in a shared bitmap)",
         mcu(true,
             velatest::Bits().put(2, 3).put(0b1000, 4).put(0, 3).put(1, 2).put(50, 8).put(0, 2).put(60, 8)
                 .map([](int p) { return p % 8 == p / 8; }, 1).padded(),
             {kDcFive}),
         0, 0, [](int p) { return p % 8 == p / 8 ? 0 : 1; },
         {[](int p) { return p % 8 == p / 8 ? 60 : 50; }, none, none, constant(kDcFiveSample)}},
        {"empty block 1 keeps samples 0, the others decode at their offsets",
         mcu(false, velatest::fromHex("00 1F"), {kDcFive, {}, kZeroBlock, kDcFive}), 1, 0, constant(1),
         {constant(kDcFiveSample), none, dct, constant(kDcFiveSample)}},
        {"bad Huffman data: a zero block, the MCU goes on",
         mcu(false, velatest::fromHex("00 1F"), {{0xFF, 0xFF, 0xFF}, kZeroBlock, kZeroBlock, kDcFive}), 0, 0,
         constant(1), {dct, dct, dct, constant(kDcFiveSample)}},
        {"tag mode 7: class 0 everywhere, flagged block 0",
         mcu(false, velatest::Bits().put(7, 3).put(1, 4).put(0, 3).put(3, 2).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, constant(3), {dct, dct, dct, none}},
        {"L + b0..b3 = 65", mcu(false, velatest::fromHex("00 1F"), {std::vector<uint8_t>(63, 0x2B)}, {63, 0, 0, 0}),
         0, MOX_ERR_CORRUPT, nullptr, {}},
        {"68 bytes: variable size takes it", mcu(false, velatest::fromHex("00 1F"), {std::vector<uint8_t>(62, 0x2B)}),
         1, 0, constant(1), {dct, none, none, none}},
        {"68 bytes: a fixed-size MCU may not overlap the next",
         mcu(false, velatest::fromHex("00 1F"), {std::vector<uint8_t>(62, 0x2B)}), 0, MOX_ERR_CORRUPT, nullptr, {}},
        {"runs 33 and 33 pass 64",
         mcu(false, velatest::Bits().put(1, 3).put(0, 4).put(0, 3).put(0, 2).put(1, 2).put(0b1111000000, 10)
                        .put(0b1111000000, 10).padded(), {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, MOX_ERR_CORRUPT, nullptr, {}},
        {"run code cut by the end of the section",
         mcu(false, velatest::Bits().put(1, 3).put(0, 4).put(0, 3).put(0, 2).put(1, 2).put(0b1110111, 7).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, MOX_ERR_CORRUPT, nullptr, {}},
        {"mode 6 section without all of its tags",
         mcu(false, velatest::Bits().put(6, 3).put(0, 4).put(0, 3).map(constant(1), 1).padded(), {kZeroBlock}), 0,
         MOX_ERR_CORRUPT, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> stream = c.bytes;
        if (c.sizeMode == 0 && stream.size() < 64) stream.resize(64, 0xFF);
        const size_t bytes = stream.size();
        velatest::McuDecoder decoder(1, c.sizeMode);
        BitCursor cursor = velatest::cursorOver(stream);
        velatest::Mcu out;
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

TEST(VelaBlock, DecodesCodeStrings)
{
    struct Case {
        const char* name;
        std::string bits;  // K.3 DC codes, K.5 AC codes, extra bits; padded with ones
        std::vector<std::pair<int, int>> coefficients;  // zig-zag index, value
        uint8_t dcOnly;
        int32_t bytesUsed;  // where the cursor stands after the block
    };
    std::string all63 = "00";
    for (int k = 1; k < 64; ++k) all63 += "00" "1";  // 0/1 with value +1 at every position
    std::vector<std::pair<int, int>> ones;
    for (int k = 1; k < 64; ++k) ones.push_back({k, 1});
    const std::string zrl = "11111111001";
    const Case cases[] = {
        {"zero block", "00" "1010", {}, 1, 1},
        {"DC +5", "100" "101" "1010", {{0, 5}}, 1, 2},
        {"DC -3", "011" "00" "1010", {{0, -3}}, 1, 2},
        {"DC and AC", "00" "00" "1" "1100" "0" "1010", {{1, 1}, {3, -1}}, 0, 2},  // 1/1 after one zero
        {"ZRL then value", "00" + zrl + "00" "0" "1010", {{17, -1}}, 0, 3},
        {"position 63 ends without EOB", all63, ones, 0, int32_t((all63.size() + 7) / 8)},
        // 0x1C 0xFF 0x9A: a stuffing reader would stop at a marker.
        {"0xFF inside data is data", "00" "01" "11" "00" "1" + zrl + "1010", {{1, 3}, {2, 1}}, 0, 3},
        {"run past 63 is a zero block", "00" + zrl + zrl + zrl + zrl, {}, 0, -1},
        {"no code matches: zero block", "00" "1111111111111111", {}, 0, -1},
    };
    HuffDecodeTable dc{}, ac{};
    ASSERT_TRUE(buildHuffmanTable(kLuminanceDc.bits, kLuminanceDc.values, &dc));
    ASSERT_TRUE(buildHuffmanTable(kLuminanceAc.bits, kLuminanceAc.values, &ac));
    for (const Case& c : cases) {
        std::vector<uint8_t> data = velatest::packBits(c.bits);
        data.push_back(0x00);  // a byte behind the block, never part of it
        BitCursor cursor = velatest::cursorOver(data);
        std::array<int32_t, 64> block;
        block.fill(99);
        uint8_t dcOnly = 7;
        ASSERT_EQ(decodeVelaBlockDc(&cursor, &dc, &ac, block.data(), &dcOnly), 0) << c.name;
        std::array<int32_t, 64> want{};
        for (auto [k, v] : c.coefficients) want[k] = v;
        EXPECT_EQ(block, want) << c.name;
        EXPECT_EQ(dcOnly, c.dcOnly) << c.name;
        if (c.bytesUsed >= 0)
            EXPECT_EQ(cursor.byteIndex + (cursor.bitPos != 7), c.bytesUsed) << c.name;
    }
}

}  // namespace
