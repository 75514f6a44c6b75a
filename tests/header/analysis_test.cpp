// MoxAnalysisHeader over hand-built streams: results, slack rules, the
// restore-on-1 contract, first fill through InputFunc and the log chains.
#include <gtest/gtest.h>

#include "header/stream_builder.h"

using headertest::Analysis;
using headertest::LogEntry;
using headertest::StreamBuilder;

namespace {

std::vector<uint8_t> luminanceZigzag()
{
    return std::vector<uint8_t>(mox::kLuminanceQuant, mox::kLuminanceQuant + 64);
}

struct ResultCase {
    const char* name;
    std::vector<uint8_t> stream;
    int32_t want;
    size_t totalSize = SIZE_MAX;
};

TEST(AnalysisHeader, ResultsOfWholeStreams)
{
    const std::vector<uint8_t> header = StreamBuilder().grayHeader().bytes();
    const ResultCase cases[] = {
        {"SOI EOI, total 4", StreamBuilder().soi().eoi().bytes(), MOX_HEADER_EOI, 4},
        {"SOI EOI, total 5", StreamBuilder().soi().eoi().bytes(), MOX_ERR_EARLY_EOI, 5},
        {"gray header", header, MOX_OK},
        {"no SOI first", StreamBuilder().raw(header).bytes(), MOX_OK},
        {"fill bytes before SOI", StreamBuilder().byte(0xFF).raw(header).bytes(), MOX_ERR_MARKER},
        {"first byte not 0xFF", StreamBuilder().byte(0x00).raw(header).bytes(), MOX_ERR_MARKER},
        {"0xFF 0x00 after SOI", StreamBuilder().soi().byte(0xFF).byte(0x00).eoi().bytes(),
         MOX_ERR_MARKER},
        {"progressive SOF2", StreamBuilder().soi().sof(8, 8, {{0x11, 0}}, 8, 0xC2).eoi().bytes(),
         MOX_ERR_UNSUPPORTED},
        {"extended SOF1", StreamBuilder().soi().sof(8, 8, {{0x11, 0}}, 8, 0xC1).eoi().bytes(),
         MOX_ERR_UNSUPPORTED},
        {"arithmetic SOF9", StreamBuilder().soi().sof(8, 8, {{0x11, 0}}, 8, 0xC9).eoi().bytes(),
         MOX_ERR_UNSUPPORTED},
        {"DAC", StreamBuilder().soi().segment(0xCC, {0x00, 0x10}).eoi().bytes(),
         MOX_ERR_UNSUPPORTED},
        {"DHP", StreamBuilder().soi().segment(0xDE, {}).eoi().bytes(), MOX_ERR_UNSUPPORTED},
        {"JPG13 0xFD", StreamBuilder().soi().marker(0xFD).eoi().bytes(), MOX_ERR_UNSUPPORTED},
        {"TEM reads as buffer end", StreamBuilder().soi().marker(0x01).raw(header).bytes(),
         MOX_NEED_INPUT},
        {"RST3 in header", StreamBuilder().soi().marker(0xD3).raw(header).bytes(), MOX_ERR_MARKER},
        {"APP1 skipped", StreamBuilder().soi().segment(0xE1, {'E', 'x', 'i', 'f', 0, 0, 1, 2})
                             .raw(header).bytes(), MOX_OK},
        {"APP15 skipped", StreamBuilder().soi().segment(0xEF, {1, 2, 3}).raw(header).bytes(),
         MOX_OK},
        {"reserved 0x02 skipped", StreamBuilder().soi().segment(0x02, {9}).raw(header).bytes(),
         MOX_OK},
        {"APP1 length 1", StreamBuilder().soi().marker(0xE1).word(1).raw(header).bytes(),
         MOX_ERR_MARKER},
        {"JFIF without thumbnail", StreamBuilder().soi().jfif(1, 300, 300).raw(header).bytes(),
         MOX_OK},
        {"JFIF with thumbnail", StreamBuilder().soi().jfif(1, 300, 300, 2, 1).raw(header).bytes(),
         MOX_HEADER_SKIPPED},
        {"JFXX JPEG thumbnail", StreamBuilder().soi().jfxx(0x10, 20).raw(header).bytes(),
         MOX_HEADER_SKIPPED},
        {"JFXX palette thumbnail", StreamBuilder().soi().jfxx(0x11, 0).raw(header).bytes(),
         MOX_HEADER_SKIPPED},
        {"JFXX RGB thumbnail", StreamBuilder().soi().jfxx(0x13, 7).raw(header).bytes(),
         MOX_HEADER_SKIPPED},
        {"JFXX unknown extension", StreamBuilder().soi().jfxx(0x12, 7).raw(header).bytes(),
         MOX_OK},
        {"APP0 of another kind", StreamBuilder().soi()
                                     .segment(0xE0, {'A', 'V', 'I', '1', 0, 0, 0}).raw(header)
                                     .bytes(), MOX_OK},
        {"JFIF too short for densities", StreamBuilder().soi()
                                             .segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1})
                                             .raw(header).bytes(), MOX_ERR_MARKER},
        {"frame 2 components", StreamBuilder().soi().dqt8(0, luminanceZigzag())
                                   .sof(8, 8, {{0x11, 0}, {0x11, 0}}).bytes(), MOX_ERR_MARKER},
        {"frame 0 components", StreamBuilder().soi().sof(8, 8, {}).bytes(), MOX_ERR_MARKER},
        {"frame 5 components", StreamBuilder().soi().dqt8(0, luminanceZigzag())
                                   .sof(8, 8, {{0x11, 0}, {0x11, 0}, {0x11, 0}, {0x11, 0},
                                               {0x11, 0}}).bytes(), MOX_ERR_MARKER},
        {"frame precision 12", StreamBuilder().soi().sof(8, 8, {{0x11, 0}}, 12).bytes(),
         MOX_ERR_MARKER},
        {"frame Tq 4", StreamBuilder().soi().sof(8, 8, {{0x11, 4}}).bytes(), MOX_ERR_MARKER},
        {"scan AC selector 3", StreamBuilder().soi().dqt8(0, luminanceZigzag())
                                   .sof(8, 8, {{0x11, 0}}).sos({{0x11, 0x03}}).bytes(),
         MOX_ERR_MARKER},
        {"scan DC selector 3", StreamBuilder().soi().dqt8(0, luminanceZigzag())
                                   .sof(8, 8, {{0x11, 0}}).sos({{0x11, 0x30}}).bytes(),
         MOX_ERR_MARKER},
        {"scan selectors 2", StreamBuilder().soi().dqt8(0, luminanceZigzag())
                                 .sof(8, 8, {{0x11, 0}}).sos({{0x11, 0x22}}).bytes(), MOX_OK},
        {"scan of 1 of 3 components", StreamBuilder().soi().dqt8(0, luminanceZigzag())
                                          .sof(8, 8, {{0x11, 0}, {0x11, 0}, {0x11, 0}})
                                          .sos({{0x11, 0x00}}).bytes(), MOX_ERR_MARKER},
        {"DHT class 2", StreamBuilder().soi().segment(0xC4, {0x20}).bytes(), MOX_ERR_MARKER},
        {"DHT id 4", StreamBuilder().soi().segment(0xC4, {0x04}).bytes(), MOX_ERR_MARKER},
        {"COM length 1", StreamBuilder().soi().marker(0xFE).word(1).raw(header).bytes(),
         MOX_ERR_MARKER},
    };
    for (const ResultCase& c : cases) {
        Analysis a(c.stream, SIZE_MAX, c.totalSize);
        int32_t have = a.run();
        EXPECT_EQ(have, c.want) << c.name << ": have " << have << ", want " << c.want;
    }
}

