// Separate jobs share nothing but the error log: 8 threads running 20 mixed
// decode and encode jobs each (pictures, piece and band sizes, callbacks,
// failing callbacks) must give every job the result of a serial run. The
// tsan preset runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "support/allocator.h"
#include "support/picture.h"

namespace {

using moxtest::plainAlloc;
using moxtest::plainFree;

struct Result {
    int32_t status = 0;
    int32_t callbackError = 0;
    std::vector<uint8_t> bytes;  // the stream, or the decoded lines
    bool operator==(const Result&) const = default;
};

struct EncodeJob {
    moxtest::Picture picture;
    int pixelFormat;
    int quality;
    int restart;
    uint32_t bandLines;
    uint32_t outBufSize;
    bool pullInput, pullOutput;
    int32_t outputResult;  // what OutputFunc returns (0, or a failure)
};

struct EncodeState {
    const EncodeJob* job;
    uint32_t lineBytes;
    uint32_t nextLine = 0;
    Result* result;
    void feed(uint8_t* buffer, uint32_t lines)
    {
        const auto& pixels = job->picture.pixels;
        size_t from = std::min(pixels.size(), size_t(nextLine) * lineBytes);
        std::memcpy(buffer, pixels.data() + from, std::min(size_t(lines) * lineBytes, pixels.size() - from));
        nextLine += lines;
    }
};

int32_t encodeIn(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* state = static_cast<EncodeState*>(user);
    state->feed(buffer, length / state->lineBytes);
    return 0;
}

int32_t encodeOut(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* state = static_cast<EncodeState*>(user);
    state->result->bytes.insert(state->result->bytes.end(), buffer, buffer + length);
    return state->job->outputResult;
}

Result runEncode(const EncodeJob& job)
{
    Result result;
    const uint32_t components = job.pixelFormat == MOX_PIXEL_GRAY ? 1 : 3;
    EncodePicture pic{job.picture.width, job.picture.height, job.picture.width, job.picture.height,
                      0, 0, job.quality, job.pixelFormat, 0, 72, 72, 1, 0};
    EncodeParam param;
    MoxEncClearParam(&param);
    param.restartInterval = job.restart;
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(plainAlloc, plainFree, &sys);
    sys.lineBytes = uint32_t(job.picture.width) * components;
    sys.inBufSize = job.bandLines * sys.lineBytes;
    sys.outBufSize = job.outBufSize;
    EncoderContext* ctx = MoxEncInit(&pic, &sys, &param, &result.status);
    if (ctx == nullptr) return result;
    EncodeState state{&job, sys.lineBytes, 0, &result};
    if (job.pullInput) {
        MoxEncSetInFunc(ctx, encodeIn, &state);
    } else {
        state.feed(sys.inBuf, std::min<uint32_t>(job.bandLines, uint32_t(job.picture.height)));
    }
    if (job.pullOutput) MoxEncSetOutFunc(ctx, encodeOut, &state);
    uint32_t outBytes = 0;
    for (;;) {
        result.status = MoxEncode(ctx, &outBytes, &result.callbackError);
        if (result.status == MOX_NEED_INPUT) {
            state.feed(sys.inBuf, uint32_t(MoxGetCurrentBandHeight(ctx)));
            continue;
        }
        if (result.status == MOX_OUTPUT_READY || (result.status == MOX_OK && !job.pullOutput))
            result.bytes.insert(result.bytes.end(), sys.outBuf, sys.outBuf + outBytes);
        if (result.status != MOX_OUTPUT_READY) break;
    }
    MoxEncFinalize(ctx);
    return result;
}

struct DecodeJob {
    std::vector<uint8_t> stream;
    uint32_t pieceSize;
    uint32_t bandLines;
    bool useInput, useOutput;
    int32_t inputResult;  // what InputFunc returns (0, or a failure)
};

struct DecodeState {
    const DecodeJob* job;
    size_t delivered = 0;
    Result* result;
    void fill(uint8_t* buffer)
    {
        size_t n = std::min<size_t>(job->stream.size() - delivered, job->pieceSize);
        std::memcpy(buffer, job->stream.data() + delivered, n);
        delivered += n;
    }
};

int32_t decodeIn(uint8_t* buffer, uintptr_t, uint32_t, int32_t, void* user)
{
    auto* state = static_cast<DecodeState*>(user);
    state->fill(buffer);
    return state->job->inputResult;
}

int32_t decodeOut(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* state = static_cast<DecodeState*>(user);
    state->result->bytes.insert(state->result->bytes.end(), buffer, buffer + length);
    return 0;
}

Result runDecode(const DecodeJob& job)
{
    Result result;
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(plainAlloc, plainFree, &sys);
    std::vector<uint8_t> head(job.stream);
    sys.inputBuffer = head.data();
    sys.pieceSize = uint32_t(head.size());
    sys.totalSize = uint32_t(head.size());
    result.status = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, &result.callbackError);
    if (result.status != MOX_OK) return result;
    DecodeState state{&job, sys.consumedTotal, &result};
    std::vector<uint8_t> piece(job.pieceSize);
    state.fill(piece.data());
    sys.inputBuffer = piece.data();
    sys.pieceSize = job.pieceSize;
    sys.pieceOffset = 0;
    pic.mode = MOX_MODE_JPEG;
    pic.outFormat = 1;
    sys.lineStride = uint32_t(pic.width * pic.componentCount);
    sys.bandBufferSize = sys.lineStride * job.bandLines;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &result.status);
    if (ctx == nullptr) return result;
    if (job.useInput) MoxDecSetInFunc(ctx, decodeIn, &state);
    if (job.useOutput) MoxDecSetOutFunc(ctx, decodeOut, &state);
    for (;;) {
        uint32_t slot = 0;
        result.status = MoxDecode(ctx, 0, &slot);
        result.callbackError = int32_t(slot);
        if (result.status == MOX_NEED_INPUT) {
            state.fill(sys.inputBuffer);
            continue;
        }
        if (result.status == MOX_OUTPUT_READY) {
            result.bytes.insert(result.bytes.end(), sys.bandBuffer, sys.bandBuffer + sys.bandBufferSize);
            continue;
        }
        break;
    }
    if (result.status == MOX_OK && !job.useOutput) {
        uint32_t lines = uint32_t(pic.height) % job.bandLines;
        if (lines == 0) lines = job.bandLines;
        result.bytes.insert(result.bytes.end(), sys.bandBuffer, sys.bandBuffer + lines * sys.lineStride);
    }
    MoxDecFinalize(ctx);
    return result;
}

