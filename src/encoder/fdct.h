// The 1-D pass of the forward DCT, written once for any arithmetic: plain
// doubles (the reference transform) or vectors of doubles holding several
// columns or rows (the fast transform). `Ops` supplies Add, Sub, Mul and Set;
// the operations and their order are the definition of the transform, so
// every instantiation gives the same bits (no fused multiply-add).
#pragma once

namespace mox::enc {

// X(u) = C(u)/2 * sum x(i) cos((2i+1)u pi/16), C(0) = 1/sqrt 2.
// Always inlined, so that a vector instantiation is compiled for the
// instruction set of its caller.
template <class Ops, class V>
[[gnu::always_inline]] inline void dct8(const Ops& o, const V x[8], V out[8])
{
    const V c4 = o.Set(0.3535533905932738);  // cos(pi/4) / 2
    const V c2 = o.Set(0.46193976625564337);
    const V c6 = o.Set(0.1913417161825449);
    const V r2 = o.Set(0.7071067811865476);
    const V c1 = o.Set(0.4903926402016152);
    const V c7 = o.Set(0.09754516100806414);
    const V c3 = o.Set(0.4157348061512726);
    const V c5 = o.Set(0.2777851165098011);
    V s0 = o.Add(x[0], x[7]), s1 = o.Add(x[1], x[6]), s2 = o.Add(x[2], x[5]),
      s3 = o.Add(x[3], x[4]);
    V d0 = o.Sub(x[0], x[7]), d1 = o.Sub(x[1], x[6]), d2 = o.Sub(x[2], x[5]),
      d3 = o.Sub(x[3], x[4]);
    out[0] = o.Mul(o.Add(o.Add(o.Add(s0, s3), s1), s2), c4);
    out[4] = o.Mul(o.Sub(o.Add(s0, s3), o.Add(s1, s2)), c4);
    V e = o.Sub(s0, s3);
    V f = o.Sub(s2, s1);
    out[2] = o.Sub(o.Mul(e, c2), o.Mul(f, c6));
    out[6] = o.Add(o.Mul(f, c2), o.Mul(e, c6));
    V g = o.Mul(o.Add(d2, d1), r2);
    V h = o.Mul(o.Sub(d2, d1), r2);
    V a = o.Add(d0, g), b = o.Sub(d0, g), p = o.Sub(h, d3), q = o.Add(h, d3);
    out[1] = o.Sub(o.Mul(a, c1), o.Mul(p, c7));
    out[7] = o.Add(o.Mul(a, c7), o.Mul(p, c1));
    out[3] = o.Sub(o.Mul(b, c3), o.Mul(q, c5));
    out[5] = o.Add(o.Mul(b, c5), o.Mul(q, c3));
}

// Plain double arithmetic for dct8.
struct ScalarDctOps {
    double Set(double v) const { return v; }
    double Add(double a, double b) const { return a + b; }
    double Sub(double a, double b) const { return a - b; }
    double Mul(double a, double b) const { return a * b; }
};

}  // namespace mox::enc
