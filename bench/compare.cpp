// Side-by-side speed of libmoxcodec and libjpeg-turbo on three synthetic
// pictures: a photo-like scene of 4000 x 3000 (4:2:0 and 4:4:4, quality 90)
// and a text-and-rules A4 page at 600 dpi (4960 x 7016 gray, quality 90).
// Both codecs decode the same streams (the whole stream in one piece,
// 16-line bands copied out), and encode the photo in 4:2:2 and the page
// (libmoxcodec quality row 8 against libjpeg-turbo's integer DCT at 75).
// Runs alternate between the two codecs; each row prints the median of the
// rounds in megapixels per second and the ratio ours / theirs.
//
//   moxcodec_compare [--rounds N] [--only decode|encode] [--save DIR]
//
// --save writes the three decode streams to DIR (photo420.jpg,
// photo444.jpg, page.jpg), for profiling one decode on its own.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: it needs FILE and size_t

#include "moxcodec.h"

namespace {

struct Image {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<uint8_t> pixels;
};

uint32_t hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352d;
    x ^= x >> 15;
    x *= 0x846ca68b;
    x ^= x >> 16;
    return x;
}

uint8_t clampByte(double v)
{
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

// A photo-like scene: sky-like gradients, a few soft-edged discs and
// textured ground, with sensor-like noise. Deterministic.
Image photo(int width, int height)
{
    Image image{width, height, 3, std::vector<uint8_t>(size_t(width) * height * 3)};
    struct Disc {
        double x, y, r, red, green, blue;
    } discs[24];
    for (int i = 0; i < 24; ++i) {
        uint32_t h = hash(0x1234 + i);
        discs[i] = {double(h % width), double((h >> 8) % height), 80.0 + (h >> 20) % 500,
                    double(hash(h) % 256), double(hash(h + 1) % 256), double(hash(h + 2) % 256)};
    }
    std::vector<double> waveX(width), waveY(height);
    for (int x = 0; x < width; ++x) waveX[x] = std::sin(x * 0.013) + 0.5 * std::sin(x * 0.071);
    for (int y = 0; y < height; ++y) waveY[y] = std::sin(y * 0.017) + 0.5 * std::cos(y * 0.053);
    for (int y = 0; y < height; ++y) {
        const double t = double(y) / height;
        for (int x = 0; x < width; ++x) {
            double r, g, b;
            if (t < 0.45) {  // sky
                r = 90 + 80 * t + 10 * waveX[x];
                g = 140 + 60 * t + 8 * waveY[y];
                b = 220 - 40 * t;
            } else {  // ground with texture
                double tex = 25 * waveX[x] * waveY[y] + double(hash(uint32_t(x / 3 * 7919 + y / 3)) % 40);
                r = 110 + tex;
                g = 95 + 0.8 * tex;
                b = 60 + 0.5 * tex;
            }
            for (const Disc& d : discs) {
                double dx = x - d.x, dy = y - d.y;
                double dist = std::sqrt(dx * dx + dy * dy);
                if (dist < d.r + 4) {
                    double a = std::clamp((d.r + 4 - dist) / 8, 0.0, 1.0);
                    double shade = 0.75 + 0.25 * (1 - dist / (d.r + 4));
                    r = r * (1 - a) + d.red * shade * a;
                    g = g * (1 - a) + d.green * shade * a;
                    b = b * (1 - a) + d.blue * shade * a;
                }
            }
            uint32_t n = hash(uint32_t(y) * 40503u + uint32_t(x));
            double noise = double(n % 9) - 4;
            uint8_t* p = &image.pixels[(size_t(y) * width + x) * 3];
            p[0] = clampByte(r + noise);
            p[1] = clampByte(g + noise);
            p[2] = clampByte(b + noise);
        }
    }
    return image;
}

// A scanned-looking text page: lines of glyph-like strokes, ruled lines and
// a framed table, on a white ground with slight paper noise.
Image page(int width, int height)
{
    Image image{width, height, 1, std::vector<uint8_t>(size_t(width) * height)};
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = static_cast<uint8_t>(250 + hash(uint32_t(i)) % 6);
    auto fill = [&](int x0, int y0, int x1, int y1, uint8_t v) {
        for (int y = std::max(y0, 0); y < std::min(y1, height); ++y)
            for (int x = std::max(x0, 0); x < std::min(x1, width); ++x)
                image.pixels[size_t(y) * width + x] = v;
    };
    const int margin = 300, lineHeight = 100, glyph = 42;
    for (int top = margin, line = 0; top + lineHeight < height - margin; top += lineHeight, ++line) {
        if (line % 12 == 11) {  // a rule
            fill(margin, top + 40, width - margin, top + 46, 20);
            continue;
        }
        for (int left = margin; left + glyph < width - margin; left += glyph) {
            uint32_t h = hash(uint32_t(line) * 1000003u + uint32_t(left));
            if (h % 9 == 0) continue;  // a space
            const int x = left + 4, y = top + 20, w = glyph - 10, tall = 56;
            const uint8_t ink = static_cast<uint8_t>(10 + h % 30);
            if (h & 2) fill(x, y, x + 6, y + tall, ink);                    // stem
            if (h & 4) fill(x, y + tall - 6, x + w, y + tall, ink);         // base
            if (h & 8) fill(x, y + tall / 2, x + w, y + tall / 2 + 6, ink); // bar
            if (h & 16) fill(x + w - 6, y + 14, x + w, y + tall, ink);      // right stem
            if (h & 32) fill(x, y + 14, x + w, y + 20, ink);                // top
        }
    }
    // A framed table in the lower half.
    const int tableTop = height / 2, tableBottom = tableTop + 1200;
    for (int y = tableTop; y <= tableBottom; y += 150) fill(margin, y, width - margin, y + 4, 0);
    for (int x = margin; x <= width - margin; x += 540) fill(x, tableTop, x + 4, tableBottom + 4, 0);
    return image;
}

// ---------------------------------------------------------------- libjpeg-turbo

std::vector<uint8_t> turboEncode(const Image& image, int quality, int hSamp, int vSamp,
                                 J_DCT_METHOD method)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = image.width;
    cinfo.image_height = image.height;
    cinfo.input_components = image.components;
    cinfo.in_color_space = image.components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.dct_method = method;
    if (image.components == 3) {
        cinfo.comp_info[0].h_samp_factor = hSamp;
        cinfo.comp_info[0].v_samp_factor = vSamp;
    }
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = size_t(image.width) * image.components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[16];
        JDIMENSION n = std::min<JDIMENSION>(16, cinfo.image_height - cinfo.next_scanline);
        for (JDIMENSION i = 0; i < n; ++i)
            rows[i] = const_cast<uint8_t*>(&image.pixels[(cinfo.next_scanline + i) * stride]);
        jpeg_write_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> stream(buffer, buffer + size);
    std::free(buffer);
    return stream;
}

