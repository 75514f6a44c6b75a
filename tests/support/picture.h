// Synthetic photo-like test pictures: gradients, seeded noise, sharp edges
// and text-like strokes, never flat colour, so that every coefficient path
// of a codec is exercised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace moxtest {

struct Picture {
    int width = 0;
    int height = 0;
    int components = 0;  // bytes per pixel, interleaved
    std::vector<uint8_t> pixels;

    uint8_t at(int x, int y, int c) const { return pixels[(size_t(y) * width + x) * components + c]; }
};

Picture makePicture(int width, int height, int components, uint32_t seed = 1);

// Peak signal-to-noise ratio of b against a (same size and components), dB;
// 99 for identical pictures.
double psnr(const Picture& a, const Picture& b);

// FNV-1a 64-bit digest, for golden-output locks.
uint64_t digest(const uint8_t* data, size_t size);
inline uint64_t digest(const std::vector<uint8_t>& data) { return digest(data.data(), data.size()); }

}  // namespace moxtest
