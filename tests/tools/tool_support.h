// Running the moxcodec tool from tests: a scratch folder per test, the exit
// status and both output streams, and picture files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/picture.h"

namespace tooltest {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the tool with `args` (each quoted for the shell), standard input
// from `stdinPath` when it is given.
RunResult runTool(const std::vector<std::string>& args, const std::string& stdinPath = "");

// "moxcodec arg arg ..." for failure messages.
std::string joined(const std::vector<std::string>& args);

// A fresh folder below the system's temporary folder, removed on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);

// Binary PNM (P5/P6, maxval 255); reading takes PNG too (libpng's simplified
// interface) when the name ends in .png.
void writePicture(const std::string& path, const moxtest::Picture& picture);
bool readPicture(const std::string& path, moxtest::Picture& picture);

// A PNG assembled chunk by chunk (8-bit samples), for files libpng's writer
// is never asked for: `scanlines` are the raw lines with their filter bytes.
std::vector<uint8_t> handBuiltPng(uint32_t width, uint32_t height, uint8_t colorType,
                                  bool interlaced, const std::vector<uint8_t>& scanlines);

// The largest sample difference between `ours` and libjpeg's decoding of
// `stream` over lines [0, lines) (all lines when negative); -1 when libjpeg
// fails or the sizes differ.
int worstDifference(const moxtest::Picture& ours, const std::vector<uint8_t>& stream,
                    int lines = -1);

}  // namespace tooltest
