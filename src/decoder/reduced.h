// The arithmetic of the reduced-size transform for previews, shared by the
// reference (idct_reduced.cpp) and the fast decoder, which sums each
// coefficient in as it decodes it (huffman_fast.cpp).
//
// One 8x8 block of coefficients becomes w x h samples (8, 4, 2 or 1 each
// way), each the mean of the samples of the full transform it covers. The
// mean of r neighbouring samples of a cosine basis function is again a
// cosine, so every reduced sample is a weighted sum of the coefficients:
// out[k][m] = sum of d[v][u] * (down[v][k] * across[u][m]), taken from the
// DC term on over the nonzero AC terms in zig-zag order, each product formed
// as written. Along a side of n outputs, a[0][m] is the DC scale and
// a[u][m] = sqrt(2) / r * the sum over the r covered positions x of
// cos((2x + 1) u pi / 16). The scale is that of the full transform (eight
// times the sample), so its final rounding and clamping apply, and a block
// whose AC terms are all zero gives exactly the sample the full transform
// gives (two multiplications of the DC term), at every size.
#pragma once

#include <cstdint>

#include "decoder/idct.h"
#include "frame/t81tables.h"

namespace mox::reduced {

// The DC weight of each side of a block with AC terms.
constexpr double kDcScale = idct::kHalfSqrt2 * idct::kSqrt2;
constexpr double kDcTerm = kDcScale * kDcScale;

// W[m][u - 1] for the first half of the n outputs m of a side; the second
// half mirrors them, W[n - 1 - m][u] = (-1)^u W[m][u]. Eight outputs are the
// plain 8-point transform.
constexpr double kEighthWeights[4][7] = {
    {1.3870398453221475, 1.3065629648763766, 1.1758756024193586, 1.0, 0.7856949583871021,
     0.541196100146197, 0.275899379282943},
    {1.1758756024193586, 0.541196100146197, -0.275899379282943, -1.0, -1.3870398453221475,
     -1.3065629648763766, -0.7856949583871021},
    {0.7856949583871021, -0.541196100146197, -1.3870398453221475, -1.0, 0.275899379282943,
     1.3065629648763766, 1.1758756024193586},
    {0.275899379282943, -1.3065629648763766, -0.7856949583871021, 1.0, 1.1758756024193586,
     -0.541196100146197, -1.3870398453221475},
};
constexpr double kHalfWeights[2][7] = {
    {1.2814577238707532, 0.9238795325112867, 0.44998811156820784, 0.0, -0.30067244346752264,
     -0.3826834323650898, -0.2548977895520796},
    {0.5307971688350226, -0.9238795325112867, -1.0863674018546248, 0.0, 0.7258874908511509,
     0.3826834323650898, -0.10558212145139437},
};
constexpr double kQuarterWeights[1][7] = {
    {0.9061274463528879, 0.0, -0.31818964514320847, 0.0, 0.2126075236918141, 0.0,
     -0.18023995550173696},
};

// The weights of a side inside the picture, a[u][m] (a side of one output
// keeps frequency 0 only: the mean of a whole cosine period is zero).
struct Side {
    double a[8][8];
};
constexpr Side plainSide(int n, const double (*half)[7])
{
    Side side{};
    for (int m = 0; m < n; ++m) {
        side.a[0][m] = kDcScale;
        for (int u = 1; u < 8; ++u) {
            double w = n == 1 ? 0.0 : m < n / 2 ? half[m][u - 1] : half[n - 1 - m][u - 1];
            side.a[u][m] = m >= n / 2 && u % 2 == 1 ? -w : w;
        }
    }
    return side;
}
constexpr Side kSides[4] = {plainSide(1, nullptr), plainSide(2, kQuarterWeights),
                            plainSide(4, kHalfWeights), plainSide(8, kEighthWeights)};
constexpr const Side& sideOf(int n)
{
    return kSides[n == 1 ? 0 : n == 2 ? 1 : n == 4 ? 2 : 3];
}

// The full transform's last step: truncation toward zero (saturating where
// a corrupt block leaves the range), (t + 4) >> 3, the 10-bit wrap into the
// range-limit table.
inline int32_t toSample(double y, const uint8_t* limit)
{
    int32_t t = y >= 2147483647.0 ? INT32_MAX : y <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(y);
    int32_t v = static_cast<int32_t>((static_cast<int64_t>(t) + 4) >> 3);
    return limit[128 + (v & 0x3FF)];
}

inline int32_t dcSample(int32_t dequantisedDc, const uint8_t* limit)
{
    return toSample(double(dequantisedDc) * idct::kHalfSqrt2 * idct::kSqrt2, limit);
}

// down[v][j] * across[u][m] of each coefficient i = 8v + u of a W x H block
// inside the picture, for its samples in raster order (the products the
// reference forms as it goes, made once).
template <int W, int H>
struct Products {
    double of[64][W * H];
};
template <int W, int H>
constexpr Products<W, H> makeProducts()
{
    Products<W, H> p{};
    for (int i = 0; i < 64; ++i)
        for (int j = 0; j < H; ++j)
            for (int m = 0; m < W; ++m) p.of[i][W * j + m] = sideOf(W).a[i & 7][m] * sideOf(H).a[i >> 3][j];
    return p;
}
template <int W, int H>
constexpr Products<W, H> kProducts = makeProducts<W, H>();

// The sums of a W x H block inside the picture, fed coefficient by
// coefficient (dequantised, zig-zag position k, in increasing k).
template <int W, int H>
struct InsideSums {
    double sum[H * W] = {};  // set from the DC term at the first AC term
    int32_t dc = 0;
    bool ac = false;

    void operator()(int k, int32_t value)
    {
        if (k == 0) {
            dc = value;
            return;
        }
        if (value == 0) return;
        if (!ac) {
            ac = true;
            const double term = double(dc) * kDcTerm;
            for (int o = 0; o < W * H; ++o) sum[o] = term;
        }
        const double x = double(value);
        const double* products = kProducts<W, H>.of[kZigzagToNatural[k]];
        for (int o = 0; o < W * H; ++o) sum[o] += x * products[o];
    }

    // The samples, lines `stride` apart.
    void store(const uint8_t* limit, int32_t* output, int stride) const
    {
        if (!ac) {
            const int32_t sample = dcSample(dc, limit);
            for (int j = 0; j < H; ++j)
                for (int m = 0; m < W; ++m) output[stride * j + m] = sample;
            return;
        }
        for (int j = 0; j < H; ++j)
            for (int m = 0; m < W; ++m) output[stride * j + m] = toSample(sum[W * j + m], limit);
    }
};

}  // namespace mox::reduced
