// MCUs longer than any piece: ten blocks of 15-bit codes and 10-bit values,
// nearly all 1-bits, so that most bytes are 0xFF with a stuffing byte
// (about 3300 bytes an MCU). They cross many piece ends and must decode at
// every piece size to the pixels of one whole buffer.
#include <gtest/gtest.h>

#include <string>

#include "decoder/harness.h"
#include "frame/bits.h"
#include "header/stream_builder.h"

namespace moxtest {
namespace {

// One code of each length 1..15; run 0 / size 10 takes the last one,
// 111111111111110.
std::vector<uint8_t> longCodeAcTable()
{
    std::vector<uint8_t> body = {0x10};
    for (int length = 1; length <= 16; ++length) body.push_back(length <= 15 ? 1 : 0);
    const uint8_t symbols[15] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                 0x08, 0x09, 0x11, 0x12, 0x13, 0xF0, 0x0A};
    body.insert(body.end(), symbols, symbols + 15);
    return body;
}

// A 32x32 picture of 4 MCUs, Y 2x2, Cb 2x2, Cr 2x1, every block DC 0 and
// 63 coefficients of 1023.
std::vector<uint8_t> longMcuStream(int restartInterval)
{
    headertest::StreamBuilder b;
    b.soi().dqt8(0, std::vector<uint8_t>(64, 1));
    if (restartInterval > 0) b.segment(0xDD, {0, uint8_t(restartInterval)});
    b.sof(32, 32, {{0x22, 0}, {0x22, 0}, {0x21, 0}});
    std::vector<uint8_t> dc = {0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00};
    b.segment(0xC4, dc).segment(0xC4, longCodeAcTable());
    b.sos({{0x1, 0x00}, {0x2, 0x00}, {0x3, 0x00}});

    std::vector<uint8_t> data(80000, 0);
    mox::BitCursor w{};
    w.data = data.data();
    w.bitPos = 7;
    auto padAndMark = [&](uint8_t marker) {
        if (w.bitPos != 7) {
            data[w.byteIndex] |= uint8_t((1u << (w.bitPos + 1)) - 1);
            if (data[w.byteIndex++] == 0xFF) ++w.byteIndex;
            w.bitPos = 7;
        }
        data[w.byteIndex++] = 0xFF;
        data[w.byteIndex++] = marker;
    };
    for (int mcu = 0; mcu < 4; ++mcu) {
        for (int block = 0; block < 10; ++block) {
            mox::setJpgValue(0, 1, &w);  // DC size 0
            for (int k = 1; k < 64; ++k) {
                mox::setJpgValue(0x7FFE, 15, &w);
                mox::setJpgValue(0x3FF, 10, &w);  // +1023
            }
        }
        if (restartInterval > 0 && (mcu + 1) % restartInterval == 0 && mcu < 3)
            padAndMark(uint8_t(0xD0 + (mcu / restartInterval) % 8));
    }
    padAndMark(0xD9);
    data.resize(size_t(w.byteIndex));
    b.raw(data);
    return b.bytes();
}

TEST(DecoderLongMcu, EveryPieceSizeGivesThePixelsOfOneBuffer)
{
    for (int restart : {0, 1}) {
        std::vector<uint8_t> stream = longMcuStream(restart);
        DecodeResult whole = decodeStream(stream, DecodeOptions{});
        ASSERT_EQ(whole.status, MOX_OK) << "restart " << restart;
        ASSERT_GT(stream.size() - scanStart(stream), 4u * 3000) << "MCUs are not that long";
        // Every size from 64 to 100, then sizes up to and beyond an MCU.
        std::vector<uint32_t> sizes;
        for (uint32_t size = 64; size <= 100; ++size) sizes.push_back(size);
        for (uint32_t size = 101; size <= 4500; size += 157) sizes.push_back(size);
        for (uint32_t size : sizes) {
            DecodeOptions options;
            options.pieceSize = size;
            options.useInput = size % 2 == 0;
            options.bandLines = 16 + size % 7;
            options.useOutput = size % 3 == 0;
            DecodeResult run = decodeStream(stream, options);
            std::string where = "restart " + std::to_string(restart) + " piece " + std::to_string(size);
            ASSERT_EQ(run.status, MOX_OK) << where;
            ASSERT_TRUE(run.picture.pixels == whole.picture.pixels) << where << ": pixels differ";
            EXPECT_EQ(run.consumedTotal, stream.size()) << where;
        }
    }
}

}  // namespace
}  // namespace moxtest
