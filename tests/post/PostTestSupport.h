#pragma once

#include "base/Progress.h"
#include "post/PostArticle.h"
#include "post/PostClock.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A clock that always says Wed, 08 Dec 1999 14:05:09 at UTC+9 (unless told otherwise) with the
// tick counter at 255.
class CFixedClock : public IPostClock {
public:
    CFixedClock();
    std::tm LocalTime() override { return m_time; }
    std::uint32_t TickCount() override { return m_tick; }

    std::tm m_time{};
    std::uint32_t m_tick = 255;
};

// What posting shows, in order: "status:TEXT", "pump", "message:TEXT", "reply:BYTES".
class CPostRecorder : public IProgress, public IPostView {
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void PumpMessages() override { calls.push_back("pump"); }
    void SetStatusText(const std::string& utf8) override { calls.push_back("status:" + utf8); }
    void ShowMessage(const std::string& utf8) override { calls.push_back("message:" + utf8); }
    void ShowReply(const std::string& bytes) override { calls.push_back("reply:" + bytes); }

    // The calls without the pumps.
    std::vector<std::string> Shown() const;

    std::vector<std::string> calls;
};
