#include "protocol/socket_common.h"

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

int kmMgrSocketCommon::createPktHeader(std::span<std::uint8_t> header, std::int64_t payloadLength,
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

int kmMgrSocketCommon::sendData(int socket, std::span<const char> payload, const PktParam* param) {
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
        if (createPktHeader(header, static_cast<std::int64_t>(payload.size()), param) != kSuccess) {
            writeLog(kModule, kMethod, "Unable to create pkt header.");
            return kErrCommunication;
        }
        const std::span<const char> headerBytes(reinterpret_cast<const char*>(header.data()),
                                                header.size());
        if (!sendAll(socket, headerBytes)) {
            writeLog(kModule, kMethod, "Failed to send pkt header.");
            return kErrCommunication;
        }
        if (!sendAll(socket, payload)) {
            writeLog(kModule, kMethod, "Failed to send request data.");
            return kErrCommunication;
        }
        return kSuccess;
    } catch (...) {
        writeLog(kModule, kMethod, "");
        return kErrException;
    }
}

int kmMgrSocketCommon::recvData(int socket, std::span<char> buffer, std::size_t& received) {
    if (socket < 0 || buffer.data() == nullptr) {
        return kNothingReceived;
    }
    std::size_t obtained = 0;
    while (obtained < buffer.size()) {
        const ssize_t count = ::recv(socket, buffer.data() + obtained, buffer.size() - obtained, 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        obtained += static_cast<std::size_t>(count);
    }
    received = obtained;
    return obtained > 0 ? kSuccess : kNothingReceived;
}

HeaderStatus kmMgrSocketCommon::recvPktHeader(int socket, PktHeader& header) {
    std::array<char, kPktHeaderSize> bytes{};
    std::size_t received = 0;
    if (recvData(socket, bytes, received) != kSuccess || received != bytes.size()) {
        return HeaderStatus::ReceiveFailed;
    }
    if (std::memcmp(bytes.data(), kStartOfFrame, sizeof kStartOfFrame) != 0) {
        return HeaderStatus::BadStartOfFrame;
    }
    const auto byteAt = [&bytes](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    header.param = {byteAt(4), byteAt(5), byteAt(6)};
    header.payloadLength =
        std::uint32_t{byteAt(7)} << 16 | std::uint32_t{byteAt(8)} << 8 | byteAt(9);
    return header.payloadLength == 0 ? HeaderStatus::ZeroLength : HeaderStatus::Ok;
}

}  // namespace krt
