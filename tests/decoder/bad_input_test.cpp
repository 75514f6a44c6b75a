// Hostile and damaged streams: every case ends with a status from the table,
// never a crash (the sanitizer build runs these).
#include <gtest/gtest.h>

#include <string>
#include <algorithm>
#include <functional>
#include <set>

#include "decoder/harness.h"
#include "header/stream_builder.h"
#include "support/picture.h"
#include "support/refjpeg.h"
#include "support/allocator.h"

namespace moxtest {
namespace {

const std::set<int32_t> kAllowed = {MOX_OK,          MOX_STREAM_NO_EOI, MOX_ERR_CORRUPT,
                                    MOX_ERR_RESTART, MOX_ERR_SAMPLING};

std::vector<uint8_t> smallStream(int restart)
{
    RefEncodeOptions options;
    options.quality = 80;
    options.hSamp[0] = 2;
    options.vSamp[0] = 2;
    options.restartInterval = restart;
    return refEncode(makePicture(40, 24, 3, 5), options);
}

TEST(DecoderBadInput, TruncatedAtEveryByte)
{
    std::vector<uint8_t> stream = smallStream(0);
    size_t start = scanStart(stream);
    for (size_t length = start + 1; length < stream.size(); ++length) {
        std::vector<uint8_t> cut(stream.begin(), stream.begin() + long(length));
        for (bool useInput : {false, true}) {
            DecodeResult run = decodeStream(cut, DecodeOptions{64, 0, useInput});
            EXPECT_TRUE(kAllowed.count(run.status)) << "length " << length << ": have " << run.status;
            EXPECT_EQ(run.liveBlocks, 0);
        }
    }
}

// Replaces the k-th restart marker with `code`.
std::vector<uint8_t> withMarker(std::vector<uint8_t> s, int k, uint8_t code)
{
    for (size_t i = scanStart(s); i + 1 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] >= 0xD0 && s[i + 1] <= 0xD7 && k-- == 0) {
            s[i + 1] = code;
            break;
        }
    return s;
}

// A wrong restart marker number is taken as the one due; another marker
// where a restart is due fails the job; a stream without EOI delivers every
// line and says so. The failure's records carry the routine and the MCU.
TEST(DecoderBadInput, MarkersAndStreamEnds)
{
    const std::vector<uint8_t> restarts = smallStream(1), plain = smallStream(0);
    const uint64_t good = digest(decodeStream(restarts, DecodeOptions{}).picture.pixels);
    const uint64_t goodPlain = digest(decodeStream(plain, DecodeOptions{}).picture.pixels);
    const struct {
        const char* name;
        std::vector<uint8_t> stream;
        int32_t want;
        uint64_t wantDigest;  // 0: not compared
    } cases[] = {
        {"RST3 where RST2 is due", withMarker(restarts, 2, 0xD3), MOX_OK, good},
        {"APP0 where RST2 is due", withMarker(restarts, 2, 0xE0), MOX_ERR_RESTART, 0},
        {"EOI where RST2 is due", withMarker(restarts, 2, 0xD9), MOX_ERR_RESTART, 0},
        {"no EOI", {plain.begin(), plain.end() - 2}, MOX_STREAM_NO_EOI, goodPlain},
    };
    for (const auto& c : cases)
        for (uint32_t piece : {0u, 64u, 65u}) {
            DecodeResult run = decodeStream(c.stream, DecodeOptions{piece});
            EXPECT_EQ(run.status, c.want) << c.name << " piece " << piece << ": have " << run.status;
            if (c.wantDigest != 0) EXPECT_EQ(digest(run.picture.pixels), c.wantDigest) << c.name;
            if (c.want >= 0) EXPECT_EQ(run.consumedTotal, c.stream.size()) << c.name;
        }
    const std::vector<std::string> log = headertest::logDuring([&] { decodeStream(cases[1].stream, DecodeOptions{}); });
    const std::vector<std::string> want = {"processRST -99998", "MoxDecode -99998", " x 2/2 ", " y 0/1 "};
    EXPECT_TRUE(std::search(log.begin(), log.end(), want.begin(), want.end()) != log.end())
        << "want the failure at column 2 of 3 and row 0 of 2 in a log of " << log.size() << " lines";
}


// Sizes and positions from the caller that the cursors cannot address: a
// piece or output buffer above 2 GiB - 1 (signed 32-bit byte indexes), a
// pieceOffset moved beyond the piece between calls, an output count beyond
// the buffer after a return of 1. Each is refused with its status, at Init
// or at the call, and the job stays failed.
TEST(DecoderBadInput, CallerSizesAndPositionsOutsideTheBuffers)
{
    const std::vector<uint8_t> stream = smallStream(0);

    // Decoder: pieces of 64 bytes pushed by the caller; the records change
    // before Init or after the first refill.
    using Change = std::function<void(SystemParam&)>;
    auto decode = [&](const Change& beforeInit, const Change& afterRefill) {
        DecodeOptions options{64};
        options.beforeInit = beforeInit;
        options.afterRefill = afterRefill;
        DecodeResult run = decodeStream(stream, options);
        if (run.status < 0) EXPECT_EQ(run.statusAgain, run.status) << "the first failure wins";
        return run.initStatus != 0 ? run.initStatus : run.status;
    };
    // Encoder: a grey 16 x 24 picture pushed in bands of 8 lines; after the
    // first return of 1 the caller's count is replaced.
    auto encode = [&](uint32_t outBufSize, const std::function<void(uint32_t&)>& afterBand) {
        EncodePicture pic{16, 24, 16, 24, 0, 0, 5, MOX_PIXEL_GRAY, 0, 72, 72, 1, 0};
        EncodeParam param;
        MoxEncClearParam(&param);
        std::vector<uint8_t> out(4096);
        EncodeSystemParam sys{};
        MoxEncSetupMalloc(plainAlloc, plainFree, &sys);
        sys.lineBytes = 16;
        sys.inBufSize = 16 * 8;
        sys.outBuf = out.data();  // never touched when its size is refused
        sys.outBufSize = outBufSize;
        int32_t status = 0;
        EncoderContext* ctx = MoxEncInit(&pic, &sys, &param, &status);
        if (ctx == nullptr) return status;
        uint32_t outBytes = 0;
        EXPECT_EQ(MoxEncode(ctx, &outBytes, nullptr), MOX_NEED_INPUT);
        afterBand(outBytes);
        while ((status = MoxEncode(ctx, &outBytes, nullptr)) == MOX_NEED_INPUT) {}
        if (status < 0) EXPECT_EQ(MoxEncode(ctx, &outBytes, nullptr), status) << "the first failure wins";
        MoxEncFinalize(ctx);
        return status;
    };
    const Change keep = [](SystemParam&) {};
    const struct {
        const char* name;
        std::function<int32_t()> run;
        int32_t want;
    } cases[] = {
        {"decoder as given", [&] { return decode(keep, keep); }, MOX_OK},
        {"piece of 2 GiB", [&] { return decode([](SystemParam& s) { s.pieceSize = 0x80000000u; }, keep); },
         MOX_ERR_BUFFER_LIMIT},
        {"piece of 4 GiB - 1", [&] { return decode([](SystemParam& s) { s.pieceSize = 0xFFFFFFFFu; }, keep); },
         MOX_ERR_BUFFER_LIMIT},
        {"pieceOffset beyond the piece before a later call",
         [&] { return decode(keep, [](SystemParam& s) { s.pieceOffset = s.pieceSize + 1; }); },
         MOX_ERR_RESUME_OFFSET},
        {"pieceOffset of 4 GiB - 1 before a later call",
         [&] { return decode(keep, [](SystemParam& s) { s.pieceOffset = 0xFFFFFFFFu; }); },
         MOX_ERR_RESUME_OFFSET},
        {"encoder as given", [&] { return encode(4096, [](uint32_t&) {}); }, MOX_OK},
        {"output buffer of 2 GiB", [&] { return encode(0x80000000u, [](uint32_t&) {}); },
         MOX_ERR_BUFFER_LIMIT},
        {"output count beyond the buffer after a return of 1",
         [&] { return encode(4096, [](uint32_t& n) { n = 4097; }); }, MOX_ERR_OUT_COUNT},
        {"output count of 4 GiB - 1 after a return of 1",
         [&] { return encode(4096, [](uint32_t& n) { n = 0xFFFFFFFFu; }); }, MOX_ERR_OUT_COUNT},
    };
    for (const auto& c : cases) EXPECT_EQ(c.run(), c.want) << c.name;
}

}  // namespace
}  // namespace moxtest
