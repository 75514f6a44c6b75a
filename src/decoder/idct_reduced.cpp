// The reduced-size transform of previews (the arithmetic is set out in
// reduced.h): the reference for any shape and any cut by the picture's edge.
// Clamping applies to the reduced samples: where the full transform clamps
// some of the samples a reduced one covers, the two can differ by more.
#include <algorithm>
#include <cstdint>

#include "decoder/decoder.h"
#include "decoder/reduced.h"
#include "frame/t81tables.h"

namespace mox {

namespace {

using namespace reduced;

// The weights of one side of a block that the picture's edge cuts:
// cover[x] tells how many picture samples position x stands for (0 outside,
// 2 where a subsampled component's sample fills two), and each output
// averages its positions by that count. An output wholly outside is never
// shown and keeps the plain weights.
void edgeSide(int n, const uint8_t* cover, Side* side)
{
    const int group = kBlockSide / n;
    for (int m = 0; m < n; ++m) {
        side->a[0][m] = kDcScale;
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
            side->a[u][m] = sum / (total == 0 ? group : total);
        }
    }
}

}  // namespace

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
    int32_t ac = 0;
    for (int i = 1; i < 64; ++i) ac |= d[i];
    if (ac == 0 || (width == 1 && height == 1 && !cover.cutAcross && !cover.cutDown)) {
        // The DC term alone (or the mean of a whole block): one value.
        const int32_t sample = dcSample(d[0], limit);
        for (int i = 0; i < width * height; ++i) output[i] = sample;
        return;
    }
    Side cutAcross, cutDown;
    const Side* across = &sideOf(width);
    const Side* down = &sideOf(height);
    if (cover.cutAcross) {
        edgeSide(width, cover.across, &cutAcross);
        across = &cutAcross;
    }
    if (cover.cutDown) {
        edgeSide(height, cover.down, &cutDown);
        down = &cutDown;
    }
    double sum[64];
    const double term = double(d[0]) * kDcTerm;
    for (int i = 0; i < width * height; ++i) sum[i] = term;
    for (int k = 1; k < 64; ++k) {
        const int i = kZigzagToNatural[k];
        if (d[i] == 0) continue;
        const double x = double(d[i]);
        for (int j = 0; j < height; ++j) {
            const double b = down->a[i >> 3][j];
            for (int m = 0; m < width; ++m) sum[width * j + m] += x * (across->a[i & 7][m] * b);
        }
    }
    for (int i = 0; i < width * height; ++i) output[i] = toSample(sum[i], limit);
}

}  // namespace mox
