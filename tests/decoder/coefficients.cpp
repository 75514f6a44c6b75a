#include "decoder/coefficients.h"

#include <algorithm>
#include <cstring>

#include "decoder/decoder.h"
#include "decoder/fast.h"
#include "frame/t81tables.h"
#include "moxcodec.h"
#include "decoder/harness.h"
#include "support/refjpeg.h"

namespace moxtest {

namespace {

// What an MCU decoder leaves: status, cursor, splice flag, predictors and,
// when it succeeded, the decoded planes.
std::vector<int32_t> outcome(const DecoderContext* ctx, int32_t status)
{
    std::vector<int32_t> o = {status, ctx->cursor.byteIndex, ctx->cursor.bitPos, int32_t(ctx->spliceFlag),
                              int32_t(ctx->cursor.data == ctx->cursor.pieceData)};
    o.insert(o.end(), ctx->dcPredictors, ctx->dcPredictors + mox::kMaxComponents);
    for (int c = 0; status == 0 && c < ctx->mcuParam.componentCount; ++c) {
        const mox::McuComponent& k = ctx->mcuParam.component[c];
        const int samples = ctx->blockWidth[c] * ctx->blockHeight[c] * k.hSamp * k.vSamp;
        o.insert(o.end(), ctx->planes[c + 1], ctx->planes[c + 1] + samples);
    }
    return o;
}

// The MCU loop of MoxDecode without the sample stages: every MCU is decoded
// by the fast decoder and, from the same start, by the reference decodeMcu
// (refilling on "need more data" as the driver does), which must agree; then
// it is read again from the same cursor block by block to keep the values.
std::string walk(DecoderContext* ctx, const std::function<bool()>& nextPiece, OurCoefficients* out)
{
    using namespace mox;
    auto refill = [&]() -> std::string {
        if (!nextPiece()) return "stream ends inside the scan";
        ++out->refills;
        return D_setStrCode(ctx) == 0 ? "" : "D_setStrCode failed";
    };
    if (D_setStrCode(ctx) != 0) return "D_setStrCode failed";
    D_setMcuParam(ctx);
    buildLookaheadTables(ctx);  // Init builds them only when the driver takes the fast decoder
    const McuParam& param = ctx->mcuParam;
    for (int c = 0; c < param.componentCount; ++c) {
        const McuComponent& k = param.component[c];
        out->blocksWide[c] = ctx->mcusPerRow * k.hSamp;
        out->blocksHigh[c] = ctx->mcuRows * k.vSamp;
        out->blocks[c].assign(size_t(out->blocksWide[c]) * out->blocksHigh[c] * 64, 0);
        std::memcpy(out->quant[c], k.quantTable, sizeof(out->quant[c]));
    }
    out->components = param.componentCount;
    for (int32_t r = 0; r < ctx->mcuRows; ++r)
        for (int32_t col = 0; col < ctx->mcusPerRow; ++col) {
            auto where = [&] { return " at MCU " + std::to_string(col) + "," + std::to_string(r); };
            for (;;) {
                BitCursor start = ctx->cursor;
                uint32_t startSplice = ctx->spliceFlag;
                int32_t predictors[kMaxComponents];
                std::memcpy(predictors, ctx->dcPredictors, sizeof(predictors));
                const std::vector<int32_t> fast = outcome(ctx, decodeMcuFast(ctx));
                ctx->cursor = start;
                ctx->spliceFlag = startSplice;
                std::memcpy(ctx->dcPredictors, predictors, sizeof(predictors));
                int32_t status = decodeMcuReference(ctx);
                if (outcome(ctx, status) != fast) return "the fast decoder differs" + where();
                if (status == kNeedMoreData) {
                    if (saveStrCode(ctx, col, r) != 0) return "saveStrCode failed" + where();
                    std::string failure = refill();
                    if (!failure.empty()) return failure + where();
                    continue;
                }
                if (status != 0) return "decodeMcu returned " + std::to_string(status) + where();
                start.spliceFlag = &startSplice;
                for (int c = 0; c < param.componentCount; ++c) {
                    const McuComponent& k = param.component[c];
                    for (int b = 0; b < k.hSamp * k.vSamp; ++b) {
                        int bx = col * k.hSamp + b % k.hSamp, by = r * k.vSamp + b / k.hSamp;
                        int32_t* block =
                            out->blocks[c].data() + (size_t(by) * out->blocksWide[c] + bx) * 64;
                        if (decodeHuffman(&start, k.dcTable, k.acTable, &predictors[c], block) != 0)
                            return "second reading failed" + where();
                    }
                }
                if (start.byteIndex != ctx->cursor.byteIndex || start.bitPos != ctx->cursor.bitPos)
                    return "second reading ends elsewhere" + where();
                break;
            }
            if (ctx->restartInterval == 0) continue;
            int32_t status;
            while ((status = processRST(ctx, col, r)) == MOX_NEED_INPUT) {
                std::string failure = refill();
                if (!failure.empty()) return failure + " before a restart marker" + where();
            }
            if (status != 0) return "processRST returned " + std::to_string(status) + where();
        }
    return "";
}

}  // namespace

OurCoefficients readCoefficients(const std::vector<uint8_t>& stream, uint32_t pieceSize, int32_t reduction)
{
    OurCoefficients out;
    DecodeOptions options;
    options.pieceSize = pieceSize;
    options.reduction = reduction;
    options.drive = [&](DecoderContext* ctx, const std::function<bool()>& refill) {
        out.failure = walk(ctx, refill, &out);
        return out.failure.empty() ? 0 : -1;
    };
    DecodeResult run = decodeStream(stream, options);
    if (run.headerStatus != 0) out.failure = "header status " + std::to_string(run.headerStatus);
    if (run.initStatus != 0) out.failure = "Init status " + std::to_string(run.initStatus);
    if (out.failure.empty() && run.liveBlocks != 0) out.failure = "blocks left after Finalize";
    return out;
}

std::string compareCoefficients(const RefCoefficients& ref, const OurCoefficients& ours)
{
    if (!ref.ok) return "reference: " + ref.message;
    if (!ours.failure.empty()) return "ours: " + ours.failure;
    if (ref.components != ours.components) return "component counts differ";
    for (int c = 0; c < ours.components; ++c) {
        std::string which = "component " + std::to_string(c);
        if (ref.blocksWide[c] != ours.blocksWide[c] || ref.blocksHigh[c] != ours.blocksHigh[c])
            return which + ": block grids differ";
        for (int k = 0; k < 64; ++k)
            if (ref.quant[c][k] != ours.quant[c][k]) return which + ": quantisation tables differ";
        for (int by = 0; by < ours.blocksHigh[c]; ++by)
            for (int bx = 0; bx < ours.blocksWide[c]; ++bx) {
                const int16_t* want = ref.block(c, bx, by);
                const int32_t* have = ours.blocks[c].data() + (size_t(by) * ours.blocksWide[c] + bx) * 64;
                for (int k = 0; k < 64; ++k)
                    if (have[k] != want[mox::kZigzagToNatural[k]])
                        return which + " block " + std::to_string(bx) + "," + std::to_string(by) +
                               " coefficient " + std::to_string(k) + ": have " + std::to_string(have[k]) +
                               ", want " + std::to_string(want[mox::kZigzagToNatural[k]]);
            }
    }
    return "";
}

}  // namespace moxtest
