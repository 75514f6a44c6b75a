// The decoder's fast paths against the reference functions, stage by
// stage, on every instruction set this processor runs: random and extreme
// inputs, every output byte compared.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/fast.h"
#include "frame/errlog.h"
#include "frame/markers.h"
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
    // DC alone: the level shift, both clamps, the row shortcut, the 10-bit
    // wrap and the saturation of corrupt values.
    for (int32_t dc : {0, 1, -1, 7, -8, 1016, -1024, 1100, -1100, 4200, 2047 * 255, -2047 * 255,
                       (1 << 30) + 8180, -(1 << 30) - 3, INT32_MAX, INT32_MIN, INT32_MAX - 64})
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
            // Straight into the lines of a band, 11 bytes apart.
            int32_t block[64];
            uint8_t lines[8 * 11];
            for (int k = 0; k < 64; ++k) {
                const int n = mox::kZigzagToNatural[k];
                block[8 * (n & 7) + (n >> 3)] = static_cast<int32_t>(
                    static_cast<uint32_t>(c.coefficients[k]) * static_cast<uint32_t>(c.quant[n]));
            }
            mox::idctBytesKernel()(block, lines, 11);
            for (int k = 0; k < 64; ++k) ASSERT_EQ(want[k], lines[11 * (k / 8) + k % 8]) << target << ", bytes, " << c.name;
            ASSERT_TRUE(std::all_of(block, block + 64, [](int32_t v) { return v == 0; })) << c.name;
            bool dcOnly = true;
            for (int k = 1; k < 64; ++k) dcOnly = dcOnly && c.coefficients[k] == 0;
            if (dcOnly) {
                int32_t dc = static_cast<int32_t>(static_cast<uint32_t>(c.coefficients[0]) *
                                                  static_cast<uint32_t>(c.quant[0]));
                mox::idctDcOnlyKernel()(dc, have);
                ASSERT_EQ(0, std::memcmp(want, have, sizeof(want))) << target << ", DC-only " << c.name;
                mox::idctDcOnlyBytesKernel()(dc, lines, 11);
                for (int k = 0; k < 64; ++k) ASSERT_EQ(want[k], lines[11 * (k / 8) + k % 8]) << c.name;
            }
        }
    });
}

// ------------------------------------------------------------ Huffman decoding

struct TableBits {
    std::string name;
    uint8_t bits[16];
    std::vector<uint8_t> values;
};

std::vector<uint8_t> standardValues(const mox::HuffmanDefinition& table)
{
    int n = 0;
    for (uint8_t b : table.bits) n += b;
    return std::vector<uint8_t>(table.values, table.values + n);
}

// Codes of every length 1..16 (one each, or 1..12 for the DC table).
TableBits everyLength(bool ac, uint32_t seed)
{
    TableBits table{ac ? "AC lengths 1..16" : "DC lengths 1..12", {}, {}};
    if (ac) {
        table.values = {0x00, 0xF0, 0x01, 0x02, 0x03, 0x05, 0x08, 0x0A,
                       0x11, 0x24, 0x31, 0x42, 0x57, 0x61, 0xA1, 0xC3};
    } else {
        for (uint8_t s = 0; s <= 11; ++s) table.values.push_back(s);
    }
    std::mt19937 rng(seed);
    std::shuffle(table.values.begin(), table.values.end(), rng);
    for (size_t l = 0; l < table.values.size(); ++l) table.bits[l] = 1;
    return table;
}

struct Code {
    uint32_t code = 0;
    int length = 0;
};

// Bit writer with 0xFF stuffing; pads with 1-bits.
struct EntropyWriter {
    std::vector<uint8_t> bytes;
    uint32_t byte = 0;
    int used = 0;
    void put(uint32_t code, int length)
    {
        for (int i = length - 1; i >= 0; --i) {
            byte = byte << 1 | ((code >> i) & 1u);
            if (++used == 8) {
                bytes.push_back(static_cast<uint8_t>(byte));
                if (byte == 0xFF) bytes.push_back(0x00);
                byte = 0;
                used = 0;
            }
        }
    }
    void pad()
    {
        while (used != 0) put(1, 1);
    }
};

