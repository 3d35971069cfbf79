#include "PostTestSupport.h"

CFixedClock::CFixedClock() {
    m_time.tm_year = 1999 - 1900;
    m_time.tm_mon = 11;
    m_time.tm_mday = 8;
    m_time.tm_wday = 3;
    m_time.tm_hour = 14;
    m_time.tm_min = 5;
    m_time.tm_sec = 9;
    m_time.tm_gmtoff = 9 * 3600;
}

std::vector<std::string> CPostRecorder::Shown() const {
    std::vector<std::string> shown;
    for (const std::string& call : calls)
        if (call != "pump")
            shown.push_back(call);
    return shown;
}
