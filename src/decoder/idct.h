// The exact constants of the inverse DCT's flowgraph, shared by the
// reference transform (idct.cpp) and its vector form (idct_fast.cpp).
#pragma once

namespace mox::idct {

constexpr double kHalfSqrt2 = 0.7071068;
constexpr double kSqrt2 = 1.41421356;
constexpr double kC6S = 0.541196053466904;   // sqrt(2) (cos 6pi/16)
constexpr double kEvenX6 = 1.847758970172924;
constexpr double kEvenX2 = 0.765366863239116;
constexpr double kOdd35 = 1.175875583047776;
constexpr double kOdd17 = 0.275899347684468;
constexpr double kOddX3 = 1.9615704934196883;
constexpr double kOddX5 = 0.390180672675864;
constexpr double kOddX1 = 1.1111405230242;
constexpr double kOddX7 = 1.662939218393136;

}  // namespace mox::idct
