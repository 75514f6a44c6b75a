// Helpers of the VELA tests: bit strings to bytes, a cursor over a byte
// vector, one MCU's planes, a mode-1 MCU decoder set-up, test pages and
// whole encode jobs.
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

// "0110 1" -> bytes, spaces ignored, the last byte completed with ones.
std::vector<uint8_t> packBits(const std::string& bits);
// The bits of `bytes` as a string of '0'/'1'.
std::string bitString(const uint8_t* bytes, size_t count);
std::vector<uint8_t> fromHex(const std::string& hex);
std::string toHex(const uint8_t* bytes, size_t count);

inline mox::BitCursor cursorOver(std::vector<uint8_t>& data)
{
    return mox::BitCursor{nullptr, 7, 0, data.data(), data.data(), nullptr,
                          static_cast<uint32_t>(data.size()), 0};
}

// The tag plane and four sample planes of one MCU, as the decoders take them.
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
    bool operator==(const Mcu& other) const
    {
        return samples == other.samples && tags == other.tags;
    }
};

// What vela_decodemcu needs: K.3/K.5 tables for every component, one
// quantisation table, the range-limit table.
struct McuDecoder {
    HuffDecodeTable dc{};
    HuffDecodeTable ac{};
    int32_t quant[64];
    std::vector<uint8_t> rangeLimit;
    mox::McuParam param{};
    McuDecoder(uint32_t sizeMode, uint32_t rotation);
    // Decodes the MCUs of `stream` one after another; stops at the first
    // failure, whose status goes to *status (0 when all went through).
    std::vector<Mcu> decodeAll(std::vector<uint8_t> stream, int32_t* status, size_t mcus);
};

// Quantisation table of the tests (K.1), used by encoder and decoder.
const int32_t* testQuantTable();

// A page of 8x8 areas of four kinds, varied per component: photo-like
// (gradients and noise), flat, two-valued and three-valued strokes.
moxtest::Picture velaPage(int width, int height, int components, uint32_t seed);

// An encode set-up for VELA mode: pixel format 4 or 5, sub-mode, size mode;
// the caller changes param words through `words` afterwards.
struct VelaSetup {
    enctest::EncodeSetup setup;
    VelaEncodeParam words{};
};
VelaSetup velaSetup(int width, int height, int pixelFormat, int velaMode, uint32_t sizeMode,
                    uint32_t seed = 1);
// Encodes; the VelaSetup must stay in place (the param points at its words).
enctest::EncodeRun encodeVela(VelaSetup& setup);

// Fills decoder records for mode 1 (four components, the test table).
void velaRecords(PictureInfo& pic, DecodeParam& param, int width, int height, int outFormat,
                 const uint32_t* velaWords);

}  // namespace velatest
