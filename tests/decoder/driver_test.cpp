// The band loop as the caller sees it: band hand-over, callback failures,
// the end-of-image search across pieces, and the log records it leaves.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

std::vector<uint8_t> greyStream(int width, int height, int restart = 0)
{
    RefEncodeOptions options;
    options.quality = 85;
    options.restartInterval = restart;
    return refEncode(makePicture(width, height, 1, 9), options);
}

TEST(DecoderDriver, BandsHandedOver)
{
    std::vector<uint8_t> stream = greyStream(16, 40);
    const struct {
        uint32_t bandLines;
        bool useOutput;
        int wantCalls;
        std::vector<uint32_t> wantLengths;
    } cases[] = {
        {16, true, 1, {256, 256, 128}},
        {16, false, 3, {}},       // returns 2, 2, then 0
        {20, true, 1, {320, 320}},  // 40 = 2 x 20: the last band is full
        {40, true, 1, {640}},
    };
    for (const auto& c : cases) {
        DecodeOptions options;
        options.bandLines = c.bandLines;
        options.useOutput = c.useOutput;
        DecodeResult run = decodeStream(stream, options);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.calls, c.wantCalls) << "band " << c.bandLines << ": have " << run.calls << " calls";
        EXPECT_EQ(run.bandLengths, c.wantLengths) << "band " << c.bandLines;
    }
}

TEST(DecoderDriver, CallbackFailuresStopTheJob)
{
    std::vector<uint8_t> stream = greyStream(64, 64);
    const struct {
        const char* name;
        DecodeOptions options;
    } cases[] = {
        {"input", {64, 0, true, false, 1, 7, 0}},
        {"output", {0, 8, false, true, 1, 0, 9}},
    };
    for (const auto& c : cases) {
        DecodeResult run = decodeStream(stream, c.options);
        EXPECT_EQ(run.status, MOX_ERR_CALLBACK) << c.name << ": have " << run.status;
        uint32_t want = static_cast<uint32_t>(c.options.inputResult + c.options.outputResult);
        EXPECT_EQ(run.errorSlot, want) << c.name << ": have slot " << run.errorSlot;
        EXPECT_EQ(run.statusAgain, MOX_ERR_CALLBACK) << c.name << ": the first failure wins";
        EXPECT_EQ(run.liveBlocks, 0);
    }
}

TEST(DecoderDriver, EndOfImageSplitAcrossPieces)
{
    std::vector<uint8_t> stream = greyStream(64, 64);
    // Pieces start at the scan: the first one ends right after the 0xFF of EOI.
    uint32_t piece = static_cast<uint32_t>(stream.size() - 1 - scanStart(stream));
    for (bool useInput : {false, true}) {
        DecodeOptions options;
        options.pieceSize = piece;
        options.useInput = useInput;
        DecodeResult run = decodeStream(stream, options);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.pieceOffset, 1u) << "have pieceOffset " << run.pieceOffset << ", want 1";
        EXPECT_EQ(run.consumedTotal, stream.size());
    }
}

TEST(DecoderDriver, FailureRecordCarriesTheMcuPosition)
{
    std::vector<uint8_t> stream = greyStream(32, 16, 1);
    // The third restart marker (after MCU 2 of row 0) becomes an APP0 marker.
    int seen = 0;
    for (size_t i = scanStart(stream); i + 1 < stream.size(); ++i)
        if (stream[i] == 0xFF && stream[i + 1] >= 0xD0 && stream[i + 1] <= 0xD7 && seen++ == 2) {
            stream[i + 1] = 0xE0;
            break;
        }
    testing::internal::CaptureStdout();
    DecodeResult run = decodeStream(stream, DecodeOptions{});
    MoxDispMsgTraceM();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(run.status, MOX_ERR_RESTART);
    EXPECT_NE(log.find("Error : processRST -99998"), std::string::npos) << log;
    size_t record = log.find("Error : MoxDecode -99998", log.rfind("Error : processRST -99998"));
    ASSERT_NE(record, std::string::npos) << log;
    EXPECT_NE(log.find(" x 2/3 \n y 0/1 \n", record), std::string::npos)
        << "want column 2 of 4 and row 0 of 2 in:\n" << log.substr(record);
}


