#include "stream/reconnect_backoff.h"

#include <algorithm>

namespace krt {
namespace {

constexpr std::chrono::milliseconds kFirstWait{500};
constexpr std::chrono::milliseconds kLongestWait{10'000};
constexpr std::chrono::milliseconds kLongestWaitUnreachable{1'000};

}  // namespace

std::chrono::milliseconds reconnectDelay(int failuresInARow, StreamLoss loss) {
    if (failuresInARow <= 1) {
        return std::chrono::milliseconds{0};
    }
    const std::chrono::milliseconds longest =
        loss == StreamLoss::Unreachable ? kLongestWaitUnreachable : kLongestWait;
    std::chrono::milliseconds wait = kFirstWait;
    for (int failure = 2; failure < failuresInARow && wait < longest; ++failure) {
        wait *= 2;
    }
    return std::min(wait, longest);
}

std::string_view streamLossText(StreamLoss loss) {
    switch (loss) {
        case StreamLoss::Closed:
            return "the stream was closed";
        case StreamLoss::Refused:
            return "the server gave no stream";
        case StreamLoss::Unreachable:
            return "the server cannot be reached";
    }
    return "unknown";
}

}  // namespace krt
