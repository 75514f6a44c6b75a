#include "tools/tool_support.h"

#include <png.h>
#include <zlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "moxcodec.h"
#include "support/refjpeg.h"

namespace tooltest {

namespace {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

RunResult runTool(const std::vector<std::string>& args)
{
    ScratchDir scratch;
    std::string command = shellQuote(MOXCODEC_TOOL);
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " >" + shellQuote(scratch.path("out")) + " 2>" + shellQuote(scratch.path("err"));
    RunResult result;
    int status = std::system(command.c_str());
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(scratch.path("out"));
    result.err = slurp(scratch.path("err"));
    return result;
}

ScratchDir::ScratchDir()
{
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("moxtool-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

void writePnm(const std::string& path, const moxtest::Picture& picture)
{
    std::ostringstream header;
    header << (picture.components == 1 ? "P5" : "P6") << "\n"
           << picture.width << " " << picture.height << "\n255\n";
    std::string text = header.str();
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.insert(bytes.end(), picture.pixels.begin(), picture.pixels.end());
    writeFile(path, bytes);
}

bool readPnm(const std::string& path, moxtest::Picture& picture)
{
    std::vector<uint8_t> bytes = readFile(path);
    std::string head(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
    char magic[3] = {};
    int width = 0, height = 0, maxval = 0, used = 0;
    if (std::sscanf(head.c_str(), "%2s %d %d %d%n", magic, &width, &height, &maxval, &used) != 4 ||
        maxval != 255) {
        return false;
    }
    int components = std::strcmp(magic, "P5") == 0 ? 1 : std::strcmp(magic, "P6") == 0 ? 3 : 0;
    size_t size = size_t(width) * height * components;
    if (components == 0 || bytes.size() != size_t(used) + 1 + size) return false;
    picture.width = width;
    picture.height = height;
    picture.components = components;
    picture.pixels.assign(bytes.begin() + used + 1, bytes.end());
    return true;
}

bool readPng(const std::string& path, moxtest::Picture& picture)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    int components = PNG_IMAGE_SAMPLE_CHANNELS(image.format);
    if (components == 2) components = 1;
    image.format = components == 1   ? PNG_FORMAT_GRAY
                   : components == 3 ? PNG_FORMAT_RGB
                                     : PNG_FORMAT_RGBA;
    picture.width = int(image.width);
    picture.height = int(image.height);
    picture.components = components;
    picture.pixels.assign(PNG_IMAGE_SIZE(image), 0);
    bool ok = png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

void writePng(const std::string& path, const moxtest::Picture& picture)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(picture.width);
    image.height = png_uint_32(picture.height);
    image.format = picture.components == 1   ? PNG_FORMAT_GRAY
                   : picture.components == 3 ? PNG_FORMAT_RGB
                                             : PNG_FORMAT_RGBA;
    png_image_write_to_file(&image, path.c_str(), 0, picture.pixels.data(), 0, nullptr);
}

namespace {

void putBigEndian(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(value >> shift));
}

}  // namespace

std::vector<uint8_t> handBuiltPng(uint32_t width, uint32_t height, uint8_t colorType,
                                  bool interlaced, const std::vector<uint8_t>& scanlines,
                                  const std::vector<uint8_t>& trns)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&png](const char* type, const std::vector<uint8_t>& body) {
        putBigEndian(png, uint32_t(body.size()));
        size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), body.begin(), body.end());
        putBigEndian(png, uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
    };
    std::vector<uint8_t> header;
    putBigEndian(header, width);
    putBigEndian(header, height);
    header.insert(header.end(), {8, colorType, 0, 0, uint8_t(interlaced ? 1 : 0)});
    chunk("IHDR", header);
    if (!trns.empty()) chunk("tRNS", trns);
    uLongf size = compressBound(uLong(scanlines.size()));
    std::vector<uint8_t> data(size);
    compress(data.data(), &size, scanlines.data(), uLong(scanlines.size()));
    data.resize(size);
    chunk("IDAT", data);
    chunk("IEND", {});
    return png;
}

int maxDifference(const moxtest::Picture& a, const moxtest::Picture& b)
{
    if (a.width != b.width || a.height != b.height || a.components != b.components ||
        a.pixels.size() != b.pixels.size()) {
        return -1;
    }
    int worst = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        worst = std::max(worst, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
    }
    return worst;
}

moxtest::Picture crop(const moxtest::Picture& picture, int left, int top, int width, int height)
{
    moxtest::Picture out;
    out.width = width;
    out.height = height;
    out.components = picture.components;
    for (int y = top; y < top + height; ++y) {
        auto row = picture.pixels.begin() + (size_t(y) * picture.width + left) * picture.components;
        out.pixels.insert(out.pixels.end(), row, row + size_t(width) * picture.components);
    }
    return out;
}

// ---------------------------------------------------------------- probes

