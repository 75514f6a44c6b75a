// Error-log ring: dump text byte for byte, wrap-around, details, names,
// and records that stay whole when two threads fail at once. The version
// queries are the C header test's.
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

// The dump text byte for byte: details, a line that prints signed, names
// cut to 19 characters and labels to 3. The 27th stamp wraps the index: the
// dump shows nothing, though all slots hold labelled records; the 28th
// record prints alone and without the labels its slot held before.
TEST(ErrorLog, DumpTextAndWrapAround)
{
    rewindRing();
    mox::ErrLogRecord("MoxDecode", -99999, reinterpret_cast<void*>(0x1234), 321);
    mox::ErrLogDetail(5, 2, 0, 8, 4, 0, "x", "y", nullptr);
    mox::ErrLogStamp();
    mox::ErrLogRecord("getValue", -1, nullptr, 65535);
    mox::ErrLogStamp();
    mox::ErrLogRecord("vela_copier_decodeMcu", 2, nullptr, 1);
    mox::ErrLogDetail(1, 0, 0, 2, 0, 0, "long", nullptr, "");
    mox::ErrLogStamp();
    EXPECT_EQ(withoutTimes(dump()), std::string(kStart) +
                                        "TIME\nError : MoxDecode -99999 , 321Line, handle 0x1234\n x 5/7 \n y 2/3 \n"
                                        "TIME\nError : getValue -1 , -1Line, handle (nil)\n"
                                        "TIME\nError : vela_copier_decodeM 2 , 1Line, handle (nil)\n lon 1/1 \n" +
                                        kEnd);
    rewindRing();
    for (int i = 0; i < 27; ++i) {
        mox::ErrLogRecord("old", i, nullptr, 1);
        mox::ErrLogDetail(1, 1, 1, 2, 2, 2, "x", "y", "z");
        mox::ErrLogStamp();
    }
    EXPECT_EQ(dump(), std::string(kStart) + kEnd);
    mox::ErrLogRecord("after", 28, nullptr, 2);
    mox::ErrLogStamp();
    EXPECT_EQ(withoutTimes(dump()), std::string(kStart) + "TIME\nError : after 28 , 2Line, handle (nil)\n" + kEnd);
}

// Two threads failing at once: 10000 records leave 10000 % 27 = 10
// printed, each one thread's whole record.
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
    std::istringstream lines(withoutTimes(dump()));
    int records = 0;
    std::string detail;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Error : ", 0) == 0) {
            ++records;
            ASSERT_TRUE(line == "Error : threadA 11 , 11Line, handle (nil)" ||
                        line == "Error : threadB 22 , 22Line, handle (nil)") << "mixed record: " << line;
            detail = line[14] == 'A' ? " a 11/99 " : " b 22/99 ";
        } else if (line.rfind(" ", 0) == 0) {
            ASSERT_EQ(line, detail);
        }
    }
    EXPECT_EQ(records, 10000 % 27);
}
