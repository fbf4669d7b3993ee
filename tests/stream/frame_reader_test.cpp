#include "stream/frame_reader.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <string>
#include <thread>

#include "protocol/tcp_socket.h"
#include "support/loopback_server.h"

namespace krt {
namespace {

std::string payloadOf(std::size_t size) {
    std::string payload(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        payload[i] = static_cast<char>('a' + i % 23);
    }
    return payload;
}

std::string bytesOf(const LiveFrame& frame) {
    return {frame.payload().begin(), frame.payload().end()};
}

// A frame larger than the reader's buffer comes whole, and the room it took is given back once
// it is handed on, so that one huge frame does not hold memory for the rest of the connection.
TEST(LiveFrameReader, TakesAFrameLargerThanItsBufferAndGivesTheRoomBack) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    const TcpSocket reading(fds[0]);
    const TcpSocket writing(fds[1]);
    ASSERT_TRUE(setReceiveTimeout(reading.fd(), std::chrono::seconds(5)));
    const std::string large = payloadOf(3 * LiveFrameReader::kInitialBytes);
    // The writer blocks while the reader empties the socket.
    std::jthread writer(
        [&] { sendAll(writing.fd(), test::frameBytes(large) + test::frameBytes("small")); });
    LiveFrameReader reader;
    LiveFrame frame;
    ASSERT_TRUE(reader.next(reading.fd(), frame));
    EXPECT_EQ(bytesOf(frame), large);
    writer.join();
    ASSERT_TRUE(reader.next(reading.fd(), frame));
    EXPECT_EQ(bytesOf(frame), "small");
    EXPECT_EQ(reader.bufferBytes(), LiveFrameReader::kInitialBytes);
    EXPECT_FALSE(reader.wholeFrameWaiting(reading.fd()));
}

}  // namespace
}  // namespace krt
