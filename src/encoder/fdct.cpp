// Forward DCT of one 8 x 8 block, exactly T.81 A.3.3 in double precision:
// a 1-D pass down every column, then along every row, rounded to float at
// the end. This is the reference arithmetic; any faster transform must
// reproduce its output bit for bit.
#include "encoder/encoder.h"

namespace mox::enc {

namespace {

// One 1-D pass: X(u) = C(u)/2 * sum x(i) cos((2i+1)u pi/16), C(0) = 1/sqrt 2.
void dct8(const double x[8], double out[8])
{
    constexpr double c4 = 0.3535533905932738;  // cos(pi/4) / 2
    double s0 = x[0] + x[7], s1 = x[1] + x[6], s2 = x[2] + x[5], s3 = x[3] + x[4];
    double d0 = x[0] - x[7], d1 = x[1] - x[6], d2 = x[2] - x[5], d3 = x[3] - x[4];
    out[0] = (s0 + s3 + s1 + s2) * c4;
    out[4] = ((s0 + s3) - (s1 + s2)) * c4;
    double e = s0 - s3;
    double f = s2 - s1;
    out[2] = e * 0.46193976625564337 - f * 0.1913417161825449;
    out[6] = f * 0.46193976625564337 + e * 0.1913417161825449;
    double g = (d2 + d1) * 0.7071067811865476;
    double h = (d2 - d1) * 0.7071067811865476;
    double a = d0 + g, b = d0 - g, p = h - d3, q = h + d3;
    out[1] = a * 0.4903926402016152 - p * 0.09754516100806414;
    out[7] = a * 0.09754516100806414 + p * 0.4903926402016152;
    out[3] = b * 0.4157348061512726 - q * 0.2777851165098011;
    out[5] = b * 0.2777851165098011 + q * 0.4157348061512726;
}

}  // namespace

void forwardDct(const int32_t samples[64], float coefficients[64])
{
    double columns[64];  // [vertical frequency][column]
    double in[8], out[8];
    for (int x = 0; x < 8; ++x) {
        for (int y = 0; y < 8; ++y) in[y] = samples[y * 8 + x];
        dct8(in, out);
        for (int v = 0; v < 8; ++v) columns[v * 8 + x] = out[v];
    }
    for (int v = 0; v < 8; ++v) {
        dct8(columns + v * 8, out);
        for (int u = 0; u < 8; ++u) coefficients[v * 8 + u] = static_cast<float>(out[u]);
    }
}

}  // namespace mox::enc
