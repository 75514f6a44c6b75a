// Reads the error-log records of one action back from the dump text.
#include <gtest/gtest.h>

#include <sstream>

#include "frame/errlog.h"
#include "header/stream_builder.h"

namespace headertest {

namespace {

constexpr int kLogSlots = 27;
constexpr int kRoomNeeded = 12;  // the longest chain a test reads back

std::vector<LogEntry> dumpEntries()
{
    testing::internal::CaptureStdout();
    MoxDispMsgTraceM();
    std::istringstream dump(testing::internal::GetCapturedStdout());
    std::vector<LogEntry> entries;
    std::string line;
    while (std::getline(dump, line)) {
        const std::string prefix = "Error : ";
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        std::istringstream fields(line.substr(prefix.size()));
        LogEntry entry;
        fields >> entry.name >> entry.code;
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace

std::vector<LogEntry> logDuring(const std::function<void()>& action)
{
    size_t before = dumpEntries().size();
    if (before + kRoomNeeded > kLogSlots) {
        for (size_t i = before; i < kLogSlots; ++i) MOX_FAIL("filler", 0, nullptr);
        before = 0;
    }
    action();
    std::vector<LogEntry> entries = dumpEntries();
    entries.erase(entries.begin(), entries.begin() + long(before));
    return entries;
}

}  // namespace headertest
