// MoxAnalysisHeader over hand-built streams: results (one whole log chain for a refusal and one for a
// cut segment), slack rules, the restore-on-1 contract and the first fill through InputFunc.
#include <gtest/gtest.h>

#include <utility>

#include "header/stream_builder.h"

using headertest::Analysis;
using headertest::StreamBuilder;
using B = StreamBuilder;

namespace {

struct ResultCase {
    const char* name;
    std::vector<uint8_t> stream;
    int32_t want;
    std::vector<std::string> chain = {};  // checked when not empty
    size_t totalSize = SIZE_MAX;       // default: the stream's size
};

void runCases(const std::vector<ResultCase>& cases)
{
    for (const ResultCase& c : cases) {
        Analysis a(c.stream, SIZE_MAX, c.totalSize);
        int32_t have = 0;
        std::vector<std::string> log = headertest::logDuring([&] { have = a.run(); });
        EXPECT_EQ(have, c.want) << c.name << ": have " << have << ", want " << c.want;
        if (!c.chain.empty()) EXPECT_EQ(log, c.chain) << c.name;
    }
}

TEST(AnalysisHeader, ResultsAndChainsOfWholeStreams)
{
    const std::vector<uint8_t> header = B().grayHeader().bytes();
    runCases({
        {"SOI EOI, total 4", B().soi().eoi().bytes(), MOX_HEADER_EOI, {}, 4},
        {"SOI EOI, total 5", B().soi().eoi().bytes(), MOX_ERR_EARLY_EOI, {}, 5},
        {"piece holds bytes past the stream", B().soi().comment("abc").raw(header).bytes(),
         MOX_NEED_INPUT, {}, 8},
        {"no SOI first", header, MOX_OK},
        {"fill bytes before SOI", B().byte(0xFF).raw(header).bytes(), MOX_ERR_MARKER},
        {"not a marker", B().soi().byte(0).byte(0).bytes(), MOX_ERR_MARKER},
        {"0xFF 0x00 after SOI", B().soi().byte(0xFF).byte(0).eoi().bytes(), MOX_ERR_MARKER},
        {"progressive SOF2", B().soi().sof(8, 8, {{0x11, 0}}, 8, 0xC2).bytes(),
         MOX_ERR_UNSUPPORTED},
        {"DAC", B().soi().segment(0xCC, {0x00, 0x10}).eoi().bytes(), MOX_ERR_UNSUPPORTED},
        {"TEM reads as buffer end", B().soi().marker(0x01).raw(header).bytes(), MOX_NEED_INPUT},
        {"RST3 in header", B().soi().marker(0xD3).raw(header).bytes(), MOX_ERR_MARKER},
        {"APP1 skipped", B().soi().segment(0xE1, {'E', 'x', 'i', 'f', 0, 0}).raw(header).bytes(),
         MOX_OK},
        {"reserved 0x02 skipped", B().soi().segment(0x02, {9}).raw(header).bytes(), MOX_OK},
        {"APP1 length 1", B().soi().marker(0xE1).word(1).raw(header).bytes(), MOX_ERR_MARKER},
        {"JFXX JPEG thumbnail", B().soi().jfxx(0x10, 20).raw(header).bytes(), MOX_HEADER_SKIPPED},
        {"JFXX RGB thumbnail", B().soi().jfxx(0x13, 7).raw(header).bytes(), MOX_HEADER_SKIPPED},
        {"JFXX unknown extension", B().soi().jfxx(0x12, 7).raw(header).bytes(), MOX_OK},
        {"APP0 of another kind", B().soi().segment(0xE0, {'A', 'V', 'I', '1', 0, 0, 0})
                                     .raw(header).bytes(), MOX_OK},
        {"JFIF too short for densities", B().soi().segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1})
                                             .raw(header).bytes(), MOX_ERR_MARKER},
        {"frame 0 components", B().soi().sof(8, 8, {}).bytes(), MOX_ERR_MARKER},
        {"frame 2 components", B().grayFrame({{0x11, 0}, {0x11, 0}}).bytes(), MOX_ERR_MARKER},
        {"frame precision 12", B().soi().sof(8, 8, {{0x11, 0}}, 12).bytes(), MOX_ERR_MARKER,
         {"AnalysisFrame 255", "AnalysisMarker 255", "AnalysisMain -100"}},
        {"frame Tq 4", B().soi().sof(8, 8, {{0x11, 4}}).bytes(), MOX_ERR_MARKER},
        {"scan AC selector 3", B().grayFrame().sos({{0x11, 0x03}}).bytes(), MOX_ERR_MARKER},
        {"scan DC selector 3", B().grayFrame().sos({{0x11, 0x30}}).bytes(), MOX_ERR_MARKER},
        {"scan selectors 2", B().grayFrame().sos({{0x11, 0x22}}).bytes(), MOX_OK},
        {"scan of 1 of 3 components", B().grayFrame({{0x11, 0}, {0x11, 0}, {0x11, 0}})
                                          .sos({{0x11, 0x00}}).bytes(), MOX_ERR_MARKER},
        {"DHT class 2", B().soi().segment(0xC4, {0x20}).bytes(), MOX_ERR_MARKER},
        {"DHT id 4", B().soi().segment(0xC4, {0x04}).bytes(), MOX_ERR_MARKER},
        {"oversized Huffman table", B().soi().marker(0xC4).word(2 + 17 + 16 * 200).byte(0x10)
                                        .raw(std::vector<uint8_t>(16 + 16 * 200, 200)).bytes(),
         MOX_ERR_HUFFMAN_TABLE},
    });
}

