// What a live stream reads from the server: the reply to its request, then framed pictures,
// through the same readers as the receive loop.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "fuzz_check.h"
#include "protocol/packet_framing.h"
#include "socket_pair.h"
#include "stream/frame_reader.h"
#include "stream/live_stream.h"

namespace {

constexpr int kMaxFrames = 64;

// One framed message at the start of `bytes`, read independently of the code under test.
struct Framed {
    std::uint32_t length = 0;
    std::span<const char> payload;
};
std::optional<Framed> nextFramed(std::span<const char> bytes) {
    if (bytes.size() < krt::kPktHeaderSize || std::memcmp(bytes.data(), "KMCS", 4) != 0) {
        return std::nullopt;
    }
    const auto byteAt = [&bytes](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint32_t length =
        std::uint32_t{byteAt(7)} << 16 | std::uint32_t{byteAt(8)} << 8 | byteAt(9);
    const std::span<const char> rest = bytes.subspan(krt::kPktHeaderSize);
    if (length == 0 || length > rest.size()) {
        return Framed{length, {}};
    }
    return Framed{length, rest.first(length)};
}

// Which frames the stream hands on and what they hold: each whole frame exactly as sent,
// never one shorter than announced.
void readFrames(int fd, std::span<const char> bytes) {
    static krt::LiveFrame frame;  // reused like the stream's own
    static krt::LiveFrameReader reader;
    reader.clear();
    for (int i = 0; i < kMaxFrames; ++i) {
        const std::optional<Framed> expected = nextFramed(bytes);
        const int lengthBefore = frame.length();
        const bool received = reader.next(fd, frame);
        const bool whole = expected && !expected->payload.empty();
        FUZZ_CHECK(received == whole);
        if (!received) {
            FUZZ_CHECK(frame.length() == lengthBefore);
            return;
        }
        FUZZ_CHECK(frame.length() == static_cast<int>(expected->length));
        FUZZ_CHECK(frame.capacity() >= frame.length());
        FUZZ_CHECK(std::ranges::equal(
            frame.payload(), expected->payload,
            [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); }));
        bytes = bytes.subspan(krt::kPktHeaderSize + expected->length);
        FUZZ_CHECK(reader.wholeFrameWaiting(fd) ==
                   (nextFramed(bytes) && !nextFramed(bytes)->payload.empty()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzSocketPair pair;
    if (size > FuzzSocketPair::kMaxInput) {
        return 0;
    }
    const std::span<const char> bytes(reinterpret_cast<const char*>(data), size);
    pair.write(bytes);
    const std::optional<Framed> reply = nextFramed(bytes);
    // Every byte is already there: a limit that has passed reads what is ready and no more.
    const bool accepted = krt::readLiveVideoReply(
        pair.readerFd(), krt::WaitLimit::after(std::chrono::milliseconds(0)));
    const bool acceptable =
        reply && reply->length <= 64 * 1024 && !reply->payload.empty() &&
        std::string_view(reply->payload.data(), reply->payload.size()).find("success") !=
            std::string_view::npos;
    FUZZ_CHECK(accepted == acceptable);
    if (accepted) {
        readFrames(pair.readerFd(), bytes.subspan(krt::kPktHeaderSize + reply->length));
    }
    pair.drain();
    return 0;
}
