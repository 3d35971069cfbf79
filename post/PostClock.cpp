#include "post/PostClock.h"

#include <chrono>

namespace {

class CSystemClock final : public IPostClock {
public:
    std::tm LocalTime() override { return LocalTimeAt(std::time(nullptr)); }
    std::uint32_t TickCount() override {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<std::uint32_t>(ms.count());
    }
};

IPostClock* g_clock = nullptr;

} // namespace

IPostClock& PostClock() {
    static CSystemClock system;
    return g_clock ? *g_clock : system;
}

IPostClock* SetPostClock(IPostClock* clock) {
    IPostClock* previous = g_clock;
    g_clock = clock;
    return previous;
}

std::tm LocalTimeAt(std::time_t t) {
    std::tm local{};
    tzset();
    localtime_r(&t, &local);
    return local;
}
