// The band loop as the caller sees it: band hand-over, callback failures,
// the end-of-image search across pieces, and piece ends at every position
// of streams dense in stuffed 0xFF bytes and of MCUs longer than a piece.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "decoder/harness.h"
#include "frame/bits.h"
#include "header/stream_builder.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

std::vector<uint8_t> greyStream(int width, int height)
{
    RefEncodeOptions options;
    options.quality = 85;
    return refEncode(makePicture(width, height, 1, 9), options);
}

TEST(DecoderDriver, JobsAsTheCallerSeesThem)
{
    const std::vector<uint8_t> tall = greyStream(16, 40), square = greyStream(64, 64);
    // Pieces start at the scan: one ends right after the 0xFF of EOI.
    const uint32_t beforeEoi = static_cast<uint32_t>(square.size() - 1 - scanStart(square));
    const struct {
        const char* name;
        const std::vector<uint8_t>& stream;
        DecodeOptions options;
        int32_t want;
        int wantCalls;  // -1: any
        std::vector<uint32_t> wantLengths;
        uint32_t wantSlot, wantOffset;
    } cases[] = {
        {"bands of 16 to OutputFunc", tall, {0, 16, false, true}, 0, 1, {256, 256, 128}, 0, 0},
        {"bands of 16 returned", tall, {0, 16}, 0, 3, {}, 0, 0},  // returns 2, 2, then 0
        {"40 = 2 x 20: the last band full", tall, {0, 20, false, true}, 0, 1, {320, 320}, 0, 0},
        {"one band", tall, {0, 40, false, true}, 0, 1, {640}, 0, 0},
        {"InputFunc fails", square, {64, 0, true, false, 1, 7, 0}, MOX_ERR_CALLBACK, -1, {}, 7, 0},
        {"OutputFunc fails", square, {0, 8, false, true, 1, 0, 9}, MOX_ERR_CALLBACK, -1, {512}, 9, 0},
        {"EOI split, refills returned", square, {beforeEoi}, 0, -1, {}, 0, 1},
        {"EOI split, InputFunc", square, {beforeEoi, 0, true}, 0, -1, {}, 0, 1},
    };
    for (const auto& c : cases) {
        DecodeResult run = decodeStream(c.stream, c.options);
        EXPECT_EQ(run.status, c.want) << c.name;
        if (c.wantCalls >= 0) EXPECT_EQ(run.calls, c.wantCalls) << c.name;
        EXPECT_EQ(run.bandLengths, c.wantLengths) << c.name;
        EXPECT_EQ(run.errorSlot, c.wantSlot) << c.name;
        if (c.want == 0) EXPECT_EQ(run.consumedTotal, c.stream.size()) << c.name;
        if (c.wantOffset != 0) EXPECT_EQ(run.pieceOffset, c.wantOffset) << c.name;
        if (c.want < 0) EXPECT_EQ(run.statusAgain, c.want) << c.name << ": the first failure wins";
        EXPECT_EQ(run.liveBlocks, 0) << c.name;
    }
}

// A grey picture of `mcus` blocks stacked vertically, quantiser 1, two
// one-bit codes per table (DC: 0 -> dc0, 1 -> dc1; AC: 0 -> ac0, 1 -> EOB)
// and the given entropy-coded data; more than one chunk puts a restart
// interval of 1 and RST markers between them.
std::vector<uint8_t> handMadeStream(uint16_t mcus, uint8_t dc0, uint8_t dc1, uint8_t ac0,
                                    const std::vector<std::vector<uint8_t>>& chunks)
{
    std::vector<uint8_t> dc(17, 0), ac(17, 0);
    dc[1] = ac[1] = 2;
    ac[0] = 0x10;
    dc.insert(dc.end(), {dc0, dc1});
    ac.insert(ac.end(), {ac0, 0x00});
    headertest::StreamBuilder b;
    b.soi().dqt8(0, std::vector<uint8_t>(64, 1)).sof(8, uint16_t(8 * mcus), {{0x11, 0}});
    b.segment(0xC4, dc).segment(0xC4, ac).segment(0xDD, {0, uint8_t(chunks.size() > 1)}).sos({{0, 0x00}});
    for (size_t m = 0; m < chunks.size(); ++m) {
        b.raw(chunks[m]);
        if (m + 1 < chunks.size()) b.marker(uint8_t(0xD0 + m % 8));
    }
    return b.eoi().bytes();
}

