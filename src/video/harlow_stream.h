#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "protocol/tcp_socket.h"
#include "protocol/worker_thread.h"
#include "video/connection_text.h"
#include "video/frame_reader.h"
#include "video/vsc_camera.h"

namespace krt {

// The live stream of one camera: one TCP connection, one request, then one framed encoded
// picture after another, each handed to the owner's callback on the stream's receive thread.
// The stream never reconnects by itself; its owner watches for silence and reconnects.
class VSCHarlowStream final : public VSCCamera {
  public:
    // Called on the receive thread with every whole frame; the frame is valid during the call.
    using FrameCallback = std::function<void(const VSCFrame& frame)>;

    struct Timeouts {
        std::chrono::milliseconds connect{5'000};
        std::chrono::milliseconds reply{10'000};
        // Silence on the stream (also inside a frame) that ends the receive thread.
        std::chrono::milliseconds silence{2'000};
    };

    VSCHarlowStream() = default;
    explicit VSCHarlowStream(Timeouts timeouts) : m_timeouts(timeouts) {}
    ~VSCHarlowStream() override;

    // 1 when the stream runs; -111 for a text without ':' or a failed request or reply, -1 when
    // a connection is already open or no socket can be made, -10002 when the server cannot be
    // reached, -1000 on an exception.
    int connectToCamera(const VSCConnectParams& params) override;
    // Stops the receive thread and closes the connection. Safe from any thread, also while
    // a connect is under way: that connect then fails or its stream stops at once.
    int disconnectFromCamera() override;
    int receiveFrame(VSCFrame* frame) override;

    void setFrameCallback(FrameCallback callback);
    // Read when the next request is built.
    void setMediumResolution(bool medium) { m_mediumResolution.store(medium); }
    // No further callback and no further read until the next connectToCamera.
    void pauseReceiving();

    bool isOpen() const;
    // True when no receive thread runs or it ends within the time-out. Not to be called while
    // another thread connects this stream.
    bool waitReceiveEnded(std::chrono::milliseconds timeout) const;

  private:
    int openStream(const ConnectionTarget& target, std::string_view request);
    int openSocket();
    bool connectSocket(int fd, const ConnectionTarget& target) const;
    void pushFrameThread(int fd);
    void deliver(const VSCFrame& frame);
    void requestStop();
    void closeSocket();

    Timeouts m_timeouts;
    std::mutex m_controlMutex;  // one connect or disconnect at a time
    mutable std::mutex m_socketMutex;
    TcpSocket m_socket;
    std::atomic<bool> m_receivingEnabled{true};
    std::atomic<bool> m_mediumResolution{false};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;  // ends the idling of a paused receive thread
    WorkerThread m_receiveThread;
    std::mutex m_readerMutex;  // the receive thread's, and a synchronous receive's
    LiveFrameReader m_reader;
    VSCFrame m_frame;
    std::mutex m_callbackMutex;
    std::shared_ptr<const FrameCallback> m_frameCallback;
};

// The reply to the live video request, read from any connected descriptor before the frames:
// true for a whole reply that holds "success" within the limit, however its bytes trickle.
bool readLiveVideoReply(int fd, const WaitLimit& limit = {});

}  // namespace krt
