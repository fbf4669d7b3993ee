#include "protocol/packet_framing.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

#include "protocol/return_codes.h"
#include "protocol/tcp_socket.h"
#include "support/log_capture.h"
#include "support/loopback_server.h"

namespace krt {
namespace {

using test::LogCapture;

// A connected pair of stream sockets for tests that need no server.
struct SocketPair {
    TcpSocket local;
    TcpSocket remote;
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
            local.reset(fds[0]);
            remote.reset(fds[1]);
        }
    }
};

std::string receiveAvailable(int fd) {
    std::string bytes(64, '\0');
    const ssize_t count = ::recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT);
    bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return bytes;
}

TEST(CreatePktHeader, WritesStartOfFrameZeroParameterAndBigEndianLength) {
    std::array<std::uint8_t, 10> header{};
    ASSERT_EQ(PacketFraming::createPktHeader(header, 300, nullptr), kSuccess);
    const std::array<std::uint8_t, 10> expected{'K', 'M', 'C', 'S', 0, 0, 0, 0x00, 0x01, 0x2C};
    EXPECT_EQ(header, expected);
}

TEST(CreatePktHeader, CopiesTheParameterBytesInOrder) {
    std::array<std::uint8_t, 10> header{};
    const PktParam param{'a', 'b', 'c'};
    ASSERT_EQ(PacketFraming::createPktHeader(header, 0xFFFFFF, &param), kSuccess);
    EXPECT_EQ(header[4], 'a');
    EXPECT_EQ(header[5], 'b');
    EXPECT_EQ(header[6], 'c');
    EXPECT_EQ(header[7], 0xFF);
    EXPECT_EQ(header[9], 0xFF);
}

TEST(CreatePktHeader, RefusesWithoutWritingAndLogs) {
    LogCapture log;
    struct Case {
        std::size_t capacity;
        std::int64_t length;
    };
    for (const Case c : {Case{9, 300}, Case{10, 0}, Case{10, -5}, Case{10, 0x1000000}}) {
        std::array<std::uint8_t, 10> header;
        header.fill(0xEE);
        EXPECT_EQ(
            PacketFraming::createPktHeader(std::span(header.data(), c.capacity), c.length, nullptr),
            kErrInvalidArgs)
            << c.capacity << " " << c.length;
        EXPECT_TRUE(std::all_of(header.begin(), header.end(), [](auto b) { return b == 0xEE; }));
    }
    EXPECT_EQ(log.count("Tessaline.exe-kmMgrSocketCommon::createPktHeader()-Invalid arguments-"),
              4);
}

TEST(SendData, SendsHeaderThenPayload) {
    SocketPair pair;
    const std::string payload = "<kmRequest/>";
    ASSERT_EQ(PacketFraming::sendData(pair.local.fd(), payload, nullptr), kSuccess);
    EXPECT_EQ(receiveAvailable(pair.remote.fd()), test::frameBytes(payload));
}

TEST(SendData, RefusesEmptyPayloadAndInvalidSocketSendingNothing) {
    LogCapture log;
    SocketPair pair;
    EXPECT_EQ(PacketFraming::sendData(pair.local.fd(), std::string_view(""), nullptr),
              kErrInvalidArgs);
    EXPECT_EQ(PacketFraming::sendData(pair.local.fd(), std::span<const char>(), nullptr),
              kErrInvalidArgs);
    EXPECT_EQ(PacketFraming::sendData(-1, std::string_view("x"), nullptr), kErrInvalidArgs);
    EXPECT_EQ(receiveAvailable(pair.remote.fd()), "");
    EXPECT_EQ(log.count("-kmMgrSocketCommon::sendData()-Invalid arguments-"), 2);
    EXPECT_TRUE(
        log.contains("Tessaline.exe-kmMgrSocketCommon::sendData() - failed-Invalid socket-"));
}

TEST(SendData, ReportsFailedHeaderSendToAClosedPeer) {
    LogCapture log;
    SocketPair pair;
    pair.remote.reset();
    EXPECT_EQ(PacketFraming::sendData(pair.local.fd(), std::string_view("abc"), nullptr),
              kErrCommunication);
    EXPECT_TRUE(log.contains("-kmMgrSocketCommon::sendData()-Failed to send pkt header.-"));
}

