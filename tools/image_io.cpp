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
        if (file_ != nullptr) std::fclose(file_);
    }

    bool open(const std::string& path)
    {
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) return fail("cannot open " + path + ": " + std::strerror(errno));
        long size = std::fseek(file_, 0, SEEK_END) == 0 ? std::ftell(file_) : -1;
        if (size < 0 || std::fseek(file_, 0, SEEK_SET) != 0) return fail("cannot size " + path);
        fileSize_ = size_t(size);
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
        if (png_ == nullptr) return fail("libpng cannot start");
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) return fail("libpng cannot start");
        if (!readInfo()) return fail(path + ": " + lastPngMessage);
        if (passes_ > 1 && !readInterlaced()) return fail(path + ": " + lastPngMessage);
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
    // times the file is a damaged (or hostile) size field, not memory to take.
    bool readInterlaced()
    {
        size_t packed = size_t(header_.width) * header_.channels;
        if (packed * header_.height / 1032 > fileSize_) {
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
        if (file_ != nullptr) std::fclose(file_);
    }

    bool create(const std::string& path, const ImageHeader& header)
    {
        header_ = header;
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) return fail("cannot create " + path + ": " + std::strerror(errno));
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
        if (png_ == nullptr) return fail("libpng cannot start");
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) return fail("libpng cannot start");
        if (!writeInfo()) return fail(path + ": " + lastPngMessage);
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
        int closed = std::fclose(file_);
        file_ = nullptr;
        return closed == 0 ? true : fail("cannot write the file");
    }

private:
    bool writeInfo()
    {
        if (setjmp(png_jmpbuf(png_))) return false;
        int colorType = header_.channels == 1   ? PNG_COLOR_TYPE_GRAY
                        : header_.channels == 3 ? PNG_COLOR_TYPE_RGB
                                                : PNG_COLOR_TYPE_RGB_ALPHA;
        png_init_io(png_, file_);
        // Fast settings: these files are for looking at, not for archiving.
        png_set_compression_level(png_, 3);
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

// Reads one header number, skipping blanks and # comments.
bool readPnmNumber(FILE* file, int& value)
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
        if (v > kMaxDimension) return false;
        c = std::fgetc(file);
    }
    // Exactly one whitespace byte ends the header's last number.
    if (c != EOF && !std::isspace(c)) return false;
    value = int(v);
    return true;
}

class PnmReader final : public ImageReader {
public:
    ~PnmReader() override
    {
        if (file_ != nullptr) std::fclose(file_);
    }

    bool open(const std::string& path)
    {
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) return fail("cannot open " + path + ": " + std::strerror(errno));
        char magic[2] = {0, 0};
        if (std::fread(magic, 1, 2, file_) != 2 || magic[0] != 'P' ||
            (magic[1] != '5' && magic[1] != '6')) {
            return fail(path + ": not a binary PGM (P5) or PPM (P6) file");
        }
        int maxval = 0;
        if (!readPnmNumber(file_, header_.width) || !readPnmNumber(file_, header_.height) ||
            !readPnmNumber(file_, maxval)) {
            return fail(path + ": damaged PNM header");
        }
        if (maxval != 255) return fail(path + ": PNM maxval must be 255");
        if (header_.width < 1 || header_.height < 1) return fail(path + ": empty picture");
        header_.channels = magic[1] == '5' ? 1 : 3;
        return true;
    }

    bool readLines(uint8_t* dst, int count, size_t stride) override
    {
        size_t packed = size_t(header_.width) * header_.channels;
        for (int i = 0; i < count; ++i) {
            if (std::fread(dst + i * stride, 1, packed, file_) != packed) {
                return fail("the PNM file ends early");
            }
        }
        return true;
    }

private:
    FILE* file_ = nullptr;
};

class PnmWriter final : public ImageWriter {
public:
    ~PnmWriter() override
    {
        if (file_ != nullptr) std::fclose(file_);
    }

    // fileChannels 3 with gray lines writes each gray value three times.
    bool create(const std::string& path, const ImageHeader& header, int fileChannels)
    {
        header_ = header;
        fileChannels_ = fileChannels;
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) return fail("cannot create " + path + ": " + std::strerror(errno));
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
        int closed = std::fclose(file_);
        file_ = nullptr;
        return closed == 0 ? true : fail("cannot write the file");
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

std::unique_ptr<ImageReader> openImage(const std::string& path, std::string& error)
{
    std::string ext = extensionOf(path);
    if (ext == ".png") {
        auto reader = std::make_unique<PngReader>();
        if (reader->open(path)) return reader;
        error = reader->error();
        return nullptr;
    }
    if (ext == ".ppm" || ext == ".pgm" || ext == ".pnm") {
        auto reader = std::make_unique<PnmReader>();
        if (reader->open(path)) return reader;
        error = reader->error();
        return nullptr;
    }
    error = path + ": unknown picture format (use .png, .ppm, .pgm or .pnm)";
    return nullptr;
}

std::unique_ptr<ImageWriter> createImage(const std::string& path, const ImageHeader& header,
                                         std::string& error)
{
    std::string ext = extensionOf(path);
    if (ext == ".png") {
        auto writer = std::make_unique<PngWriter>();
        if (writer->create(path, header)) return writer;
        error = writer->error();
        return nullptr;
    }
    if (ext == ".ppm" || ext == ".pgm" || ext == ".pnm") {
        int fileChannels = ext == ".ppm" ? 3 : ext == ".pgm" ? 1 : header.channels;
        if (header.channels == 4 || (header.channels == 3 && fileChannels == 1)) {
            error = path + ": PNM cannot hold " + std::to_string(header.channels) +
                    " components here (use " + (header.channels == 4 ? ".png" : ".ppm") + ")";
            return nullptr;
        }
        auto writer = std::make_unique<PnmWriter>();
        if (writer->create(path, header, fileChannels)) return writer;
        error = writer->error();
        return nullptr;
    }
    error = path + ": unknown picture format (use .png, .ppm, .pgm or .pnm)";
    return nullptr;
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
    auto writer = createImage(path, image.header, error);
    if (!writer) return false;
    if (!writer->writeLines(image.pixels.data(), image.header.height, image.stride()) ||
        !writer->finish()) {
        error = path + ": " + writer->error();
        return false;
    }
    return true;
}

}  // namespace moxtool