// One component's tables as the decoder holds them, and the codes to write.
struct CodedTables {
    HuffDecodeTable dc{}, ac{};
    Code dcCode[256], acCode[256];
    std::vector<uint8_t> dcSymbols, acSymbols;

    CodedTables(const TableBits& dcSpec, const TableBits& acSpec, bool shuffleCodes)
    {
        EXPECT_TRUE(mox::buildHuffmanTable(dcSpec.bits, dcSpec.values.data(), &dc));
        EXPECT_TRUE(mox::buildHuffmanTable(acSpec.bits, acSpec.values.data(), &ac));
        if (shuffleCodes) {
            // Still a prefix code, but not the canonical order: the decoder
            // must fall back to the code-list search for long codes.
            for (uint32_t i = 0; i + 1 < ac.count; ++i)
                if (ac.lengths[i] == ac.lengths[i + 1] && ac.lengths[i] >= 10) {
                    std::swap(ac.codes[i], ac.codes[i + 1]);
                    break;
                }
        }
        for (uint32_t i = 0; i < dc.count; ++i) {
            dcCode[dc.symbols[i]] = {dc.codes[i], int(dc.lengths[i])};
            dcSymbols.push_back(uint8_t(dc.symbols[i]));
        }
        for (uint32_t i = 0; i < ac.count; ++i) {
            acCode[ac.symbols[i]] = {ac.codes[i], int(ac.lengths[i])};
            acSymbols.push_back(uint8_t(ac.symbols[i]));
        }
    }
};

// Random blocks drawn from the tables' own symbols: DC categories, runs and
// sizes with random extra bits, EOB or a full block, zero runs.
void writeBlock(const CodedTables& t, std::mt19937& rng, EntropyWriter& out)
{
    auto pick = [&](const std::vector<uint8_t>& from) { return from[rng() % from.size()]; };
    uint8_t s = pick(t.dcSymbols);
    if (s > 11) s = 0;
    out.put(t.dcCode[s].code, t.dcCode[s].length);
    if (s > 0) out.put(rng() & ((1u << s) - 1), s);
    bool hasEob = t.acCode[0x00].length > 0;
    for (int k = 1; k < 64;) {
        if (hasEob && rng() % 8 == 0) {
            out.put(t.acCode[0].code, t.acCode[0].length);
            return;
        }
        uint8_t rs = pick(t.acSymbols);
        int run = rs >> 4, size = rs & 15;
        if (rs == 0x00 || (size == 0 && rs != 0xF0) || k + run > 63) continue;
        out.put(t.acCode[rs].code, t.acCode[rs].length);
        if (size > 0) out.put(rng() & ((1u << size) - 1), size);
        k += run + 1;
    }
}

struct Layout {
    const char* name;
    int components;
    int h0, v0;
};

// A decoder context set up for MCU-level calls on an entropy-coded segment.
struct McuBench {
    DecoderContext ctx{};
    uint8_t range[mox::kRangeLimitBytes];
    int32_t color[4][256];
    std::vector<uint8_t> skipTables = std::vector<uint8_t>(mox::kPreviewSkipBytes);
    std::vector<int32_t> planes;
    std::vector<uint8_t> data;
    std::vector<uint8_t> band;  // one MCU row, for runs of MCUs