TEST(AnalysisHeader, StopsOnTheFirstEntropyByte)
{
    StreamBuilder builder;
    builder.grayHeader(40, 24);
    const size_t headerSize = builder.size();
    builder.raw({0x12, 0x34, 0xFF, 0x00}).eoi();
    Analysis a(builder.bytes());
    a.sys.consumedTotal = 0;
    ASSERT_EQ(a.run(), MOX_OK);
    EXPECT_EQ(a.sys.pieceOffset, headerSize);
    EXPECT_EQ(a.sys.consumedTotal, headerSize);
    EXPECT_EQ(a.pic.width, 40);
    EXPECT_EQ(a.pic.height, 24);
    EXPECT_EQ(a.pic.componentCount, 1);
}

// Word and skip reads need one byte beyond what they take; single bytes do not.
TEST(AnalysisHeader, SlackAtTheEndOfTheBuffer)
{
    const std::vector<uint8_t> header = StreamBuilder().grayHeader().bytes();
    struct Case {
        const char* name;
        std::vector<uint8_t> stream;
        int32_t want;
    } cases[] = {
        {"scan header ends at the last byte", header, MOX_OK},
        {"comment ends at the last byte", StreamBuilder().soi().comment("abc").bytes(),
         MOX_NEED_INPUT},
        {"comment then one byte", StreamBuilder().soi().comment("abc").byte(0xFF).bytes(),
         MOX_NEED_INPUT},
        {"DRI ends at the last byte", StreamBuilder().soi().segment(0xDD, {0, 4}).bytes(),
         MOX_NEED_INPUT},
        {"APP1 ends at the last byte", StreamBuilder().soi().segment(0xE1, {1, 2}).bytes(),
         MOX_NEED_INPUT},
        {"APP0 with 5 bytes left", StreamBuilder().soi().marker(0xE0).word(16).text("JFIF")
                                       .byte(0).bytes(), MOX_NEED_INPUT},
        {"JFIF ends at the last byte", StreamBuilder().soi().jfif(0, 1, 1).bytes(),
         MOX_NEED_INPUT},
        {"SOI then nothing", StreamBuilder().soi().bytes(), MOX_NEED_INPUT},
        {"SOI then one byte", StreamBuilder().soi().byte(0xFF).bytes(), MOX_NEED_INPUT},
    };
    for (const Case& c : cases) {
        Analysis a(c.stream, SIZE_MAX, c.stream.size() + 100);
        int32_t have = a.run();
        EXPECT_EQ(have, c.want) << c.name << ": have " << have << ", want " << c.want;
    }
}

