// Process-wide error log: a ring of 27 records that every failure site
// writes and MoxDispMsgTraceM prints. Records are composed per thread and
// committed whole, so failures on two threads never mix inside one slot.
#pragma once

#include <cstdint>

namespace mox {

void ErrLogRecord(const char* name, int32_t code, const void* handle, uint16_t line);
void ErrLogDetail(int16_t value1, int16_t value2, int16_t value3, int16_t limit1,
                  int16_t limit2, int16_t limit3, const char* label1, const char* label2,
                  const char* label3);
int ErrLogStamp();

// Slot that the next record fills (= records the dump prints).
int32_t ErrLogIndex();

// Records one failure (record + stamp) and hands the code back, so call
// sites read `return MOX_FAIL("routine", code, handle);`.
inline int32_t logFailure(const char* name, int32_t code, const void* handle, int line)
{
    ErrLogRecord(name, code, handle, static_cast<uint16_t>(line));
    ErrLogStamp();
    return code;
}

// The "x"/"y" position detail that the band loops attach to their records.
struct McuPosition {
    int column;
    int row;
    int columns;
    int rows;
};

inline int32_t logFailureAt(const char* name, int32_t code, const void* handle, int line,
                            const McuPosition& at)
{
    ErrLogRecord(name, code, handle, static_cast<uint16_t>(line));
    ErrLogDetail(static_cast<int16_t>(at.column), static_cast<int16_t>(at.row), 0,
                 static_cast<int16_t>(at.columns), static_cast<int16_t>(at.rows), 0, "x", "y",
                 nullptr);
    ErrLogStamp();
    return code;
}

}  // namespace mox

#define MOX_FAIL(name, code, handle) ::mox::logFailure((name), (code), (handle), __LINE__)
#define MOX_FAIL_AT(name, code, handle, position) \
    ::mox::logFailureAt((name), (code), (handle), __LINE__, (position))
