// What the segment analysers store: quantisation tables in natural order,
// Huffman tables, selectors, restart interval, lines, densities and the
// comment.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "header/stream_builder.h"

using headertest::Analysis;
using headertest::StreamBuilder;

namespace {

// Zig-zag value k is base + k, so the natural table shows where each went.
std::vector<uint8_t> rampTables(std::initializer_list<std::tuple<uint8_t, int, bool>> tables)
{
    std::vector<uint8_t> body;
    for (auto [id, base, wide] : tables) {
        body.push_back(uint8_t((wide ? 0x10 : 0x00) | id));
        for (int k = 0; k < 64; ++k) {
            if (wide) body.push_back(uint8_t((base + k) >> 8));
            body.push_back(uint8_t(base + k));
        }
    }
    return body;
}

TEST(Segments, QuantisationTables)
{
    // Two 8-bit tables in one segment of length 132; Tq 5 folds onto table 1;
    // a 16-bit table (values above 255) and an 8-bit one share a segment.
    StreamBuilder builder;
    builder.soi().segment(0xDB, rampTables({{0, 1, false}, {2, 100, false}}));
    ASSERT_EQ(builder.bytes()[5], 132);
    builder.segment(0xDB, rampTables({{3, 1000, true}, {5, 7, false}})).eoi();
    Analysis a(builder.bytes());
    EXPECT_EQ(a.run(), MOX_HEADER_EOI);
    const int bases[4] = {1, 7, 100, 1000};
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 64; ++k)
            EXPECT_EQ(a.param.quantTable[t][mox::kZigzagToNatural[k]], bases[t] + k) << "table " << t << " zig-zag " << k;

    // A table left at zero must be defined before the frame selects it; a
    // table in the cleared state (-1) passes.
    const std::vector<uint8_t> frame = StreamBuilder().soi().sof(8, 8, {{0x11, 2}}).bytes();
    Analysis zeroed(frame, SIZE_MAX, 1000);
    zeroed.param.quantTable[2][0] = 0;
    EXPECT_EQ(zeroed.run(), MOX_ERR_MARKER);
    Analysis cleared(frame, SIZE_MAX, 1000);
    EXPECT_EQ(cleared.run(), MOX_NEED_INPUT);
    EXPECT_EQ(cleared.param.quantSel[0], 2);
}

// Selectors and sampling by position, four components, every Tq; the
// restart interval and a DNL that replaces the frame's number of lines.
TEST(Segments, FrameAndScanFields)
{
    const std::vector<headertest::Component> frame = {{0x21, 1}, {0x12, 0}, {0x11, 3}, {0x22, 2}};
    const std::vector<headertest::Component> scan = {{0, 0x01}, {0, 0x10}, {0, 0x12}, {0, 0x20}};
    StreamBuilder builder;
    builder.soi();
    for (uint8_t t = 0; t < 4; ++t) builder.dqt8(t, {mox::kLuminanceQuant, mox::kLuminanceQuant + 64});
    builder.sof(1234, 567, frame).segment(0xDD, {0x01, 0x02}).sos(scan);
    Analysis a(builder.bytes());
    ASSERT_EQ(a.run(), MOX_OK);
    EXPECT_EQ(a.pic.width * 10000 + a.pic.height * 10 + a.pic.componentCount, 12345674);
    EXPECT_EQ(a.param.restartInterval, 0x0102);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(a.param.hSamp[i] * 16 + a.param.vSamp[i], frame[i].sampling) << "component " << i;
        EXPECT_EQ(a.param.quantSel[i], frame[i].table) << "component " << i;
        EXPECT_EQ(a.param.dcSel[i] * 16 + a.param.acSel[i], scan[i].table) << "component " << i;
    }
    Analysis lines(StreamBuilder().soi().segment(0xDC, {0x03, 0x21}).byte(0xFF).bytes(), SIZE_MAX, 1000);
    lines.run();
    EXPECT_EQ(lines.pic.height, 0x0321);

    // Huffman ids 2 and 3 are read past, not stored.
    std::vector<uint8_t> body = StreamBuilder::huffmanTable(0x02, mox::kLuminanceDc);
    for (const auto& t : {StreamBuilder::huffmanTable(0x13, mox::kLuminanceAc),
                          StreamBuilder::huffmanTable(0x01, mox::kChrominanceDc)})
        body.insert(body.end(), t.begin(), t.end());
    Analysis huffman(StreamBuilder().soi().segment(0xC4, body).bytes(), SIZE_MAX, 10000);
    EXPECT_EQ(huffman.run(), MOX_NEED_INPUT);
    HuffDecodeTable want{};
    mox::buildHuffmanTable(mox::kChrominanceDc.bits, mox::kChrominanceDc.values, &want);
    const HuffDecodeTable& have = huffman.param.dcHuff[1];
    ASSERT_EQ(have.count, want.count);
    EXPECT_TRUE(std::equal(want.codes, want.codes + want.count, have.codes) &&
                std::equal(want.lengths, want.lengths + want.count, have.lengths) &&
                std::equal(want.symbols, want.symbols + want.count, have.symbols));
    for (const HuffDecodeTable* untouched : {&huffman.param.dcHuff[0], &huffman.param.acHuff[0], &huffman.param.acHuff[1]})
        EXPECT_EQ(untouched->count, 0xFFFFFFFFu);
}

// Comments: empty, 100 characters stored whole, 101 skipped (an earlier one
// stays). JFIF densities of length 16, with a thumbnail, of length 17.
TEST(Segments, CommentsAndDensities)
{
    const std::string hundred(100, 'h');
    const std::vector<std::pair<std::vector<std::string>, std::string>> comments = {
        {{""}, ""}, {{"first", hundred}, hundred}, {{"first", std::string(101, 'o')}, "first"}};
    for (const auto& [texts, want] : comments) {
        StreamBuilder builder;
        builder.soi();
        for (const std::string& text : texts) builder.comment(text);
        Analysis a(builder.raw(StreamBuilder().grayHeader().bytes()).bytes());
        std::memset(a.param.comment, 'X', sizeof a.param.comment);
        ASSERT_EQ(a.run(), MOX_OK) << want;
        EXPECT_EQ(std::string(a.param.comment, strnlen(a.param.comment, 101)), want);
    }
    const struct {
        std::vector<uint8_t> stream;
        int32_t want;
        int unit, x, y;
    } densities[] = {
        {StreamBuilder().soi().jfif(1, 300, 600).bytes(), MOX_OK, 1, 300, 600},
        {StreamBuilder().soi().jfif(2, 118, 119, 1, 1).bytes(), MOX_HEADER_SKIPPED, 2, 118, 119},
        {StreamBuilder().soi().segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 2, 0, 0, 9}).bytes(),
         MOX_HEADER_SKIPPED, 0, 1, 2},
    };
    for (const auto& c : densities) {
        StreamBuilder builder;
        builder.raw(c.stream).raw(StreamBuilder().grayHeader().bytes());
        Analysis a(builder.bytes());
        EXPECT_EQ(a.run(), c.want) << c.x;
        EXPECT_EQ(a.pic.densityUnit * 1000000 + a.pic.densityX * 1000 + a.pic.densityY,
                  c.unit * 1000000 + c.x * 1000 + c.y);
        EXPECT_EQ(a.sys.pieceOffset, builder.size()) << c.x;
    }
}

}  // namespace
