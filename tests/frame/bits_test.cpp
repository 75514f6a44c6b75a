// Bit reader and writer: the more-data checks at piece ends and write/read
// round trips. Reading and writing real streams is checked exactly against
// the reference codec in the decoder and encoder tests; the splice between
// pieces by the decoder's piece-end sweeps.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "frame/bits.h"

using mox::BitCursor;

namespace {

BitCursor cursorOver(std::vector<uint8_t>& bytes)
{
    BitCursor c{};
    c.bitPos = 7;
    c.data = c.pieceData = bytes.data();
    c.available = static_cast<uint32_t>(bytes.size());
    return c;
}

}  // namespace

// Random widths and values written with the JPEG writer read back with the
// JPEG reader (and raw writer with the bounded reader); the JPEG stream
// never holds 0xFF followed by anything but 0x00.
TEST(Writers, RoundTripThroughTheReaders)
{
    std::mt19937 random(7);
    std::vector<std::pair<uint32_t, int32_t>> items;
    for (int i = 0; i < 4000; ++i) {
        int32_t n = 1 + int32_t(random() % 16);
        uint32_t value = random() & ((1u << n) - 1);
        if (i % 5 == 0) value = (1u << n) - 1;  // plenty of 1-bits for stuffing
        items.emplace_back(value, n);
    }
    std::vector<uint8_t> jpeg(20000, 0), raw(20000, 0);
    BitCursor w = cursorOver(jpeg);
    int32_t rawIndex = 0, rawPos = 7;
    for (auto [value, n] : items) {
        ASSERT_EQ(mox::setJpgValue(value, n, &w), 0);
        ASSERT_EQ(mox::setValue(value, n, raw.data(), &rawIndex, &rawPos), 0);
    }
    for (int32_t i = 0; i + 1 < w.byteIndex; ++i)
        if (jpeg[i] == 0xFF) ASSERT_EQ(jpeg[i + 1], 0x00) << "at " << i;

    BitCursor r = cursorOver(jpeg);
    r.available = static_cast<uint32_t>(w.byteIndex + 1);
    BitCursor v = cursorOver(raw);
    v.available = static_cast<uint32_t>(rawIndex + 1);
    for (auto [value, n] : items) {
        ASSERT_EQ(mox::checkJpgBits(&r, n), 0);
        ASSERT_EQ(mox::getJpgValue(&r, n), int32_t(value));
        ASSERT_EQ(mox::getvelaValue(&v, n), int32_t(value));
    }
}

// Whatever checkJpgBits allows must be readable inside the piece, stuffing
// bytes included; and whatever lies inside the piece must be allowed. Swept
// over every read position of a stream dense in 0xFF, every width and every
// piece end up to six bytes ahead.
TEST(DataCheck, AllowsExactlyTheReadsThatEndInsideThePiece)
{
    std::mt19937 random(11);
    std::vector<uint8_t> stream;
    for (int i = 0; i < 600; ++i) {
        uint8_t byte = random() % 3 == 0 ? 0xFF : uint8_t(random());
        stream.push_back(byte);
        if (byte == 0xFF) stream.push_back(0x00);
    }
    stream.insert(stream.end(), {0xFF, 0xD9});

    BitCursor walk = cursorOver(stream);
    int checked = 0;
    while (walk.byteIndex + 24 < int32_t(stream.size())) {
        for (int32_t n = 1; n <= 16; ++n) {
            BitCursor whole = walk;
            ASSERT_GE(mox::getJpgValue(&whole, n), 0);
            bool endsAt = whole.bitPos == 7;
            int32_t needed = whole.byteIndex + (endsAt ? 0 : 1);  // bytes the read touched
            for (int32_t ahead = 0; ahead <= 6; ++ahead) {
                BitCursor c = walk;
                c.available = uint32_t(walk.byteIndex + ahead);
                int32_t have = mox::checkJpgBits(&c, n);
                int32_t want = needed <= int32_t(c.available) ? 0 : mox::kNeedMoreData;
                ASSERT_EQ(have, want) << "byteIndex " << walk.byteIndex << " bitPos " << walk.bitPos
                                      << " n " << n << " available " << c.available
                                      << ": the read touches " << needed << " bytes";
                ++checked;
            }
        }
        mox::getJpgValue(&walk, 1 + int32_t(random() % 16));
    }
    EXPECT_GT(checked, 10000);
}

// A marker split by a piece end: the carried tail ends in 0xFF and the next
// piece starts with the marker code. Read as data, the code would pass as
// eight bits; the reader must see it behind its 0xFF and report it.
TEST(DataCheck, MarkerCodeAtThePieceStartIsSeenBehindTheCarriedFF)
{
    for (uint8_t code : {0xD9, 0xD3}) {
        std::vector<uint8_t> piece = {code, 0x12, 0x34, 0x56};
        std::vector<uint8_t> splice = {0xAB, 0xFF, code, 0x12, 0x34};
        uint32_t flag = 1;
        BitCursor c = cursorOver(piece);  // reading the splice buffer: 2 carried bytes, then the piece's
        c.data = c.spliceData = splice.data();
        c.spliceFlag = &flag;
        c.spliceLength = 2;
        ASSERT_EQ(mox::getJpgValue(&c, 16), 0xABFF);
        ASSERT_EQ(mox::checkJpgBits(&c, 1), 0);
        EXPECT_EQ(mox::getJpgValue(&c, 1), -int32_t(code)) << "marker " << int(code);
    }
}
