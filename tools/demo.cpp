// The demo job: a page drawn in code is encoded at several quality rows and
// decoded back with our own decoder; a table gives size, ratio, PSNR and
// speed, and every picture and stream is written to a folder.
#include "demo.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "jobs.h"
#include "moxcodec.h"
#include "progress.h"

namespace moxtool {

namespace {

struct Rgb {
    int r, g, b;
};

uint8_t clampByte(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

uint32_t nextRandom(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Mixing hash for glyph shapes and word lengths.
uint32_t hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

class Canvas {
public:
    explicit Canvas(Image& image) : image_(image) {}
    int width() const { return image_.header.width; }
    int height() const { return image_.header.height; }
    void put(int x, int y, Rgb c)
    {
        if (x < 0 || y < 0 || x >= width() || y >= height()) return;
        uint8_t* p = &image_.pixels[(size_t(y) * width() + x) * 3];
        p[0] = clampByte(c.r);
        p[1] = clampByte(c.g);
        p[2] = clampByte(c.b);
    }
    void fill(int x0, int y0, int w, int h, Rgb c)
    {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) put(x, y, c);
        }
    }

private:
    Image& image_;
};

// A landscape: sky gradient, a soft sun, layered hills, textured ground and
// rippled water; smooth areas beside fine noise.
void drawPhoto(Canvas& canvas, int x0, int y0, int w, int h)
{
    uint32_t state = 20261205u;
    double sunX = 0.72 * w;
    double sunY = 0.28 * h;
    double horizon = 0.62 * h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double u = double(x) / w;
            double noise = double(nextRandom(state) % 17) - 8.0;
            double r, g, b;
            double hill1 = 0.45 * h + 0.06 * h * std::sin(u * 7.0 + 0.5) + 0.03 * h * std::sin(u * 23.0);
            double hill2 = 0.53 * h + 0.05 * h * std::sin(u * 4.0 + 2.0) + 0.02 * h * std::cos(u * 31.0);
            if (y < hill1 && y < horizon) {
                double t = double(y) / horizon;
                r = 90 + 120 * t;
                g = 140 + 90 * t;
                b = 230 - 20 * t;
                double d = std::hypot(x - sunX, y - sunY) / (0.08 * h);
                double glow = std::exp(-d * d * 0.5);
                r += 140 * glow;
                g += 120 * glow;
                b += 30 * glow;
                noise *= 0.3;
            } else if (y < hill2 && y < horizon) {
                double shade = 0.8 + 0.2 * std::sin(x * 0.05 + y * 0.11);
                r = 70 * shade;
                g = 110 * shade;
                b = 80 * shade;
            } else if (y < horizon) {
                double shade = 0.7 + 0.3 * std::sin(x * 0.21) * std::cos(y * 0.17);
                r = 60 * shade + 30;
                g = 130 * shade + 20;
                b = 40 * shade;
                noise *= 2.0;
            } else {
                // Water: the sky mirrored with ripples.
                double depth = (y - horizon) / (h - horizon);
                double ripple = 12 * std::sin(x * 0.09 + y * 0.8) * (1.0 - depth);
                r = 60 + 40 * (1 - depth) + ripple;
                g = 110 + 50 * (1 - depth) + ripple;
                b = 170 + 40 * (1 - depth) + ripple;
                double reflect = std::exp(-std::pow((x - sunX) / (0.05 * w), 2)) * (1 - depth);
                r += 120 * reflect;
                g += 100 * reflect;
                b += 40 * reflect;
            }
            // Vignette.
            double vx = (u - 0.5) * 2;
            double vy = (double(y) / h - 0.5) * 2;
            double vig = 1.0 - 0.18 * (vx * vx + vy * vy);
            canvas.put(x0 + x, y0 + y, Rgb{int(r * vig + noise), int(g * vig + noise),
                                           int(b * vig + noise)});
        }
    }
}

// Line art: a zone plate, concentric rings, spokes and a fine grid, one
// pixel wide, dark on white: the hardest case for block transforms.
void drawLineArt(Canvas& canvas, int x0, int y0, int w, int h)
{
    canvas.fill(x0, y0, w, h, Rgb{255, 255, 255});
    double cx = w * 0.5;
    double cy = h * 0.5;
    double maxR = std::min(w, h) * 0.45;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double dx = x - cx;
            double dy = y - cy;
            double r = std::hypot(dx, dy);
            bool ink = false;
            if (x % 24 == 0 || y % 24 == 0) ink = true;                  // grid
            if (r < maxR && std::fmod(r, 18.0) < 1.0) ink = true;        // rings
            double angle = std::atan2(dy, dx);
            if (r < maxR && r > 20 && std::fabs(std::remainder(angle, M_PI / 12)) * r < 0.6) {
                ink = true;                                              // spokes
            }
            if (ink) {
                canvas.put(x0 + x, y0 + y, Rgb{20, 20, 40});
            } else if (x < w / 3 && y < h / 3) {
                // Zone plate in the top-left corner.
                double zr = (double(x) * x + double(y) * y) / (w / 3.0);
                int v = int(127.5 + 127.5 * std::cos(zr * 0.35));
                canvas.put(x0 + x, y0 + y, Rgb{v, v, v});
            }
        }
    }
    // A red and a blue diagonal.
    for (int i = 0; i < std::min(w, h); ++i) {
        canvas.put(x0 + i, y0 + i, Rgb{220, 30, 30});
        canvas.put(x0 + w - 1 - i, y0 + i, Rgb{30, 60, 220});
    }
}