    McuBench(const Layout& layout, const CodedTables& luma, const CodedTables& chroma,
             int32_t quantLow, int32_t quantHigh, uint32_t seed)
    {
        std::mt19937 rng(seed);
        ctx.mode = MOX_MODE_JPEG;
        ctx.reduction = 1;
        ctx.blockSize = 8;
        for (int c = 0; c < 4; ++c) ctx.blockWidth[c] = ctx.blockHeight[c] = 8;
        ctx.componentCount = layout.components;
        ctx.dcHuff[0] = luma.dc;
        ctx.acHuff[0] = luma.ac;
        ctx.dcHuff[1] = chroma.dc;
        ctx.acHuff[1] = chroma.ac;
        for (auto& table : ctx.quantTable)
            for (int32_t& q : table) q = std::uniform_int_distribution<int32_t>(quantLow, quantHigh)(rng);
        mox::buildRangeLimit(range);
        planes.assign(size_t(mox::kMaxComponents) * 4 * 64, 0);
        mox::McuParam& p = ctx.mcuParam;
        p.componentCount = layout.components;
        p.rangeLimit = range + mox::kRangeLimitOrigin;
        for (int c = 0; c < layout.components; ++c) {
            int sel = c == 0 ? 0 : 1;
            ctx.hSamp[c] = uint8_t(c == 0 ? layout.h0 : 1);
            ctx.vSamp[c] = uint8_t(c == 0 ? layout.v0 : 1);
            p.component[c] = {ctx.hSamp[c], ctx.vSamp[c], &ctx.dcHuff[sel], &ctx.acHuff[sel],
                              ctx.quantTable[c % 4]};
            ctx.planes[c + 1] = ctx.blockArea[c] = planes.data() + size_t(c) * 4 * 64;
        }
        mox::buildLookaheadTables(&ctx);
        // RGB output into a band of 40 MCUs.
        ctx.outFormat = layout.components == 3 ? 1 : 0;
        ctx.colorTransform = 1;
        ctx.hMax = layout.h0;
        ctx.vMax = layout.v0;
        ctx.bytesPerPixel = layout.components;
        ctx.mcuWidth = 8 * layout.h0;
        ctx.lineStride = static_cast<uint32_t>(40 * ctx.mcuWidth * ctx.bytesPerPixel);
        band.assign(size_t(ctx.lineStride) * 8 * layout.v0, 0);
        ctx.writePointer = band.data();
        mox::buildColorTables(color[0], color[1], color[2], color[3]);
        ctx.crToR = color[0];
        ctx.cbToG = color[1];
        ctx.crToG = color[2];
        ctx.cbToB = color[3];
        mox::chooseFusedOutput(&ctx);
    }

    void point(const std::vector<uint8_t>& stream, size_t available)
    {
        data = stream;
        ctx.spliceFlag = 0;
        ctx.cursor = {};
        ctx.cursor.spliceFlag = &ctx.spliceFlag;
        ctx.cursor.bitPos = 7;
        ctx.cursor.data = ctx.cursor.pieceData = data.data();
        ctx.cursor.available = static_cast<uint32_t>(available);
    }
};

struct Outcome {
    int32_t status;
    int32_t byteIndex, bitPos;
    uint32_t spliceFlag;
    int32_t predictors[mox::kMaxComponents];
    int32_t records;
    std::vector<int32_t> planes;

    bool operator==(const Outcome&) const = default;
};

constexpr int32_t kLogSlots = 27;  // the error log is a ring of 27 records

Outcome runKernel(McuBench& b, int32_t (*kernel)(DecoderContext*))
{
    int32_t before = mox::ErrLogIndex();
    Outcome o{};
    o.status = kernel(&b.ctx);
    o.records = (mox::ErrLogIndex() - before + kLogSlots) % kLogSlots;
    o.byteIndex = b.ctx.cursor.byteIndex;
    o.bitPos = b.ctx.cursor.bitPos;
    o.spliceFlag = b.ctx.spliceFlag;
    std::memcpy(o.predictors, b.ctx.dcPredictors, sizeof(o.predictors));
    if (o.status == 0) o.planes = b.planes;
    return o;
}

std::string describe(const Outcome& o)
{
    return "status " + std::to_string(o.status) + " at byte " + std::to_string(o.byteIndex) +
           " bit " + std::to_string(o.bitPos) + ", " + std::to_string(o.records) + " records";
}

// What a kernel may change: the cursor, the splice flag and the predictors.
struct McuStart {
    mox::BitCursor cursor;
    uint32_t spliceFlag;
    int32_t predictors[mox::kMaxComponents];

    explicit McuStart(const DecoderContext& ctx) : cursor(ctx.cursor), spliceFlag(ctx.spliceFlag)
    {
        std::memcpy(predictors, ctx.dcPredictors, sizeof(predictors));
    }
    void restore(DecoderContext& ctx) const
    {
        ctx.cursor = cursor;
        ctx.spliceFlag = spliceFlag;
        std::memcpy(ctx.dcPredictors, predictors, sizeof(predictors));
    }
};

