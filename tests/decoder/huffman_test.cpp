// Baseline Huffman decoding on hand-built bit strings with the T.81 K.3 and
// K.5 tables: run/size handling, the limits of a block, markers met inside
// the data, and the all-or-nothing rule of an MCU.
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

// Coefficients first..last set to 1.
std::vector<std::pair<int, int32_t>> ones(int first, int last)
{
    std::vector<std::pair<int, int32_t>> out;
    for (int k = first; k <= last; ++k) out.emplace_back(k, 1);
    return out;
}

const std::string kDcZero = "00";          // K.3 category 0
const std::string kDcOne = "010";          // K.3 category 1
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

TEST(DecoderHuffman, Blocks)
{
    const struct {
        const char* name;
        std::string bits;
        std::vector<uint8_t> tail;
        int32_t predictor;
        int32_t want;
        std::vector<std::pair<int, int32_t>> nonzero;  // expected non-zero coefficients
    } cases[] = {
        {"EOB only", kDcZero + kEob, {}, 0, 0, {}},
        {"DC category 0 keeps the predictor", kDcZero + kEob, {}, 5, 0, {{0, 5}}},
        {"DC +1 and -1", kDcOne + "1" + kEob, {}, 7, 0, {{0, 8}}},
        {"ZRL at 1", kDcZero + kZrl + kRun0Size1 + "0" + kEob, {}, 0, 0, {{17, -1}}},
        {"ZRL at 48 completes", kDcZero + repeat(kRun0Size1 + "1", 47) + kZrl, {}, 0, 0, ones(1, 47)},
        {"ZRL at 49 overruns", kDcZero + repeat(kRun0Size1 + "1", 48) + kZrl, {}, 0, MOX_ERR_CORRUPT, {}},
        {"RST where an AC code is due", kDcZero + kRun0Size1 + "1" + kRun0Size1 + "1", {0xFF, 0xD0}, 0, MOX_ERR_CORRUPT, {}},
        {"EOI where an AC code is due", kDcZero + kRun0Size1 + "1" + kRun0Size1 + "1", {0xFF, 0xD9}, 0, 217, {}},
        // DC category 10 fills the first byte; its 10 extra bits run into the marker.
        {"marker in the extra bits", "11111110", {0xFF, 0xD9}, 0, MOX_ERR_CORRUPT, {}},
    };
    for (const auto& c : cases) {
        Reader r(pack(c.bits, c.tail));
        int32_t block[64];
        for (int32_t& v : block) v = 99;
        int32_t predictor = c.predictor;
        int32_t have = mox::decodeHuffman(&r.cursor, &r.dc, &r.ac, &predictor, block);
        EXPECT_EQ(have, c.want) << c.name << ": have " << have << ", want " << c.want;
        if (c.want != 0) continue;
        std::vector<int32_t> want(64, 0);
        want[0] = c.predictor;
        for (auto [index, value] : c.nonzero) want[size_t(index)] = value;
        EXPECT_EQ(std::vector<int32_t>(block, block + 64), want) << c.name;
        EXPECT_EQ(predictor, want[0]) << c.name;
    }
}

TEST(DecoderHuffman, McuShortOfDataRestoresEverything)
{
    // Two luminance blocks; the second one ends a bit short.
    std::vector<uint8_t> bytes = pack(kDcOne + "1" + kEob + kDcOne + "1" + kEob);
    Reader r(bytes);
    r.cursor.available = 1;  // only the first block's byte is there
    int32_t quant[64];
    for (int32_t& q : quant) q = 1;
    uint8_t range[mox::kRangeLimitBytes];
    mox::buildRangeLimit(range);
    mox::McuParam param{};
    param.componentCount = 1;
    param.rangeLimit = range + mox::kRangeLimitOrigin;
    param.component[0] = mox::McuComponent{2, 1, &r.dc, &r.ac, quant};
    int32_t predictors[4] = {3, 0, 0, 0};
    int32_t plane[128];
    int32_t* planes[5] = {nullptr, plane, nullptr, nullptr, nullptr};
    int32_t have = mox::decodeMcu(&r.cursor, &param, predictors, planes);
    EXPECT_EQ(have, mox::kNeedMoreData) << "have " << have;
    EXPECT_EQ(r.cursor.byteIndex, 0);
    EXPECT_EQ(r.cursor.bitPos, 7);
    EXPECT_EQ(predictors[0], 3) << "DC predictor not restored";

    r.cursor.available = static_cast<uint32_t>(bytes.size());
    have = mox::decodeMcu(&r.cursor, &param, predictors, planes);
    EXPECT_EQ(have, 0) << "have " << have;
    EXPECT_EQ(predictors[0], 5);
    // 0.7071068 x 1.41421356 is slightly above 1: DC 4 and DC 5 leave the
    // transform as 4.0000001 and 5.0000001, and (t + 4) >> 3 gives 1 for both.
    EXPECT_EQ(plane[0], 129);
    EXPECT_EQ(plane[64], 129);
}

}  // namespace
}  // namespace moxtest
