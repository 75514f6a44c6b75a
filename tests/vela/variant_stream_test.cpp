// VELA streams through MoxDecode: a picture of any mode decodes to the same
// pixels in any piece size and band height, a cut one fails, and a caller
// table block of mode 2 changes exactly what its value bytes say.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "decoder/harness.h"
#include "vela/bp.h"
#include "vela_support.h"

namespace moxtest {
namespace {

using namespace velatest;

const uint8_t* const kTables = mox::bpDefaultTables();

struct Stream {
    int mode = 2;
    int width = 48, height = 40;  // 6 x 5 MCUs
    int componentCount = 4;
    int outFormat = 4;
    uint32_t bpSize = 0;          // velaBpParam word 2: 0 (64 bytes) or 1 (128)
    uint32_t variable = 0;        // copier variable-size flag, mode 1 size mode
    const uint8_t* tables = nullptr;
    std::vector<uint8_t> bytes;
};

struct Outcome {
    int32_t status = 0;
    std::vector<uint8_t> pixels;
    int live = 0;
    uint32_t consumed = 0;
};

// The variant decoders fetch every piece through InputFunc; bands go to
// OutputFunc or are taken on return 2.
Outcome decode(const Stream& s, uint32_t pieceSize, uint32_t bandLines, bool useOutput)
{
    const uint32_t bpWords[5] = {0, 0, s.bpSize, 0, 1}, velaWords[2] = {s.variable, 1};
    VelaCopierParam copier{};
    copier.words[1] = 1;
    copier.variableSize = s.variable;
    DecodeOptions options;
    options.pieceSize = pieceSize;
    options.bandLines = bandLines;
    options.useInput = true;
    options.useOutput = useOutput;
    options.outFormat = s.outFormat;
    options.records = [&](PictureInfo& pic, DecodeParam& param) {
        pic.width = s.width;
        pic.height = s.height;
        pic.mode = s.mode;
        pic.componentCount = s.componentCount;
        for (int t = 0; t < 4; ++t)
            for (int i = 0; i < 64; ++i) param.quantTable[t][i] = 1 + (i + t) % 7;
        for (int c = 0; c < 4; ++c) param.quantSel[c] = c % 2;
        param.velaParam = velaWords;
        param.velaBpParam = bpWords;
        param.velaBpTables = s.tables;
        param.velaCopierParam = &copier;
    };
    DecodeResult result = decodeStream(s.bytes, options);
    return {result.status, std::move(result.picture.pixels), result.liveBlocks, result.consumedTotal};
}

// A bp picture: every MCU another key, placement and header form, a uniform
// tag where a section is too big for the MCU.
Stream bpPicture(uint32_t bpSize, int placement = -1, const uint8_t* tables = kTables)
{
    Stream s;
    s.bpSize = bpSize;
    const int size = bpSize == 1 ? 128 : 64;
    const std::vector<BpKey> keys = validKeys();
    for (uint32_t m = 0; m < 30; ++m) {
        const BpKey& key = keys[m * 37 % keys.size()];
        const int e = placement >= 0 ? placement : int(m * 53 % 120);
        const BpTag tag = makeTag(tables, key.a, key.d, key.k, e, m % 5 == 0, m + 7 * bpSize);
        const bool shortForm = m % 4 == 1;
        std::vector<uint8_t> blocks[4];
        for (uint32_t b = shortForm ? 3 : 0; b < 4; ++b) blocks[b] = writeBlock(someCoefficients(m * 4 + b).data(), false);
        std::vector<uint8_t> mcu = writeBpMcu(writeBpTag(tables, tag), blocks, shortForm, size);
        if (mcu.size() > size_t(size)) mcu = writeBpMcu({0x84, uint8_t(m % 4)}, blocks, shortForm, size);
        s.bytes.insert(s.bytes.end(), mcu.begin(), mcu.end());
    }
    return s;
}

Stream copierPicture(uint32_t variable, int components)
{
    Stream s;
    s.mode = 3;
    s.componentCount = components;
    s.outFormat = 1;
    s.variable = variable;
    for (uint32_t m = 0; m < 30; ++m) {
        std::vector<uint8_t> blocks[3];
        for (uint32_t b = 0; b < 3; ++b) blocks[b] = writeBlock(someCoefficients(m * 3 + b + variable).data(), b != 0);
        std::vector<uint8_t> mcu = writeCopierMcu(m % 4, blocks, variable != 0);
        s.bytes.insert(s.bytes.end(), mcu.begin(), mcu.end());
    }
    return s;
}

// A mode-1 picture from our encoder, fixed or variable MCU size.
Stream velaPicture(uint32_t sizeMode)
{
    velatest::VelaSetup v = velatest::velaSetup(43, 29, MOX_PIXEL_CMYK, 2, sizeMode, 5);
    Stream s;
    s.mode = 1;
    s.width = 43, s.height = 29;
    s.variable = sizeMode;
    s.bytes = velatest::encodeVela(v).stream;
    return s;
}

TEST(VelaStreams, AnyPieceSizeAndBandHeightGiveTheSamePixels)
{
    const Stream streams[] = {velaPicture(0),       velaPicture(1),       bpPicture(0),        bpPicture(1),
                              copierPicture(0, 3), copierPicture(1, 3), copierPicture(1, 1)};
    for (const Stream& s : streams) {
        std::string name = "mode " + std::to_string(s.mode) + " size " + std::to_string(s.bpSize) +
                           " variable " + std::to_string(s.variable) + " components " +
                           std::to_string(s.componentCount);
        Outcome whole = decode(s, uint32_t(s.bytes.size()), uint32_t(s.height), true);
        ASSERT_EQ(whole.status, 0) << name;
        ASSERT_EQ(whole.pixels.size(), size_t(s.width * s.height * (s.componentCount == 1 ? 1 : s.componentCount)))
            << name;
        ASSERT_NE(std::count(whole.pixels.begin(), whole.pixels.end(), whole.pixels[0]), ptrdiff_t(whole.pixels.size()))
            << name << ": a picture of one value proves nothing";
        for (uint32_t piece = 64; piece <= 200; ++piece) {
            uint32_t band = std::array<uint32_t, 5>{1, 3, 8, 13, 40}[piece % 5];
            Outcome parts = decode(s, piece, band, piece % 2 == 0);
            ASSERT_EQ(parts.status, 0) << name << " piece " << piece << " band " << band;
            ASSERT_EQ(parts.pixels, whole.pixels) << name << " piece " << piece << " band " << band;
            ASSERT_EQ(parts.live, 0) << name;
            ASSERT_EQ(parts.consumed, s.bytes.size()) << name << " piece " << piece;
        }
    }
}

// A stream cut anywhere, at any piece size, fails with -99999 and leaks nothing.
TEST(VelaStreams, CutStreamsFail)
{
    for (uint32_t sizeMode : {0u, 1u}) {
        Stream s = velaPicture(sizeMode);
        const std::vector<uint8_t> whole = s.bytes;
        for (size_t cut = 1; cut < whole.size(); ++cut) {
            s.bytes.assign(whole.begin(), whole.begin() + long(cut));
            Outcome r = decode(s, 64 + uint32_t(cut % 37), 0, false);
            ASSERT_EQ(r.status, MOX_ERR_CORRUPT) << "size mode " << sizeMode << ", cut at " << cut;
            ASSERT_EQ(r.live, 0);
        }
    }
}

TEST(VelaStreams, CallerTablesReplaceValueBytesOnly)
{
    // Every key byte scrambled (the decoder keeps its own keys); col_posi
    // row 0 given the placement of row 119.
    std::vector<uint8_t> caller(mox::kBpTableBytes, 0xA5);
    const std::vector<uint8_t> defaults(kTables, kTables + mox::kBpTableBytes);
    const struct {
        uint32_t offset, rows, stride, bytes;
    } values[] = {{2, 89, 3, 1}, {269, 99, 3, 1}, {567, 288, 18, 15}, {5749, 34, 6, 5}, {5953, 120, 6, 5}};
    for (const auto& v : values)
        for (uint32_t r = 0; r < v.rows; ++r)
            std::memcpy(caller.data() + v.offset + r * v.stride, kTables + v.offset + r * v.stride, v.bytes);
    std::memcpy(caller.data() + 5953, kTables + 5953 + 119 * 6, 5);

    std::vector<uint8_t> effective = defaults;  // what the decoder holds after Init
    mox::overlayBpTables(effective.data(), caller.data());
    Stream first = bpPicture(0, 0, effective.data());
    Stream last = bpPicture(0, 119);
    Outcome reference = decode(last, 4096, 40, true);
    first.tables = caller.data();
    Outcome replaced = decode(first, 4096, 40, true);
    first.tables = nullptr;
    Outcome plain = decode(first, 4096, 40, true);
    ASSERT_EQ(reference.status, 0);
    ASSERT_EQ(replaced.status, 0);
    EXPECT_EQ(replaced.pixels, reference.pixels) << "E 0 under the caller's row = E 119 under the default";
    EXPECT_NE(plain.pixels, reference.pixels) << "the placement must matter for this picture";
}

}  // namespace
}  // namespace moxtest
