// Helpers of the VELA tests: bit strings, MCU planes and decoder set-ups,
// test pages and encode jobs; and the test-side writer of the bp (mode 2)
// and copier (mode 3) variants, which the library only reads.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/context.h"
#include "encoder/encode_support.h"
#include "frame/bits.h"
#include "support/picture.h"

namespace velatest {

// MSB-first bit string.
struct Bits {
    std::vector<uint8_t> bytes;
    uint32_t count = 0;
    Bits& put(uint64_t value, uint32_t n);
    template <typename F>
    Bits& map(F f, uint32_t n)
    {
        for (int p = 0; p < 64; ++p) put(uint64_t(f(p)), n);
        return *this;
    }
    std::vector<uint8_t> padded() const;  // last byte completed with 1-bits
};

std::vector<uint8_t> fromHex(const std::string& hex);
std::string toHex(const uint8_t* bytes, size_t count);

inline mox::BitCursor cursorOver(std::vector<uint8_t>& data)
{
    return mox::BitCursor{nullptr, 7, 0, data.data(), data.data(), nullptr, static_cast<uint32_t>(data.size()), 0};
}

// The tag plane and four sample planes of one MCU.
struct Mcu {
    std::array<std::array<int32_t, 64>, 4> samples{};
    std::array<uint8_t, 64> tags{};
    int32_t* planeArray[5];
    int32_t* const* planes()
    {
        planeArray[0] = reinterpret_cast<int32_t*>(tags.data());
        for (int c = 0; c < 4; ++c) planeArray[c + 1] = samples[c].data();
        return planeArray;
    }
    bool operator==(const Mcu& other) const { return samples == other.samples && tags == other.tags; }
};

// The McuParam the driver builds for mode 1 (`size` is the size mode), 2
// (MCUs of `size` bytes, the default table block) or 3 (the copier, fixed
// rotation 0): K.3/K.5 for every component but copier components 1 and 2
// (K.4/K.6), the test quantisation table, the range-limit table.
struct McuDecoder {
    HuffDecodeTable dc[2]{}, ac[2]{};
    int32_t quant[64];
    std::vector<uint8_t> rangeLimit;
    mox::McuParam param{};
    McuDecoder(int mode, uint32_t size, int outFormat = 4);
    // Mode-1 MCUs one after another up to the first failure (its status in *status).
    std::vector<Mcu> decodeAll(std::vector<uint8_t> stream, int32_t* status, size_t mcus);
    // The samples of a block of these coefficients.
    std::array<int32_t, 64> samples(const int32_t* coefficients, int c) const;
};

// Quantisation table of the tests (K.1), used by encoder and decoder.
const int32_t* testQuantTable();

// A page of 8x8 areas: photo-like, flat, two- and three-valued strokes.
moxtest::Picture velaPage(int width, int height, int components, uint32_t seed);

// A VELA encode set-up (pixel format 4 or 5), its param words in `words`.
struct VelaSetup {
    enctest::EncodeSetup setup;
    VelaEncodeParam words{};
};
VelaSetup velaSetup(int width, int height, int pixelFormat, int velaMode, uint32_t sizeMode, uint32_t seed = 1);
enctest::EncodeRun encodeVela(VelaSetup& setup);

// Decoder records for mode 1 (four components, the test table).
void velaRecords(PictureInfo& pic, DecodeParam& param, int width, int height, int outFormat,
                 const uint32_t* velaWords);

// ---- bp and copier writer ----

// Scan order x (0..5) of a run-coded map: scan position -> pixel.
const uint8_t* scanOrder(int x);

// What a bp tag section says; the layout comes from the table block.
struct BpTag {
    int a = 0, d = 0, k = 31, e = 0;
    bool b = false;
    uint8_t palette[5][4] = {};  // per entity, s + 1 values
    uint8_t uniformTag = 0;      // when no entity sits on the tag plane
    uint8_t mapping[5][4] = {};  // group members after the first: class -> value
    uint8_t maps[4][64] = {};    // classes per map
};

struct BpLayout {
    uint8_t size[5];      // 5 = absent
    uint8_t position[5];  // 0 tag plane, 1..4 blocks 0..3
    const uint8_t* row;   // mb_len_TBL record, or null
    int kBits;            // add_len_TBL, or -1
};
BpLayout bpLayout(const uint8_t* tables, int a, int d, int k, int e);
const uint8_t* bpFindRow(const uint8_t* tables, int table, int a, int second, int third);

std::vector<uint8_t> writeBpTag(const uint8_t* tables, const BpTag& tag);

// Random palettes, maps and permutations valid for key (a, d, k), placement e.
BpTag makeTag(const uint8_t* tables, int a, int d, int k, int e, bool b, uint32_t seed);
struct BpKey {
    int a, d, k;
};
// Every (A, D, K) that resolves through the default add_len_TBL and mb_len_TBL.
std::vector<BpKey> validKeys();
// A DC and a few AC values, one behind a run for ZRL, at times at 63 (no EOB).
std::array<int32_t, 64> someCoefficients(uint32_t seed);

// The values of every position (0 tag plane, 1..4 blocks) a section
// describes; flags as the decoder reports them (bit 3 = block 0).
struct BpPlanes {
    uint8_t values[5][64] = {};
    uint32_t flags = 0;
};
BpPlanes bpExpected(const uint8_t* tables, const BpTag& tag);

// Zig-zag coefficients coded with K.3/K.5 (K.4/K.6: chroma), DC against 0.
std::vector<uint8_t> writeBlock(const int32_t* coefficients, bool chroma);

// A bp MCU, long or short form (block 3 only), filled with 0xFF to `size`.
std::vector<uint8_t> writeBpMcu(const std::vector<uint8_t>& tag, const std::vector<uint8_t> blocks[4], bool shortForm,
                                int size);
// A copier MCU with rotation field r, filled to 64 bytes unless variable.
std::vector<uint8_t> writeCopierMcu(int r, const std::vector<uint8_t> blocks[3], bool variable);

}  // namespace velatest
