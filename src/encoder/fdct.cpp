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

}  // namespace mox::enc
