#pragma once

#include <cstdint>
#include <ctime>

// The two clocks posting reads: the local time (the Date line and the boundary) and the
// millisecond tick counter (the boundary). Tests put a fixed clock in use.
class IPostClock {
public:
    virtual ~IPostClock() = default;
    // The current local time, with tm_gmtoff holding the zone's offset from UTC in seconds.
    virtual std::tm LocalTime() = 0;
    // Milliseconds since an arbitrary start, wrapping at 32 bits.
    virtual std::uint32_t TickCount() = 0;
};

// The clock in use: the one given to SetPostClock, else the machine's.
IPostClock& PostClock();
// Puts clock in use (null: the machine's again) and returns the one used before.
IPostClock* SetPostClock(IPostClock* clock);

// The local time of t in the process's time zone (TZ), offset included.
std::tm LocalTimeAt(std::time_t t);

// Puts a clock in use for the lifetime of this object.
class CPostClockScope {
public:
    explicit CPostClockScope(IPostClock& clock) : m_previous(SetPostClock(&clock)) {}
    ~CPostClockScope() { SetPostClock(m_previous); }
    CPostClockScope(const CPostClockScope&) = delete;
    CPostClockScope& operator=(const CPostClockScope&) = delete;

private:
    IPostClock* m_previous;
};
