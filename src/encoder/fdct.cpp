// Forward DCT of one 8 x 8 block, exactly T.81 A.3.3 in double precision:
// a 1-D pass down every column, then along every row, rounded to float at
// the end. This is the reference arithmetic; any faster transform must
// reproduce its output bit for bit.
#include "encoder/encoder.h"
#include "encoder/fdct.h"

namespace mox::enc {

void forwardDct(const int32_t samples[64], float coefficients[64])
{
    double columns[64];  // [vertical frequency][column]
    double in[8], out[8];
    for (int x = 0; x < 8; ++x) {
        for (int y = 0; y < 8; ++y) in[y] = samples[y * 8 + x];
        dct8(ScalarDctOps{}, in, out);
        for (int v = 0; v < 8; ++v) columns[v * 8 + x] = out[v];
    }
    for (int v = 0; v < 8; ++v) {
        dct8(ScalarDctOps{}, columns + v * 8, out);
        for (int u = 0; u < 8; ++u) coefficients[v * 8 + u] = static_cast<float>(out[u]);
    }
}

namespace {

// Eight doubles handled lane by lane: one column (or row) per lane, in a form
// the compiler turns into vector instructions of the build's baseline.
struct Lanes {
    double v[8];
};

struct LaneDctOps {
    Lanes Set(double value) const
    {
        Lanes r;
        for (double& lane : r.v) lane = value;
        return r;
    }
    Lanes Add(const Lanes& a, const Lanes& b) const
    {
        Lanes r;
        for (int i = 0; i < 8; ++i) r.v[i] = a.v[i] + b.v[i];
        return r;
    }
    Lanes Sub(const Lanes& a, const Lanes& b) const
    {
        Lanes r;
        for (int i = 0; i < 8; ++i) r.v[i] = a.v[i] - b.v[i];
        return r;
    }
    Lanes Mul(const Lanes& a, const Lanes& b) const
    {
        Lanes r;
        for (int i = 0; i < 8; ++i) r.v[i] = a.v[i] * b.v[i];
        return r;
    }
};

}  // namespace

void forwardDctTransposed(const int32_t samples[64], float transposed[64])
{
    // Pass 1: lane x holds column x; rows y are the inputs.
    Lanes in[8], out[8];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) in[y].v[x] = samples[y * 8 + x];
    dct8(LaneDctOps{}, in, out);  // out[v].v[x]: vertical frequency v of column x
    // Pass 2: lane v holds row v of the column results; columns x are the inputs.
    for (int x = 0; x < 8; ++x)
        for (int v = 0; v < 8; ++v) in[x].v[v] = out[v].v[x];
    dct8(LaneDctOps{}, in, out);  // out[u].v[v]: coefficient (u, v)
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) transposed[u * 8 + v] = static_cast<float>(out[u].v[v]);
}

}  // namespace mox::enc
