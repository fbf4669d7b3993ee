#include "control/held_key_filter.h"

#include <gtest/gtest.h>

#include <vector>

namespace krt {
namespace {

using namespace std::chrono_literals;

constexpr int kLeft = 1;
constexpr int kRight = 2;

struct KeyEvent {
    bool press;
    int key;
    std::chrono::milliseconds at;
};

// Holding a key under X: one press, then after the repeat delay a release and a press with
// the same time stamp every repeat interval, then the real release.
std::vector<KeyEvent> xAutoRepeat(int key, std::chrono::milliseconds from,
                                  std::chrono::milliseconds held, std::chrono::milliseconds delay,
                                  std::chrono::milliseconds interval) {
    std::vector<KeyEvent> events{{true, key, from}};
    for (auto at = from + delay; at < from + held; at += interval) {
        events.push_back({false, key, at});
        events.push_back({true, key, at});
    }
    events.push_back({false, key, from + held});
    return events;
}

struct HoldCase {
    const char* what;
    std::vector<KeyEvent> events;
    std::vector<std::pair<int, std::chrono::milliseconds>> starts;
    std::vector<std::pair<int, std::chrono::milliseconds>> stops;
};

void PrintTo(const HoldCase& c, std::ostream* out) {
    *out << c.what;
}

class HeldKeys : public testing::TestWithParam<HoldCase> {};

// Runs the events in order, asking for ended holds between them as a timer would, every
// millisecond, and records when moves start and stop.
TEST_P(HeldKeys, OneMoveAndOneStopPerRealHold) {
    const HoldCase& c = GetParam();
    HeldKeyFilter filter;
    const auto origin = HeldKeyFilter::Clock::time_point{} + 1h;
    std::vector<std::pair<int, std::chrono::milliseconds>> starts;
    std::vector<std::pair<int, std::chrono::milliseconds>> stops;
    const auto expireUntil = [&](std::chrono::milliseconds until) {
        while (const auto deadline = filter.deadline()) {
            if (*deadline > origin + until) {
                break;
            }
            const auto at =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - origin);
            if (const std::optional<int> ended = filter.expire(*deadline)) {
                stops.emplace_back(*ended, at);
            }
        }
    };
    for (const KeyEvent& event : c.events) {
        expireUntil(event.at);
        if (!event.press) {
            filter.release(event.key, origin + event.at);
        } else if (filter.press(event.key, origin + event.at) == HeldKeyFilter::Press::Starts) {
            starts.emplace_back(event.key, event.at);
        }
    }
    expireUntil(1h);
    EXPECT_EQ(starts, c.starts);
    EXPECT_EQ(stops, c.stops);
}

std::vector<KeyEvent> joined(std::vector<KeyEvent> first, const std::vector<KeyEvent>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, HeldKeys,
    testing::Values(
        // The fault as seen: Left held 2 s at X's default delay of 660 ms and 25 repeats/s.
        HoldCase{"X auto-repeat, 2 s",
                 xAutoRepeat(kLeft, 0ms, 2000ms, 660ms, 40ms),
                 {{kLeft, 0ms}},
                 {{kLeft, 2100ms}}},
        HoldCase{"X auto-repeat, 8 s at 30 ms",
                 xAutoRepeat(kLeft, 0ms, 8000ms, 250ms, 30ms),
                 {{kLeft, 0ms}},
                 {{kLeft, 8100ms}}},
        HoldCase{"a short tap",
                 {{true, kLeft, 0ms}, {false, kLeft, 80ms}},
                 {{kLeft, 0ms}},
                 {{kLeft, 180ms}}},
        HoldCase{
            "two taps farther apart than the grace",
            {{true, kLeft, 0ms}, {false, kLeft, 50ms}, {true, kLeft, 300ms}, {false, kLeft, 350ms}},
            {{kLeft, 0ms}, {kLeft, 300ms}},
            {{kLeft, 150ms}, {kLeft, 450ms}}},
        HoldCase{"another key while one is held takes over",
                 joined(xAutoRepeat(kLeft, 0ms, 1000ms, 660ms, 40ms),
                        xAutoRepeat(kRight, 500ms, 1000ms, 660ms, 40ms)),
                 {{kLeft, 0ms}, {kRight, 500ms}},
                 {{kRight, 1600ms}}},
        HoldCase{"a release of a key not held", {{false, kRight, 10ms}}, {}, {}}));

TEST(HeldKeys, ResetForgetsTheHold) {
    HeldKeyFilter filter;
    const auto now = HeldKeyFilter::Clock::now();
    ASSERT_EQ(filter.press(kLeft, now), HeldKeyFilter::Press::Starts);
    filter.reset();
    EXPECT_EQ(filter.heldKey(), std::nullopt);
    EXPECT_EQ(filter.press(kLeft, now + 1ms), HeldKeyFilter::Press::Starts);
}

}  // namespace
}  // namespace krt