// One pseudo glyph: a 5x7 cell pattern with a stem so it reads as a letter.
void drawGlyph(Canvas& canvas, int x, int y, int scale, uint32_t seed, Rgb ink)
{
    uint32_t bits = hash(seed);
    for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
            bool on = col == 0 || ((bits >> ((row * 5 + col) % 32)) & 1) != 0;
            if (row == 0 && col > 0) on = (bits & 3) == 0;
            if (on) canvas.fill(x + col * scale, y + row * scale, scale, scale, ink);
        }
    }
}

// Text-like strokes: a heading and paragraphs of pseudo words.
void drawText(Canvas& canvas, int x0, int y0, int w, int h)
{
    uint32_t seed = 7;
    int x = x0;
    int y = y0;
    for (int i = 0; i < 14 && x + 24 < x0 + w; ++i) {
        drawGlyph(canvas, x, y, 4, seed++, Rgb{30, 30, 110});
        x += 24;
    }
    y += 40;
    while (y + 14 < y0 + h) {
        x = x0;
        while (x < x0 + w - 60) {
            int letters = 2 + int(hash(seed++) % 8);
            Rgb ink = (hash(seed) % 11 == 0) ? Rgb{170, 20, 20} : Rgb{15, 15, 15};
            for (int k = 0; k < letters && x + 12 < x0 + w; ++k) {
                drawGlyph(canvas, x, y, 2, seed++, ink);
                x += 12;
            }
            x += 10;
        }
        y += 22;
    }
}

// Flat colour patches with hard edges.
void drawSwatches(Canvas& canvas, int x0, int y0, int w, int h)
{
    const Rgb colours[] = {{230, 25, 30}, {20, 160, 60}, {25, 50, 200}, {0, 190, 210},
                           {210, 0, 160}, {250, 220, 0}, {0, 0, 0},    {128, 128, 128}};
    int n = int(std::size(colours));
    int each = w / n;
    for (int i = 0; i < n; ++i) canvas.fill(x0 + i * each, y0, each - 6, h, colours[i]);
}

// ---------------------------------------------------------------- the job

const char kDemoHelp[] =
    "usage: moxcodec demo [--out DIR] [--size WxH] [--repeat N] [--no-vela]\n"
    "\n"
    "Draws a test page (photograph, line art, text-like strokes, flat colour),\n"
    "encodes it at quality rows 2, 5, 8 and 10, decodes every stream back with\n"
    "libmoxcodec and prints size, compression ratio, PSNR and speed; a preview\n"
    "row decodes the quality-8 stream at 1/8 of the size.\n"
    "\n"
    "  --out DIR     folder for page.png, the JPEGs and the decoded PNGs\n"
    "                (default ./moxcodec-demo)\n"
    "  --size WxH    page size (default 1200x900)\n"
    "  --repeat N    time each job N times and keep the fastest (default 3)\n"
    "  --no-vela     leave out the VELA rows (four-component and gray pages\n"
    "                in fixed 64-byte MCUs, decoded in mode 1)\n";

using Clock = std::chrono::steady_clock;

struct Timed {
    bool ok = false;
    double seconds = 1e30;
};

template <typename Job>
Timed timeBest(int repeat, Job&& job)
{
    Timed best;
    for (int i = 0; i < repeat; ++i) {
        auto start = Clock::now();
        bool ok = job();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!ok) return Timed{};
        best.ok = true;
        best.seconds = std::min(best.seconds, seconds);
    }
    return best;
}

struct DemoCase {
    std::string label;      // first table column
    std::string fileStem;   // page-q08 ...
    EncodeOptions encode;
    DecodeOptions decode;
    const Image* source;    // the page as the encoder takes it
};

std::string samplingOf(const std::vector<uint8_t>& stream)
{
    MemorySource source(stream);
    HeaderInfo info;
    JobError error;
    if (!analyseHeader(source, 64 * 1024, info, error)) return "?";
    if (info.picture.componentCount == 1) return "gray";
    int h = info.param.hSamp[0];
    int v = info.param.vSamp[0];
    if (h == 1 && v == 1) return "4:4:4";
    if (h == 2 && v == 1) return "4:2:2";
    if (h == 2 && v == 2) return "4:2:0";
    if (h == 1 && v == 2) return "4:4:0";
    return std::to_string(h) + "x" + std::to_string(v);
}

