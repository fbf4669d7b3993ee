#include "stream/live_stream.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <cerrno>
#include <string_view>
#include <vector>

#include "protocol/diag_log.h"
#include "protocol/packet_framing.h"
#include "protocol/requests.h"
#include "protocol/return_codes.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";
constexpr const char* kConnectMethod = "VSCHarlowStream::connectToCamera()";
constexpr int kOldThreadGrace_ms = 2500;
constexpr int kReceiveThreadGrace_ms = 5000;
// The reply to a live video request is a short text; anything longer is not one.
constexpr std::uint32_t kMaxReplyLength = 64 * 1024;
constexpr std::string_view kReplyAccepted = "success";

}  // namespace

std::string_view streamResultText(StreamResult result) {
    switch (result) {
        case StreamResult::Opened:
            return "opened";
        case StreamResult::AlreadyOpen:
            return "a stream is already open";
        case StreamResult::NoSocket:
            return "no socket";
        case StreamResult::ConnectFailed:
            return "the server cannot be reached";
        case StreamResult::Refused:
            return "the stream was refused";
        case StreamResult::Exception:
            return "internal error";
    }
    return "unknown";
}

std::string_view streamEndText(StreamEnd end) {
    switch (end) {
        case StreamEnd::Closed:
            return "the server closed the stream";
        case StreamEnd::Silent:
            return "the stream fell silent";
        case StreamEnd::Damaged:
            return "a frame was damaged";
    }
    return "unknown";
}

bool endThread(WorkerThread& thread, int grace_ms, const char* caller, const char* threadName,
               const std::function<void()>& interrupt) {
    const std::string method = std::string(caller) + " - " + threadName;
    return stopWithin(thread, grace_ms, "KRT", method.c_str(), interrupt);
}

bool readLiveVideoReply(int fd, const WaitLimit& limit) {
    PktHeader header;
    if (PacketFraming::recvPktHeader(fd, header, limit) != HeaderStatus::Ok ||
        header.payloadLength > kMaxReplyLength) {
        return false;
    }
    std::vector<char> reply(header.payloadLength);
    std::size_t received = 0;
    PacketFraming::recvData(fd, reply, received, limit);
    // Only a whole reply: a partial one would leave the stream inside its rest.
    return received == reply.size() &&
           std::string_view(reply.data(), reply.size()).find(kReplyAccepted) !=
               std::string_view::npos;
}

LiveStream::~LiveStream() {
    disconnectFromCamera();
}

StreamResult LiveStream::connectToCamera(std::string_view connectionText) {
    try {
        std::lock_guard control(m_controlMutex);
        const auto target = parseConnectionText(connectionText);
        if (!target) {
            return StreamResult::Refused;
        }
        const LiveResolution resolution =
            m_mediumResolution.load() ? LiveResolution::Medium : LiveResolution::Low;
        const std::string request = liveVideoRequest(resolution, target->channel);
        // Checked before any flag changes, so that a refused call leaves a running stream as
        // it was.
        if (isOpen()) {
            return StreamResult::AlreadyOpen;
        }
        m_receivingEnabled.store(true);
        m_stopRequested.store(false);
        return openStream(*target, request);
    } catch (...) {
        writeLog(kModule, kConnectMethod, "");
        closeSocket();
        return StreamResult::Exception;
    }
}

StreamResult LiveStream::openStream(const ConnectionTarget& target, std::string_view request) {
    const int fd = openSocket();
    if (fd < 0) {
        const std::string message = "Invalid Socket Error " + std::to_string(errno);
        writeLog(kModule, kConnectMethod, message.c_str());
        return StreamResult::NoSocket;
    }
    if (!connectSocket(fd, target)) {
        closeSocket();
        return StreamResult::ConnectFailed;
    }
    if (PacketFraming::sendData(fd, request, nullptr) != kSuccess ||
        !readLiveVideoReply(fd, WaitLimit::after(m_timeouts.reply))) {
        closeSocket();
        return StreamResult::Refused;
    }
    // A silent peer, also one that stops inside a frame, ends the receive thread.
    setReceiveTimeout(fd, m_timeouts.silence);
    endThread(m_receiveThread, kOldThreadGrace_ms, kConnectMethod, "pushFrameThread");
    m_frame = LiveFrame{};
    {
        std::lock_guard lock(m_readerMutex);
        m_reader.clear();
    }
    m_receiveThread = WorkerThread([this, fd] { pushFrameThread(fd); });
    return StreamResult::Opened;
}