// Decodes into 16-line bands, each copied out to `out`.
void turboDecode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, stream.data(), stream.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.dct_method = JDCT_FLOAT;
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t(cinfo.output_width) * cinfo.output_components;
    out.resize(stride * cinfo.output_height);
    std::vector<uint8_t> band(stride * 16);
    while (cinfo.output_scanline < cinfo.output_height) {
        const size_t first = cinfo.output_scanline;
        JSAMPROW rows[16];
        for (int i = 0; i < 16; ++i) rows[i] = &band[i * stride];
        JDIMENSION lines = 0;
        while (lines < 16 && cinfo.output_scanline < cinfo.output_height)
            lines += jpeg_read_scanlines(&cinfo, rows + lines, 16 - lines);
        std::memcpy(&out[first * stride], band.data(), lines * stride);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

// ---------------------------------------------------------------- libmoxcodec

void* allocate(uint32_t size)
{
    return std::malloc(size);
}

void release(void* pointer)
{
    std::free(pointer);
}

struct BandSink {
    std::vector<uint8_t>* out;
    size_t written;
};

int32_t takeBand(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* sink = static_cast<BandSink*>(user);
    length = static_cast<uint32_t>(std::min<size_t>(length, sink->out->size() - sink->written));
    std::memcpy(sink->out->data() + sink->written, buffer, length);
    sink->written += length;
    return 0;
}

void moxDecode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out)
{
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(allocate, release, &sys);
    std::vector<uint8_t> input(stream);
    sys.inputBuffer = input.data();
    sys.pieceSize = static_cast<uint32_t>(input.size());
    sys.totalSize = static_cast<uint32_t>(input.size());
    int32_t status = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, nullptr);
    if (status != 0 && status != 10) {
        std::fprintf(stderr, "MoxAnalysisHeader: %d\n", status);
        std::exit(1);
    }
    pic.mode = MOX_MODE_JPEG;
    pic.outFormat = pic.componentCount == 3 ? 1 : 0;
    sys.lineStride = static_cast<uint32_t>(pic.width * pic.componentCount);
    sys.bandBufferSize = sys.lineStride * 16;
    out.resize(size_t(sys.lineStride) * pic.height);
    int32_t error = 0;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == nullptr) {
        std::fprintf(stderr, "MoxDecInit: %d\n", error);
        std::exit(1);
    }
    BandSink sink{&out, 0};
    MoxDecSetOutFunc(ctx, takeBand, &sink);
    uint32_t callbackResult = 0;
    status = MoxDecode(ctx, 0, &callbackResult);
    MoxDecFinalize(ctx);
    if (status != 0 && status != 1000) {
        std::fprintf(stderr, "MoxDecode: %d\n", status);
        std::exit(1);
    }
}

