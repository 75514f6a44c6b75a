// Separate jobs share nothing but the error log: 8 threads running 20 mixed
// decode and encode jobs each (pictures, piece and band sizes, callbacks,
// failing callbacks) must give every job the result of a serial run. The
// tsan preset runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "decoder/harness.h"
#include "encoder/encode_support.h"

namespace {

struct Result {
    int32_t status = 0;
    int32_t callbackError = 0;
    std::vector<uint8_t> bytes;  // the stream, or the decoded lines
};

constexpr int kThreads = 8;
constexpr int kJobsPerThread = 20;

TEST(Threads, MixedJobsMatchASerialRun)
{
    // Jobs k = 0..159: even ones encode, odd ones decode a stream encoded
    // beforehand; every seventh has a callback that fails.
    std::vector<enctest::EncodeSetup> encodes;
    std::vector<std::pair<std::vector<uint8_t>, moxtest::DecodeOptions>> decodes;
    for (int k = 0; k < kThreads * kJobsPerThread; ++k) {
        int format = k % 3 == 0 ? MOX_PIXEL_GRAY : MOX_PIXEL_RGB;
        enctest::EncodeSetup setup =
            enctest::makeSetup(8 + (k * 13) % 57, 8 + (k * 29) % 41, format, k % 11, uint32_t(k));
        setup.param.restartInterval = (k / 2) % 4;
        bool pullIn = (k / 2) % 2 != 0, pullOut = (k / 4) % 2 != 0;
        if (k % 2 == 0) {
            setup.bandLines = 1 + uint32_t(k) % 19;
            setup.outBufSize = k % 5 == 0 ? 97 : 1 << 16;
            setup.pullInput = pullIn;
            setup.pullOutput = pullOut;
            setup.outputResult = k % 7 == 0 && pullOut ? 5 : 0;
            encodes.push_back(setup);
        } else {
            // Pieces, bands, callbacks (InputFunc, OutputFunc), format 1, InputFunc's answer.
            moxtest::DecodeOptions options{64 + uint32_t(k) * 5, 1 + uint32_t(k) % 23, pullIn, pullOut, 1,
                                           k % 7 == 0 && pullIn ? 7 : 0};
            decodes.emplace_back(enctest::runEncode(setup).stream, options);
        }
    }
    auto run = [&](int k) {
        Result result;
        if (k % 2 == 0) {
            enctest::EncodeRun r = enctest::runEncode(encodes[size_t(k / 2)]);
            result = {r.status, r.callbackError, std::move(r.stream)};
        } else {
            const auto& [stream, options] = decodes[size_t(k / 2)];
            moxtest::DecodeResult r = moxtest::decodeStream(stream, options);
            result = {r.status, int32_t(r.errorSlot), std::move(r.picture.pixels)};
        }
        return result;
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
        if (serial[k].status >= 0) EXPECT_FALSE(serial[k].bytes.empty()) << "job " << k;
    }
    EXPECT_GT(failures, 0) << "no job ran into a failing callback";
    EXPECT_LT(failures, kThreads * kJobsPerThread / 4);
}

}  // namespace
