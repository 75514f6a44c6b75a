// What the marker reader returns for every kind of byte pair; the byte and
// word readers' slack is the header tests'.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "frame/reader.h"

namespace {

// The bytes go into a heap block of exactly their size.
struct Bytes {
    std::unique_ptr<uint8_t[]> block;
    mox::ByteReader reader;
    explicit Bytes(const std::vector<uint8_t>& data, uint32_t offset = 0)
        : block(new uint8_t[data.empty() ? 1 : data.size()])
    {
        std::copy(data.begin(), data.end(), block.get());
        reader = {block.get(), uint32_t(data.size()), offset};
    }
};

TEST(Reader, GetMarker)
{
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t offset;
        uint8_t want;
        uint32_t wantOffset;
    } cases[] = {
        {{0xFF, 0xD8}, 0, 0xD8, 2},
        {{0x00, 0xFF, 0xC4, 0x00}, 1, 0xC4, 3},
        {{0xFF, 0xC0}, 0, 0xC0, 2},
        {{0xFF, 0xFE}, 0, 0xFE, 2},
        {{0xFF, 0x02}, 0, 0x02, 2},
        {{0xFF, 0x01}, 0, 1, 2},       // TEM reads as the buffer end
        {{0xFF, 0xFF, 0xD8}, 0, 0xFF, 2},  // a fill byte comes back as 0xFF
        {{0xFF, 0x00}, 0, 0xFF, 2},
        {{0xFF, 0x03}, 0, 0xFF, 2},
        {{0xFF, 0xBF}, 0, 0xFF, 2},
        {{0xD8, 0xFF}, 0, 0xFF, 1},
        {{0xFF}, 0, 1, 1},
        {{}, 0, 1, 0},
        {{0xFF, 0xD8}, 2, 1, 2},
        {{0xFF, 0xD8}, 5, 1, 5},       // a position past the end reads nothing
    };
    for (const Case& c : cases) {
        Bytes b(c.bytes, c.offset);
        uint8_t have = mox::GetMarker(&b.reader);
        EXPECT_EQ(have, c.want) << "bytes " << c.bytes.size() << " from " << c.offset
                                << ": have " << int(have) << ", want " << int(c.want);
        EXPECT_EQ(b.reader.offset, c.wantOffset) << "bytes " << c.bytes.size();
    }
}

}  // namespace