namespace {

void* probeAlloc(uint32_t size) { return std::malloc(size); }
void probeFree(void* pointer) { std::free(pointer); }

// Placeholders answer MOX_ERR_UNSUPPORTED from the record functions and
// Init, and MOX_ERR_NULL from the working call whatever it is given.
std::string probeDecoder()
{
    moxtest::Picture picture = moxtest::makePicture(16, 16, 3, 5);
    std::vector<uint8_t> stream = moxtest::refEncode(picture, {});
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    if (MoxDecClearParam(&pic, &sys, &param) == MOX_ERR_UNSUPPORTED) {
        return "decoder not landed (MoxDecClearParam is a placeholder)";
    }
    MoxDecSetupMalloc(probeAlloc, probeFree, &sys);
    std::vector<uint8_t> piece(stream);
    piece.resize(std::max<size_t>(stream.size(), 64));
    sys.inputBuffer = piece.data();
    sys.pieceSize = uint32_t(piece.size());
    sys.totalSize = uint32_t(stream.size());
    int32_t status = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, nullptr);
    if (status == MOX_ERR_UNSUPPORTED) return "header analysis not landed";
    pic.mode = MOX_MODE_JPEG;
    pic.outFormat = 1;
    sys.lineStride = 48;
    sys.bandBufferSize = 48 * 16;
    int32_t error = 0;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == nullptr) {
        return error == MOX_ERR_UNSUPPORTED ? "decoder not landed (MoxDecInit is a placeholder)"
                                            : "";
    }
    uint32_t callbackError = 0;
    status = MoxDecode(ctx, 0, &callbackError);
    MoxDecFinalize(ctx);
    return status == MOX_ERR_NULL ? "decoder not landed (MoxDecode is a placeholder)" : "";
}

std::string probeEncoder()
{
    EncodeParam param;
    if (MoxEncClearParam(&param) == MOX_ERR_UNSUPPORTED) {
        return "encoder not landed (MoxEncClearParam is a placeholder)";
    }
    EncodePicture pic{};
    pic.width = pic.height = pic.regionWidth = pic.regionHeight = 16;
    pic.qualityLevel = 5;
    pic.pixelFormat = MOX_PIXEL_RGB;
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(probeAlloc, probeFree, &sys);
    sys.lineBytes = 48;
    sys.inBufSize = 48 * 16;
    sys.outBufSize = 8192;
    int32_t status = 0;
    EncoderContext* ctx = MoxEncInit(&pic, &sys, &param, &status);
    if (ctx == nullptr) {
        return status == MOX_ERR_UNSUPPORTED ? "encoder not landed (MoxEncInit is a placeholder)"
                                             : "";
    }
    uint32_t outBytes = 0;
    status = MoxEncode(ctx, &outBytes, nullptr);
    MoxEncFinalize(ctx);
    return status == MOX_ERR_NULL ? "encoder not landed (MoxEncode is a placeholder)" : "";
}

}  // namespace

bool decoderLanded(std::string& why)
{
    static const std::string reason = probeDecoder();
    why = reason;
    return reason.empty();
}

bool encoderLanded(std::string& why)
{
    static const std::string reason = probeEncoder();
    why = reason;
    return reason.empty();
}

// ---------------------------------------------------------------- JPEG walk

JpegLayout parseJpeg(const std::vector<uint8_t>& s)
{
    JpegLayout layout;
    size_t p = 0;
    auto word = [&](size_t at) { return at + 1 < s.size() ? (s[at] << 8) | s[at + 1] : 0; };
    if (s.size() < 4 || s[0] != 0xFF || s[1] != 0xD8) return layout;
    p = 2;
    while (p + 4 <= s.size()) {
        if (s[p] != 0xFF) return layout;
        int marker = s[p + 1];
        size_t length = size_t(word(p + 2));
        size_t body = p + 4;
        if (body + length - 2 > s.size()) return layout;
        if (marker == 0xC0) {
            layout.height = word(body + 1);
            layout.width = word(body + 3);
            layout.components = s[body + 5];
            for (int c = 0; c < layout.components && c < 4; ++c) {
                layout.hSamp[c] = s[body + 7 + 3 * c] >> 4;
                layout.vSamp[c] = s[body + 7 + 3 * c] & 15;
            }
        } else if (marker == 0xDD) {
            layout.restartInterval = word(body);
        } else if (marker == 0xFE) {
            layout.comment.assign(s.begin() + long(body), s.begin() + long(body + length - 2));
        } else if (marker == 0xE0 && length >= 16 && std::memcmp(&s[body], "JFIF", 5) == 0) {
            layout.jfif = true;
            layout.densityUnit = s[body + 7];
            layout.densityX = word(body + 8);
            layout.densityY = word(body + 10);
        } else if (marker == 0xDA) {
            layout.scanStart = body + length - 2;
            size_t q = layout.scanStart;
            while (q + 1 < s.size()) {
                if (s[q] == 0xFF && s[q + 1] != 0x00) {
                    if (s[q + 1] >= 0xD0 && s[q + 1] <= 0xD7) {
                        ++layout.restartMarkers;
                    } else {
                        break;
                    }
                }
                ++q;
            }
            layout.scanEnd = q + 1 < s.size() ? q : s.size();
            layout.ok = true;
            return layout;
        }
        p = body + length - 2;
    }
    return layout;
}

}  // namespace tooltest
