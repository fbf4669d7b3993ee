#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "protocol/tcp_socket.h"
#include "protocol/worker_thread.h"
#include "stream/connection_text.h"
#include "stream/frame_reader.h"
#include "stream/live_frame.h"

namespace krt {

// How an attempt to open a stream ended.
enum class StreamResult {
    Opened,
    AlreadyOpen,    // a stream of this object still runs
    NoSocket,       // the system gave no socket
    ConnectFailed,  // the server could not be reached
    Refused,        // bad connection text, or the request or its reply failed
    Exception,
};

// Text for a log or a message: what went wrong, in a few words.
std::string_view streamResultText(StreamResult result);
std::string_view streamEndText(StreamEnd end);

// Waits up to `grace_ms` for the thread to end; a thread still running then is logged as
// "Thread terminated." under the labels, woken with `interrupt` and joined. False for a thread
// that was never started.
bool endThread(WorkerThread& thread, int grace_ms, const char* caller, const char* threadName,
               const std::function<void()>& interrupt = {});

// The live stream of one camera: one TCP connection, one request, then one framed encoded
// picture after another, each handed to the owner's callback on the stream's receive thread.
// The stream never reconnects by itself: it tells its owner how it ended, and the owner
// reconnects (and watches for silence).
class LiveStream final {
  public:
    // Called on the receive thread with every whole frame; the frame is valid during the call.
    using FrameCallback = std::function<void(const LiveFrame& frame)>;
    // Called on the receive thread when it ends by itself, not when it is stopped.
    using EndCallback = std::function<void(StreamEnd end)>;

    struct Timeouts {
        std::chrono::milliseconds connect{5'000};
        std::chrono::milliseconds reply{10'000};
        // Silence on the stream (also inside a frame) that ends the receive thread.
        std::chrono::milliseconds silence{2'000};
    };

    LiveStream() = default;
    explicit LiveStream(Timeouts timeouts) : m_timeouts(timeouts) {}
    ~LiveStream();
    LiveStream(const LiveStream&) = delete;
    LiveStream& operator=(const LiveStream&) = delete;

    // Opens the stream named by "address:channel" or "address:channel:port".
    StreamResult connectToCamera(std::string_view connectionText);
    // Stops the receive thread and closes the connection. Safe from any thread, also while
    // a connect is under way: that connect then fails or its stream stops at once.
    void disconnectFromCamera();
    // One synchronous receive into the caller's frame: true when a whole payload came.
    bool receiveFrame(LiveFrame& frame);

    void setFrameCallback(FrameCallback callback);
    void setEndCallback(EndCallback callback);
    // Read when the next request is built.
    void setMediumResolution(bool medium) { m_mediumResolution.store(medium); }
    bool mediumResolution() const { return m_mediumResolution.load(); }
    // No further callback and no further read until the next connectToCamera.
    void pauseReceiving();

    bool isOpen() const;
    // True when no receive thread runs or it ends within the time-out. Not to be called while
    // another thread connects this stream.
    bool waitReceiveEnded(std::chrono::milliseconds timeout) const;

  private:
    StreamResult openStream(const ConnectionTarget& target, std::string_view request);
    int openSocket();
    bool connectSocket(int fd, const ConnectionTarget& target) const;
    void pushFrameThread(int fd);
    void deliver(const LiveFrame& frame);
    void reportEnd(StreamEnd end);
    void requestStop();
    void closeSocket();

    bool stopRequested() const { return m_stopRequested.load(); }

    Timeouts m_timeouts;
    std::atomic<bool> m_stopRequested{false};
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
    LiveFrame m_frame;
    std::mutex m_callbackMutex;
    std::shared_ptr<const FrameCallback> m_frameCallback;
    std::shared_ptr<const EndCallback> m_endCallback;
};

// The reply to the live video request, read from any connected descriptor before the frames:
// true for a whole reply that holds "success" within the limit, however its bytes trickle.
bool readLiveVideoReply(int fd, const WaitLimit& limit = {});

}  // namespace krt
