// An output file that never costs the user an older one: the job writes a
// temporary file beside the target (through any symbolic links) and only a
// successful job renames it into place. "-" is standard output.
#pragma once

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

namespace moxtool {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();

    bool open(const std::string& path, std::string& error);
    FILE* file() const { return file_; }
    bool isStdout() const { return toStdout_; }
    // Completes the file and puts it in place of the target.
    bool commit(std::string& error);

private:
    std::string path_;    // as the user gave it
    std::string target_;  // the file the path leads to
    std::string temp_;
    FILE* file_ = nullptr;
    bool toStdout_ = false;
};

// Reads all of `file` (standard input, a pipe) into `bytes`.
bool readAll(FILE* file, std::vector<uint8_t>& bytes);

// "PATH is a directory, not a file" when it is one, else "".
std::string directoryComplaint(const std::string& path);

}  // namespace moxtool
