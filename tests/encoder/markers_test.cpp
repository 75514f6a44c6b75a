// The bytes the marker writer puts around the entropy-coded data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder/encode_support.h"
#include "encoder/encoder.h"
#include "frame/t81tables.h"
#include "support/refjpeg.h"

namespace {

using enctest::EncodeRun;
using enctest::EncodeSetup;
using enctest::makeSetup;
using enctest::runEncode;

struct Segment {
    uint8_t marker;
    size_t offset;                // of the FF
    std::vector<uint8_t> body;    // after the length field
};

// Header segments from SOI up to and including SOS.
std::vector<Segment> headerSegments(const std::vector<uint8_t>& stream)
{
    std::vector<Segment> segments;
    size_t at = 2;
    segments.push_back({0xD8, 0, {}});
    while (at + 4 <= stream.size() && stream[at] == 0xFF) {
        uint8_t marker = stream[at + 1];
        size_t length = size_t(stream[at + 2]) << 8 | stream[at + 3];
        segments.push_back({marker, at, std::vector<uint8_t>(stream.begin() + at + 4,
                                                             stream.begin() + at + 2 + length)});
        at += 2 + length;
        if (marker == 0xDA) break;
    }
    return segments;
}

size_t headerBytes(const std::vector<uint8_t>& stream)
{
    auto segments = headerSegments(stream);
    const Segment& sos = segments.back();
    return sos.offset + 4 + sos.body.size();
}

std::vector<uint8_t> encodeStream(const EncodeSetup& setup)
{
    EncodeRun run = runEncode(setup);
    EXPECT_EQ(run.initStatus, MOX_OK);
    EXPECT_EQ(run.status, MOX_OK);
    return run.stream;
}

TEST(EncodeMarkers, DefaultHeaderLayout)
{
    auto stream = encodeStream(makeSetup(16, 8, MOX_PIXEL_RGB, 5));
    auto segments = headerSegments(stream);
    std::vector<uint8_t> want = {0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC4, 0xC4, 0xC4, 0xC4, 0xC0, 0xDA};
    std::vector<uint8_t> order;
    for (const Segment& s : segments) order.push_back(s.marker);
    EXPECT_EQ(order, want);
    EXPECT_EQ(headerBytes(stream), 644u);

    const std::vector<uint8_t> app0 = {'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0, 72, 0, 0};
    EXPECT_EQ(segments[1].body, app0);
    std::string comment(segments[2].body.begin(), segments[2].body.end());
    EXPECT_EQ(comment, std::string("VELA IMAGING LAB") + '\0');
    // SOF0: precision, height 8, width 16, 3 components 2x1/1x1/1x1.
    const std::vector<uint8_t> sof = {8, 0, 8, 0, 16, 3, 1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1};
    EXPECT_EQ(segments[9].body, sof);
    const std::vector<uint8_t> sos = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    EXPECT_EQ(segments[10].body, sos);
    // EOI closes the stream.
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[stream.size() - 2], 0xFF);
    EXPECT_EQ(stream.back(), 0xD9);
}

TEST(EncodeMarkers, RestartIntervalAndMarkers)
{
    EncodeSetup setup = makeSetup(16 * 10, 8, MOX_PIXEL_RGB, 5);  // 10 MCUs in one row
    setup.param.restartInterval = 300;
    auto stream = encodeStream(setup);
    auto segments = headerSegments(stream);
    ASSERT_EQ(segments[2].marker, 0xDD);
    const std::vector<uint8_t> dri = {0xFF, 0xDD, 0x00, 0x04, 0x01, 0x2C};
    EXPECT_EQ(std::vector<uint8_t>(stream.begin() + segments[2].offset,
                                   stream.begin() + segments[2].offset + 6),
              dri);

    // Interval 1 over 10 MCUs: RST0..RST7, RST0 after MCUs 1..9, none after
    // the last.
    setup.param.restartInterval = 1;
    stream = encodeStream(setup);
    std::vector<int> restarts;
    for (size_t i = headerBytes(stream); i + 1 < stream.size(); ++i)
        if (stream[i] == 0xFF && stream[i + 1] >= 0xD0 && stream[i + 1] <= 0xD7)
            restarts.push_back(stream[i + 1] - 0xD0);
    EXPECT_EQ(restarts, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 0}));
}

TEST(EncodeMarkers, OmitMarkersGivesBareEntropyData)
{
    EncodeSetup setup = makeSetup(24, 16, MOX_PIXEL_GRAY, 5);
    auto full = encodeStream(setup);
    setup.pic.omitMarkers = 1;
    auto bare = encodeStream(setup);
    // The bare stream is exactly the scan data of the full one: no SOI,
    // header or EOI, the last byte padded with 1-bits all the same.
    ASSERT_GT(bare.size(), 10u);
    EXPECT_EQ(bare, std::vector<uint8_t>(full.begin() + headerBytes(full), full.end() - 2));
}

}  // namespace