struct LineSource {
    const Image* image;
    size_t offset;
};

int32_t giveLines(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* source = static_cast<LineSource*>(user);
    size_t left = source->image->pixels.size() - source->offset;
    size_t n = std::min<size_t>(length, left);
    std::memcpy(buffer, source->image->pixels.data() + source->offset, n);
    source->offset += n;
    return 0;
}

int32_t takeBytes(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    out->insert(out->end(), buffer, buffer + length);
    return 0;
}

std::vector<uint8_t> moxEncode(const Image& image, int quality, int hSamp, int vSamp)
{
    EncodeParam param;
    MoxEncClearParam(&param);
    if (image.components == 3) {
        param.hSamp[0] = hSamp;
        param.vSamp[0] = vSamp;
        for (int c = 1; c < 4; ++c) param.hSamp[c] = param.vSamp[c] = 1;
    }
    EncodePicture pic{};
    pic.width = pic.regionWidth = image.width;
    pic.height = pic.regionHeight = image.height;
    pic.qualityLevel = quality;
    pic.pixelFormat = image.components == 3 ? MOX_PIXEL_RGB : MOX_PIXEL_GRAY;
    pic.densityX = pic.densityY = 1;
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(allocate, release, &sys);
    sys.lineBytes = static_cast<uint32_t>(image.width * image.components);
    sys.inBufSize = sys.lineBytes * 64;
    sys.outBufSize = 65536;
    int32_t status = 0;
    EncoderContext* ctx = MoxEncInit(&pic, &sys, &param, &status);
    if (ctx == nullptr) {
        std::fprintf(stderr, "MoxEncInit: %d\n", status);
        std::exit(1);
    }
    std::vector<uint8_t> stream;
    stream.reserve(image.pixels.size() / 2);
    LineSource source{&image, 0};
    MoxEncSetInFunc(ctx, giveLines, &source);
    MoxEncSetOutFunc(ctx, takeBytes, &stream);
    uint32_t outBytes = 0;
    int32_t callbackError = 0;
    status = MoxEncode(ctx, &outBytes, &callbackError);
    MoxEncFinalize(ctx);
    if (status != 0) {
        std::fprintf(stderr, "MoxEncode: %d\n", status);
        std::exit(1);
    }
    return stream;
}

