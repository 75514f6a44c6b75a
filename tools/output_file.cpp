// Temporary output beside the target, renamed into place on success.
#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace moxtool {

namespace {

namespace fs = std::filesystem;

// The file a path leads to: symbolic links are followed (also to a target
// that does not exist yet), so the link stays and its target gets the data.
fs::path resolveLinks(fs::path path)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec))) break;
        fs::path link = fs::read_symlink(path, ec);
        if (ec) break;
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    return path;
}

// Permissions of the new file: the old file's, or what a plain create gets.
mode_t permissionsFor(const std::string& target)
{
    struct stat st{};
    if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

OutputFile::~OutputFile()
{
    if (file_ != nullptr && !toStdout_) std::fclose(file_);
    if (!temp_.empty()) std::remove(temp_.c_str());
}

bool OutputFile::open(const std::string& path, std::string& error)
{
    path_ = path;
    if (path == "-") {
        file_ = stdout;
        toStdout_ = true;
        return true;
    }
    fs::path target = resolveLinks(path);
    std::string complaint = directoryComplaint(target.string());
    if (!complaint.empty()) {
        error = complaint;
        return false;
    }
    target_ = target.string();
    fs::path dir = target.parent_path();
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = ((dir.empty() ? fs::path(".") : dir) / hidden).string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    temp_ = pattern;
    ::fchmod(fd, permissionsFor(target_));
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        ::close(fd);
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool OutputFile::commit(std::string& error)
{
    if (toStdout_) {
        if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
        error = "cannot write to standard output";
        return false;
    }
    bool written = std::ferror(file_) == 0;
    if (std::fclose(file_) != 0) written = false;
    file_ = nullptr;
    if (!written) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    }
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
        error = "cannot replace " + path_ + ": " + std::strerror(errno);
        return false;
    }
    temp_.clear();
    return true;
}

bool readAll(FILE* file, std::vector<uint8_t>& bytes)
{
    uint8_t chunk[65536];
    for (;;) {
        size_t got = std::fread(chunk, 1, sizeof chunk, file);
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk) return std::ferror(file) == 0;
    }
}

std::string directoryComplaint(const std::string& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return path + " is a directory, not a file";
    }
    return "";
}

}  // namespace moxtool
