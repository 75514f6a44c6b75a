#include "tools/tool_support.h"

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "support/refjpeg.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tooltest {

namespace {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void putBigEndian(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(value >> shift));
}

uint32_t pngFormat(int components)
{
    return components == 1 ? PNG_FORMAT_GRAY : components == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
}

}  // namespace

RunResult runTool(const std::vector<std::string>& args, const std::string& stdinPath)
{
    ScratchDir scratch;
    std::string command = MOXCODEC_TOOL_LAUNCHER " " + shellQuote(MOXCODEC_TOOL);
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " >" + shellQuote(scratch.path("out")) + " 2>" + shellQuote(scratch.path("err"));
    // Through cat, so that the tool reads a pipe, not a file it could seek.
    if (!stdinPath.empty()) command = "cat " + shellQuote(stdinPath) + " | " + command;
    RunResult result;
    int status = std::system(command.c_str());
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::vector<uint8_t> out = readFile(scratch.path("out"));
    std::vector<uint8_t> err = readFile(scratch.path("err"));
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

std::string joined(const std::vector<std::string>& args)
{
    std::string line = "moxcodec";
    for (const auto& a : args) line += " " + a;
    return line;
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
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

void writePicture(const std::string& path, const moxtest::Picture& picture)
{
    std::string head = (picture.components == 1 ? "P5\n" : "P6\n") + std::to_string(picture.width) + " " +
                       std::to_string(picture.height) + "\n255\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), picture.pixels.begin(), picture.pixels.end());
    writeFile(path, bytes);
}

bool readPicture(const std::string& path, moxtest::Picture& picture)
{
    if (path.ends_with(".png")) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
        int channels = int(PNG_IMAGE_SAMPLE_CHANNELS(image.format));
        picture.components = channels == 2 ? 1 : channels;  // gray+alpha read as gray
        image.format = pngFormat(picture.components);
        picture.width = int(image.width);
        picture.height = int(image.height);
        picture.pixels.assign(PNG_IMAGE_SIZE(image), 0);
        bool ok = png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
        png_image_free(&image);
        return ok;
    }
    std::vector<uint8_t> bytes = readFile(path);
    std::string head(bytes.begin(), bytes.begin() + long(std::min<size_t>(bytes.size(), 64)));
    char magic[3] = {};
    int maxval = 0, used = 0;
    if (std::sscanf(head.c_str(), "%2s %d %d %d%n", magic, &picture.width, &picture.height,
                    &maxval, &used) != 4 || maxval != 255) {
        return false;
    }
    picture.components = std::strcmp(magic, "P5") == 0 ? 1 : std::strcmp(magic, "P6") == 0 ? 3 : 0;
    size_t size = size_t(picture.width) * picture.height * picture.components;
    if (picture.components == 0 || bytes.size() != size_t(used) + 1 + size) return false;
    picture.pixels.assign(bytes.begin() + used + 1, bytes.end());
    return true;
}

std::vector<uint8_t> handBuiltPng(uint32_t width, uint32_t height, uint8_t colorType, bool interlaced,
                                  const std::vector<uint8_t>& scanlines)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header, data(scanlines.size() + 64);
    auto chunk = [&png](const char* type, const std::vector<uint8_t>& body) {
        putBigEndian(png, uint32_t(body.size()));
        size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), body.begin(), body.end());
        putBigEndian(png, uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
    };
    putBigEndian(header, width);
    putBigEndian(header, height);
    header.insert(header.end(), {8, colorType, 0, 0, uint8_t(interlaced ? 1 : 0)});
    chunk("IHDR", header);
    uLongf size = uLongf(data.size());
    compress(data.data(), &size, scanlines.data(), uLong(scanlines.size()));
    data.resize(size);
    chunk("IDAT", data);
    chunk("IEND", {});
    return png;
}

int worstDifference(const moxtest::Picture& ours, const std::vector<uint8_t>& stream, int lines)
{
    moxtest::RefDecoded ref = moxtest::refDecode(stream, false, true);
    const moxtest::Picture& theirs = ref.picture;
    if (!ref.ok || ours.width != theirs.width || ours.height != theirs.height ||
        ours.components != theirs.components || ours.pixels.size() != theirs.pixels.size()) {
        return -1;
    }
    size_t end = lines < 0 ? ours.pixels.size() : size_t(lines) * ours.width * ours.components;
    int worst = 0;
    for (size_t i = 0; i < end; ++i) worst = std::max(worst, std::abs(int(ours.pixels[i]) - int(theirs.pixels[i])));
    return worst;
}

}  // namespace tooltest
