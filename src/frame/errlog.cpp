// Error-log ring and its dump. The index is both the next slot and the
// number of records the dump prints; it wraps after 27 records.
#include "frame/errlog.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "moxcodec.h"

namespace mox {
namespace {

constexpr int kLogSlots = 27;
constexpr size_t kNameSize = 20;
constexpr size_t kLabelSize = 4;

struct LogRecord {
    char name[kNameSize];
    int16_t line;
    int32_t code;
    const void* handle;
    int16_t limits[3];
    int16_t values[3];
    char labels[3][kLabelSize];
    int32_t minutes;
    int32_t seconds;
    int32_t milliseconds;
};

struct ErrorLog {
    LogRecord slots[kLogSlots];
    int32_t index;
    std::mutex guard;
};

ErrorLog& errorLog()
{
    static ErrorLog log{};
    return log;
}

// The record a thread is composing; committed by ErrLogStamp.
thread_local LogRecord pending{};

void copyText(char* field, size_t size, const char* text)
{
    size_t length = strnlen(text, size - 1);
    memcpy(field, text, length);
    field[length] = '\0';
}

}  // namespace

void ErrLogRecord(const char* name, int32_t code, const void* handle, uint16_t line)
{
    pending = LogRecord{};
    if (name != nullptr) copyText(pending.name, kNameSize, name);
    pending.code = code;
    pending.handle = handle;
    pending.line = static_cast<int16_t>(line);
}

void ErrLogDetail(int16_t value1, int16_t value2, int16_t value3, int16_t limit1,
                  int16_t limit2, int16_t limit3, const char* label1, const char* label2,
                  const char* label3)
{
    const int16_t values[3] = {value1, value2, value3};
    const int16_t limits[3] = {limit1, limit2, limit3};
    const char* labels[3] = {label1, label2, label3};
    for (int k = 0; k < 3; ++k) {
        pending.values[k] = values[k];
        pending.limits[k] = limits[k];
        if (labels[k] != nullptr) copyText(pending.labels[k], kLabelSize, labels[k]);
    }
}

int ErrLogStamp()
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    pending.minutes = local.tm_min;
    pending.seconds = local.tm_sec;
    pending.milliseconds = 0;

    ErrorLog& log = errorLog();
    std::lock_guard<std::mutex> lock(log.guard);
    log.slots[log.index] = pending;
    log.index = (log.index + 1) % kLogSlots;
    return 0;
}

int32_t ErrLogIndex()
{
    ErrorLog& log = errorLog();
    std::lock_guard<std::mutex> lock(log.guard);
    return log.index;
}

}  // namespace mox

extern "C" MOX_API void MoxDispMsgTraceM(void)
{
    mox::ErrorLog& log = mox::errorLog();
    std::lock_guard<std::mutex> lock(log.guard);
    printf("---libmoxcodec_ERROR_LOG start-----------------\n\n");
    for (int i = 0; i < log.index; ++i) {
        const mox::LogRecord& r = log.slots[i];
        printf("TIME: %d min %d sec %d msec\n", r.minutes, r.seconds, r.milliseconds);
        printf("Error : %s %d , %dLine, handle %p\n", r.name, r.code, static_cast<int>(r.line),
               r.handle);
        for (int k = 0; k < 3; ++k) {
            if (r.labels[k][0] != '\0') {
                printf(" %s %d/%d \n", r.labels[k], static_cast<int>(r.values[k]),
                       static_cast<int>(r.limits[k]) - 1);
            }
        }
    }
    printf("---libmoxcodec_ERROR_LOG end  -----------------\n\n");
    fflush(stdout);
}
