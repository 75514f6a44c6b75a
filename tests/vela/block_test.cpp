// The pieces the VELA decoders share: the block decoder (no stuffing, DC
// against 0, bad data gives a zero block) and the rotation of an MCU.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "frame/t81tables.h"
#include "vela/vela.h"
#include "vela_support.h"

namespace {

using namespace mox;

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