constexpr int kThreads = 8;
constexpr int kJobsPerThread = 20;

TEST(Threads, MixedJobsMatchASerialRun)
{
    // Jobs k = 0..159: even ones encode, odd ones decode a stream of an
    // earlier encode; every seventh has a failing callback.
    std::vector<EncodeJob> encodes;
    std::vector<DecodeJob> decodes;
    for (int k = 0; k < kThreads * kJobsPerThread; ++k) {
        int w = 8 + (k * 13) % 57, h = 8 + (k * 29) % 41;
        bool gray = k % 3 == 0;
        uint32_t callbacks = uint32_t(k / 2) % 4;
        if (k % 2 == 0) {
            encodes.push_back({moxtest::makePicture(w, h, gray ? 1 : 3, uint32_t(k)),
                               gray ? MOX_PIXEL_GRAY : MOX_PIXEL_RGB, k % 11, (k / 2) % 4,
                               1 + uint32_t(k) % 19, k % 5 == 0 ? 97u : 1u << 16,
                               (callbacks & 1) != 0, (callbacks & 2) != 0,
                               k % 7 == 0 && (callbacks & 2) ? 5 : 0});
        } else {
            EncodeJob source{moxtest::makePicture(w, h, gray ? 1 : 3, uint32_t(k)),
                             gray ? MOX_PIXEL_GRAY : MOX_PIXEL_RGB, 8, k % 3, uint32_t(h), 1u << 16,
                             false, false, 0};
            decodes.push_back({runEncode(source).bytes, 64 + uint32_t(k) * 5, 1 + uint32_t(k) % 23,
                               (callbacks & 1) != 0, (callbacks & 2) != 0,
                               k % 7 == 0 && (callbacks & 1) ? 7 : 0});
        }
    }
    auto run = [&](int k) {
        return k % 2 == 0 ? runEncode(encodes[size_t(k / 2)]) : runDecode(decodes[size_t(k / 2)]);
    };
    std::vector<Result> serial;
    for (int k = 0; k < kThreads * kJobsPerThread; ++k) serial.push_back(run(k));

    std::vector<Result> threaded(serial.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int j = 0; j < kJobsPerThread; ++j) {
                int k = j * kThreads + t;  // neighbouring jobs on different threads
                threaded[size_t(k)] = run(k);
            }
        });
    for (std::thread& thread : threads) thread.join();

    int failures = 0;
    for (size_t k = 0; k < serial.size(); ++k) {
        failures += serial[k].status < 0;
        EXPECT_EQ(threaded[k].status, serial[k].status) << "job " << k;
        EXPECT_EQ(threaded[k].callbackError, serial[k].callbackError) << "job " << k;
        EXPECT_TRUE(threaded[k].bytes == serial[k].bytes) << "job " << k << ": output differs";
    }
    EXPECT_GT(failures, 0) << "no job ran into a failing callback";
    EXPECT_LT(failures, kThreads * kJobsPerThread / 4);
}

}  // namespace
