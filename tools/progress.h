// Progress line on stderr for long jobs, shown only when stderr is a
// terminal so that scripts and logs stay clean.
#pragma once

#include <chrono>
#include <string>

namespace moxtool {

class Progress {
public:
    // `enabled` false keeps it silent whatever stderr is.
    Progress(std::string label, bool enabled);
    ~Progress();
    // Redraws at most every 100 ms and always at 100 %.
    void update(long done, long total);
    // Erases the line.
    void finish();

private:
    std::string label_;
    bool active_;
    bool drawn_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace moxtool
