#pragma once

#include <optional>
#include <string_view>

namespace krt {

// Held while a camera is recorded, by any program of this user: a lock on a file named after
// the camera in the user's runtime folder. The system releases it when its holder ends,
// however that happens, so that no recording that ended badly blocks the camera for ever.
class RecordingLock {
  public:
    // The camera's lock, or nothing when another recording holds it (or no lock file can be
    // made, or the lock folder is not the user's alone, in which case recording goes ahead
    // without one).
    static std::optional<RecordingLock> take(std::string_view cameraKey);

    ~RecordingLock();
    RecordingLock(RecordingLock&& other) noexcept;
    RecordingLock& operator=(RecordingLock&& other) noexcept;
    RecordingLock(const RecordingLock&) = delete;
    RecordingLock& operator=(const RecordingLock&) = delete;

  private:
    explicit RecordingLock(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

}  // namespace krt