TEST(SendData, SendsAPayloadLargerThanTheSocketBufferWhole) {
    SocketPair pair;
    const std::string payload(4 << 20, 'p');
    std::string received;
    std::thread reader([&] {
        if (auto frame = test::readFramePayload(pair.remote.fd())) {
            received = std::move(*frame);
        }
    });
    EXPECT_EQ(PacketFraming::sendData(pair.local.fd(), payload, nullptr), kSuccess);
    reader.join();
    EXPECT_EQ(received, payload);
}

TEST(RecvData, CountsWhatArrivedBeforeThePeerClosed) {
    struct Case {
        std::size_t sent;
        int result;
    };
    for (const Case c : {Case{0, kNothingReceived}, Case{40, kSuccess}, Case{100, kSuccess}}) {
        SocketPair pair;
        ASSERT_TRUE(sendAll(pair.remote.fd(), std::string(c.sent, 'x')));
        pair.remote.reset();
        std::array<char, 100> buffer{};
        std::size_t received = 999;
        EXPECT_EQ(PacketFraming::recvData(pair.local.fd(), buffer, received), c.result);
        EXPECT_EQ(received, c.sent);
        EXPECT_EQ(buffer[99], c.sent == 100 ? 'x' : '\0');
    }
}

TEST(RecvData, GathersAPayloadThatTricklesInOneByteAtATime) {
    SocketPair pair;
    const std::string payload = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::thread writer([&] { test::sendInPieces(pair.remote.fd(), payload, 1); });
    std::string buffer(payload.size(), '\0');
    std::size_t received = 0;
    EXPECT_EQ(PacketFraming::recvData(pair.local.fd(), buffer, received), kSuccess);
    writer.join();
    EXPECT_EQ(received, payload.size());
    EXPECT_EQ(buffer, payload);
}

TEST(RecvData, RefusesAnInvalidSocketWithoutStoringACount) {
    std::array<char, 4> buffer{};
    std::size_t received = 7;
    EXPECT_EQ(PacketFraming::recvData(-1, buffer, received), kNothingReceived);
    EXPECT_EQ(received, 7u);
}

TEST(RecvPktHeader, ValidatesStartOfFrameAndLength) {
    struct Case {
        std::string bytes;
        HeaderStatus status;
        std::uint32_t length;
    };
    const std::vector<Case> cases = {
        {test::frameBytes("hello").substr(0, 10), HeaderStatus::Ok, 5},
        {std::string("KMCX\0\0\0\0\0\5", 10), HeaderStatus::BadStartOfFrame, 0},
        {std::string("kmcs\0\0\0\0\0\5", 10), HeaderStatus::BadStartOfFrame, 0},
        {std::string("KMCS\0\0\0\0\0\0", 10), HeaderStatus::ZeroLength, 0},
        {std::string("KMCS\1\2\3\xFF\xFF\xFF", 10), HeaderStatus::Ok, 0xFFFFFF},
        {std::string("KMCS\0\0", 6), HeaderStatus::ReceiveFailed, 0},
        {"", HeaderStatus::ReceiveFailed, 0},
    };
    for (const Case& c : cases) {
        SocketPair pair;
        ASSERT_TRUE(sendAll(pair.remote.fd(), c.bytes));
        pair.remote.reset();
        PktHeader header;
        EXPECT_EQ(PacketFraming::recvPktHeader(pair.local.fd(), header), c.status);
        if (c.status == HeaderStatus::Ok) {
            EXPECT_EQ(header.payloadLength, c.length);
        }
    }
}

TEST(RecvPktHeader, ReadsAHeaderThatArrivesInPieces) {
    SocketPair pair;
    const PktParam param{1, 2, 3};
    std::thread writer(
        [&] { test::sendInPieces(pair.remote.fd(), test::frameBytes("abc", param), 1); });
    PktHeader header;
    EXPECT_EQ(PacketFraming::recvPktHeader(pair.local.fd(), header), HeaderStatus::Ok);
    writer.join();
    EXPECT_EQ(header.payloadLength, 3u);
    EXPECT_EQ(header.param, param);
}

}  // namespace
}  // namespace krt
