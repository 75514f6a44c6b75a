// MoxDecInit: the record checks in their order, caller buffers, and that
// no failed Init leaves memory behind.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "decoder/context.h"
#include "decoder/decoder.h"
#include "frame/errlog.h"
#include "support/allocator.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

// A 100 x 50 4:2:0 picture's records as the header analysis leaves them,
// with pieces of 4096 bytes and bands of 10 lines.
struct Records {
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    CountingAllocator counter;
    Records()
    {
        RefEncodeOptions options;
        options.hSamp[0] = options.vSamp[0] = 2;
        std::vector<uint8_t> stream = refEncode(makePicture(100, 50, 3), options);
        MoxDecClearParam(&pic, &sys, &param);
        sys.inputBuffer = stream.data();
        sys.pieceSize = sys.totalSize = uint32_t(stream.size());
        EXPECT_EQ(MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, nullptr), 0);
        PictureInfo unusedPic;
        DecodeParam unusedParam;
        MoxDecClearParam(&unusedPic, &sys, &unusedParam);
        useCounting(&sys, &counter);
        pic.mode = MOX_MODE_JPEG;
        pic.outFormat = 1;
        sys.pieceSize = 4096;
        sys.lineStride = 300;
        sys.bandBufferSize = 3000;
        sys.totalSize = 10000;
    }
    DecoderContext* init(int32_t* error) { return MoxDecInit(&pic, &sys, &param, error); }
};

TEST(DecoderInit, RefusesRecordsInOrder)
{
    const struct {
        const char* name;
        std::function<void(Records&)> change;
        int32_t want;
    } cases[] = {
        {"valid", [](Records&) {}, MOX_OK},
        {"mode not set", [](Records& r) { r.pic.mode = -1; }, MOX_ERR_MODE},
        {"width 0", [](Records& r) { r.pic.width = 0; }, MOX_ERR_SIZE},
        {"imageWidth above width", [](Records& r) { r.pic.imageWidth = 101; }, MOX_ERR_SIZE},
        {"height 2^31-1", [](Records& r) { r.pic.height = INT32_MAX; }, MOX_OK},
        {"two components", [](Records& r) { r.pic.componentCount = 2; }, MOX_ERR_FORMAT},
        {"outFormat 4 in mode 0", [](Records& r) { r.pic.outFormat = 4; }, MOX_ERR_FORMAT},
        {"reduction 0", [](Records& r) { r.pic.reduction = 0; }, MOX_ERR_REDUCTION},
        {"reduction 3", [](Records& r) { r.pic.reduction = 3; }, MOX_ERR_REDUCTION},
        {"reduction 16", [](Records& r) { r.pic.reduction = 16; }, MOX_ERR_REDUCTION},
        {"reduction 8, stride of 13 pixels", [](Records& r) { r.pic.reduction = 8; r.sys.lineStride = 39; }, MOX_OK},
        {"reduction 8, stride 38", [](Records& r) { r.pic.reduction = 8; r.sys.lineStride = 38; }, MOX_ERR_LINE_PITCH},
        {"reduction 2 in mode 1", [](Records& r) { r.pic.mode = 1; r.pic.componentCount = 1; r.pic.outFormat = 4; r.pic.reduction = 2; }, MOX_ERR_REDUCTION},
        {"sampling 3x1", [](Records& r) { r.param.hSamp[0] = 3; }, MOX_ERR_SAMPLING},
        {"12 blocks", [](Records& r) { r.param.hSamp[1] = r.param.vSamp[1] = r.param.hSamp[2] = r.param.vSamp[2] = 2; }, MOX_ERR_UNSUPPORTED},
        {"chroma factor 0", [](Records& r) { r.param.hSamp[2] = 0; }, MOX_ERR_SAMPLING},
        {"no quant tables", [](Records& r) { r.param.quantSel[0] = -1; }, MOX_ERR_QUANT},
        {"quant selector 4", [](Records& r) { r.param.quantSel[1] = 4; }, MOX_ERR_QUANT},
        {"quant entry 0", [](Records& r) { r.param.quantTable[1][0] = 0; }, MOX_ERR_QUANT},
        {"no Huffman tables", [](Records& r) { r.param.dcHuff[0].count = 0xFFFFFFFFu; }, MOX_ERR_EMPTY_HUFFMAN},
        {"Huffman selector 2", [](Records& r) { r.param.acSel[2] = 2; }, MOX_ERR_EMPTY_HUFFMAN},
        {"pieceSize 63", [](Records& r) { r.sys.pieceSize = 63; }, MOX_ERR_IN_BUFFER},
        {"pieceSize 64", [](Records& r) { r.sys.pieceSize = 64; }, MOX_OK},
        {"band size 0", [](Records& r) { r.sys.bandBufferSize = 0; }, MOX_ERR_OUT_BUFFER},
        {"band below a line", [](Records& r) { r.sys.bandBufferSize = 299; }, MOX_ERR_OUT_BUFFER},
        {"stride 299", [](Records& r) { r.sys.lineStride = 299; }, MOX_ERR_LINE_PITCH},
        {"stride 36000", [](Records& r) { r.sys.lineStride = 36000; r.sys.bandBufferSize = 36000; }, MOX_OK},
        {"stride 36001", [](Records& r) { r.sys.lineStride = 36001; r.sys.bandBufferSize = 36001; }, MOX_ERR_LINE_PITCH},
        {"total size 0", [](Records& r) { r.sys.totalSize = 0; }, MOX_ERR_TOTAL_SIZE},
        {"offset beyond piece", [](Records& r) { r.sys.pieceOffset = 4097; }, MOX_ERR_RESUME_OFFSET},
        {"no allocator", [](Records& r) { r.sys.partAllocFunc = nullptr; }, MOX_ERR_ALLOCATOR},
        {"allocation 0 fails", [](Records& r) { r.counter.failAt = 0; }, MOX_ERR_ALLOC},
        {"allocation 1 fails", [](Records& r) { r.counter.failAt = 1; }, MOX_ERR_ALLOC},
        {"allocation 2 fails", [](Records& r) { r.counter.failAt = 2; }, MOX_ERR_ALLOC},
        {"allocation 3 fails", [](Records& r) { r.counter.failAt = 3; }, MOX_ERR_ALLOC},
        {"mode 1 without words", [](Records& r) { r.pic.mode = 1; r.pic.componentCount = 1; r.pic.outFormat = 4; r.param.quantSel[3] = 0; r.sys.lineStride = 400; r.sys.bandBufferSize = 4000; }, MOX_ERR_NULL},
    };
    for (const auto& c : cases) {
        Records r;
        c.change(r);
        int32_t error = 12345;
        DecoderContext* ctx = r.init(&error);
        EXPECT_EQ(error, c.want) << c.name << ": have " << error << ", want " << c.want;
        EXPECT_EQ(ctx != nullptr, c.want == MOX_OK) << c.name;
        if (ctx != nullptr) MoxDecFinalize(ctx);
        EXPECT_EQ(r.counter.live, 0) << c.name << ": blocks left allocated";
        if (ctx == nullptr) EXPECT_TRUE(!r.sys.inputBuffer && !r.sys.workArea && !r.sys.bandBuffer) << c.name;
    }
}