int LiveStream::openSocket() {
    std::lock_guard lock(m_socketMutex);
    m_socket.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    return m_socket.fd();
}

bool LiveStream::connectSocket(int fd, const ConnectionTarget& target) const {
    const auto address = parseIPv4(target.address);
    if (!address || target.port <= 0 || target.port > 0xFFFF) {
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr = *address;
    peer.sin_port = htons(static_cast<std::uint16_t>(target.port));
    // A blocking connect gives up after the send time-out; the request send keeps it.
    setSendTimeout(fd, m_timeouts.connect);
    setReceiveTimeout(fd, m_timeouts.reply);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
}

void LiveStream::pushFrameThread(int fd) {
    while (!stopRequested()) {
        if (!m_receivingEnabled.load()) {
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait(lock, [this] { return stopRequested(); });
            continue;
        }
        // The socket's receive time-out is the silence limit: no separate wait is needed.
        std::unique_lock lock(m_readerMutex);
        if (!m_reader.next(fd, m_frame)) {
            const StreamEnd end = m_reader.lastEnd();
            lock.unlock();
            // The socket stays open: the owner reconnects, at once or when it notices silence.
            if (!stopRequested()) {
                reportEnd(end);
            }
            return;
        }
        if (m_receivingEnabled.load() && !stopRequested()) {
            m_frame.setNewerFrameWaiting(m_reader.wholeFrameWaiting(fd));
            lock.unlock();
            deliver(m_frame);
        }
    }
}

bool LiveStream::receiveFrame(LiveFrame& frame) {
    int fd = -1;
    {
        std::lock_guard lock(m_socketMutex);
        fd = m_socket.fd();
    }
    std::lock_guard lock(m_readerMutex);
    return fd >= 0 && m_reader.next(fd, frame);
}

void LiveStream::deliver(const LiveFrame& frame) {
    std::shared_ptr<const FrameCallback> callback;
    {
        std::lock_guard lock(m_callbackMutex);
        callback = m_frameCallback;
    }
    if (callback && *callback) {
        (*callback)(frame);
    }
}

void LiveStream::reportEnd(StreamEnd end) {
    std::shared_ptr<const EndCallback> callback;
    {
        std::lock_guard lock(m_callbackMutex);
        callback = m_endCallback;
    }
    if (callback && *callback) {
        (*callback)(end);
    }
}

void LiveStream::setEndCallback(EndCallback callback) {
    auto shared = std::make_shared<const EndCallback>(std::move(callback));
    std::lock_guard lock(m_callbackMutex);
    m_endCallback = std::move(shared);
}

void LiveStream::setFrameCallback(FrameCallback callback) {
    auto shared = std::make_shared<const FrameCallback>(std::move(callback));
    std::lock_guard lock(m_callbackMutex);
    m_frameCallback = std::move(shared);
}

void LiveStream::pauseReceiving() {
    m_receivingEnabled.store(false);
}

void LiveStream::disconnectFromCamera() {
    // Stopping first wakes a connect under way, so that the lock below is soon free.
    requestStop();
    std::lock_guard control(m_controlMutex);
    requestStop();
    endThread(m_receiveThread, kReceiveThreadGrace_ms, "VSCHarlowStream::disconnectFromCamera()",
              "pushFrameThread");
    closeSocket();
}

void LiveStream::requestStop() {
    {
        std::lock_guard lock(m_wakeMutex);
        m_stopRequested.store(true);
    }
    m_wake.notify_all();
    std::lock_guard lock(m_socketMutex);
    shutdownBoth(m_socket.fd());
}

void LiveStream::closeSocket() {
    std::lock_guard lock(m_socketMutex);
    shutdownBoth(m_socket.fd());
    m_socket.reset();
}

bool LiveStream::isOpen() const {
    std::lock_guard lock(m_socketMutex);
    return m_socket.valid();
}

bool LiveStream::waitReceiveEnded(std::chrono::milliseconds timeout) const {
    return m_receiveThread.waitFinished(timeout);
}

}  // namespace krt
