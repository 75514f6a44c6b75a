// What the segment analysers store: quantisation tables in natural order,
// Huffman tables with their T.81 Annex C codes, selectors, restart
// interval, lines, densities and the comment.
#include <gtest/gtest.h>

#include "header/stream_builder.h"

using headertest::Analysis;
using headertest::StreamBuilder;

namespace {

// Zig-zag value k is base + k, so the natural table shows where each went.
std::vector<uint8_t> rampTable(uint8_t id, int base, bool wide)
{
    std::vector<uint8_t> body = {uint8_t((wide ? 0x10 : 0x00) | id)};
    for (int k = 0; k < 64; ++k) {
        int value = base + k;
        if (wide) body.push_back(uint8_t(value >> 8));
        body.push_back(uint8_t(value));
    }
    return body;
}

void expectRamp(const int32_t* table, int base, const char* what)
{
    for (int k = 0; k < 64; ++k)
        EXPECT_EQ(table[mox::kZigzagToNatural[k]], base + k) << what << " zig-zag " << k;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(Segments, QuantisationTables)
{
    // Two 8-bit tables in one segment of length 132; Tq 5 folds onto table 1;
    // a 16-bit table (values above 255) and an 8-bit one share a segment.
    StreamBuilder builder;
    builder.soi().segment(0xDB, concat({rampTable(0, 1, false), rampTable(2, 100, false)}));
    ASSERT_EQ(builder.bytes()[5], 132);
    builder.segment(0xDB, concat({rampTable(3, 1000, true), rampTable(5, 7, false)})).eoi();
    Analysis a(builder.bytes());
    EXPECT_EQ(a.run(), MOX_HEADER_EOI);
    expectRamp(a.param.quantTable[0], 1, "table 0");
    expectRamp(a.param.quantTable[2], 100, "table 2");
    expectRamp(a.param.quantTable[3], 1000, "16-bit table 3");
    expectRamp(a.param.quantTable[1], 7, "Tq 5");
}

TEST(Segments, FrameNeedsItsQuantisationTable)
{
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
    EXPECT_EQ(a.pic.width, 1234);
    EXPECT_EQ(a.pic.height, 567);
    EXPECT_EQ(a.pic.componentCount, 4);
    EXPECT_EQ(a.param.restartInterval, 0x0102);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(a.param.hSamp[i], frame[i].sampling >> 4) << "component " << i;
        EXPECT_EQ(a.param.vSamp[i], frame[i].sampling & 15) << "component " << i;
        EXPECT_EQ(a.param.quantSel[i], frame[i].table) << "component " << i;
        EXPECT_EQ(a.param.dcSel[i], scan[i].table >> 4) << "component " << i;
        EXPECT_EQ(a.param.acSel[i], scan[i].table & 15) << "component " << i;
    }

    Analysis lines(StreamBuilder().soi().segment(0xDC, {0x03, 0x21}).byte(0xFF).bytes(), SIZE_MAX,
                   1000);
    lines.run();
    EXPECT_EQ(lines.pic.height, 0x0321);
}

void expectTable(const HuffDecodeTable& have, const mox::HuffmanDefinition& definition, const char* what)
{
    headertest::expectPrefixCode(have, definition.bits, definition.values, what);
}

TEST(Segments, HuffmanIdsTwoAndThreeAreConsumedNotStored)
{
    using B = StreamBuilder;
    std::vector<uint8_t> body = concat({B::huffmanTable(0x02, mox::kLuminanceDc),
                                        B::huffmanTable(0x13, mox::kLuminanceAc),
                                        B::huffmanTable(0x01, mox::kChrominanceDc)});
    Analysis a(StreamBuilder().soi().segment(0xC4, body).bytes(), SIZE_MAX, 10000);
    EXPECT_EQ(a.run(), MOX_NEED_INPUT);
    expectTable(a.param.dcHuff[1], mox::kChrominanceDc, "DC 1 after ids 2 and 3");
    EXPECT_EQ(a.param.dcHuff[0].count, 0xFFFFFFFFu) << "DC 0 untouched";
    EXPECT_EQ(a.param.acHuff[0].count, 0xFFFFFFFFu) << "AC 0 untouched";
    EXPECT_EQ(a.param.acHuff[1].count, 0xFFFFFFFFu) << "AC 1 untouched";
}

TEST(Segments, Comments)
{
    const std::string hundred(100, 'h');
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{""}, ""},                                  // empty
        {{"first", hundred}, hundred},               // 100 characters stored whole
        {{"first", std::string(101, 'o')}, "first"}, // 101 skipped, the earlier one stays
    };
    for (const auto& [comments, want] : cases) {
        StreamBuilder builder;
        builder.soi();
        for (const std::string& text : comments) builder.comment(text);
        Analysis a(builder.raw(StreamBuilder().grayHeader().bytes()).bytes());
        std::memset(a.param.comment, 'X', sizeof a.param.comment);
        ASSERT_EQ(a.run(), MOX_OK) << want;
        EXPECT_EQ(std::string(a.param.comment, strnlen(a.param.comment, 101)), want);
    }
}

TEST(Segments, JfifDensities)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> stream;
        int32_t want;
        int unit, x, y;
    } cases[] = {
        {"length 16", StreamBuilder().soi().jfif(1, 300, 600).bytes(), MOX_OK, 1, 300, 600},
        {"thumbnail 1x1", StreamBuilder().soi().jfif(2, 118, 119, 1, 1).bytes(),
         MOX_HEADER_SKIPPED, 2, 118, 119},
        {"length 17", StreamBuilder().soi().segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1,
                                                           0, 2, 0, 0, 9}).bytes(),
         MOX_HEADER_SKIPPED, 0, 1, 2},
    };
    for (const Case& c : cases) {
        StreamBuilder builder;
        builder.raw(c.stream).raw(StreamBuilder().grayHeader().bytes());
        Analysis a(builder.bytes());
        EXPECT_EQ(a.run(), c.want) << c.name;
        EXPECT_EQ(a.pic.densityUnit, c.unit) << c.name;
        EXPECT_EQ(a.pic.densityX, c.x) << c.name;
        EXPECT_EQ(a.pic.densityY, c.y) << c.name;
        EXPECT_EQ(a.sys.pieceOffset, builder.size()) << c.name;
    }
}

}  // namespace
