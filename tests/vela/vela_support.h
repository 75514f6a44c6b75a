// Helpers of the VELA tests: bit strings to bytes, a cursor over a byte
// vector, one MCU's planes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/bits.h"

namespace velatest {

// "0110 1" -> bytes, spaces ignored, the last byte completed with ones.
std::vector<uint8_t> packBits(const std::string& bits);
// The bits of `bytes` as a string of '0'/'1'.
std::string bitString(const uint8_t* bytes, size_t count);

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

}  // namespace velatest