// Four components from the page (C, M, Y and a K of the darkest part) and
// a gray page, for the VELA rows.
Image fourComponentsOf(const Image& rgb)
{
    Image out;
    out.header = ImageHeader{rgb.header.width, rgb.header.height, 4};
    out.pixels.resize(size_t(rgb.header.width) * rgb.header.height * 4);
    for (size_t i = 0, n = size_t(rgb.header.width) * rgb.header.height; i < n; ++i) {
        int c = 255 - rgb.pixels[i * 3];
        int m = 255 - rgb.pixels[i * 3 + 1];
        int y = 255 - rgb.pixels[i * 3 + 2];
        int k = std::min({c, m, y});
        out.pixels[i * 4] = uint8_t(c - k);
        out.pixels[i * 4 + 1] = uint8_t(m - k);
        out.pixels[i * 4 + 2] = uint8_t(y - k);
        out.pixels[i * 4 + 3] = uint8_t(k);
    }
    return out;
}

Image grayOf(const Image& rgb)
{
    Image out;
    out.header = ImageHeader{rgb.header.width, rgb.header.height, 1};
    out.pixels.resize(size_t(rgb.header.width) * rgb.header.height);
    for (size_t i = 0; i < out.pixels.size(); ++i) {
        int v = (77 * rgb.pixels[i * 3] + 150 * rgb.pixels[i * 3 + 1] + 29 * rgb.pixels[i * 3 + 2] +
                 128) >> 8;
        out.pixels[i] = uint8_t(v);
    }
    return out;
}

}  // namespace

Image makeDemoPage(int width, int height)
{
    Image page;
    page.header = ImageHeader{width, height, 3};
    page.pixels.assign(size_t(width) * height * 3, 0);
    Canvas canvas(page);
    canvas.fill(0, 0, width, height, Rgb{250, 249, 244});
    int margin = width / 30;
    int topH = height / 2;
    int photoW = width / 2;
    drawPhoto(canvas, margin, margin, photoW, topH);
    drawLineArt(canvas, margin * 2 + photoW, margin, width - photoW - 3 * margin, topH);
    int textTop = margin * 2 + topH;
    int swatchH = height / 13;
    drawText(canvas, margin, textTop, width - 2 * margin, height - textTop - swatchH - 2 * margin);
    drawSwatches(canvas, margin, height - margin - swatchH, width - 2 * margin, swatchH);
    return page;
}

