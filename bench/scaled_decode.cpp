// Preview decoding speed: a 600-dpi grey page (4960 x 7016) and a 4000 x 3000
// colour photo (4:2:0), both drawn here and encoded by the reference codec,
// decoded at full size and at reductions 2, 4 and 8 through the public
// interface (one piece, 64-line bands taken by the output callback), timed
// in process CPU time so that other jobs on the machine matter less. The
// last column is the reference codec's own scaled decoding of the same
// stream (scale 1/r, every line read), against its full-size decode.
//   bench_scaled [runs [reduction]]   best of `runs` decodes per row
//   (default 2), every reduction or only the one given
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <jpeglib.h>

#include "moxcodec.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace {

using moxtest::Picture;

uint32_t nextRandom(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// White paper with lines of glyph-like strokes and a little scanner noise.
Picture grayPage(int width, int height)
{
    Picture p{width, height, 1, std::vector<uint8_t>(size_t(width) * height)};
    uint32_t state = 600;
    for (int y = 0; y < height; ++y) {
        int lineY = y % 100;  // 100-pixel text lines, 60 pixels of ink band
        for (int x = 0; x < width; ++x) {
            int v = 240 + int(nextRandom(state) % 9) - 4;
            bool margin = x < 300 || x >= width - 300 || y < 400 || y >= height - 400;
            if (!margin && lineY >= 20 && lineY < 80) {
                int glyph = x / 40;
                int gx = x % 40, gy = lineY - 20;
                uint32_t shape = (uint32_t(glyph) * 2654435761u) ^ uint32_t(y / 100) * 40503u;
                bool stem = gx >= int(shape % 24) + 4 && gx < int(shape % 24) + 10;
                bool bar = gy >= int((shape >> 8) % 48) && gy < int((shape >> 8) % 48) + 6 && gx < 34;
                if ((stem || bar) && (shape >> 20) % 7 != 0) v = 30 + int(nextRandom(state) % 20);
            }
            p.pixels[size_t(y) * width + x] = uint8_t(std::clamp(v, 0, 255));
        }
    }
    return p;
}

// Sky gradient, hills and textured ground: smooth areas beside fine detail.
Picture colourPhoto(int width, int height)
{
    Picture p{width, height, 3, std::vector<uint8_t>(size_t(width) * height * 3)};
    uint32_t state = 4000;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double u = double(x) / width, v = double(y) / height;
            double hill = 0.55 + 0.08 * std::sin(u * 9.0) + 0.04 * std::sin(u * 23.0 + 1.0);
            int noise = int(nextRandom(state) % 31) - 15;
            int r, g, b;
            if (v < hill) {
                r = int(90 + 100 * v);
                g = int(140 + 80 * v);
                b = 230 - int(30 * v);
                noise /= 5;
            } else {
                double t = std::sin(x * 0.31) * std::cos(y * 0.17);
                r = int(80 + 40 * t);
                g = int(110 + 50 * t);
                b = int(40 + 20 * t);
            }
            uint8_t* px = &p.pixels[(size_t(y) * width + x) * 3];
            px[0] = uint8_t(std::clamp(r + noise, 0, 255));
            px[1] = uint8_t(std::clamp(g + noise, 0, 255));
            px[2] = uint8_t(std::clamp(b + noise, 0, 255));
        }
    return p;
}

int32_t discard(uint8_t*, uintptr_t, uint32_t length, int32_t, void* user)
{
    *static_cast<uint64_t*>(user) += length;
    return 0;
}

// Seconds of one decode at `reduction`, or a negative value on failure.
double decodeOnce(const std::vector<uint8_t>& stream, int reduction)
{
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc([](uint32_t n) { return std::malloc(n); }, [](void* q) { std::free(q); }, &sys);
    std::vector<uint8_t> buffer(stream);
    timespec start{}, end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    sys.inputBuffer = buffer.data();
    sys.pieceSize = static_cast<uint32_t>(buffer.size());
    sys.totalSize = static_cast<uint32_t>(buffer.size());
    int32_t error = 0;
    int32_t status = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, &error);
    if (status != 0 && status != 10) return std::printf("header %d\n", status), -1;
    pic.mode = MOX_MODE_JPEG;
    pic.outFormat = 1;
    pic.reduction = reduction;
    int32_t width = (pic.width + reduction - 1) / reduction;
    sys.lineStride = static_cast<uint32_t>(width * pic.componentCount);
    sys.bandBufferSize = sys.lineStride * 64;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == nullptr) return std::printf("init %d\n", error), -1;
    uint64_t taken = 0;
    MoxDecSetOutFunc(ctx, discard, &taken);
    uint32_t slot = 0;
    status = MoxDecode(ctx, 0, &slot);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    MoxDecFinalize(ctx);
    if (status != 0) return std::printf("decode %d\n", status), -1;
    return double(end.tv_sec - start.tv_sec) + 1e-9 * double(end.tv_nsec - start.tv_nsec);
}

// Seconds of one reference-codec decode at scale 1/reduction.
double referenceDecodeOnce(const std::vector<uint8_t>& stream, int reduction)
{
    timespec start{}, end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    jpeg_decompress_struct d;
    jpeg_error_mgr errors;
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, stream.data(), static_cast<unsigned long>(stream.size()));
    jpeg_read_header(&d, TRUE);
    d.scale_num = 1;
    d.scale_denom = static_cast<unsigned>(reduction);
    jpeg_start_decompress(&d);
    std::vector<uint8_t> line(size_t(d.output_width) * d.output_components);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = line.data();
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    return double(end.tv_sec - start.tv_sec) + 1e-9 * double(end.tv_nsec - start.tv_nsec);
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    int only = argc > 2 ? std::atoi(argv[2]) : 0;
    struct Case {
        const char* name;
        Picture picture;
        moxtest::RefEncodeOptions options;
    };
    Case cases[2] = {{"grey page 4960x7016 q75", grayPage(4960, 7016), {}},
                     {"photo 4000x3000 420 q90", colourPhoto(4000, 3000), {}}};
    cases[1].options.quality = 90;
    cases[1].options.hSamp[0] = cases[1].options.vSamp[0] = 2;
    std::printf("%-26s %5s %10s %9s %12s %8s %12s\n", "picture", "scale", "bytes", "seconds",
                "full MP/s", "speedup", "ref speedup");
    for (Case& c : cases) {
        std::vector<uint8_t> stream = moxtest::refEncode(c.picture, c.options);
        double megapixels = double(c.picture.width) * c.picture.height / 1e6;
        double full = 0, referenceFull = 0;
        for (int reduction : {1, 2, 4, 8}) {
            if (only != 0 && reduction != only && reduction != 1) continue;
            double best = 1e30, referenceBest = 1e30;
            for (int i = 0; i < runs; ++i) {
                referenceBest = std::min(referenceBest, referenceDecodeOnce(stream, reduction));
                double s = decodeOnce(stream, reduction);
                if (s < 0) {
                    std::printf("%s 1/%d: decode failed\n", c.name, reduction);
                    return 1;
                }
                best = std::min(best, s);
            }
            if (reduction == 1) full = best, referenceFull = referenceBest;
            std::printf("%-26s %3s%-2d %10zu %9.3f %12.1f %7.2fx %11.2fx\n", c.name, "1/", reduction,
                        stream.size(), best, megapixels / best, full / best, referenceFull / referenceBest);
        }
    }
    return 0;
}
