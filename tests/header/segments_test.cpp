// What the segment analysers store: quantisation tables in natural order,
// Huffman tables with their T.81 Annex C codes, selectors, restart
// interval, lines, densities and the comment.
#include <gtest/gtest.h>

#include "header/stream_builder.h"

using headertest::Analysis;
using headertest::StreamBuilder;

namespace {

// T.81 Figure A.6 written out by rows, independent of the library's table:
// the zig-zag index of each natural position.
const int kNaturalToZigzag[64] = {
    0,  1,  5,  6,  14, 15, 27, 28,  //
    2,  4,  7,  13, 16, 26, 29, 42,  //
    3,  8,  12, 17, 25, 30, 41, 43,  //
    9,  11, 18, 24, 31, 40, 44, 53,  //
    10, 19, 23, 32, 39, 45, 52, 54,  //
    20, 22, 33, 38, 46, 51, 55, 60,  //
    21, 34, 37, 47, 50, 56, 59, 61,  //
    35, 36, 48, 49, 57, 58, 62, 63,  //
};

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
    for (int n = 0; n < 64; ++n)
        EXPECT_EQ(table[n], base + kNaturalToZigzag[n])
            << what << " natural " << n << ": have " << table[n] << ", want "
            << base + kNaturalToZigzag[n];
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(Segments, QuantisationTables)
{
    // Two 8-bit tables in one segment of length 132.
    Analysis two(StreamBuilder().soi().segment(0xDB, concat({rampTable(0, 1, false),
                                                             rampTable(1, 100, false)}))
                     .bytes(), SIZE_MAX, 1000);
    ASSERT_EQ(two.sys.inputBuffer[5], 132);
    EXPECT_EQ(two.run(), MOX_NEED_INPUT);  // no scan follows
    expectRamp(two.param.quantTable[0], 1, "table 0");
    expectRamp(two.param.quantTable[1], 100, "table 1");
    EXPECT_EQ(two.param.quantTable[2][0], -1) << "table 2 untouched";

    // Tq 5 folds onto table 1; a 16-bit table keeps values above 255 (its
    // last word needs a byte after it).
    Analysis folded(StreamBuilder().soi().segment(0xDB, rampTable(5, 7, false))
                        .segment(0xDB, rampTable(3, 1000, true)).byte(0xFF).bytes(),
                    SIZE_MAX, 1000);
    folded.run();
    expectRamp(folded.param.quantTable[1], 7, "Tq 5");
    expectRamp(folded.param.quantTable[3], 1000, "16-bit table 3");
    EXPECT_EQ(folded.param.quantTable[0][0], -1) << "table 0 untouched";

    // 16-bit and 8-bit tables in one segment: the length counts both.
    Analysis mixed(StreamBuilder().soi().segment(0xDB, concat({rampTable(2, 300, true),
                                                               rampTable(0, 3, false)}))
                       .eoi().bytes());
    EXPECT_EQ(mixed.run(), MOX_HEADER_EOI);
    expectRamp(mixed.param.quantTable[2], 300, "mixed 16-bit table 2");
    expectRamp(mixed.param.quantTable[0], 3, "mixed 8-bit table 0");
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

TEST(Segments, FrameAndScanFields)
{
    std::vector<uint8_t> luminance(mox::kLuminanceQuant, mox::kLuminanceQuant + 64);
    struct Case {
        std::vector<headertest::Component> frame;
        std::vector<headertest::Component> scan;
    } cases[] = {
        {{{0x11, 0}}, {{0x11, 0x11}}},
        {{{0x22, 0}, {0x11, 1}, {0x11, 1}}, {{0, 0x00}, {0, 0x11}, {0, 0x21}}},
        {{{0x21, 1}, {0x12, 0}, {0x11, 3}, {0x22, 2}},
         {{0, 0x01}, {0, 0x10}, {0, 0x12}, {0, 0x20}}},
    };
    for (const Case& c : cases) {
        StreamBuilder builder;
        builder.soi();
        for (uint8_t t = 0; t < 4; ++t) builder.dqt8(t, luminance);
        builder.sof(1234, 567, c.frame).segment(0xDD, {0x01, 0x02}).sos(c.scan);
        Analysis a(builder.bytes());
        ASSERT_EQ(a.run(), MOX_OK) << c.frame.size() << " components";
        EXPECT_EQ(a.pic.width, 1234);
        EXPECT_EQ(a.pic.height, 567);
        EXPECT_EQ(a.pic.componentCount, int(c.frame.size()));
        EXPECT_EQ(a.param.restartInterval, 0x0102);
        for (size_t i = 0; i < c.frame.size(); ++i) {
            EXPECT_EQ(a.param.hSamp[i], c.frame[i].sampling >> 4) << "component " << i;
            EXPECT_EQ(a.param.vSamp[i], c.frame[i].sampling & 15) << "component " << i;
            EXPECT_EQ(a.param.quantSel[i], c.frame[i].table) << "component " << i;
            EXPECT_EQ(a.param.dcSel[i], c.scan[i].table >> 4) << "component " << i;
            EXPECT_EQ(a.param.acSel[i], c.scan[i].table & 15) << "component " << i;
        }
    }

    // A DNL segment replaces the frame's number of lines.
    Analysis lines(StreamBuilder().soi().segment(0xDC, {0x03, 0x21}).byte(0xFF).bytes(), SIZE_MAX,
                   1000);
    lines.run();
    EXPECT_EQ(lines.pic.height, 0x0321);
}

void expectTable(const HuffDecodeTable& have, const mox::HuffmanSpec& spec, const char* what)
{
    HuffDecodeTable want{};
    ASSERT_TRUE(mox::buildHuffmanTable(spec.bits, spec.values, &want));
    ASSERT_EQ(have.count, want.count) << what;
    for (uint32_t i = 0; i < want.count; ++i) {
        EXPECT_EQ(have.lengths[i], want.lengths[i]) << what << " entry " << i;
        EXPECT_EQ(have.codes[i], want.codes[i]) << what << " entry " << i;
        EXPECT_EQ(have.symbols[i], want.symbols[i]) << what << " entry " << i;
    }
}

TEST(Segments, AllFourAnnexKTablesInOneSegment)
{
    using B = StreamBuilder;
    std::vector<uint8_t> body = concat({B::huffmanTable(0x00, mox::kLuminanceDc),
                                        B::huffmanTable(0x01, mox::kChrominanceDc),
                                        B::huffmanTable(0x10, mox::kLuminanceAc),
                                        B::huffmanTable(0x11, mox::kChrominanceAc)});
    Analysis a(StreamBuilder().soi().segment(0xC4, body).bytes(), SIZE_MAX, 10000);
    EXPECT_EQ(a.run(), MOX_NEED_INPUT);
    expectTable(a.param.dcHuff[0], mox::kLuminanceDc, "DC 0");
    expectTable(a.param.dcHuff[1], mox::kChrominanceDc, "DC 1");
    expectTable(a.param.acHuff[0], mox::kLuminanceAc, "AC 0");
    expectTable(a.param.acHuff[1], mox::kChrominanceAc, "AC 1");
    EXPECT_EQ(a.param.acHuff[0].count, 162u);
    // Spot checks from T.81 Table K.5: EOB (0x00) is 1010, ZRL (0xF0) 11111111001.
    EXPECT_EQ(a.param.acHuff[0].symbols[3], 0x00u);
    EXPECT_EQ(a.param.acHuff[0].codes[3], 0b1010u);
    EXPECT_EQ(a.param.acHuff[0].lengths[3], 4u);
    EXPECT_EQ(a.param.acHuff[0].symbols[31], 0xF0u);
    EXPECT_EQ(a.param.acHuff[0].codes[31], 0b11111111001u);
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

// A DHT whose counts add up to more than 162 is refused before anything is
// written past the record.
TEST(Segments, OversizedHuffmanTableIsRefused)
{
    struct Guarded {
        DecodeParam param;
        uint8_t canary[64];
    };
    for (int extra : {1, 50, 16 * 255 - 162}) {
        std::vector<uint8_t> body = {0x11};
        int total = 162 + extra;
        for (int length = 0; length < 16; ++length) {
            int n = std::min(total, 255);
            body.push_back(uint8_t(n));
            total -= n;
        }
        body.resize(body.size() + size_t(162 + extra), 0x42);
        Analysis a(StreamBuilder().soi().segment(0xC4, body).bytes());
        auto guarded = std::make_unique<Guarded>();
        guarded->param = a.param;
        std::memset(guarded->canary, 0xC3, sizeof guarded->canary);
        int32_t have = MoxAnalysisHeader(&a.sys, nullptr, nullptr, &a.pic, &guarded->param, nullptr);
        EXPECT_EQ(have, MOX_ERR_HUFFMAN_TABLE) << "extra " << extra;
        for (uint8_t b : guarded->canary) ASSERT_EQ(b, 0xC3) << "extra " << extra;
        EXPECT_EQ(guarded->param.acHuff[1].count, 0xFFFFFFFFu) << "extra " << extra;
    }
}

TEST(Segments, Comments)
{
    const std::string hundred(100, 'h');
    const std::string hundredOne(101, 'o');
    struct Case {
        const char* name;
        std::vector<std::string> comments;
        std::string want;
    } cases[] = {
        {"empty", {""}, ""},
        {"100 characters stored whole", {"first", hundred}, hundred},
        {"101 characters skipped", {"first", hundredOne}, "first"},
        {"later comment wins", {"first", "second"}, "second"},
    };
    for (const Case& c : cases) {
        StreamBuilder builder;
        builder.soi();
        for (const std::string& text : c.comments) builder.comment(text);
        builder.raw(StreamBuilder().grayHeader().bytes());
        Analysis a(builder.bytes());
        std::memset(a.param.comment, 'X', sizeof a.param.comment);
        ASSERT_EQ(a.run(), MOX_OK) << c.name;
        EXPECT_EQ(std::string(a.param.comment, strnlen(a.param.comment, 101)), c.want) << c.name;
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
