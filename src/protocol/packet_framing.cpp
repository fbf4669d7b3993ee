#include "protocol/packet_framing.h"

#include <poll.h>
#include <sys/socket.h>
#include <cerrno>
#include <cstring>

#include "protocol/diag_log.h"
#include "protocol/return_codes.h"
#include "protocol/tcp_socket.h"

namespace krt {
namespace {

constexpr const char* kModule = "Tessaline.exe";
constexpr char kStartOfFrame[4] = {'K', 'M', 'C', 'S'};

}  // namespace

int PacketFraming::createPktHeader(std::span<std::uint8_t> header, std::int64_t payloadLength,
                                   const PktParam* param) {
    if (header.data() == nullptr || header.size() < kPktHeaderSize || payloadLength <= 0 ||
        payloadLength > kMaxPayloadLength) {
        writeLog(kModule, "kmMgrSocketCommon::createPktHeader()", "Invalid arguments");
        return kErrInvalidArgs;
    }
    std::memcpy(header.data(), kStartOfFrame, sizeof kStartOfFrame);
    const PktParam zero{};
    const PktParam& bytes = param ? *param : zero;
    std::copy(bytes.begin(), bytes.end(), header.begin() + 4);
    const auto length = static_cast<std::uint32_t>(payloadLength);
    header[7] = static_cast<std::uint8_t>(length >> 16);
    header[8] = static_cast<std::uint8_t>(length >> 8);
    header[9] = static_cast<std::uint8_t>(length);
    return kSuccess;
}

namespace {

bool sendBytes(int socket, std::span<const char> bytes, const WaitLimit* limit) {
    return limit != nullptr ? sendAll(socket, bytes, *limit) : sendAll(socket, bytes);
}

int sendFrame(int socket, std::span<const char> payload, const PktParam* param,
              const WaitLimit* limit) {
    constexpr const char* kMethod = "kmMgrSocketCommon::sendData()";
    try {
        if (payload.data() == nullptr || payload.empty()) {
            writeLog(kModule, kMethod, "Invalid arguments");
            return kErrInvalidArgs;
        }
        if (socket < 0) {
            writeLog(kModule, "kmMgrSocketCommon::sendData() - failed", "Invalid socket");
            return kErrInvalidArgs;
        }
        std::array<std::uint8_t, kPktHeaderSize> header{};
        if (PacketFraming::createPktHeader(header, static_cast<std::int64_t>(payload.size()),
                                           param) != kSuccess) {
            writeLog(kModule, kMethod, "Unable to create pkt header.");
            return kErrCommunication;
        }
        const std::span<const char> headerBytes(reinterpret_cast<const char*>(header.data()),
                                                header.size());
        if (!sendBytes(socket, headerBytes, limit)) {
            writeLog(kModule, kMethod, "Failed to send pkt header.");
            return kErrCommunication;
        }
        if (!sendBytes(socket, payload, limit)) {
            writeLog(kModule, kMethod, "Failed to send request data.");
            return kErrCommunication;
        }
        return kSuccess;
    } catch (...) {
        writeLog(kModule, kMethod, "");
        return kErrException;
    }
}

}  // namespace

int PacketFraming::sendData(int socket, std::span<const char> payload, const PktParam* param) {
    return sendFrame(socket, payload, param, nullptr);
}

int PacketFraming::sendData(int socket, std::span<const char> payload, const PktParam* param,
                            const WaitLimit& limit) {
    return sendFrame(socket, payload, param, &limit);
}

namespace {

// One receive call: blocking (bounded by the socket's receive time-out) without a limit,
// otherwise a wait for data within the limit and a receive that cannot block.
ssize_t receiveSome(int socket, std::span<char> into, const WaitLimit* limit) {
    for (;;) {
        if (limit != nullptr && waitForSocket(socket, POLLIN, *limit) != WaitResult::ready) {
            return -1;
        }
        const ssize_t count =
            ::recv(socket, into.data(), into.size(), limit != nullptr ? MSG_DONTWAIT : 0);
        const bool retry =
            count < 0 &&
            (errno == EINTR || (limit != nullptr && (errno == EAGAIN || errno == EWOULDBLOCK)));
        if (!retry) {
            return count;
        }
    }
}

int receiveInto(int socket, std::span<char> buffer, std::size_t& received, const WaitLimit* limit) {
    if (socket < 0 || buffer.data() == nullptr) {
        return kNothingReceived;
    }
    std::size_t obtained = 0;
    while (obtained < buffer.size()) {
        const ssize_t count = receiveSome(socket, buffer.subspan(obtained), limit);
        if (count <= 0) {
            break;
        }
        obtained += static_cast<std::size_t>(count);
    }
    received = obtained;
    return obtained > 0 ? kSuccess : kNothingReceived;
}

HeaderStatus receiveHeader(int socket, PktHeader& header, const WaitLimit* limit) {
    std::array<std::uint8_t, kPktHeaderSize> bytes{};
    const std::span<char> into(reinterpret_cast<char*>(bytes.data()), bytes.size());
    std::size_t received = 0;
    if (receiveInto(socket, into, received, limit) != kSuccess || received != bytes.size()) {
        return HeaderStatus::ReceiveFailed;
    }
    return PacketFraming::parsePktHeader(bytes, header);
}

}  // namespace

int PacketFraming::recvData(int socket, std::span<char> buffer, std::size_t& received) {
    return receiveInto(socket, buffer, received, nullptr);
}

int PacketFraming::recvData(int socket, std::span<char> buffer, std::size_t& received,
                            const WaitLimit& limit) {
    return receiveInto(socket, buffer, received, &limit);
}

HeaderStatus PacketFraming::parsePktHeader(std::span<const std::uint8_t, kPktHeaderSize> bytes,
                                           PktHeader& header) {
    if (std::memcmp(bytes.data(), kStartOfFrame, sizeof kStartOfFrame) != 0) {
        return HeaderStatus::BadStartOfFrame;
    }
    header.param = {bytes[4], bytes[5], bytes[6]};
    header.payloadLength = std::uint32_t{bytes[7]} << 16 | std::uint32_t{bytes[8]} << 8 | bytes[9];
    return header.payloadLength == 0 ? HeaderStatus::ZeroLength : HeaderStatus::Ok;
}

HeaderStatus PacketFraming::recvPktHeader(int socket, PktHeader& header) {
    return receiveHeader(socket, header, nullptr);
}

HeaderStatus PacketFraming::recvPktHeader(int socket, PktHeader& header, const WaitLimit& limit) {
    return receiveHeader(socket, header, &limit);
}

}  // namespace krt
