// Shared checks of the header tests: error-log records read back from the
// dump text, and the prefix-code check of a stored Huffman table.
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

void expectPrefixCode(const HuffDecodeTable& have, const uint8_t* bits, const uint8_t* values,
                      const std::string& what)
{
    uint32_t count = 0;
    for (int i = 0; i < 16; ++i) count += bits[i];
    ASSERT_EQ(have.count, count) << what << ": have count " << have.count << ", want " << count;
    uint32_t index = 0;
    for (uint32_t length = 1; length <= 16; ++length)
        for (int n = 0; n < bits[length - 1]; ++n, ++index) {
            EXPECT_EQ(have.lengths[index], length) << what << " entry " << index;
            EXPECT_EQ(have.symbols[index], values[index]) << what << " entry " << index;
            EXPECT_LT(have.codes[index], 1u << length) << what << " entry " << index;
        }
    for (uint32_t i = 0; i < count; ++i)
        for (uint32_t j = i + 1; j < count; ++j)
            ASSERT_NE(have.codes[j] >> (have.lengths[j] - have.lengths[i]), have.codes[i])
                << what << ": code " << i << " is a prefix of code " << j;
}

}  // namespace headertest