double psnr(const Image& a, const Image& b)
{
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0.0;
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        double d = double(a.pixels[i]) - double(b.pixels[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(a.pixels.size()) / sum);
}

int runDemo(const Arguments& args)
{
    OptionScanner scan(args);
    std::string outDir = "moxcodec-demo";
    long repeat = 3;
    int width = 1200;
    int height = 900;
    bool vela = true;
    while (scan.next()) {
        const std::string& n = scan.name();
        if (!scan.isOption()) {
            complain("demo takes no file; use --out DIR");
            return kExitUsage;
        } else if (n == "--help") {
            std::fputs(kDemoHelp, stdout);
            return kExitOk;
        } else if (n == "--out") {
            if (!scan.value(outDir)) return kExitUsage;
        } else if (n == "--repeat") {
            if (!scan.integer(repeat, 1, 100)) return kExitUsage;
        } else if (n == "--vela" || n == "--no-vela") {
            vela = n == "--vela";
        } else if (n == "--size") {
            std::string text;
            if (!scan.value(text)) return kExitUsage;
            if (std::sscanf(text.c_str(), "%dx%d", &width, &height) != 2 || width < 64 ||
                height < 64 || width > 12000 || height > 20000) {
                complain("--size wants WIDTHxHEIGHT, 64x64 to 12000x20000");
                return kExitUsage;
            }
        } else {
            complain("unknown option " + n + " (see 'moxcodec demo --help')");
            return kExitUsage;
        }
    }
    std::error_code fsError;
    std::filesystem::create_directories(outDir, fsError);
    if (fsError) {
        complain("cannot create " + outDir + ": " + fsError.message());
        return kExitFailed;
    }
    auto path = [&](const std::string& name) { return (std::filesystem::path(outDir) / name).string(); };

    Image page = makeDemoPage(width, height);
    std::string message;
    if (!writeImage(path("page.png"), page, message)) {
        complain(message);
        return kExitFailed;
    }
    Image page4;
    Image pageGray;

    std::vector<DemoCase> cases;
    for (int quality : {2, 5, 8, 10}) {
        DemoCase c;
        char stem[32];
        std::snprintf(stem, sizeof stem, "page-q%02d", quality);
        c.label = "JPEG q" + std::to_string(quality);
        c.fileStem = stem;
        c.encode.quality = quality;
        c.source = &page;
        cases.push_back(c);
    }
    // VELA rows: the same page as four components and as gray, coded per
    // MCU in fixed 64-byte MCUs and decoded in mode 1.
    if (vela) {
        page4 = fourComponentsOf(page);
        pageGray = grayOf(page);
        for (const Image* source : {&page4, &pageGray}) {
            DemoCase c;
            bool four = source->header.channels == 4;
            c.label = four ? "VELA 4c" : "VELA gray";
            c.fileStem = four ? "page-vela4" : "page-velagray";
            c.encode.codingMode = 1;
            c.encode.velaMode = 1;
            c.decode.mode = MOX_MODE_VELA;
            c.decode.width = width;
            c.decode.height = height;
            c.decode.components = four ? 4 : 1;
            c.source = source;
            cases.push_back(c);
        }
    }

    double megapixels = double(width) * height / 1e6;
    std::string version = MoxGetVersion();
    std::printf("moxcodec demo: %d x %d test page (%.2f MP), %s\n", width, height, megapixels,
                version.substr(0, version.find('\n')).c_str());
    std::printf("output folder: %s\n\n", outDir.c_str());
    std::printf("%-10s %-6s %10s %7s %8s %9s %9s\n", "job", "samp", "bytes", "ratio", "PSNR dB",
                "enc MP/s", "dec MP/s");

    Progress progress("demo", true);
    int failures = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const DemoCase& c = cases[i];
        progress.update(long(i), long(cases.size()));
        std::vector<uint8_t> stream;
        JobError error;
        Timed encoded = timeBest(int(repeat), [&] { return encodeImage(*c.source, c.encode, stream, error); });
        Image decoded;
        DecodeReport report;
        Timed decodedTime;
        if (encoded.ok) {
            decodedTime = timeBest(int(repeat), [&] {
                MemorySource source(stream);
                return decodeToImage(source, c.decode, decoded, report, error);
            });
        }
        progress.finish();
        if (!encoded.ok || !decodedTime.ok) {
            std::printf("%-10s %s\n", c.label.c_str(), describe(error).c_str());
            ++failures;
            continue;
        }
        std::string ext = c.encode.codingMode == 1 ? ".vela" : ".jpg";
        FILE* file = std::fopen(path(c.fileStem + ext).c_str(), "wb");
        bool written = file != nullptr && std::fwrite(stream.data(), 1, stream.size(), file) == stream.size();
        if (file != nullptr && std::fclose(file) != 0) written = false;
        if (!written || !writeImage(path(c.fileStem + "-decoded.png"), decoded, message)) {
            complain(written ? message : "cannot write " + path(c.fileStem + ext));
            return kExitFailed;
        }
        double rawBytes = double(c.source->pixels.size());
        std::string sampling = c.encode.codingMode == 1 ? "-" : samplingOf(stream);
        std::printf("%-10s %-6s %10zu %6.1f:1 %8.2f %9.1f %9.1f\n", c.label.c_str(),
                    sampling.c_str(), stream.size(), rawBytes / double(stream.size()),
                    psnr(*c.source, decoded), megapixels / encoded.seconds,
                    megapixels / decodedTime.seconds);
        // The preview of the default row: 1/8 of the size from the DC terms;
        // its speed is given in full-size megapixels per second.
        if (c.encode.codingMode == 0 && c.encode.quality == 8) {
            DecodeOptions previewOptions = c.decode;
            previewOptions.reduction = 8;
            Image preview;
            Timed previewTime = timeBest(int(repeat), [&] {
                MemorySource source(stream);
                return decodeToImage(source, previewOptions, preview, report, error);
            });
            if (!previewTime.ok || !writeImage(path(c.fileStem + "-preview8.png"), preview, message)) {
                std::printf("%-10s %s\n", "preview", previewTime.ok ? message.c_str() : describe(error).c_str());
                ++failures;
                continue;
            }
            std::string size = std::to_string(preview.header.width) + "x" + std::to_string(preview.header.height);
            std::printf("%-10s %-6s %10s %7s %8s %9s %9.1f\n", "preview", "1/8", size.c_str(), "-", "-", "-",
                        megapixels / previewTime.seconds);
        }
    }
    progress.finish();
    std::printf("\nratio: raw bytes / stream bytes; speed: best of %ld run%s; preview: the q08\n"
                "stream decoded at 1/8 (size in the bytes column), speed in full-size MP/s\n",
                repeat, repeat == 1 ? "" : "s");
    return failures == 0 ? kExitOk : kExitFailed;
}

}  // namespace moxtool
