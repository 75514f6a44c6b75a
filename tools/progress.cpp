#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace moxtool {

Progress::Progress(std::string label, bool enabled)
    : label_(std::move(label)), active_(enabled && isatty(STDERR_FILENO) == 1)
{
}

Progress::~Progress() { finish(); }

void Progress::update(long done, long total)
{
    if (!active_ || total <= 0) return;
    int percent = int(done * 100 / total);
    auto now = std::chrono::steady_clock::now();
    if (percent == lastPercent_) return;
    if (percent < 100 && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    std::fprintf(stderr, "\r%s %3d%%", label_.c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
    lastPercent_ = percent;
    lastDraw_ = now;
}

void Progress::finish()
{
    if (!drawn_) return;
    std::fprintf(stderr, "\r%*s\r", int(label_.size()) + 6, "");
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace moxtool