// Word and skip reads need one byte beyond what they take; single bytes do
// not. The stream's bytes are all there is (totalSize is larger).
TEST(AnalysisHeader, SlackAtTheEndOfTheBuffer)
{
    const std::vector<uint8_t> header = B().grayHeader().bytes();
    const size_t frameCut = 2 + 69 + 2 + 2 + 8;  // inside the frame's component list
    std::vector<ResultCase> cases = {
        {"scan header ends at the last byte", header, MOX_OK},
        {"comment ends at the last byte", B().soi().comment("abc").bytes(), MOX_NEED_INPUT},
        {"comment then one byte", B().soi().comment("abc").byte(0xFF).bytes(), MOX_NEED_INPUT},
        {"frame cut in its components", {header.begin(), header.begin() + frameCut},
         MOX_NEED_INPUT, {"GetByte 1", "AnalysisFrame 1", "AnalysisMarker 1", "AnalysisMain 1", "MoxAnalysisHeader 1"}},
        {"DHT length cut", B().soi().marker(0xC4).byte(0).byte(0).bytes(), MOX_NEED_INPUT},
        {"DRI ends at the last byte", B().soi().segment(0xDD, {0, 4}).bytes(), MOX_NEED_INPUT},
        {"APP1 ends at the last byte", B().soi().segment(0xE1, {1, 2}).bytes(), MOX_NEED_INPUT},
        {"APP0 with 5 bytes left", B().soi().marker(0xE0).word(16).text("JFIF").byte(0).bytes(),
         MOX_NEED_INPUT},
        {"JFIF version cut", B().soi().marker(0xE0).word(16).text("JFIF").byte(0).byte(1).byte(1)
                                 .bytes(), MOX_NEED_INPUT},
        {"JFIF ends at the last byte", B().soi().jfif(0, 1, 1).bytes(), MOX_NEED_INPUT},
        {"thumbnail cut", B().soi().jfif(0, 1, 1, 2, 2).bytes(), MOX_NEED_INPUT},
        {"SOI then nothing", B().soi().bytes(), MOX_NEED_INPUT},
    };
    for (ResultCase& c : cases) c.totalSize = c.stream.size() + 100;
    runCases(cases);
}