// After 1 the stream fields are those at entry, whatever was read meanwhile;
// the caller then offers more bytes and the analysis starts over.
TEST(AnalysisHeader, NeedInputRestoresThePositionAndResumes)
{
    StreamBuilder builder;
    builder.soi().jfif(1, 72, 72, 1, 1).comment("resume");
    const size_t prefix = builder.size();
    builder.raw(StreamBuilder().grayHeader().bytes());
    const std::vector<uint8_t> stream = builder.bytes();

    // Start behind a prefix that an earlier call consumed.
    std::vector<uint8_t> shifted(7, 0xEE);
    shifted.insert(shifted.end(), stream.begin(), stream.end());
    for (size_t cut : {prefix - 3, prefix + 10, shifted.size() - 8}) {
        Analysis a(shifted, cut + 7, shifted.size() + 50);
        a.sys.pieceOffset = 7;
        a.sys.consumedTotal = 1007;
        a.sys.skipRemain = 3;
        ASSERT_EQ(a.run(), MOX_NEED_INPUT) << "cut " << cut;
        EXPECT_EQ(a.sys.pieceOffset, 7u) << "cut " << cut;
        EXPECT_EQ(a.sys.consumedTotal, 1007u) << "cut " << cut;
        EXPECT_EQ(a.sys.skipRemain, 3u) << "cut " << cut;
    }

    Analysis whole(shifted, SIZE_MAX, shifted.size() + 50);
    whole.sys.pieceOffset = 7;
    whole.sys.consumedTotal = 1007;
    ASSERT_EQ(whole.run(), MOX_HEADER_SKIPPED);
    EXPECT_EQ(whole.sys.pieceOffset, shifted.size());
    EXPECT_EQ(whole.sys.consumedTotal, 1000u + shifted.size());
    EXPECT_EQ(whole.sys.skipRemain, 0u);
    EXPECT_STREQ(whole.param.comment, "resume");
}

