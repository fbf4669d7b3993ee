#pragma once

#include <chrono>
#include <string_view>

namespace krt {

// Why a tile's stream must be opened again.
enum class StreamLoss {
    Closed,       // the open stream ended: the connection closed, failed or lost its framing
    Refused,      // the server was reached but gave no stream (a failed or refusing reply)
    Unreachable,  // nothing answered the connection: no server listens there (now)
};

// The wait before the next attempt to open a stream, after `failuresInARow` losses since the
// stream last delivered a frame (the loss that asks for this attempt included): the first
// attempt goes at once, later ones 0.5 s apart doubling to 10 s. An address where nothing
// listens costs the server nothing to try, so it is tried again at least every second, and
// the video returns within about a second of the server.
std::chrono::milliseconds reconnectDelay(int failuresInARow, StreamLoss loss);

// A few words for the user: "the server closed the stream", ...
std::string_view streamLossText(StreamLoss loss);

}  // namespace krt
