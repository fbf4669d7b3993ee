#include "stream/reconnect_backoff.h"

#include <gtest/gtest.h>

#include <climits>

namespace krt {
namespace {

TEST(ReconnectDelay, AtOnceThenHalfASecondDoublingToTenSeconds) {
    using std::chrono::milliseconds;
    struct Case {
        int failuresInARow;
        StreamLoss loss;
        milliseconds delay;
    };
    for (const Case& c : {
             Case{1, StreamLoss::Closed, milliseconds{0}},
             Case{1, StreamLoss::Refused, milliseconds{0}},
             Case{1, StreamLoss::Unreachable, milliseconds{0}},
             Case{2, StreamLoss::Refused, milliseconds{500}},
             Case{3, StreamLoss::Refused, milliseconds{1'000}},
             Case{4, StreamLoss::Closed, milliseconds{2'000}},
             Case{5, StreamLoss::Refused, milliseconds{4'000}},
             Case{6, StreamLoss::Refused, milliseconds{8'000}},
             Case{7, StreamLoss::Refused, milliseconds{10'000}},
             Case{INT_MAX, StreamLoss::Refused, milliseconds{10'000}},
             // Where nothing listens, every second at the longest.
             Case{2, StreamLoss::Unreachable, milliseconds{500}},
             Case{3, StreamLoss::Unreachable, milliseconds{1'000}},
             Case{9, StreamLoss::Unreachable, milliseconds{1'000}},
         }) {
        EXPECT_EQ(reconnectDelay(c.failuresInARow, c.loss), c.delay)
            << c.failuresInARow << " failures, " << streamLossText(c.loss);
    }
}

}  // namespace
}  // namespace krt
