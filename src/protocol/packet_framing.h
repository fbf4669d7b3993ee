#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/tcp_socket.h"

namespace krt {

inline constexpr std::size_t kPktHeaderSize = 10;
inline constexpr std::uint32_t kMaxPayloadLength = 0xFFFFFF;  // 24-bit length field

// The three optional parameter bytes of a header (zero in every request we send).
using PktParam = std::array<std::uint8_t, 3>;

struct PktHeader {
    PktParam param{};
    std::uint32_t payloadLength = 0;
};

enum class HeaderStatus {
    Ok,
    ReceiveFailed,    // the peer closed, an error occurred or the time-out passed
    BadStartOfFrame,  // the first four bytes are not "KMCS"
    ZeroLength,
};

// The framing of every message in both directions: "KMCS", three parameter bytes and a
// big-endian 24-bit payload length, then the payload.
class PacketFraming {
  public:
    // Returns 1, or -10003 without writing for a short buffer or a length that cannot be framed.
    static int createPktHeader(std::span<std::uint8_t> header, std::int64_t payloadLength,
                               const PktParam* param);

    // Sends one framed message; 1, -10002 on a failed send, -10003 on bad arguments.
    static int sendData(int socket, std::span<const char> payload, const PktParam* param);
    // The same, giving up at the limit instead of the socket's send time-out.
    static int sendData(int socket, std::span<const char> payload, const PktParam* param,
                        const WaitLimit& limit);

    // Reads until the buffer is full, the peer closes, an error occurs or the socket's
    // receive time-out passes. Returns 1 when at least one byte came, else 0; `received`
    // tells how many. A reader that needs the whole payload compares it with the size.
    static int recvData(int socket, std::span<char> buffer, std::size_t& received);

    // Checks the 10 bytes of a header already read; never ReceiveFailed.
    static HeaderStatus parsePktHeader(std::span<const std::uint8_t, kPktHeaderSize> bytes,
                                       PktHeader& header);
    // Reads and checks one 10-byte header; logs nothing (each reader logs its own text).
    static HeaderStatus recvPktHeader(int socket, PktHeader& header);

    // The same two, giving up at the limit (its deadline or its wake-up) instead of the
    // socket's receive time-out: what arrived by then counts, as after a closed peer.
    static int recvData(int socket, std::span<char> buffer, std::size_t& received,
                        const WaitLimit& limit);
    static HeaderStatus recvPktHeader(int socket, PktHeader& header, const WaitLimit& limit);
};

}  // namespace krt
