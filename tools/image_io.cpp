// PNG and PNM readers and writers. libpng reports errors by longjmp, so
// every function that calls it sets its own jump point and keeps only plain
// locals between that point and the calls.
#include "image_io.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "output_file.h"

namespace moxtool {

namespace {

constexpr int kMaxDimension = 1 << 20;  // lines or pixels per line we accept

std::string lastPngMessage;

void pngError(png_structp png, png_const_charp message)
{
    lastPngMessage = message != nullptr ? message : "libpng error";
    longjmp(png_jmpbuf(png), 1);
}

void pngWarning(png_structp, png_const_charp) {}

// ---------------------------------------------------------------- PNG in

class PngReader final : public ImageReader {
public:
    ~PngReader() override
    {
        if (png_ != nullptr) png_destroy_read_struct(&png_, &info_, nullptr);
        if (file_ != nullptr && file_ != stdin) std::fclose(file_);
    }

    // `file` stands after the 8 signature bytes; `fileSize` is 0 when unknown.
    bool open(FILE* file, const std::string& name, size_t fileSize)
    {
        file_ = file;
        fileSize_ = fileSize;
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
        if (png_ == nullptr) return fail("libpng cannot start");
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) return fail("libpng cannot start");
        if (!readInfo()) return fail(name + ": " + lastPngMessage);
        if (passes_ > 1 && !readInterlaced()) return fail(name + ": " + lastPngMessage);
        return true;
    }

    bool readLines(uint8_t* dst, int count, size_t stride) override
    {
        if (linesRead_ + count > header_.height) {
            error_ = "the picture has fewer lines than asked for";
            return false;
        }
        if (!whole_.empty()) {
            size_t packed = size_t(header_.width) * header_.channels;
            for (int i = 0; i < count; ++i) {
                std::memcpy(dst + i * stride, whole_.data() + (linesRead_ + i) * packed, packed);
            }
            linesRead_ += count;
            return true;
        }
        if (setjmp(png_jmpbuf(png_))) {
            error_ = lastPngMessage;
            return false;
        }
        for (int i = 0; i < count; ++i) png_read_row(png_, dst + i * stride, nullptr);
        linesRead_ += count;
        return true;
    }

private:
    bool readInfo()
    {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_init_io(png_, file_);
        png_set_sig_bytes(png_, 8);
        png_read_info(png_, info_);
        png_uint_32 width = png_get_image_width(png_, info_);
        png_uint_32 height = png_get_image_height(png_, info_);
        int colorType = png_get_color_type(png_, info_);
        // Reduce everything to 8-bit gray, RGB or RGBA.
        png_set_expand(png_);
        png_set_strip_16(png_);
        // Gray stays one channel: its alpha, or the one a tRNS colour key
        // expands to, is dropped.
        if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_strip_alpha(png_);
        passes_ = png_set_interlace_handling(png_);
        png_read_update_info(png_, info_);
        int channels = png_get_channels(png_, info_);
        if (width > kMaxDimension || height > kMaxDimension) {
            lastPngMessage = "picture too large";
            return false;
        }
        header_.width = int(width);
        header_.height = int(height);
        header_.channels = channels;
        return channels == 1 || channels == 3 || channels == 4
                   ? true
                   : (lastPngMessage = "unexpected channel count", false);
    }

    // Interlaced files deliver lines only after the last pass: keep them whole.
    // Deflate expands at most 1032 times, so a picture larger than that many
    // times the file is a damaged (or hostile) size field, not memory to take;
    // from a pipe, whose size is unknown, up to 1 GiB is taken.
    bool readInterlaced()
    {
        size_t packed = size_t(header_.width) * header_.channels;
        size_t limit = fileSize_ != 0 ? fileSize_ : (size_t(1) << 30) / 1032;
        if (packed * header_.height / 1032 > limit) {
            lastPngMessage = "the picture size exceeds what the file can hold";
            return false;
        }
        whole_.assign(packed * header_.height, 0);
        rows_.resize(header_.height);
        for (int y = 0; y < header_.height; ++y) rows_[y] = whole_.data() + y * packed;
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_image(png_, rows_.data());
        return true;
    }

    FILE* file_ = nullptr;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    size_t fileSize_ = 0;
    int passes_ = 1;
    int linesRead_ = 0;
    std::vector<uint8_t> whole_;
    std::vector<png_bytep> rows_;
};

// ---------------------------------------------------------------- PNG out

class PngWriter final : public ImageWriter {
public:
    ~PngWriter() override
    {
        if (png_ != nullptr) png_destroy_write_struct(&png_, &info_);
    }

    bool create(FILE* file, const std::string& name, const ImageHeader& header, int level)
    {
        header_ = header;
        file_ = file;
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
        if (png_ == nullptr) return fail("libpng cannot start");
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) return fail("libpng cannot start");
        if (!writeInfo(level)) return fail(name + ": " + lastPngMessage);
        return true;
    }

    bool writeLines(const uint8_t* src, int count, size_t stride) override
    {
        if (linesWritten_ + count > header_.height) return fail("more lines than the picture has");
        if (setjmp(png_jmpbuf(png_))) return fail(lastPngMessage);
        for (int i = 0; i < count; ++i) png_write_row(png_, src + i * stride);
        linesWritten_ += count;
        return true;
    }

