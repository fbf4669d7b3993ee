#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/cancellation.h"
#include "protocol/tcp_socket.h"
#include "protocol/worker_thread.h"
#include "protocol/xml_message.h"

namespace krt {

// One received payload. The buffer holds the payload followed by at least 128 zero bytes, so
// that a text payload can be read as zero-terminated text.
struct Reply {
    static constexpr std::size_t kZeroTail = 128;

    std::vector<char> buffer;
    int length = 0;

    std::span<const char> payload() const {
        return {buffer.data(), static_cast<std::size_t>(length)};
    }
    // The payload up to its first zero byte.
    std::string_view text() const { return buffer.empty() ? std::string_view() : buffer.data(); }
    bool empty() const { return buffer.empty(); }
};

// What the push receiver hands over when the connection has failed and the thread ends.
inline constexpr std::string_view kRecvError = "Recv Error";

// One conversation with the server over one TCP connection: one framed request, one framed
// reply and, with a push callback, a receiver thread for every further message.
class SocketClient {
  public:
    // Called on the receiver thread with each payload, or with kRecvError once at the end.
    // The bytes are valid only during the call.
    using PushCallback = std::function<void(std::span<const char> data)>;

    // One deadline for each part of the exchange, however the bytes trickle.
    struct Timeouts {
        std::chrono::milliseconds connect{10'000};
        // From sending the request to the last byte of the first reply; pushed messages that
        // follow have none (the push connection has TCP keepalive instead).
        std::chrono::milliseconds reply{30'000};
    };

    // With a cancellation, cancelling it ends every exchange of this client at once.
    SocketClient() = default;
    explicit SocketClient(Timeouts timeouts, const Cancellation* cancellation = nullptr)
        : m_timeouts(timeouts), m_cancellation(cancellation) {}
    virtual ~SocketClient();
    SocketClient(const SocketClient&) = delete;
    SocketClient& operator=(const SocketClient&) = delete;

    // 1 when a reply was received, 0 when none was read, -10002 when the connection or the
    // send failed or a connection is already open, -10001 on an exception.
    int connectToServer(std::string_view address, unsigned port, std::span<const char> request,
                        Reply& reply, PushCallback pushCallback = {});
    // Shuts the connection down in both directions; a blocked receiver wakes and ends, and a
    // connect under way fails at once.
    int closeCommmunication();
    // Reads one framed message: 1, 0 (nothing valid) or -10001.
    int getResponse(Reply& reply);

    bool isOpen() const { return m_socket.load() >= 0; }
    // Replies (and pushed messages) longer than this are refused from their header, before
    // anything is allocated for them. XML text by default.
    void setMaxReplyLength(std::uint32_t length) { m_maxReplyLength = length; }

  private:
    void thSocketRecvResponseData(int socket);
    int readResponse(int socket, Reply& reply, const WaitLimit& limit);
    void abandonSocket(int fd);
    void joinReceiverAndCloseRetired();
    int wakeFd() const { return m_cancellation != nullptr ? m_cancellation->wakeFd() : -1; }

    Timeouts m_timeouts;
    const Cancellation* m_cancellation = nullptr;
    std::uint32_t m_maxReplyLength = static_cast<std::uint32_t>(kMaxXmlTextBytes);
    std::atomic<int> m_socket{-1};
    std::mutex m_closeMutex;
    // A socket that was shut down, possibly from another thread while a reader still uses it.
    // It is closed only once no reader can be left (after the join), so that its descriptor
    // number cannot be reused under a reader's feet.
    int m_retiredSocket = -1;
    PushCallback m_pushCallback;
    WorkerThread m_h_responseProcessorThread;
};

// How every exchange of a conversation (the login, the catalogue) gives up: its deadlines, and
// a cancellation that ends them all at once.
struct ExchangeLimits {
    SocketClient::Timeouts timeouts;
    const Cancellation* cancellation = nullptr;

    bool cancelled() const { return cancellation != nullptr && cancellation->cancelled(); }
};

}  // namespace krt
