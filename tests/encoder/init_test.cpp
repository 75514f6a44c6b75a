// MoxEncInit's refusals in their order, the sizing advisers, what Init and
// Finalize allocate and release, and the call-level failures of MoxEncode.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "encoder/encode_support.h"
#include "support/allocator.h"

namespace {

struct Job {
    EncodePicture pic{};
    EncodeParam param{};
    EncodeSystemParam sys{};
    VelaEncodeParam vela{};
};

Job baselineJob(int pixelFormat = MOX_PIXEL_RGB)
{
    Job job;
    job.pic = {40, 30, 40, 30, 0, 0, 5, pixelFormat, 0, 0, 0, 0, 0};
    MoxEncClearParam(&job.param);
    MoxEncSetupMalloc(moxtest::plainAlloc, moxtest::plainFree, &job.sys);
    job.sys.lineBytes = 40u * enctest::bytesPerPixel(pixelFormat), job.sys.inBufSize = job.sys.lineBytes * 16;
    job.sys.outBufSize = 4096;
    return job;
}

// A four-component VELA job with table 0 set.
void makeVela(Job& job)
{
    job.pic.codingMode = 1, job.pic.pixelFormat = MOX_PIXEL_CMYK;
    job.sys.lineBytes = 160, job.sys.inBufSize = 160 * 16;
    job.param.velaMode = 1;
    job.param.velaParam = &job.vela;
    std::fill_n(job.param.quantSel, 4, 0);
    std::fill_n(job.param.quantTable[0], 64, 16);
}

int32_t initStatus(Job& job)
{
    int32_t status = 12345;
    EncoderContext* ctx = MoxEncInit(&job.pic, &job.sys, &job.param, &status);
    EXPECT_EQ(ctx != nullptr, status == MOX_OK);
    if (ctx != nullptr) MoxEncFinalize(ctx), job.sys.inBuf = job.sys.outBuf = job.sys.workBuf = nullptr;
    return status;
}

TEST(EncodeInit, ChecksInOrder)
{
    // Every job, refused or not, releases all it allocated.
    const struct {
        const char* name;
        std::function<void(Job&)> change;
        int32_t want;
        int failAt = -1;  // allocation that fails: 0 the context, then work area, input, output buffer
    } cases[] = {
        {"defaults", [](Job&) {}, MOX_OK},
        // Two faults: the earlier check decides.
        {"width 0, format 6", [](Job& j) { j.pic.width = 0, j.pic.pixelFormat = 6; }, MOX_ERR_SIZE},
        {"pitch 0, output 0", [](Job& j) { j.sys.lineBytes = 0, j.sys.outBufSize = 0; }, MOX_ERR_LINE_PITCH},
        {"coding mode 2", [](Job& j) { j.pic.codingMode = 2; }, MOX_ERR_CODING_MODE},
        {"pixel format 6", [](Job& j) { j.pic.pixelFormat = 6; }, MOX_ERR_FORMAT},
        {"negative left", [](Job& j) { j.pic.regionLeft = -1, j.pic.regionWidth = 10; }, MOX_ERR_SIZE},
        {"region height 0", [](Job& j) { j.pic.regionHeight = 0; }, MOX_ERR_SIZE},
        {"quality 11", [](Job& j) { j.pic.qualityLevel = 11; }, MOX_ERR_QUALITY},
        {"downsample 2", [](Job& j) { j.param.downsampleMode = 2; }, MOX_ERR_CODING_4},
        {"restart 65536", [](Job& j) { j.param.restartInterval = 65536; }, MOX_ERR_CODING_4},
        {"restart 65535", [](Job& j) { j.param.restartInterval = 65535; }, MOX_OK},
        {"quant selector 4", [](Job& j) { j.param.quantSel[1] = 4; }, MOX_ERR_QUANT},
        {"quant value 256", [](Job& j) { std::fill_n(j.param.quantTable[1], 64, 1), j.param.quantTable[1][9] = 256; },
         MOX_ERR_QUANT},
        {"quant values 1 and 255",
         [](Job& j) { std::fill_n(j.param.quantTable[1], 64, 1), j.param.quantTable[1][9] = 255; }, MOX_OK},
        {"table 2 selected but unset", [](Job& j) { j.param.quantSel[2] = 2; }, MOX_ERR_QUANT},
        {"dc selector 2", [](Job& j) { j.param.dcSel[0] = 0, j.param.dcSel[1] = 2; }, MOX_ERR_QUANT},
        {"ac selector 2 on an unused component",
         [](Job& j) { std::fill_n(j.param.acSel, 4, 1), j.param.acSel[3] = 2; }, MOX_OK},
        {"h factor 3", [](Job& j) { std::fill_n(j.param.hSamp, 4, 1), j.param.hSamp[0] = 3; }, MOX_ERR_SAMPLING},
        {"three components 2x2",
         [](Job& j) { std::fill_n(j.param.hSamp, 4, 2), std::fill_n(j.param.vSamp, 4, 2); }, MOX_ERR_UNSUPPORTED},
        {"gray with h factor 2", [](Job& j) { j = baselineJob(MOX_PIXEL_GRAY), j.param.hSamp[0] = 2; }, MOX_OK},
        {"line pitch exact", [](Job& j) { j.sys.lineBytes = 120, j.sys.inBufSize = 120; }, MOX_OK},
        {"line pitch short", [](Job& j) { j.sys.lineBytes = 119; }, MOX_ERR_LINE_PITCH},
        {"line pitch above 36000", [](Job& j) { j.sys.lineBytes = 36001; }, MOX_ERR_LINE_PITCH},
        {"input below one line", [](Job& j) { j.sys.inBufSize = j.sys.lineBytes - 1; }, MOX_ERR_IN_BUFFER},
        {"output size 0", [](Job& j) { j.sys.outBufSize = 0; }, MOX_ERR_OUT_BUFFER},
        {"no allocator", [](Job& j) { j.sys.allocFunc = nullptr, j.sys.partAllocFunc = nullptr; }, MOX_ERR_ALLOCATOR},
        {"context allocation fails", [](Job&) {}, MOX_ERR_ALLOC, 0},
        {"work area allocation fails", [](Job&) {}, MOX_ERR_ALLOC, 1},
        {"input buffer allocation fails", [](Job&) {}, MOX_ERR_ALLOC, 2},
        {"output buffer allocation fails", [](Job&) {}, MOX_ERR_ALLOC, 3},
        {"vela mode 0", [](Job& j) { makeVela(j), j.param.velaMode = 0; }, MOX_ERR_VELA_MODE},
        {"vela word 33 = 65", [](Job& j) { makeVela(j), j.vela.word[33] = 65; }, MOX_ERR_NULL},
        {"vela word 26 = 2", [](Job& j) { makeVela(j), j.vela.word[26] = 2; }, MOX_OK},
        {"vela without table", [](Job& j) { makeVela(j), j.param.quantTable[0][0] = -1; }, MOX_ERR_QUANT},
        {"vela ignores quality", [](Job& j) { makeVela(j), j.pic.qualityLevel = -1; }, MOX_OK},
    };
    for (const auto& c : cases) {
        Job job = baselineJob();
        moxtest::CountingAllocator counter;
        counter.failAt = c.failAt;
        moxtest::useCounting(&job.sys, &counter);
        c.change(job);
        EXPECT_EQ(initStatus(job), c.want) << c.name;
        EXPECT_EQ(counter.live, 0) << c.name;
        EXPECT_TRUE(job.sys.inBuf == nullptr && job.sys.workBuf == nullptr) << c.name << ": a released buffer";
    }
    Job job = baselineJob();
    int32_t status = 0;
    uint32_t bytes = 0, count = 0;
    EXPECT_EQ(MoxEncInit(nullptr, &job.sys, &job.param, &status), nullptr);
    EXPECT_EQ(status, MOX_ERR_NULL);
    EXPECT_EQ(MoxEncInit(&job.pic, &job.sys, &job.param, nullptr), nullptr);
    EXPECT_EQ(MoxEncClearParam(nullptr), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncFinalize(nullptr), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncCalcOptBandSize(&job.pic, &job.sys, &job.param, 100, nullptr, &count), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncCalcWorkSize(&job.pic, &job.sys, nullptr), MOX_ERR_NULL);
    EXPECT_EQ(MoxEncode(nullptr, &bytes, nullptr), MOX_ERR_NULL);
}

TEST(EncodeInit, WorkAreaAndBandSizes)
{
    // 3 components, component 0 at 2x2: the adviser's figure, and one byte
    // short of the area Init takes.
    Job job = baselineJob();
    job.pic.qualityLevel = 0;
    EXPECT_EQ(MoxEncCalcWorkSize(&job.pic, &job.sys, &job.param), int32_t(16 * job.sys.lineBytes + 16460));
    std::vector<uint8_t> area(16 * job.sys.lineBytes + 16995);
    job.sys.workBuf = area.data();
    job.sys.workSize = uint32_t(area.size());
    EXPECT_EQ(initStatus(job), MOX_ERR_WORK_AREA);

    // An area of exactly the required size serves at any address and is
    // never released by Finalize: the stream is the same and nothing is
    // touched past its end (ASan).
    std::vector<uint8_t> want;
    for (uint32_t offset = 0; offset < 4; ++offset) {
        enctest::EncodeSetup setup = enctest::makeSetup(37, 21, MOX_PIXEL_RGB, 0);
        setup.workSize = 16 * 37 * 3 + 16996;
        std::unique_ptr<uint8_t[]> block(new uint8_t[offset + setup.workSize]);
        setup.workBuf = block.get() + offset;
        setup.outBufSize = 200;  // the spill is in use at every hand-over
        enctest::EncodeRun run = enctest::runEncode(setup);
        ASSERT_EQ(run.status, 0) << "offset " << offset;
        if (offset == 0) want = run.stream;
        EXPECT_EQ(run.stream, want) << "offset " << offset;
    }

    // Band advice for 40-byte lines; 10 lines with room for 12: the
    // small-band rule comes first.
    job = baselineJob(MOX_PIXEL_GRAY);
    job.sys.lineBytes = 40;
    const struct {
        int32_t height;
        uint32_t lines, bandLines, bandCount;
    } cases[] = {{100, 40, 32, 4}, {100, 12, 12, 9}, {100, 200, 100, 1}, {100, 16, 16, 7}, {100, 1, 1, 100},
                 {10, 12, 12, 1}};
    for (const auto& c : cases) {
        job.pic.height = c.height;
        uint32_t bytes = 0, count = 0;
        ASSERT_EQ(MoxEncCalcOptBandSize(&job.pic, &job.sys, &job.param, c.lines * 40 + 39, &bytes, &count), MOX_OK);
        EXPECT_EQ(bytes, c.bandLines * 40) << c.height << " lines, room for " << c.lines;
        EXPECT_EQ(count, c.bandCount) << c.height << " lines, room for " << c.lines;
    }
}

TEST(EncodeInit, EncodeCallFailures)
{
    // A callback's failure is the job's and the first failure wins: a
    // working callback set afterwards is not called. After a complete image
    // a call returns 0 and writes nothing.
    for (int kind : {0, 1, 2}) {  // input callback, output callback, none
        Job job = baselineJob(MOX_PIXEL_GRAY);
        job.sys.inBufSize = job.sys.lineBytes * 30;
        int32_t status = 0, cbError = 0, calls = 0;
        uint32_t bytes = 0;
        EncoderContext* ctx = MoxEncInit(&job.pic, &job.sys, &job.param, &status);
        ASSERT_NE(ctx, nullptr);
        auto setter = kind == 0 ? MoxEncSetInFunc : MoxEncSetOutFunc;
        if (kind < 2) setter(ctx, [](uint8_t*, uintptr_t, uint32_t, int32_t, void*) { return 5; }, &calls);
        EXPECT_EQ(MoxEncode(ctx, &bytes, &cbError), kind < 2 ? MOX_ERR_CALLBACK : MOX_OK) << kind;
        EXPECT_EQ(cbError, kind < 2 ? 5 : 0) << kind;
        if (kind < 2) setter(ctx, [](uint8_t*, uintptr_t, uint32_t, int32_t, void* n) { return ++*static_cast<int*>(n), 0; }, &calls);
        if (kind == 2) EXPECT_GT(bytes, 400u);
        EXPECT_EQ(MoxEncode(ctx, &bytes, &cbError), kind < 2 ? MOX_ERR_CALLBACK : MOX_OK) << kind;
        EXPECT_TRUE(calls == 0 && (kind < 2 || bytes == 0)) << kind;
        MoxEncFinalize(ctx);
    }
}

}  // namespace
