// Error-log ring: dump text byte for byte, wrap-around, details, names,
// and records that stay whole when two threads fail at once.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "frame/errlog.h"
#include "moxcodec.h"

namespace {

const char kStart[] = "---libmoxcodec_ERROR_LOG start-----------------\n\n";
const char kEnd[] = "---libmoxcodec_ERROR_LOG end  -----------------\n\n";

// Stamps throw-away records until the ring index is back at slot 0.
void rewindRing()
{
    while (mox::ErrLogIndex() != 0) {
        mox::ErrLogRecord("filler", 0, nullptr, 1);
        mox::ErrLogStamp();
    }
}

std::string dump()
{
    testing::internal::CaptureStdout();
    MoxDispMsgTraceM();
    return testing::internal::GetCapturedStdout();
}

// The time line varies; replace its numbers so the rest compares exactly.
std::string withoutTimes(const std::string& text)
{
    static const std::regex time("TIME: [0-9]+ min [0-9]+ sec 0 msec\n");
    return std::regex_replace(text, time, "TIME\n");
}

}  // namespace

TEST(ErrorLog, RecordWithDetailsPrintsExactText)
{
    rewindRing();
    mox::ErrLogRecord("MoxDecode", -99999, reinterpret_cast<void*>(0x1234), 321);
    mox::ErrLogDetail(5, 2, 0, 8, 4, 0, "x", "y", nullptr);
    mox::ErrLogStamp();
    mox::ErrLogRecord("getValue", -1, nullptr, 65535);  // line prints signed: -1
    mox::ErrLogStamp();
    mox::ErrLogRecord("vela_copier_decodeMcu", 2, nullptr, 1);  // names cut to 19, labels to 3
    mox::ErrLogDetail(1, 0, 0, 2, 0, 0, "long", nullptr, "");
    mox::ErrLogStamp();
    std::string want = std::string(kStart) +
                       "TIME\n"
                       "Error : MoxDecode -99999 , 321Line, handle 0x1234\n"
                       " x 5/7 \n"
                       " y 2/3 \n"
                       "TIME\n"
                       "Error : getValue -1 , -1Line, handle (nil)\n"
                       "TIME\n"
                       "Error : vela_copier_decodeM 2 , 1Line, handle (nil)\n"
                       " lon 1/1 \n" +
                       kEnd;
    EXPECT_EQ(withoutTimes(dump()), want);
}

// The 27th stamp wraps the index: the dump shows nothing, though all slots
// hold labelled records; the 28th record prints alone and without the
// labels its slot held before.
TEST(ErrorLog, TwentySeventhStampWrapsTheDumpToNothing)
{
    rewindRing();
    for (int i = 0; i < 27; ++i) {
        mox::ErrLogRecord("old", i, nullptr, 1);
        mox::ErrLogDetail(1, 1, 1, 2, 2, 2, "x", "y", "z");
        mox::ErrLogStamp();
    }
    EXPECT_EQ(dump(), std::string(kStart) + kEnd);
    mox::ErrLogRecord("after", 28, nullptr, 2);
    mox::ErrLogStamp();
    EXPECT_EQ(withoutTimes(dump()),
              std::string(kStart) + "TIME\nError : after 28 , 2Line, handle (nil)\n" + kEnd);
}

TEST(ErrorLog, ConcurrentFailuresStayWholeInEachSlot)
{
    rewindRing();
    auto writer = [](const char* name, int code, const char* label) {
        for (int i = 0; i < 5000; ++i) {
            mox::ErrLogRecord(name, code, nullptr, static_cast<uint16_t>(code));
            mox::ErrLogDetail(static_cast<int16_t>(code), 0, 0, 100, 0, 0, label, nullptr, nullptr);
            mox::ErrLogStamp();
        }
    };
    std::thread a(writer, "threadA", 11, "a");
    std::thread b(writer, "threadB", 22, "b");
    a.join();
    b.join();
    // 10000 records leave 10000 % 27 = 10 printed; each is one thread's whole record.
    std::istringstream lines(withoutTimes(dump()));
    std::string line;
    int records = 0;
    std::string name;
    while (std::getline(lines, line)) {
        if (line.rfind("Error : ", 0) == 0) {
            ++records;
            bool isA = line == "Error : threadA 11 , 11Line, handle (nil)";
            bool isB = line == "Error : threadB 22 , 22Line, handle (nil)";
            ASSERT_TRUE(isA || isB) << "mixed record: " << line;
            name = isA ? "a" : "b";
        } else if (line.rfind(" ", 0) == 0) {
            std::string want = name == "a" ? " a 11/99 " : " b 22/99 ";
            ASSERT_EQ(line, want);
        }
    }
    EXPECT_EQ(records, 10000 % 27);
}

TEST(Version, TextAndNumber)
{
    std::string text = MoxGetVersion();
    EXPECT_EQ(text.rfind("MOXCODECLIB, Version 01.10.00\n", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "two lines, no trailing newline";
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(MoxGetVersionNo(), 20070827.011);
}
