// The mode-1 MCU decoder on hand-built MCUs: what the encoder never writes
// (tag modes 3 to 6, several flagged blocks, blocks 0..2 flagged, empty
// blocks) and what no writer should (oversized MCUs, runs past 64, short
// sections, bad Huffman data, runs past 63: a zero block).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "vela/vela.h"
#include "vela_support.h"

namespace {

using namespace mox;
using namespace velatest;
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
    std::string zrl4;
    for (int i = 0; i < 4; ++i) zrl4 += "11111111001";  // ZRL
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
                 .map([](int p) { return p < 32; }, 1).map([](int p) { return p == 9; }, 1).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, constant(2),
         {[](int p) { return p & 1 ? 2 : 1; }, [](int p) { return p < 32 ? 4 : 3; },
          [](int p) { return p == 9 ? 6 : 5; }, constant(7)}},
        {"mode 4: one three-colour map for blocks 2 and 3",
         mcu(false,
             Bits().put(4, 3).put(0b0011, 4).put(0, 3).put(3, 2).put(11, 8).put(12, 8).put(13, 8)
                 .put(21, 8).put(22, 8).put(23, 8).map([](int p) { return p % 3; }, 2).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, constant(3), {dct, dct, [](int p) { return 11 + p % 3; }, [](int p) { return 21 + p % 3; }}},
        {"mode 5: tag map, then maps of blocks 0 and 3",
         mcu(false,
             Bits().put(5, 3).put(0b1001, 4).put(0, 3).put(2, 2).put(3, 2).put(5, 8).put(6, 8).put(7, 8)
                 .put(8, 8).map([](int p) { return p < 32; }, 1).map([](int p) { return p % 2; }, 1)
                 .map([](int p) { return p >= 48; }, 1).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, [](int p) { return p < 32 ? 3 : 2; },
         {[](int p) { return p % 2 ? 6 : 5; }, dct, dct, [](int p) { return p >= 48 ? 8 : 7; }}},
        {"mode 6: raw tags",
         mcu(false, Bits().put(6, 3).put(0, 4).put(0, 3).map([](int p) { return (p * 5) % 4; }, 2).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, [](int p) { return (p * 5) % 4; }, {dct, dct, dct, dct}},
        {"mode 0 with block 3 flagged: no colours, samples 0",
         mcu(false, Bits().put(0, 3).put(1, 4).put(0, 3).put(2, 2).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, constant(2), {dct, dct, dct, none}},
        {"short form: blocks 0..2 at 0 unless flagged (block 0 in a shared bitmap)",
         mcu(true,
             Bits().put(2, 3).put(0b1000, 4).put(0, 3).put(1, 2).put(50, 8).put(0, 2).put(60, 8)
                 .map([](int p) { return p % 8 == p / 8; }, 1).padded(),
             {kDcFive}),
         0, 0, [](int p) { return p % 8 == p / 8 ? 0 : 1; },
         {[](int p) { return p % 8 == p / 8 ? 60 : 50; }, none, none, constant(kDcFiveSample)}},
        {"empty block 1 keeps samples 0, the others decode at their offsets",
         mcu(false, fromHex("00 1F"), {kDcFive, {}, kZeroBlock, kDcFive}), 1, 0, constant(1),
         {constant(kDcFiveSample), none, dct, constant(kDcFiveSample)}},
        {"bad Huffman data, a run past 63: zero blocks, the MCU goes on",
         mcu(false, fromHex("00 1F"), {{0xFF, 0xFF, 0xFF}, packBits("00" + zrl4), kZeroBlock, kDcFive}),
         0, 0, constant(1), {dct, dct, dct, constant(kDcFiveSample)}},
        {"tag mode 7: class 0 everywhere, flagged block 0",
         mcu(false, Bits().put(7, 3).put(1, 4).put(0, 3).put(3, 2).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, 0, constant(3), {dct, dct, dct, none}},
        {"L + b0..b3 = 65", mcu(false, fromHex("00 1F"), {std::vector<uint8_t>(63, 0x2B)}, {63, 0, 0, 0}),
         0, MOX_ERR_CORRUPT, nullptr, {}},
        {"68 bytes: variable size takes it", mcu(false, fromHex("00 1F"), {std::vector<uint8_t>(62, 0x2B)}),
         1, 0, constant(1), {dct, none, none, none}},
        {"68 bytes: a fixed-size MCU may not overlap the next",
         mcu(false, fromHex("00 1F"), {std::vector<uint8_t>(62, 0x2B)}), 0, MOX_ERR_CORRUPT, nullptr, {}},
        {"runs 33 and 33 pass 64",
         mcu(false, Bits().put(1, 3).put(0, 4).put(0, 3).put(0, 2).put(1, 2).put(0b1111000000, 10)
                        .put(0b1111000000, 10).padded(), {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
         0, MOX_ERR_CORRUPT, nullptr, {}},
        {"run code cut by the end of the section",
         mcu(false, Bits().put(1, 3).put(0, 4).put(0, 3).put(0, 2).put(1, 2).put(0b1110111, 7).padded(),
             {kZeroBlock, kZeroBlock, kZeroBlock, kZeroBlock}),
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

}  // namespace
