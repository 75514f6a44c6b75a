// Dequantisation and reduced-size inverse DCT for previews: one 8x8 block
// of coefficients becomes w x h samples (8, 4, 2 or 1 each way), each the
// mean of the samples of the full transform it covers.
//
// The mean of r neighbouring samples of a cosine basis function is again a
// cosine, so every reduced sample is a weighted sum of all eight
// frequencies of a row (then of a column): out[m] = x0 + sum W[m][u] x[u],
// with W[m][u] = sqrt(2) / r * sum over the r covered positions x of
// cos((2x + 1) u pi / 16). The weights are exact doubles; the scale is that
// of the full transform (eight times the sample), so the final rounding and
// clamping are the same, and a block with only a DC term gives exactly the
// sample the full transform gives. One sample a block is the DC term alone.
// Clamping applies to the reduced samples: where the full transform clamps
// some of the samples a reduced one covers, the two can differ by more.
#include <algorithm>
#include <cstdint>

#include "decoder/decoder.h"
#include "frame/t81tables.h"

namespace mox {

namespace {

// The DC term is scaled exactly as in the full transform: two multiplications.
constexpr double kHalfSqrt2 = 0.7071068;
constexpr double kSqrt2 = 1.41421356;

// W[m][u - 1] for the first half of the n outputs m of a pass; the second
// half mirrors them, W[n - 1 - m][u] = (-1)^u W[m][u]. Eight outputs are the
// plain 8-point transform (a subsampled component at half the reduction).
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

const double (*weightsFor(int n))[7]
{
    return n == 8 ? kEighthWeights : n == 4 ? kHalfWeights : kQuarterWeights;
}

// The weights of one pass over a block that the picture's edge cuts:
// cover[x] tells how many picture samples position x stands for (0 outside,
// 2 where a subsampled component's sample fills two), and each output
// averages its positions by that count. An output wholly outside is never
// shown and keeps the plain weights.
void edgeWeights(int n, const uint8_t* cover, double (*weights)[7])
{
    const int group = kBlockSide / n;
    for (int m = 0; m < n; ++m) {
        const int first = m * group;
        int total = 0;
        for (int x = first; x < first + group; ++x) total += cover[x];
        for (int u = 1; u < 8; ++u) {
            double sum = 0;
            for (int x = first; x < first + group; ++x) {
                // Eight-point weights of position x; the second half mirrors the first.
                double w = x < 4 ? kEighthWeights[x][u - 1] : kEighthWeights[7 - x][u - 1];
                if (x >= 4 && u % 2 == 1) w = -w;
                sum += w * (total == 0 ? 1 : cover[x]);
            }
            weights[m][u - 1] = sum / (total == 0 ? group : total);
        }
    }
}

// A pass with one row of weights per output, for the blocks at the edge.
inline void edgePass(const double* x, double dc, int n, const double (*weights)[7], double* y)
{
    for (int m = 0; m < n; ++m) {
        const double* w = weights[m];
        double even = dc + w[1] * x[2] + w[3] * x[4] + w[5] * x[6];
        double odd = w[0] * x[1] + w[2] * x[3] + w[4] * x[5] + w[6] * x[7];
        y[m] = even + odd;
    }
}

// One pass over eight inputs x (x[0] the DC term, `dc` it scaled) to n
// outputs y; the even and odd sums are formed in the order written.
inline void reducedPass(const double* x, double dc, int n, const double (*edge)[7], double* y)
{
    if (n == 1 && edge == nullptr) {
        y[0] = dc;
        return;
    }
    if (edge != nullptr) {
        edgePass(x, dc, n, edge, y);
        return;
    }
    const double (*weights)[7] = weightsFor(n);
    for (int m = 0; m < n / 2; ++m) {
        const double* w = weights[m];
        double even = dc + w[1] * x[2] + w[3] * x[4] + w[5] * x[6];
        double odd = w[0] * x[1] + w[2] * x[3] + w[4] * x[5] + w[6] * x[7];
        y[m] = even + odd;
        y[n - 1 - m] = even - odd;
    }
}

// The full transform's last step: truncation toward zero (saturating where
// a corrupt block leaves the range), (t + 4) >> 3, the 10-bit wrap into
// the range-limit table.
inline int32_t toSample(double y, const uint8_t* limit)
{
    int32_t t = y >= 2147483647.0 ? INT32_MAX : y <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(y);
    int32_t v = static_cast<int32_t>((static_cast<int64_t>(t) + 4) >> 3);
    return limit[128 + (v & 0x3FF)];
}

// The weights of a side of N outputs (2, 4 or 8), known at compile time.
template <int N>
constexpr const double (*kWeightsOf)[7] = N == 8 ? kEighthWeights : N == 4 ? kHalfWeights : kQuarterWeights;

// reducedPass for a block inside the picture, N outputs: the same sums in
// the same order, less the terms whose weight is zero (a zero product
// changes no sum, only perhaps the sign of a zero, which no sample shows).
template <int N>
inline void insidePass(const double* x, double* y)
{
    const double dc = x[0] * kHalfSqrt2 * kSqrt2;
    for (int m = 0; m < N / 2; ++m) {
        const double* w = kWeightsOf<N>[m];
        double even = dc;
        if (w[1] != 0.0) even = even + w[1] * x[2];
        if (w[3] != 0.0) even = even + w[3] * x[4];
        if (w[5] != 0.0) even = even + w[5] * x[6];
        double odd = w[0] * x[1];
        if (w[2] != 0.0) odd = odd + w[2] * x[3];
        if (w[4] != 0.0) odd = odd + w[4] * x[5];
        if (w[6] != 0.0) odd = odd + w[6] * x[7];
        y[m] = even + odd;
        y[N - 1 - m] = even - odd;
    }
}

template <int N>
void insideBlock(const int32_t* d, const uint8_t* limit, int32_t* output, int stride)
{
    double lines[8][N];
    for (int r = 0; r < 8; ++r) {
        const int32_t* x = d + 8 * r;
        if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
            for (int m = 0; m < N; ++m) lines[r][m] = double(x[0]);
            continue;
        }
        double in[8];
        for (int u = 0; u < 8; ++u) in[u] = double(x[u]);
        insidePass<N>(in, lines[r]);
    }
    for (int c = 0; c < N; ++c) {
        double in[8];
        for (int r = 0; r < 8; ++r) in[r] = lines[r][c];
        double y[N];
        if (in[1] == 0.0 && in[2] == 0.0 && in[3] == 0.0 && in[4] == 0.0 && in[5] == 0.0 && in[6] == 0.0 &&
            in[7] == 0.0) {
            // Only the DC term: every output is it, scaled (the other terms add zeros).
            const double dc = in[0] * kHalfSqrt2 * kSqrt2;
            for (int k = 0; k < N; ++k) y[k] = dc;
        } else {
            insidePass<N>(in, y);
        }
        for (int k = 0; k < N; ++k) output[stride * k + c] = toSample(y[k], limit);
    }
}

}  // namespace