// Decodes MCU after MCU from the bench's state with both kernels, each from
// the same starting state, and continues from the reference's; returns the
// MCUs decoded before the first nonzero status. `starts` receives the state
// before each MCU.
int compareMcus(McuBench& b, int mcus, const std::string& what, std::vector<McuStart>* starts = nullptr)
{
    for (int m = 0; m < mcus; ++m) {
        const McuStart start(b.ctx);
        if (starts != nullptr) starts->push_back(start);
        Outcome fast = runKernel(b, &mox::decodeMcuFast);
        start.restore(b.ctx);
        Outcome reference = runKernel(b, &mox::decodeMcuReference);
        EXPECT_TRUE(fast == reference) << what << ", MCU " << m << ": fast " << describe(fast)
                                       << ", reference " << describe(reference);
        if (!(fast == reference) || reference.status != 0) return m;
    }
    return mcus;
}

// A run of MCUs on one bit buffer against decodeMcuReference and
// storeWholeMcu MCU by MCU from the same start: the same cursor, predictors
// and band after the MCUs the run took, which it returns.
int compareRun(McuBench& b, int mcus, const std::string& what)
{
    const McuStart start(b.ctx);
    std::fill(b.band.begin(), b.band.end(), 0);
    const int32_t done = mox::decodeRunFast(&b.ctx, 0, mcus);
    const McuStart afterRun(b.ctx);
    const std::vector<uint8_t> runBand = b.band;
    start.restore(b.ctx);
    std::fill(b.band.begin(), b.band.end(), 0);
    for (int m = 0; m < done; ++m) {
        EXPECT_EQ(mox::decodeMcuReference(&b.ctx), 0) << what << ", MCU " << m;
        mox::storeWholeMcu(&b.ctx, m);
    }
    EXPECT_TRUE(b.ctx.cursor.byteIndex == afterRun.cursor.byteIndex &&
                b.ctx.cursor.bitPos == afterRun.cursor.bitPos &&
                std::equal(afterRun.predictors, afterRun.predictors + 4, b.ctx.dcPredictors) &&
                runBand == b.band)
        << what << ", run of " << done << " MCUs";
    start.restore(b.ctx);
    return done;
}