// A grey picture of `mcus` blocks stacked vertically, quantiser 1, two
// one-bit codes per table (DC: 0 -> dc0, 1 -> dc1; AC: 0 -> ac0, 1 -> EOB)
// and the given entropy-coded data; more than one chunk puts a restart
// interval of 1 and RST markers between them.
std::vector<uint8_t> handMadeStream(size_t mcus, uint8_t dc0, uint8_t dc1, uint8_t ac0,
                                    const std::vector<std::vector<uint8_t>>& chunks)
{
    const bool restarts = chunks.size() > 1;
    std::vector<uint8_t> s = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    s.insert(s.end(), 64, 1);
    std::vector<uint8_t> rest = {
        0xFF, 0xC0, 0x00, 0x0B, 0x08, uint8_t(8 * mcus >> 8), uint8_t(8 * mcus), 0x00, 0x08,
        0x01, 0x01, 0x11, 0x00,
        0xFF, 0xC4, 0x00, 0x15, 0x00, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, dc0, dc1,
        0xFF, 0xC4, 0x00, 0x15, 0x10, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ac0, 0x00,
        0xFF, 0xDD, 0x00, 0x04, 0x00, uint8_t(restarts ? 1 : 0),
        0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};
    s.insert(s.end(), rest.begin(), rest.end());
    for (size_t m = 0; m < chunks.size(); ++m) {
        s.insert(s.end(), chunks[m].begin(), chunks[m].end());
        if (m + 1 < chunks.size()) s.insert(s.end(), {0xFF, uint8_t(0xD0 + m % 8)});
    }
    s.insert(s.end(), {0xFF, 0xD9});
    return s;
}

// Streams dense in stuffed 0xFF bytes, each decoded with every piece end:
// - MCUs 0x81 0xFF (DC category 5; AC 0x08 with value bits 11111111; EOB), with a
//   restart after each: the data before the marker ends in a whole 0xFF;
//   without restarts each MCU starts on the stuffing byte of a 0xFF;
// - MCUs 0x8x 0xFF (DC category 7, EOB, padding) with restarts: a padded 0xFF;
// - 13-bit MCUs of 1-bits only (DC category 11, EOB): every byte 0xFF 0x00,
//   and values read across two stuffing bytes.
TEST(DecoderDriver, StuffedFFAtEveryPieceEnd)
{
    const std::vector<std::vector<uint8_t>> whole(30, {0x81, 0xFF, 0x00});
    std::vector<std::vector<uint8_t>> padded;
    std::vector<uint8_t> joined, ones;
    for (int m = 0; m < 30; ++m) padded.push_back({uint8_t(0x80 + 3 * m), 0xFF, 0x00});
    for (const auto& mcu : whole) joined.insert(joined.end(), mcu.begin(), mcu.end());
    for (int byte = 0; byte < (13 * 30 + 7) / 8; ++byte) ones.insert(ones.end(), {0xFF, 0x00});
    const std::vector<uint8_t> streams[] = {
        handMadeStream(30, 0x00, 0x05, 0x08, whole),  handMadeStream(30, 0x00, 0x05, 0x08, {joined}),
        handMadeStream(30, 0x00, 0x07, 0x08, padded), handMadeStream(30, 0x00, 0x0B, 0x01, {ones})};
    for (const std::vector<uint8_t>& stream : streams) {
        DecodeResult one = decodeStream(stream, DecodeOptions{});
        ASSERT_EQ(one.status, 0);
        const std::vector<uint8_t>& pixels = one.picture.pixels;
        EXPECT_NE(std::count(pixels.begin(), pixels.end(), pixels[0]), std::ptrdiff_t(pixels.size()));
        for (uint32_t piece = 64; piece < 100; ++piece)
            for (bool useInput : {false, true}) {
                DecodeResult run = decodeStream(stream, DecodeOptions{piece, 0, useInput});
                SCOPED_TRACE(testing::Message() << "stream of " << stream.size() << " bytes, piece " << piece);
                ASSERT_EQ(run.status, 0);
                ASSERT_TRUE(run.picture.pixels == pixels) << "pixels differ from the one-piece decode";
            }
    }
}

}  // namespace
}  // namespace moxtest