// ---------------------------------------------------------------- timing

double seconds(const std::function<void()>& job)
{
    auto start = std::chrono::steady_clock::now();
    job();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void row(const char* name, double megapixels, int rounds, const std::function<void()>& ours,
         const std::function<void()>& theirs)
{
    std::vector<double> a, b;
    ours();  // warm-up, not counted
    theirs();
    for (int i = 0; i < rounds; ++i) {
        a.push_back(seconds(ours));
        b.push_back(seconds(theirs));
    }
    double mine = megapixels / median(a), other = megapixels / median(b);
    std::printf("| %-34s | %7.1f | %7.1f | %5.2f |\n", name, mine, other, mine / other);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    std::string only;
    std::string saveDir;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (arg == "--save" && i + 1 < argc) {
            saveDir = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--rounds N] [--only decode|encode] [--save DIR]\n", argv[0]);
            return 2;
        }
    }
    const char* simd = std::getenv("MOX_SIMD");
    std::printf("libmoxcodec (MOX_SIMD=%s) against libjpeg-turbo, median of %d rounds\n",
                simd ? simd : "unset", rounds);
    const Image scene = photo(4000, 3000);
    const Image sheet = page(4960, 7016);
    const double scenePixels = 4000.0 * 3000 / 1e6, sheetPixels = 4960.0 * 7016 / 1e6;

    std::printf("| %-34s | %7s | %7s | %5s |\n", "MP/s", "ours", "turbo", "ratio");
    std::printf("|------------------------------------|---------|---------|-------|\n");
    if (only.empty() || only == "decode") {
        std::vector<uint8_t> out;
        const std::vector<uint8_t> s420 = turboEncode(scene, 90, 2, 2, JDCT_ISLOW);
        const std::vector<uint8_t> s444 = turboEncode(scene, 90, 1, 1, JDCT_ISLOW);
        const std::vector<uint8_t> sGray = turboEncode(sheet, 90, 1, 1, JDCT_ISLOW);
        if (!saveDir.empty()) {
            for (const auto& [name, data] : {std::pair{"photo420.jpg", &s420}, std::pair{"photo444.jpg", &s444},
                                             std::pair{"page.jpg", &sGray}}) {
                std::string path = saveDir + "/" + name;
                FILE* file = std::fopen(path.c_str(), "wb");
                if (file == nullptr || std::fwrite(data->data(), 1, data->size(), file) != data->size())
                    return std::fprintf(stderr, "cannot write %s\n", path.c_str()), 1;
                std::fclose(file);
            }
        }
        // Both decoders must agree on what they decode before they race.
        std::vector<uint8_t> check;
        moxDecode(s420, out);
        turboDecode(s420, check);
        if (out.size() != check.size()) return std::fprintf(stderr, "size mismatch\n"), 1;
        row("decode photo 4:2:0 q90", scenePixels, rounds, [&] { moxDecode(s420, out); },
            [&] { turboDecode(s420, out); });
        row("decode photo 4:4:4 q90", scenePixels, rounds, [&] { moxDecode(s444, out); },
            [&] { turboDecode(s444, out); });
        row("decode gray page q90", sheetPixels, rounds, [&] { moxDecode(sGray, out); },
            [&] { turboDecode(sGray, out); });
    }
    if (only.empty() || only == "encode") {
        row("encode photo 4:2:2 row 8 / q75", scenePixels, rounds,
            [&] { moxEncode(scene, 8, 2, 1); },
            [&] { turboEncode(scene, 75, 2, 1, JDCT_ISLOW); });
        row("encode gray page row 8 / q75", sheetPixels, rounds, [&] { moxEncode(sheet, 8, 1, 1); },
            [&] { turboEncode(sheet, 75, 1, 1, JDCT_ISLOW); });
    }
    return 0;
}