// After 1 the stream fields are those at entry, whatever was read meanwhile;
// given the rest, the analysis starts over from there and counts on.
TEST(AnalysisHeader, NeedInputRestoresThePositionAndResumes)
{
    // 7 bytes an earlier call consumed, then a header with a thumbnail and a comment.
    const std::vector<uint8_t> stream = B().raw(std::vector<uint8_t>(7, 0xEE)).soi().jfif(1, 72, 72, 1, 1)
                                            .comment("resume").raw(B().grayHeader().bytes()).bytes();
    for (size_t piece : {size_t(30), stream.size() - 1, stream.size()}) {
        Analysis a(stream, piece, 1000 + stream.size() + 50);
        a.sys.pieceOffset = 7;
        a.sys.consumedTotal = 1007;
        a.sys.skipRemain = 3;
        bool whole = piece == stream.size();
        ASSERT_EQ(a.run(), whole ? MOX_HEADER_SKIPPED : MOX_NEED_INPUT) << "piece " << piece;
        EXPECT_EQ(a.sys.pieceOffset, whole ? stream.size() : 7u) << "piece " << piece;
        EXPECT_EQ(a.sys.consumedTotal, whole ? 1000u + stream.size() : 1007u) << "piece " << piece;
        EXPECT_EQ(a.sys.skipRemain, whole ? 0u : 3u) << "piece " << piece;
        if (whole) EXPECT_STREQ(a.param.comment, "resume");
    }
}

TEST(AnalysisHeader, ArgumentChecks)
{
    Analysis a(B().grayHeader().bytes());
    EXPECT_EQ(MoxAnalysisHeader(nullptr, nullptr, nullptr, &a.pic, &a.param, nullptr), MOX_ERR_NULL);
    EXPECT_EQ(MoxAnalysisHeader(&a.sys, nullptr, nullptr, nullptr, &a.param, nullptr), MOX_ERR_NULL);
    EXPECT_EQ(MoxAnalysisHeader(&a.sys, nullptr, nullptr, &a.pic, nullptr, nullptr), MOX_ERR_NULL);
    for (uint32_t* field : {&a.sys.pieceSize, &a.sys.totalSize}) {
        const uint32_t kept = std::exchange(*field, 0);
        EXPECT_EQ(a.run(), MOX_ERR_NO_INPUT);
        *field = kept;
    }
    a.sys.inputBuffer = nullptr;
    EXPECT_EQ(a.run(), MOX_ERR_NO_INPUT);
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
    const std::vector<uint8_t> stream = B().grayHeader().raw({1, 2, 3, 4, 5}).eoi().bytes();
    const struct {
        const char* name;
        size_t pieceSize;
        uint32_t firstFill;
        bool user;
        int32_t answer, want;
        int wantCalls;
        uint32_t wantLength;
    } cases[] = {
        {"buffer larger than the stream", stream.size() + 40, 1, true, 0, MOX_OK, 1, uint32_t(stream.size())},
        {"piece shorter than the header", 50, 1, true, 0, MOX_NEED_INPUT, 1, 50},
        {"null user", 50, 1, false, 0, MOX_ERR_NULL, 0, 0},
        {"input fails with 7", 50, 1, true, 7, MOX_ERR_CALLBACK, 1, 50},
        {"not the first fill", stream.size(), 0, true, 0, MOX_OK, 0, 0},
    };
    for (const auto& c : cases) {
        FillSource source{stream, 0, 0, c.answer};
        Analysis a(c.firstFill == 1 ? std::vector<uint8_t>(c.pieceSize, 0) : stream);
        a.sys.totalSize = uint32_t(stream.size());
        a.sys.firstFill = c.firstFill;
        int32_t error = 0;
        EXPECT_EQ(a.run(fillFromSource, c.user ? &source : nullptr, &error), c.want) << c.name;
        EXPECT_EQ(source.calls, c.wantCalls) << c.name;
        EXPECT_EQ(source.lastLength, c.wantLength) << c.name;
        EXPECT_EQ(a.sys.firstFill, c.want == MOX_OK || c.want == MOX_NEED_INPUT ? 0u : 1u) << c.name;
        EXPECT_EQ(error, c.answer) << c.name;
        if (c.want == MOX_NEED_INPUT) {  // the caller comes back: no second fill
            EXPECT_EQ(a.run(fillFromSource, &source), MOX_NEED_INPUT) << c.name;
            EXPECT_EQ(source.calls, 1) << c.name;
        }
    }
}

}  // namespace
