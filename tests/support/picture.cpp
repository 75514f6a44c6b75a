#include "support/picture.h"

#include <cmath>

namespace moxtest {

namespace {

uint32_t nextRandom(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

uint8_t clampByte(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

Picture makePicture(int width, int height, int components, uint32_t seed)
{
    Picture p;
    p.width = width;
    p.height = height;
    p.components = components;
    p.pixels.resize(size_t(width) * height * components);
    uint32_t state = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Smooth photographic area, an edge, and strokes like text.
            bool stroke = ((x / 3) % 7 == 0 && (y % 11) < 8) || ((y / 2) % 9 == 0 && (x % 13) < 9);
            bool rightHalf = x * 2 >= width;
            for (int c = 0; c < components; ++c) {
                double wave = 64.0 * std::sin((x + 7 * c) * 0.11) * std::cos((y + 3 * c) * 0.07);
                int base = (x * 255) / (width > 1 ? width - 1 : 1);
                int value = (c % 2 == 0 ? base : 255 - base) / 2 + 64 + int(wave);
                if (rightHalf) value += 40 - 25 * c;
                value += int(nextRandom(state) % 25) - 12;
                if (stroke) value = (c == 1) ? 230 : 20;
                p.pixels[(size_t(y) * width + x) * components + c] = clampByte(value);
            }
        }
    }
    return p;
}

double psnr(const Picture& a, const Picture& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        double d = double(a.pixels[i]) - double(b.pixels[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    double mse = sum / double(a.pixels.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

uint64_t digest(const uint8_t* data, size_t size)
{
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace moxtest