TEST(DecoderFastPaths, HuffmanDecodingMatchesReference)
{
    const TableBits k3{"K.3", {}, standardValues(mox::kLuminanceDc)};
    const TableBits k5{"K.5", {}, standardValues(mox::kLuminanceAc)};
    const TableBits k4{"K.4", {}, standardValues(mox::kChrominanceDc)};
    const TableBits k6{"K.6", {}, standardValues(mox::kChrominanceAc)};
    TableBits tables[] = {k3, k5, k4, k6};
    const mox::HuffmanDefinition* defs[] = {&mox::kLuminanceDc, &mox::kLuminanceAc,
                                            &mox::kChrominanceDc, &mox::kChrominanceAc};
    for (int i = 0; i < 4; ++i) std::memcpy(tables[i].bits, defs[i]->bits, 16);
    const struct {
        const char* name;
        TableBits dcLuma, acLuma, dcChroma, acChroma;
        bool shuffled;
    } tableSets[] = {
        {"Annex K", tables[0], tables[1], tables[2], tables[3], false},
        {"every code length", everyLength(false, 1), everyLength(true, 2), everyLength(false, 3),
         everyLength(true, 4), false},
        {"non-canonical codes", tables[0], tables[1], everyLength(false, 5), everyLength(true, 6), true},
    };
    const Layout layouts[] = {{"gray", 1, 1, 1}, {"4:2:0", 3, 2, 2}, {"4:4:4", 3, 1, 1}, {"4:2:2", 3, 2, 1}};
    const int32_t quantisers[][2] = {{1, 1}, {255, 255}, {1, 255}};
    constexpr int kMcus = 30;

    uint32_t seed = 7;
    for (const auto& set : tableSets) {
        CodedTables luma(set.dcLuma, set.acLuma, set.shuffled);
        CodedTables chroma(set.dcChroma, set.acChroma, set.shuffled);
        for (const Layout& layout : layouts) {
            for (const auto& q : quantisers) {
                const std::string what = std::string(set.name) + ", " + layout.name + ", q " +
                                         std::to_string(q[0]) + ".." + std::to_string(q[1]);
                McuBench bench(layout, luma, chroma, q[0], q[1], ++seed);
                std::mt19937 rng(seed);
                EntropyWriter writer;
                std::vector<size_t> mcuEnds;  // byte where each MCU's last bit lies
                for (int m = 0; m < kMcus; ++m) {
                    for (int c = 0; c < layout.components; ++c) {
                        int blocks = c == 0 ? layout.h0 * layout.v0 : 1;
                        for (int blk = 0; blk < blocks; ++blk) writeBlock(c == 0 ? luma : chroma, rng, writer);
                    }
                    mcuEnds.push_back(writer.bytes.size());
                }
                writer.pad();
                const std::vector<uint8_t> clean = writer.bytes;

                // The whole segment, then the same followed by a marker.
                std::vector<McuStart> starts;
                for (uint8_t marker : {uint8_t(0), uint8_t(0xD0), uint8_t(0xD9)}) {
                    std::vector<uint8_t> stream = clean;
                    if (marker != 0) stream.insert(stream.end(), {0xFF, marker});
                    bench.point(stream, stream.size());
                    std::memset(bench.ctx.dcPredictors, 0, sizeof(bench.ctx.dcPredictors));
                    EXPECT_EQ(compareRun(bench, kMcus + 1, what + ", marker " + std::to_string(marker)), kMcus);
                    int decoded = compareMcus(bench, kMcus + 1, what + ", marker " + std::to_string(marker),
                                              marker == 0 ? &starts : nullptr);
                    EXPECT_EQ(decoded, kMcus) << what;
                }
                // The piece ends anywhere inside an MCU: need more data, with
                // the cursor and predictors back at the MCU's start.
                bench.point(clean, clean.size());
                for (int m = 1; m < kMcus; m += 5) {
                    for (size_t cut = mcuEnds[m - 1]; cut <= mcuEnds[m] + 1 && cut <= clean.size(); ++cut) {
                        starts[m].restore(bench.ctx);
                        bench.ctx.cursor.data = bench.ctx.cursor.pieceData = bench.data.data();
                        bench.ctx.cursor.available = static_cast<uint32_t>(cut);
                        EXPECT_LE(compareRun(bench, 2, what + ", run to " + std::to_string(cut)), 1);
                        compareMcus(bench, 1, what + ", MCU " + std::to_string(m) + ", piece end at " +
                                                  std::to_string(cut));
                    }
                }
                // A marker inside an MCU, and corrupt bytes.
                for (int trial = 0; trial < 12; ++trial) {
                    std::vector<uint8_t> stream = clean;
                    size_t at = rng() % stream.size();
                    if (trial % 3 == 0) {
                        stream.resize(at);
                        stream.insert(stream.end(), {0xFF, uint8_t(0xD0 + trial % 8), 0x12, 0x34});
                    } else {
                        for (int f = 0; f < 3; ++f) stream[(at + 13 * f) % stream.size()] ^= uint8_t(1 + rng() % 255);
                    }
                    bench.point(stream, stream.size());
                    std::memset(bench.ctx.dcPredictors, 0, sizeof(bench.ctx.dcPredictors));
                    compareRun(bench, kMcus + 1, what + ", run damaged at " + std::to_string(at));
                    compareMcus(bench, kMcus + 1, what + ", damaged at " + std::to_string(at));
                }
            }
        }
    }
}

// ------------------------------------------------------- upsampling and colour

struct OutputBench {
    DecoderContext ctx{};
    uint8_t range[mox::kRangeLimitBytes];
    int32_t color[4][256];
    std::vector<uint8_t> skipTables = std::vector<uint8_t>(mox::kPreviewSkipBytes);
    std::vector<int32_t> blocks[4], rasters[4];
    std::vector<uint8_t> band;