int32_t reducedDcSample(int32_t dequantisedDc, const uint8_t* rangeLimit)
{
    return toSample(double(dequantisedDc) * kHalfSqrt2 * kSqrt2, rangeLimit);
}

BlockCover blockCover(const McuComponent& component, int block)
{
    BlockCover cover{};
    const int sx = component.spreadX, sy = component.spreadY;
    if (component.insideWidth >= kBlockSide * sx * component.hSamp &&
        component.insideHeight >= kBlockSide * sy * component.vSamp) {
        for (int x = 0; x < kBlockSide; ++x) {
            cover.across[x] = static_cast<uint8_t>(sx);
            cover.down[x] = static_cast<uint8_t>(sy);
        }
        return cover;  // an MCU inside the picture
    }
    // Picture samples of the MCU before this block, across and down.
    int left = (block % component.hSamp) * kBlockSide * sx;
    int top = (block / component.hSamp) * kBlockSide * sy;
    for (int x = 0; x < kBlockSide; ++x) {
        cover.across[x] = static_cast<uint8_t>(std::clamp(component.insideWidth - left - x * sx, 0, sx));
        cover.down[x] = static_cast<uint8_t>(std::clamp(component.insideHeight - top - x * sy, 0, sy));
        cover.cutAcross = cover.cutAcross || cover.across[x] != sx;
        cover.cutDown = cover.cutDown || cover.down[x] != sy;
    }
    return cover;
}

int32_t D_idctReduced(const int32_t* coefficients, const McuParam* param,
                      const McuComponent* component, const BlockCover& cover, int32_t* output)
{
    int32_t d[64];
    for (int k = 0; k < 64; ++k) {
        int i = kZigzagToNatural[k];
        d[i] = static_cast<int32_t>(static_cast<uint32_t>(coefficients[k]) *
                                    static_cast<uint32_t>(component->quantTable[i]));
    }
    idctReducedDequantised(d, param, component, cover, output);
    return 0;
}

void idctReducedDequantised(const int32_t* d, const McuParam* param, const McuComponent* component,
                            const BlockCover& cover, int32_t* output)
{
    const uint8_t* limit = param->rangeLimit;
    const int width = component->reducedWidth;
    const int height = component->reducedHeight;
    if (width == 1 && height == 1 && !cover.cutAcross && !cover.cutDown) {
        // The DC term alone: the mean of the whole block.
        output[0] = reducedDcSample(d[0], limit);
        return;
    }

    // A block that the picture's edge cuts averages the samples inside only.
    double acrossWeights[8][7], downWeights[8][7];
    const double(*across)[7] = nullptr;
    const double(*down)[7] = nullptr;
    if (cover.cutAcross) {
        edgeWeights(width, cover.across, acrossWeights);
        across = acrossWeights;
    }
    if (cover.cutDown) {
        edgeWeights(height, cover.down, downWeights);
        down = downWeights;
    }

    // Row pass: eight rows of `width` values; a row with only its DC term
    // keeps it unscaled, as the full transform's row shortcut does.
    double lines[8][8];
    for (int r = 0; r < 8; ++r) {
        const int32_t* x = d + 8 * r;
        if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
            for (int m = 0; m < width; ++m) lines[r][m] = double(x[0]);
            continue;
        }
        double in[8];
        for (int u = 0; u < 8; ++u) in[u] = double(x[u]);
        reducedPass(in, in[0] * kHalfSqrt2 * kSqrt2, width, across, lines[r]);
    }

    // Column pass: `width` columns of `height` samples.
    for (int c = 0; c < width; ++c) {
        double in[8];
        for (int r = 0; r < 8; ++r) in[r] = lines[r][c];
        double y[8];
        reducedPass(in, in[0] * kHalfSqrt2 * kSqrt2, height, down, y);
        for (int k = 0; k < height; ++k) output[width * k + c] = toSample(y[k], limit);
    }
}

bool idctReducedInside(const int32_t* d, int width, int height, const uint8_t* rangeLimit, int32_t* output,
                       int stride)
{
    if (width != height) return false;
    switch (width) {
    case 2:
        insideBlock<2>(d, rangeLimit, output, stride);
        return true;
    case 4:
        insideBlock<4>(d, rangeLimit, output, stride);
        return true;
    case 8:
        insideBlock<8>(d, rangeLimit, output, stride);
        return true;
    default:
        return false;
    }
}

}  // namespace mox
