#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "protocol/worker_thread.h"

namespace krt {

// Results of the camera stream operations.
inline constexpr int kVscSuccess = 1;
inline constexpr int kVscAlreadyOpen = -1;
inline constexpr int kVscNoSocket = -1;  // the socket could not be created
inline constexpr int kVscFailed = -111;  // bad connection text, send or reply failed, null output
inline constexpr int kVscException = -1000;
inline constexpr int kVscNotSupported = -3000;
inline constexpr int kVscConnectFailed = -10002;

// One received picture, still encoded. The buffer is reused while frames fit and replaced,
// with headroom, only when a frame needs more.
class VSCFrame {
  public:
    static constexpr int kHeadroom = 2048;

    // Makes room for `length` payload bytes; false when the length cannot be framed.
    bool reserve(int length);
    std::span<unsigned char> buffer() {
        return {m_data.get(), static_cast<std::size_t>(m_capacity)};
    }
    std::span<const unsigned char> payload() const {
        return {m_data.get(), static_cast<std::size_t>(m_length)};
    }
    int capacity() const { return m_capacity; }
    int length() const { return m_length; }
    void setLength(int length) { m_length = length; }
    // Whether a whole newer frame had already arrived when this one was handed on: a reader
    // that shows only the newest picture need not decode this one.
    bool newerFrameWaiting() const { return m_newerFrameWaiting; }
    void setNewerFrameWaiting(bool waiting) { m_newerFrameWaiting = waiting; }

  private:
    std::unique_ptr<unsigned char[]> m_data;
    int m_capacity = 0;
    int m_length = 0;
    bool m_newerFrameWaiting = false;
};

// What a caller hands to connectToCamera: "address:channel" or "address:channel:port".
struct VSCConnectParams {
    std::string connectionText;
};

// The picture description that some camera classes learn from their device.
struct VSCPictureInfo {
    int width = 0;
    int height = 0;
};

// Waits up to `grace_ms` for the thread to end; a thread still running then is logged as
// "Thread terminated." under the labels, woken with `interrupt` and joined. Returns -111 for a
// thread that was never started, else 1.
int endThread(WorkerThread& thread, int grace_ms, const char* caller, const char* threadName,
              const std::function<void()>& interrupt = {});

// The abstract camera stream: what every camera class offers to the window that shows it.
class VSCCamera {
  public:
    VSCCamera() = default;
    virtual ~VSCCamera() = default;
    VSCCamera(const VSCCamera&) = delete;
    VSCCamera& operator=(const VSCCamera&) = delete;

    // Waits up to about 5 s for the picture description to become known, then copies it
    // (all zero when it never did). -111 for a null output.
    virtual int getPictureInfo(VSCPictureInfo* info);
    virtual int connectToCamera(const VSCConnectParams& params) = 0;
    // Asks the stream to stop; 1, or -1000 on an exception.
    virtual int disconnectFromCamera();
    // One synchronous receive into the caller's frame: 1 when a payload came, else 0.
    virtual int receiveFrame(VSCFrame* frame) = 0;

  protected:
    // Publishes the picture description and wakes a waiting getPictureInfo.
    void setPictureInfo(VSCPictureInfo info);
    bool stopRequested() const { return m_stopRequested.load(); }
    void setStopRequested(bool stop) { m_stopRequested.store(stop); }

  private:
    std::atomic<bool> m_stopRequested{false};
    std::mutex m_pictureMutex;
    std::condition_variable m_pictureKnown;
    VSCPictureInfo m_pictureInfo;
};

}  // namespace krt