    bool finish() override
    {
        if (linesWritten_ != header_.height) return fail("the picture is incomplete");
        if (setjmp(png_jmpbuf(png_))) return fail(lastPngMessage);
        png_write_end(png_, nullptr);
        return std::fflush(file_) == 0 ? true : fail("cannot write the file");
    }

private:
    bool writeInfo(int level)
    {
        if (setjmp(png_jmpbuf(png_))) return false;
        int colorType = header_.channels == 1   ? PNG_COLOR_TYPE_GRAY
                        : header_.channels == 3 ? PNG_COLOR_TYPE_RGB
                                                : PNG_COLOR_TYPE_RGB_ALPHA;
        png_init_io(png_, file_);
        png_set_compression_level(png_, level);
        // At the fast levels one fixed filter beats libpng's trial of all five
        // per line, which took half the time; level 0 stores, so no filter.
        if (level <= 1) png_set_filter(png_, 0, level == 0 ? PNG_FILTER_NONE : PNG_FILTER_UP);
        png_set_IHDR(png_, info_, png_uint_32(header_.width), png_uint_32(header_.height), 8,
                     colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png_, info_);
        return true;
    }

    ImageHeader header_;
    FILE* file_ = nullptr;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    int linesWritten_ = 0;
};

// ---------------------------------------------------------------- PNM

// Reads one decimal number, skipping blanks and # comments; exactly one
// whitespace byte (or the end of the file) ends it.
bool readPnmNumber(FILE* file, int& value, int limit)
{
    int c = std::fgetc(file);
    for (;;) {
        if (c == '#') {
            while (c != '\n' && c != EOF) c = std::fgetc(file);
        } else if (c != EOF && std::isspace(c)) {
            c = std::fgetc(file);
        } else {
            break;
        }
    }
    if (c == EOF || !std::isdigit(c)) return false;
    long v = 0;
    while (c != EOF && std::isdigit(c)) {
        v = v * 10 + (c - '0');
        if (v > limit) return false;
        c = std::fgetc(file);
    }
    if (c != EOF && !std::isspace(c)) return false;
    value = int(v);
    return true;
}

// P2/P3 (plain: decimal samples) and P5/P6 (binary: one byte per sample up
// to maxval 255, two big-endian bytes above); samples are scaled from
// 0..maxval to 0..255 with rounding.
class PnmReader final : public ImageReader {
public:
    ~PnmReader() override
    {
        if (file_ != nullptr && file_ != stdin) std::fclose(file_);
    }

    // `file` stands after the two magic bytes "P<kind>".
    bool open(FILE* file, const std::string& name, char kind)
    {
        file_ = file;
        plain_ = kind == '2' || kind == '3';
        header_.channels = kind == '2' || kind == '5' ? 1 : 3;
        if (!readPnmNumber(file_, header_.width, kMaxDimension) ||
            !readPnmNumber(file_, header_.height, kMaxDimension) ||
            !readPnmNumber(file_, maxval_, 65535)) {
            return fail(name + ": damaged PNM header");
        }
        if (maxval_ < 1) return fail(name + ": PNM maxval must be 1 to 65535");
        if (header_.width < 1 || header_.height < 1) return fail(name + ": empty picture");
        sampleBytes_ = maxval_ > 255 ? 2 : 1;
        raw_.resize(size_t(header_.width) * header_.channels * sampleBytes_);
        return true;
    }

    bool readLines(uint8_t* dst, int count, size_t stride) override
    {
        size_t samples = size_t(header_.width) * header_.channels;
        for (int i = 0; i < count; ++i) {
            uint8_t* line = dst + i * stride;
            if (plain_) {
                for (size_t k = 0; k < samples; ++k) {
                    int v = 0;
                    if (!readPnmNumber(file_, v, 65535) || v > maxval_) {
                        return fail("the plain PNM file ends early or holds a bad sample");
                    }
                    line[k] = scale(v);
                }
                continue;
            }
            if (std::fread(raw_.data(), 1, raw_.size(), file_) != raw_.size()) {
                return fail("the PNM file ends early");
            }
            for (size_t k = 0; k < samples; ++k) {
                int v = sampleBytes_ == 1 ? raw_[k] : raw_[2 * k] << 8 | raw_[2 * k + 1];
                line[k] = scale(std::min(v, maxval_));
            }
        }
        return true;
    }

private:
    uint8_t scale(int v) const
    {
        return maxval_ == 255 ? uint8_t(v) : uint8_t((v * 255 + maxval_ / 2) / maxval_);
    }

    FILE* file_ = nullptr;
    bool plain_ = false;
    int maxval_ = 255;
    int sampleBytes_ = 1;
    std::vector<uint8_t> raw_;
};

