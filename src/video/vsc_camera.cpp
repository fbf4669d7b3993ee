#include "video/vsc_camera.h"

#include "protocol/socket_common.h"

namespace krt {

bool VSCFrame::reserve(int length) {
    if (length <= 0 || static_cast<std::uint32_t>(length) > kMaxPayloadLength) {
        return false;
    }
    const int needed = length + kHeadroom;
    if (!m_data || m_capacity < needed) {
        // No zero fill: only whole frames are ever handed on, so stale bytes are never read.
        m_data = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(needed));
        m_capacity = needed;
    }
    return true;
}

int endThread(WorkerThread& thread, int grace_ms, const char* caller, const char* threadName,
              const std::function<void()>& interrupt) {
    const std::string method = std::string(caller) + " - " + threadName;
    return stopWithin(thread, grace_ms, "KRT", method.c_str(), interrupt) ? kVscSuccess
                                                                          : kVscFailed;
}

int VSCCamera::getPictureInfo(VSCPictureInfo* info) {
    if (info == nullptr) {
        return kVscFailed;
    }
    // The device learns its picture size shortly after connecting; 49 steps of 100 ms.
    constexpr auto kPictureInfoWait = std::chrono::milliseconds(4900);
    std::unique_lock lock(m_pictureMutex);
    m_pictureKnown.wait_for(lock, kPictureInfoWait,
                            [this] { return m_pictureInfo.width > 0 && m_pictureInfo.height > 0; });
    *info = m_pictureInfo;
    return kVscSuccess;
}

int VSCCamera::disconnectFromCamera() {
    setStopRequested(true);
    return kVscSuccess;
}

void VSCCamera::setPictureInfo(VSCPictureInfo info) {
    {
        std::lock_guard lock(m_pictureMutex);
        m_pictureInfo = info;
    }
    m_pictureKnown.notify_all();
}

}  // namespace krt