TEST(DecoderInit, CallerBuffersStayWithTheCaller)
{
    Records r;
    int32_t error = 0;
    DecoderContext* sized = r.init(&error);
    ASSERT_NE(sized, nullptr);
    uint32_t workSize = static_cast<uint32_t>(mox::decoderWorkAreaSize(sized, 300));
    MoxDecFinalize(sized);

    std::vector<uint8_t> input(4096), band(3000), work(workSize + 1, 0xAB);
    Records mine;
    mine.sys.inputBuffer = input.data();
    mine.sys.bandBuffer = band.data();
    mine.sys.workArea = work.data() + 1;  // deliberately misaligned
    mine.sys.workAreaSize = workSize - 1;
    EXPECT_EQ(mine.init(&error), nullptr);
    EXPECT_EQ(error, MOX_ERR_WORK_AREA) << "one byte short: have " << error;
    mine.sys.workAreaSize = workSize;
    DecoderContext* ctx = mine.init(&error);
    ASSERT_NE(ctx, nullptr) << "exact size: have " << error;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(ctx->blockArea[0]) % 4, 0u);
    EXPECT_TRUE(work[1] == 0 && work[workSize] == 0) << "work area not cleared to its end";
    EXPECT_EQ(mine.counter.live, 1) << "only the context is the library's";
    MoxDecFinalize(ctx);
    EXPECT_EQ(mine.counter.live, 0);
}

}  // namespace
}  // namespace moxtest
