#pragma once

namespace krt {

// Results shared by the framing, request client and XML layers.
inline constexpr int kSuccess = 1;
inline constexpr int kNothingReceived = 0;
inline constexpr int kErrException = -10001;
inline constexpr int kErrCommunication = -10002;
inline constexpr int kErrInvalidArgs = -10003;

}  // namespace krt
