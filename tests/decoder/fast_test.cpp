// The decoder's fast paths against the reference functions, stage by
// stage, on every instruction set this processor runs: random and extreme
// inputs, every output byte compared.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/fast.h"
#include "frame/t81tables.h"
#include "support/targets.h"

namespace moxtest {
namespace {

struct IdctCase {
    std::string name;
    std::vector<int32_t> coefficients;  // 64, zig-zag order
    std::vector<int32_t> quant;         // 64, natural order
};

std::vector<IdctCase> idctCases()
{
    std::vector<IdctCase> cases;
    std::mt19937 rng(1234);
    auto uniform = [&](int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
    };
    const std::vector<int32_t> q1(64, 1), q255(64, 255);
    for (int32_t limit : {1023, 2047}) {
        for (const auto* quant : {&q1, &q255}) {
            const std::string tag = std::to_string(limit) + " q" + std::to_string((*quant)[0]);
            cases.push_back({"all +" + tag, std::vector<int32_t>(64, limit), *quant});
            cases.push_back({"all -" + tag, std::vector<int32_t>(64, -limit), *quant});
            std::vector<int32_t> alternating(64);
            for (int k = 0; k < 64; ++k) alternating[k] = k % 2 ? limit : -limit;
            cases.push_back({"alternating " + tag, alternating, *quant});
            for (int k = 0; k < 64; ++k) {
                std::vector<int32_t> single(64, 0);
                single[k] = k % 3 ? limit : -limit;
                cases.push_back({"single " + std::to_string(k) + " " + tag, single, *quant});
            }
        }
    }
    // DC alone: the level shift and both clamps, and the row shortcut.
    for (int32_t dc : {0, 1, -1, 7, -8, 1016, -1024, 1100, -1100, 4200, 2047 * 255, -2047 * 255})
        cases.push_back({"dc " + std::to_string(dc), [&] {
                             std::vector<int32_t> c(64, 0);
                             c[0] = dc;
                             return c;
                         }(), q1});
    // Random photo-like blocks: few nonzero coefficients, shrinking with frequency.
    for (int i = 0; i < 3000; ++i) {
        std::vector<int32_t> c(64, 0), q(64);
        int last = uniform(0, 63);
        for (int k = 0; k <= last; ++k)
            if (uniform(0, 3) == 0 || k == 0) c[k] = uniform(-2047, 2047) / (1 + k / 4);
        for (int32_t& v : q) v = uniform(1, 255);
        cases.push_back({"random " + std::to_string(i), c, q});
    }
    // Corrupt data: any 32-bit products, saturation and wrap-around.
    for (int i = 0; i < 300; ++i) {
        std::vector<int32_t> c(64), q(64);
        for (int32_t& v : c) v = static_cast<int32_t>(rng());
        for (int32_t& v : q) v = uniform(1, 255);
        cases.push_back({"wide " + std::to_string(i), c, q});
    }
    return cases;
}

TEST(DecoderFastPaths, InverseDctMatchesReference)
{
    uint8_t range[mox::kRangeLimitBytes];
    mox::buildRangeLimit(range);
    mox::McuParam param{};
    param.rangeLimit = range + mox::kRangeLimitOrigin;
    const std::vector<IdctCase> cases = idctCases();
    forEachTarget([&](const std::string& target) {
        for (const IdctCase& c : cases) {
            mox::McuComponent component{};
            component.quantTable = c.quant.data();
            int32_t want[64], have[64];
            mox::D_idctBlock(c.coefficients.data(), &param, &component, want);
            mox::idctBlockFast(c.coefficients.data(), &param, &component, have);
            ASSERT_EQ(0, std::memcmp(want, have, sizeof(want))) << target << ", " << c.name;
            bool dcOnly = true;
            for (int k = 1; k < 64; ++k) dcOnly = dcOnly && c.coefficients[k] == 0;
            if (dcOnly) {
                int32_t dc = static_cast<int32_t>(static_cast<uint32_t>(c.coefficients[0]) *
                                                  static_cast<uint32_t>(c.quant[0]));
                mox::idctDcOnlyKernel()(dc, have);
                ASSERT_EQ(0, std::memcmp(want, have, sizeof(want))) << target << ", DC-only " << c.name;
            }
        }
    });
}

}  // namespace
}  // namespace moxtest
