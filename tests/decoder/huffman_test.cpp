// Baseline Huffman decoding on hand-built bit strings with the T.81 K.3 and
// K.5 tables: the limits of a block and markers met inside the data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "frame/t81tables.h"

namespace moxtest {
namespace {

// Packs a string of '0'/'1' into bytes, pads with 1-bits and stuffs 0x00
// after every 0xFF; `tail` bytes (a marker) follow unstuffed.
std::vector<uint8_t> pack(const std::string& bits, std::vector<uint8_t> tail = {})
{
    std::vector<uint8_t> out;
    std::string padded = bits;
    while (padded.size() % 8) padded += '1';
    for (size_t i = 0; i < padded.size(); i += 8) {
        uint8_t byte = 0;
        for (int b = 0; b < 8; ++b) byte = uint8_t(byte << 1 | (padded[i + b] == '1'));
        out.push_back(byte);
        if (byte == 0xFF) out.push_back(0x00);
    }
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

std::string repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const std::string kDcZero = "00";          // K.3 category 0
const std::string kEob = "1010";           // K.5 0x00
const std::string kZrl = "11111111001";    // K.5 0xF0
const std::string kRun0Size1 = "00";       // K.5 0x01

struct Reader {
    HuffDecodeTable dc{}, ac{};
    std::vector<uint8_t> data;
    uint32_t splice = 0;
    mox::BitCursor cursor{};
    explicit Reader(std::vector<uint8_t> bytes) : data(std::move(bytes))
    {
        mox::buildHuffmanTable(mox::kLuminanceDc.bits, mox::kLuminanceDc.values, &dc);
        mox::buildHuffmanTable(mox::kLuminanceAc.bits, mox::kLuminanceAc.values, &ac);
        data.resize(data.size() + 4, 0);  // readable slack, not counted as available
        cursor.spliceFlag = &splice;
        cursor.bitPos = 7;
        cursor.data = cursor.pieceData = data.data();
        cursor.available = static_cast<uint32_t>(data.size() - 4);
    }
};

// Valid blocks are checked exactly against the reference codec's reading
// (reference_test.cpp); these are the blocks a valid stream never holds.
TEST(DecoderHuffman, BlocksThatCannotBeDecoded)
{
    const struct {
        const char* name;
        std::string bits;
        std::vector<uint8_t> tail;
        int32_t want;
    } cases[] = {
        {"ZRL at 48 completes", kDcZero + repeat(kRun0Size1 + "1", 47) + kZrl, {}, 0},
        {"ZRL at 49 overruns", kDcZero + repeat(kRun0Size1 + "1", 48) + kZrl, {}, MOX_ERR_CORRUPT},
        {"RST where an AC code is due", kDcZero + kRun0Size1 + "1" + kRun0Size1 + "1", {0xFF, 0xD0}, MOX_ERR_CORRUPT},
        {"EOI where an AC code is due", kDcZero + kRun0Size1 + "1" + kRun0Size1 + "1", {0xFF, 0xD9}, 217},
        // DC category 10 fills the first byte; its 10 extra bits run into the marker.
        {"marker in the extra bits", "11111110", {0xFF, 0xD9}, MOX_ERR_CORRUPT},
    };
    for (const auto& c : cases) {
        Reader r(pack(c.bits, c.tail));
        int32_t block[64];
        int32_t predictor = 0;
        int32_t have = mox::decodeHuffman(&r.cursor, &r.dc, &r.ac, &predictor, block);
        EXPECT_EQ(have, c.want) << c.name << ": have " << have << ", want " << c.want;
    }
}

}  // namespace
}  // namespace moxtest