// A 32x32 picture of 4 MCUs, Y 2x2, Cb 2x2, Cr 2x1, every block DC 0 and 63
// coefficients of 1023 under 15-bit codes: nearly all 1-bits, so most bytes
// are 0xFF with a stuffing byte, about 3300 bytes an MCU.
std::vector<uint8_t> longMcuStream(int restartInterval)
{
    headertest::StreamBuilder b;
    b.soi().dqt8(0, std::vector<uint8_t>(64, 1));
    if (restartInterval > 0) b.segment(0xDD, {0, uint8_t(restartInterval)});
    b.sof(32, 32, {{0x22, 0}, {0x22, 0}, {0x21, 0}});
    // DC: one code, size 0. AC: one code of each length 1..15; run 0 / size
    // 10 takes the last one, 111111111111110.
    std::vector<uint8_t> ac = {0x10, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0,
                               0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x11, 0x12, 0x13, 0xF0, 0x0A};
    b.segment(0xC4, {0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}).segment(0xC4, ac);
    b.sos({{0x1, 0x00}, {0x2, 0x00}, {0x3, 0x00}});
    std::vector<uint8_t> data(80000, 0);
    mox::BitCursor w{};
    w.data = data.data();
    w.bitPos = 7;
    for (int mcu = 0; mcu < 4; ++mcu) {
        for (int block = 0; block < 10; ++block) {
            mox::setJpgValue(0, 1, &w);  // DC size 0
            for (int k = 1; k < 64; ++k) {
                mox::setJpgValue(0x7FFE, 15, &w);
                mox::setJpgValue(0x3FF, 10, &w);  // +1023
            }
        }
        if (w.bitPos != 7 && (restartInterval > 0 || mcu == 3)) {  // pad with 1-bits
            data[w.byteIndex] |= uint8_t((1u << (w.bitPos + 1)) - 1);
            if (data[w.byteIndex++] == 0xFF) ++w.byteIndex;
            w.bitPos = 7;
        }
        if (restartInterval > 0 && mcu < 3) data[w.byteIndex++] = 0xFF, data[w.byteIndex++] = uint8_t(0xD0 + mcu);
    }
    data.resize(size_t(w.byteIndex));
    return b.raw(data).eoi().bytes();
}

// Every piece end of these streams must give the pixels of one buffer:
// - MCUs 0x81 0xFF (DC category 5; AC 0x08 with value bits 11111111; EOB),
//   with a restart after each: the data before the marker ends in a whole
//   0xFF; without restarts each MCU starts on the stuffing byte of a 0xFF;
// - MCUs 0x8x 0xFF (DC category 7, EOB, padding) with restarts: a padded 0xFF;
// - 13-bit MCUs of 1-bits only (DC category 11, EOB): every byte 0xFF 0x00,
//   and values read across two stuffing bytes;
// - MCUs longer than any piece, crossing many piece ends, with and without
//   restarts, also at sizes up to and beyond an MCU.
TEST(DecoderDriver, EveryPieceEndGivesThePixelsOfOneBuffer)
{
    const std::vector<std::vector<uint8_t>> whole(30, {0x81, 0xFF, 0x00});
    std::vector<std::vector<uint8_t>> padded;
    std::vector<uint8_t> joined, ones;
    for (int m = 0; m < 30; ++m) padded.push_back({uint8_t(0x80 + 3 * m), 0xFF, 0x00});
    for (const auto& mcu : whole) joined.insert(joined.end(), mcu.begin(), mcu.end());
    for (int byte = 0; byte < (13 * 30 + 7) / 8; ++byte) ones.insert(ones.end(), {0xFF, 0x00});
    const std::vector<uint8_t> streams[] = {
        handMadeStream(30, 0x00, 0x05, 0x08, whole),  handMadeStream(30, 0x00, 0x05, 0x08, {joined}),
        handMadeStream(30, 0x00, 0x07, 0x08, padded), handMadeStream(30, 0x00, 0x0B, 0x01, {ones}),
        longMcuStream(0), longMcuStream(1)};
    for (const std::vector<uint8_t>& stream : streams) {
        DecodeResult one = decodeStream(stream, DecodeOptions{});
        ASSERT_EQ(one.status, 0);
        const std::vector<uint8_t>& pixels = one.picture.pixels;
        EXPECT_NE(std::count(pixels.begin(), pixels.end(), pixels[0]), std::ptrdiff_t(pixels.size()));
        std::vector<uint32_t> sizes;
        for (uint32_t size = 64; size <= 100; ++size) sizes.push_back(size);
        for (uint32_t size = 101; size <= 4500 && stream.size() > 10000; size += 157) sizes.push_back(size);
        for (uint32_t piece : sizes)
            for (bool useInput : {false, true}) {
                if (stream.size() > 10000 && useInput != (piece % 2 == 0)) continue;  // the long MCUs: either
                DecodeOptions options{piece, 16 + piece % 7, useInput, piece % 3 == 0};
                DecodeResult run = decodeStream(stream, options);
                SCOPED_TRACE(testing::Message() << "stream of " << stream.size() << " bytes, piece " << piece
                                                << (useInput ? ", InputFunc" : ""));
                ASSERT_EQ(run.status, 0);
                ASSERT_TRUE(run.picture.pixels == pixels) << "pixels differ from the one-piece decode";
                EXPECT_EQ(run.consumedTotal, stream.size());
            }
    }
}

}  // namespace
}  // namespace moxtest
