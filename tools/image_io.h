// Picture files of the tool: PNG through libpng, binary PNM (P5/P6,
// maxval 255) by hand. Readers and writers move whole lines in order, so a
// job never needs more than one band of the picture in memory.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Chooses the format by the file extension (.png, .ppm, .pgm, .pnm).
// PNG input is reduced to 8-bit gray, RGB or RGBA; a gray+alpha PNG loses
// its alpha. On failure returns null and explains why in `error`.
std::unique_ptr<ImageReader> openImage(const std::string& path, std::string& error);

// .ppm takes gray lines and writes them as RGB; .pgm refuses colour; .pnm
// follows the channel count; PNM refuses four channels.
std::unique_ptr<ImageWriter> createImage(const std::string& path, const ImageHeader& header,
                                         std::string& error);

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