class PnmWriter final : public ImageWriter {
public:
    // fileChannels 3 with gray lines writes each gray value three times.
    bool create(FILE* file, const ImageHeader& header, int fileChannels)
    {
        header_ = header;
        fileChannels_ = fileChannels;
        file_ = file;
        std::fprintf(file_, "P%c\n%d %d\n255\n", fileChannels == 1 ? '5' : '6', header.width,
                     header.height);
        line_.resize(size_t(header.width) * fileChannels);
        return true;
    }

    bool writeLines(const uint8_t* src, int count, size_t stride) override
    {
        if (linesWritten_ + count > header_.height) return fail("more lines than the picture has");
        for (int i = 0; i < count; ++i) {
            const uint8_t* line = src + i * stride;
            if (fileChannels_ != header_.channels) {
                for (int x = 0; x < header_.width; ++x) {
                    std::memset(&line_[size_t(x) * 3], line[x], 3);
                }
                line = line_.data();
            }
            if (std::fwrite(line, 1, line_.size(), file_) != line_.size()) {
                return fail("cannot write the file");
            }
        }
        linesWritten_ += count;
        return true;
    }

    bool finish() override
    {
        if (linesWritten_ != header_.height) return fail("the picture is incomplete");
        return std::fflush(file_) == 0 ? true : fail("cannot write the file");
    }

private:
    ImageHeader header_;
    int fileChannels_ = 0;
    FILE* file_ = nullptr;
    int linesWritten_ = 0;
    std::vector<uint8_t> line_;
};

}  // namespace

std::string extensionOf(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

PictureFormat formatFor(const std::string& path, const std::string& formatOption)
{
    std::string name = formatOption.empty() ? extensionOf(path) : "." + formatOption;
    if (name == ".png") return PictureFormat::Png;
    if (name == ".ppm") return PictureFormat::Ppm;
    if (name == ".pgm") return PictureFormat::Pgm;
    if (name == ".pnm") return PictureFormat::Pnm;
    return PictureFormat::Unknown;
}

std::unique_ptr<ImageReader> openImage(const std::string& path, std::string& error)
{
    const bool standardInput = path == "-";
    const std::string name = standardInput ? "standard input" : path;
    if (!standardInput && !(error = directoryComplaint(path)).empty()) return nullptr;
    FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st{};
    size_t fileSize = ::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) ? size_t(st.st_size) : 0;
    uint8_t magic[8] = {};
    size_t got = std::fread(magic, 1, 2, file);
    std::unique_ptr<ImageReader> reader;
    if (got == 2 && magic[0] == 'P' && std::strchr("2356", magic[1]) != nullptr && magic[1] != 0) {
        auto pnm = std::make_unique<PnmReader>();
        if (pnm->open(file, name, char(magic[1]))) return pnm;
        reader = std::move(pnm);
    } else if (got == 2 && std::fread(magic + 2, 1, 6, file) == 6 && png_sig_cmp(magic, 0, 8) == 0) {
        auto png = std::make_unique<PngReader>();
        if (png->open(file, name, fileSize)) return png;
        reader = std::move(png);
    } else {
        if (file != stdin) std::fclose(file);
        error = name + ": not a PNG or PNM (P2, P3, P5, P6) picture";
        return nullptr;
    }
    error = reader->error();  // the reader closes the file
    return nullptr;
}

std::unique_ptr<ImageWriter> createImage(FILE* file, const std::string& name, PictureFormat format,
                                         const ImageHeader& header, int pngLevel,
                                         std::string& error)
{
    if (format == PictureFormat::Png) {
        auto writer = std::make_unique<PngWriter>();
        if (writer->create(file, name, header, pngLevel)) return writer;
        error = writer->error();
        return nullptr;
    }
    if (format == PictureFormat::Unknown) {
        error = name + ": unknown picture format (use .png, .ppm, .pgm or .pnm, or --format)";
        return nullptr;
    }
    int fileChannels = format == PictureFormat::Ppm   ? 3
                       : format == PictureFormat::Pgm ? 1
                                                      : header.channels;
    if (header.channels == 4 || (header.channels == 3 && fileChannels == 1)) {
        error = name + ": PNM cannot hold " + std::to_string(header.channels) +
                " components here (use " + (header.channels == 4 ? "PNG" : "PPM") + ")";
        return nullptr;
    }
    auto writer = std::make_unique<PnmWriter>();
    writer->create(file, header, fileChannels);
    return writer;
}

bool readImage(const std::string& path, Image& image, std::string& error)
{
    auto reader = openImage(path, error);
    if (!reader) return false;
    image.header = reader->header();
    image.pixels.assign(image.stride() * image.header.height, 0);
    if (!reader->readLines(image.pixels.data(), image.header.height, image.stride())) {
        error = path + ": " + reader->error();
        return false;
    }
    return true;
}

bool writeImage(const std::string& path, const Image& image, std::string& error)
{
    OutputFile out;
    if (!out.open(path, error)) return false;
    auto writer = createImage(out.file(), path, formatFor(path, ""), image.header,
                              kDefaultPngLevel, error);
    if (!writer) return false;
    if (!writer->writeLines(image.pixels.data(), image.header.height, image.stride()) ||
        !writer->finish()) {
        error = path + ": " + writer->error();
        return false;
    }
    return out.commit(error);
}

}  // namespace moxtool