TEST(AnalysisHeader, ArgumentChecks)
{
    const std::vector<uint8_t> header = StreamBuilder().grayHeader().bytes();
    Analysis a(header);
    EXPECT_EQ(MoxAnalysisHeader(nullptr, nullptr, nullptr, &a.pic, &a.param, nullptr), MOX_ERR_NULL);
    EXPECT_EQ(MoxAnalysisHeader(&a.sys, nullptr, nullptr, nullptr, &a.param, nullptr), MOX_ERR_NULL);
    EXPECT_EQ(MoxAnalysisHeader(&a.sys, nullptr, nullptr, &a.pic, nullptr, nullptr), MOX_ERR_NULL);

    struct Case {
        const char* name;
        void (*spoil)(SystemParam*);
    } cases[] = {
        {"null buffer", [](SystemParam* s) { s->inputBuffer = nullptr; }},
        {"pieceSize 0", [](SystemParam* s) { s->pieceSize = 0; }},
        {"totalSize 0", [](SystemParam* s) { s->totalSize = 0; }},
    };
    for (const Case& c : cases) {
        Analysis b(header);
        c.spoil(&b.sys);
        std::vector<LogEntry> log = headertest::logDuring([&] {
            EXPECT_EQ(b.run(), MOX_ERR_NO_INPUT) << c.name;
        });
        std::vector<LogEntry> want = {{"D_preprocess", MOX_ERR_NO_INPUT},
                                      {"MoxAnalysisHeader", MOX_ERR_NO_INPUT}};
        EXPECT_EQ(log, want) << c.name;
    }
}

struct FillSource {
    std::vector<uint8_t> stream;
    int calls = 0;
    uint32_t lastLength = 0;
    int32_t answer = 0;
};

int32_t fillFromSource(uint8_t* buffer, uintptr_t, uint32_t length, int32_t flags, void* user)
{
    auto* source = static_cast<FillSource*>(user);
    ++source->calls;
    source->lastLength = length;
    EXPECT_EQ(flags, 0);
    if (source->answer != 0) return source->answer;
    std::memcpy(buffer, source->stream.data(), std::min<size_t>(length, source->stream.size()));
    return 0;
}

TEST(AnalysisHeader, FirstFillThroughInputFunc)
{
    FillSource source;
    source.stream = StreamBuilder().grayHeader().raw({1, 2, 3, 4, 5}).eoi().bytes();
    const size_t headerSize = StreamBuilder().grayHeader().size();

    // The buffer is larger than the stream: input is asked for the whole stream.
    Analysis a(std::vector<uint8_t>(source.stream.size() + 40, 0));
    a.sys.totalSize = uint32_t(source.stream.size());
    a.sys.firstFill = 1;
    ASSERT_EQ(a.run(fillFromSource, &source), MOX_OK);
    EXPECT_EQ(source.calls, 1);
    EXPECT_EQ(source.lastLength, source.stream.size());
    EXPECT_EQ(a.sys.firstFill, 0u);
    EXPECT_EQ(a.sys.pieceOffset, headerSize);

    // A piece shorter than the header: one fill of pieceSize bytes, then 1,
    // and no second fill when the caller comes back.
    FillSource shortSource;
    shortSource.stream = source.stream;
    Analysis b(std::vector<uint8_t>(50, 0));
    b.sys.totalSize = uint32_t(source.stream.size());
    b.sys.firstFill = 1;
    EXPECT_EQ(b.run(fillFromSource, &shortSource), MOX_NEED_INPUT);
    EXPECT_EQ(shortSource.lastLength, 50u);
    EXPECT_EQ(b.run(fillFromSource, &shortSource), MOX_NEED_INPUT);
    EXPECT_EQ(shortSource.calls, 1);

    // Input given with a null user: -12 and input untouched.
    FillSource unused;
    Analysis c(std::vector<uint8_t>(50, 0));
    c.sys.firstFill = 1;
    EXPECT_EQ(c.run(fillFromSource, nullptr), MOX_ERR_NULL);
    EXPECT_EQ(unused.calls, 0);
    EXPECT_EQ(c.sys.firstFill, 1u);

    // Input fails with 7: -111 and 7 in the error slot.
    FillSource failing;
    failing.answer = 7;
    Analysis d(std::vector<uint8_t>(50, 0));
    d.sys.firstFill = 1;
    int32_t error = 0;
    EXPECT_EQ(d.run(fillFromSource, &failing, &error), MOX_ERR_CALLBACK);
    EXPECT_EQ(error, 7);
    EXPECT_EQ(d.sys.firstFill, 1u);

    // Not the first fill: input is not called.
    FillSource notCalled;
    Analysis e(source.stream);
    e.sys.firstFill = 0;
    EXPECT_EQ(e.run(fillFromSource, &notCalled), MOX_OK);
    EXPECT_EQ(notCalled.calls, 0);
}

