// Picture files of the tool: PNG through libpng, PNM (plain and binary,
// any maxval) by hand. Readers and writers move whole lines in order, so a
// job never needs more than one band of the picture in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace moxtool {

struct ImageHeader {
    int width = 0;
    int height = 0;
    int channels = 0;  // 1 gray, 3 RGB, 4 four components (RGBA in PNG)
};

class ImageReader {
public:
    virtual ~ImageReader() = default;
    const ImageHeader& header() const { return header_; }
    // Reads the next `count` lines to dst, `stride` bytes apart.
    virtual bool readLines(uint8_t* dst, int count, size_t stride) = 0;
    const std::string& error() const { return error_; }

protected:
    bool fail(std::string message)
    {
        error_ = std::move(message);
        return false;
    }

    ImageHeader header_;
    std::string error_;
};

class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    // Writes the next `count` lines of header().channels bytes per pixel.
    virtual bool writeLines(const uint8_t* src, int count, size_t stride) = 0;
    // Completes the file; false when a line is missing or the disk failed.
    virtual bool finish() = 0;
    const std::string& error() const { return error_; }

protected:
    bool fail(std::string message)
    {
        error_ = std::move(message);
        return false;
    }

    std::string error_;
};

// Picture file formats of the tool's output. Input is recognised by its
// first bytes whatever its name says.
enum class PictureFormat { Unknown, Png, Ppm, Pgm, Pnm };

// The format a `--format` value ("png", "ppm", "pgm", "pnm") names, else the
// format of the path's extension; Unknown when neither says.
PictureFormat formatFor(const std::string& path, const std::string& formatOption);

// Opens a PNG or a PNM (P2, P3, P5, P6, any maxval up to 65535, scaled to 8
// bits), "-" for standard input, recognised by its first bytes. PNG input is
// reduced to 8-bit gray, RGB or RGBA; a gray+alpha PNG loses its alpha. On
// failure returns null and explains why in `error`.
std::unique_ptr<ImageReader> openImage(const std::string& path, std::string& error);

// A writer on `file` (which it neither closes nor owns); `name` is for
// messages. PPM takes gray lines and writes them as RGB; PGM refuses colour;
// PNM follows the channel count; PNM refuses four channels. `pngLevel` is
// the zlib level of PNG output (0..9).
std::unique_ptr<ImageWriter> createImage(FILE* file, const std::string& name, PictureFormat format,
                                         const ImageHeader& header, int pngLevel,
                                         std::string& error);

// The PNG level of the tool's output unless --png-level says otherwise:
// fast, for files that are looked at rather than archived.
constexpr int kDefaultPngLevel = 1;

// A whole picture in memory, lines packed.
struct Image {
    ImageHeader header;
    std::vector<uint8_t> pixels;
    size_t stride() const { return size_t(header.width) * header.channels; }
};

bool readImage(const std::string& path, Image& image, std::string& error);
bool writeImage(const std::string& path, const Image& image, std::string& error);

// Lower-case extension including the dot, "" when there is none.
std::string extensionOf(const std::string& path);

}  // namespace moxtool