    OutputBench(const Layout& layout, int outFormat, int colorTransform, int width, int height)
    {
        ctx.mode = MOX_MODE_JPEG;
        ctx.colorTransform = static_cast<uint8_t>(colorTransform);
        ctx.reduction = 1;
        ctx.blockSize = 8;
        for (int c = 0; c < 4; ++c) ctx.blockWidth[c] = ctx.blockHeight[c] = 8;
        ctx.componentCount = layout.components;
        ctx.outFormat = outFormat;
        ctx.hMax = layout.h0;
        ctx.vMax = layout.v0;
        ctx.bytesPerPixel = outFormat == 0 || outFormat == 5 ? 1 : layout.components;
        ctx.mcuWidth = 8 * layout.h0;
        ctx.mcuHeight = 8 * layout.v0;
        ctx.mcusPerRow = (width + ctx.mcuWidth - 1) / ctx.mcuWidth;
        ctx.mcuRows = (height + ctx.mcuHeight - 1) / ctx.mcuHeight;
        ctx.lastMcuWidth = width - (ctx.mcusPerRow - 1) * ctx.mcuWidth;
        ctx.lastMcuHeight = height - (ctx.mcuRows - 1) * ctx.mcuHeight;
        ctx.lineStride = static_cast<uint32_t>(ctx.mcusPerRow * ctx.mcuWidth * ctx.bytesPerPixel + 5);
        mox::buildRangeLimit(range);
        ctx.rangeLimit = range + mox::kRangeLimitOrigin;
        mox::buildColorTables(color[0], color[1], color[2], color[3]);
        ctx.crToR = color[0];
        ctx.cbToG = color[1];
        ctx.crToG = color[2];
        ctx.cbToB = color[3];
        for (int c = 0; c < layout.components; ++c) {
            ctx.hSamp[c] = uint8_t(c == 0 ? layout.h0 : 1);
            ctx.vSamp[c] = uint8_t(c == 0 ? layout.v0 : 1);
            blocks[c].assign(size_t(ctx.hSamp[c] * ctx.vSamp[c]) * 64, 0);
            rasters[c].assign(size_t(layout.h0 * layout.v0) * 64, 0);
            ctx.blockArea[c] = blocks[c].data();
            ctx.upsampleArea[c] = rasters[c].data();
        }
        band.assign(size_t(ctx.lineStride) * ctx.mcuHeight, 0xA5);
        ctx.writePointer = band.data();
        mox::chooseFusedOutput(&ctx);
    }

    std::vector<uint8_t> store(int32_t (*up)(DecoderContext*),
                               int32_t (*out)(DecoderContext*, int32_t, int32_t), int column, int row)
    {
        std::fill(band.begin(), band.end(), 0xA5);
        EXPECT_EQ(up(&ctx), 0);
        EXPECT_EQ(out(&ctx, column, row), 0);
        return band;
    }
};

TEST(DecoderFastPaths, ColourOutputMatchesReference)
{
    const struct {
        Layout layout;
        int outFormat;
        int colorTransform;
    } cases[] = {
        {{"gray", 1, 1, 1}, 0, 0},           {{"gray", 1, 1, 1}, 1, 0},
        {{"4:4:4", 3, 1, 1}, 1, 1},          {{"4:2:2", 3, 2, 1}, 1, 1},
        {{"4:4:0", 3, 1, 2}, 1, 1},          {{"4:2:0", 3, 2, 2}, 1, 1},
        {{"4:2:0 RGB-coded", 3, 2, 2}, 1, 0}, {{"4:2:0 red only", 3, 2, 2}, 0, 1},
        {{"4:2:0 format 2", 3, 2, 2}, 2, 1},
    };
    std::mt19937 rng(99);
    for (const auto& c : cases) {
        // 37 x 21: the last MCU column and row are cut by the picture's edge.
        OutputBench bench(c.layout, c.outFormat, c.colorTransform, 37, 21);
        for (int trial = 0; trial < 200; ++trial) {
            for (int comp = 0; comp < c.layout.components; ++comp)
                for (int32_t& v : bench.blocks[comp]) {
                    // Extremes often: the clamps at both ends of every channel.
                    uint32_t r = rng();
                    v = r % 4 == 0 ? 0 : r % 4 == 1 ? 255 : int32_t(r >> 8) % 256;
                }
            int column = trial % bench.ctx.mcusPerRow, row = (trial / 3) % bench.ctx.mcuRows;
            std::vector<uint8_t> want = bench.store(&mox::upSample, &mox::storeMcu, column, row);
            std::vector<uint8_t> have = bench.store(&mox::upSampleFast, &mox::storeMcuFast, column, row);
            ASSERT_EQ(want, have) << c.layout.name << " format " << c.outFormat << ", MCU (" << column
                                  << ", " << row << ")";
        }
    }
}

}  // namespace
}  // namespace moxtest
