#include "protocol/socket_client.h"

#include <unistd.h>

#include "protocol/diag_log.h"
#include "protocol/packet_framing.h"
#include "protocol/return_codes.h"
#include "protocol/tcp_socket.h"

namespace krt {
namespace {

constexpr const char* kModule = "Tessaline.exe";
constexpr const char* kReaderMethod = "kmMgrSocketClient::thSocketReqHandler()";

}  // namespace

SocketClient::~SocketClient() {
    try {
        closeCommmunication();
        stopThread("kmMgrSocketClient::~kmMgrSocketClient()- m_h_responseProcessorThread",
                   m_h_responseProcessorThread, 3000);
        joinReceiverAndCloseRetired();
    } catch (...) {
        writeLog(kModule, "kmMgrSocketClient::~kmMgrSocketClient()", "");
    }
}

int SocketClient::connectToServer(std::string_view address, unsigned port,
                                  std::span<const char> request, Reply& reply,
                                  PushCallback pushCallback) {
    constexpr const char* kMethod = "kmMgrSocketClient::connectToServer()";
    try {
        if (isOpen()) {
            writeLog(kModule, kMethod,
                     "Already started communication - call closeCommmunication() first");
            return kErrCommunication;
        }
        joinReceiverAndCloseRetired();

        TcpSocket socket = newTcpSocket();
        if (!socket.valid() || (m_cancellation != nullptr && m_cancellation->cancelled())) {
            writeLog(kModule, kMethod, "Unable to listen socket to address.");
            return kErrCommunication;
        }
        // Stored before connecting, so that a close from another thread reaches the connect.
        const int fd = socket.release();
        m_socket.store(fd);
        if (!connectSocket(fd, address, static_cast<std::uint16_t>(port),
                           WaitLimit::after(m_timeouts.connect, wakeFd()))) {
            abandonSocket(fd);
            writeLog(kModule, kMethod, "Unable to listen socket to address.");
            return kErrCommunication;
        }
        const WaitLimit replyLimit = WaitLimit::after(m_timeouts.reply, wakeFd());
        if (PacketFraming::sendData(fd, request, nullptr, replyLimit) <= 0) {
            abandonSocket(fd);
            writeLog(kModule, kMethod, "Unable to create pkt header.");
            return kErrCommunication;
        }
        const int result = readResponse(fd, reply, replyLimit);
        if (pushCallback) {
            // Pushed messages may be hours apart: keepalive notices a dead link instead.
            enableKeepalive(fd);
            m_pushCallback = std::move(pushCallback);
            m_h_responseProcessorThread =
                WorkerThread([this, fd] { thSocketRecvResponseData(fd); });
        }
        return result;
    } catch (...) {
        writeLog(kModule, kMethod, "");
        return kErrException;
    }
}

void SocketClient::abandonSocket(int fd) {
    int expected = fd;
    // A close from another thread may have taken it already; it is closed after the join then.
    if (m_socket.compare_exchange_strong(expected, -1)) {
        ::close(fd);
    }
}

int SocketClient::closeCommmunication() {
    const int fd = m_socket.exchange(-1);
    if (fd >= 0) {
        shutdownBoth(fd);
        std::lock_guard lock(m_closeMutex);
        m_retiredSocket = fd;
    }
    return kSuccess;
}

int SocketClient::getResponse(Reply& reply) {
    return readResponse(m_socket.load(), reply, WaitLimit::after(m_timeouts.reply, wakeFd()));
}

int SocketClient::readResponse(int socket, Reply& reply, const WaitLimit& limit) {
    try {
        PktHeader header;
        switch (PacketFraming::recvPktHeader(socket, header, limit)) {
            case HeaderStatus::ReceiveFailed:
                writeLog(kModule, kReaderMethod, "Error in receiving packet header.");
                return kNothingReceived;
            case HeaderStatus::BadStartOfFrame:
                writeLog(kModule, kReaderMethod, "Invalid packet header - SOF");
                return kNothingReceived;
            case HeaderStatus::ZeroLength:
                writeLog(kModule, kReaderMethod, "No request bytes!");
                return kNothingReceived;
            case HeaderStatus::Ok:
                break;
        }
        if (header.payloadLength > m_maxReplyLength) {
            writeLog(kModule, kReaderMethod, "Reply longer than allowed.");
            return kNothingReceived;
        }
        std::vector<char> buffer(header.payloadLength + Reply::kZeroTail, '\0');
        std::size_t received = 0;
        PacketFraming::recvData(socket, std::span(buffer.data(), header.payloadLength), received,
                                limit);
        if (received != header.payloadLength) {
            writeLog(kModule, kReaderMethod, "Not a sufficient bytes recv-ed.");
            return kNothingReceived;
        }
        reply.buffer = std::move(buffer);
        reply.length = static_cast<int>(header.payloadLength);
        return kSuccess;
    } catch (...) {
        writeLog(kModule, "kmMgrSocketClient::getResponse()", "");
        return kErrException;
    }
}

void SocketClient::thSocketRecvResponseData(int socket) {
    constexpr const char* kMethod = "kmMgrSocketClient::thSocketRecvResponseData()";
    try {
        // No deadline: only a close, a cancellation or a dead link ends the wait.
        const WaitLimit forever{WaitLimit::Clock::time_point::max(), wakeFd()};
        for (;;) {
            Reply message;
            if (readResponse(socket, message, forever) <= 0) {
                writeLog(kModule, kMethod, "Error in receiving Data.");
                m_pushCallback(kRecvError);
                return;
            }
            m_pushCallback(message.payload());
        }
    } catch (...) {
        writeLog(kModule, kMethod, "");
    }
}

void SocketClient::joinReceiverAndCloseRetired() {
    m_h_responseProcessorThread.join();
    std::lock_guard lock(m_closeMutex);
    if (m_retiredSocket >= 0) {
        ::close(m_retiredSocket);
        m_retiredSocket = -1;
    }
}

}  // namespace krt