TEST(AnalysisHeader, FailureChainsInnermostFirst)
{
    const std::vector<uint8_t> header = StreamBuilder().grayHeader().bytes();
    struct Case {
        const char* name;
        std::vector<uint8_t> stream;
        std::vector<LogEntry> want;
    } cases[] = {
        {"frame cut in its components",
         std::vector<uint8_t>(header.begin(), header.begin() + 2 + 69 + 2 + 2 + 8),
         {{"GetByte", 1}, {"AnalysisFrame", 1}, {"AnalysisMarker", 1}, {"AnalysisMain", 1},
          {"MoxAnalysisHeader", 1}}},
        {"scan selector refused",
         StreamBuilder().soi().dqt8(0, luminanceZigzag()).sof(8, 8, {{0x11, 0}})
             .sos({{0x11, 0x03}}).bytes(),
         {{"AnalysisSOS", 255}, {"AnalysisMain", MOX_ERR_MARKER}}},
        {"precision refused", StreamBuilder().soi().sof(8, 8, {{0x11, 0}}, 12).bytes(),
         {{"AnalysisFrame", 255}, {"AnalysisMarker", 255}, {"AnalysisMain", MOX_ERR_MARKER}}},
        {"DHT word cut", StreamBuilder().soi().marker(0xC4).byte(0).byte(0).bytes(),
         {{"GetWord", 1}, {"AnalysisDHT", 1}, {"AnalysisMain", 1}, {"MoxAnalysisHeader", 1}}},
        {"marker cut", StreamBuilder().soi().bytes(),
         {{"GetByte", 1}, {"GetMarker", 1}, {"AnalysisMain", 1}, {"MoxAnalysisHeader", 1}}},
        {"one byte left for a marker", StreamBuilder().soi().byte(0xFF).bytes(),
         {{"AnalysisMain", 1}, {"MoxAnalysisHeader", 1}}},
        {"comment ends at the last byte", StreamBuilder().soi().comment("abc").bytes(),
         {{"AnalysisCOM", 1}, {"AnalysisMain", 1}, {"MoxAnalysisHeader", 1}}},
        {"oversized Huffman table",
         StreamBuilder().soi().marker(0xC4).word(2 + 17 + 16 * 200).byte(0x10)
             .raw(std::vector<uint8_t>(16 + 16 * 200, 200)).bytes(),
         {{"AnalysisDHT", MOX_ERR_HUFFMAN_TABLE}, {"AnalysisMain", MOX_ERR_HUFFMAN_TABLE}}},
        {"not a marker", StreamBuilder().soi().byte(0x00).byte(0x00).bytes(),
         {{"GetMarker", 255}, {"AnalysisMain", MOX_ERR_MARKER}}},
        {"JFIF version cut", StreamBuilder().soi().marker(0xE0).word(16).text("JFIF").byte(0)
                                 .byte(1).byte(1).bytes(),
         {{"SkipByte", 1}, {"AnalysisJFIF", 1}, {"AnalysisAPP", 1}, {"AnalysisMain", 1},
          {"MoxAnalysisHeader", 1}}},
        {"thumbnail cut", StreamBuilder().soi().jfif(0, 1, 1, 2, 2).bytes(),
         {{"SkipByte", 1}, {"AnalysisMain", 1}, {"MoxAnalysisHeader", 1}}},
        {"early end of image", StreamBuilder().soi().eoi().byte(0).bytes(),
         {{"AnalysisMain", MOX_ERR_EARLY_EOI}}},
        {"progressive", StreamBuilder().soi().sof(8, 8, {{0x11, 0}}, 8, 0xC2).bytes(),
         {{"AnalysisMain", MOX_ERR_UNSUPPORTED}}},
    };
    for (const Case& c : cases) {
        Analysis a(c.stream);
        std::vector<LogEntry> have = headertest::logDuring([&] { a.run(); });
        ASSERT_EQ(have.size(), c.want.size()) << c.name;
        for (size_t i = 0; i < have.size(); ++i) {
            EXPECT_EQ(have[i].name, c.want[i].name) << c.name << " record " << i;
            EXPECT_EQ(have[i].code, c.want[i].code) << c.name << " record " << i;
        }
    }
}

}  // namespace
