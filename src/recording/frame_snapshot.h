#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stream/live_frame.h"

namespace krt {

// A received frame, byte for byte, and when it came.
struct KeptFrame {
    std::vector<unsigned char> bytes;
    FrameArrival arrival;
};

// The newest frame of a stream, kept for a snapshot: written on the receive thread with every
// frame, copied out on any other.
class NewestFrame {
  public:
    void keep(const LiveFrame& frame);
    std::optional<KeptFrame> copy() const;
    void clear();

  private:
    mutable std::mutex m_mutex;
    KeptFrame m_frame;  // its buffer reused from frame to frame
    bool m_kept = false;
};

// Where a snapshot went, or why it could not be saved.
struct SnapshotResult {
    std::optional<std::filesystem::path> file;
    std::string error;
};

// Saves the frame as it came, as "<camera> <local arrival time>.jpg", in the folder (made when
// missing), never over another file.
SnapshotResult saveSnapshot(const std::filesystem::path& folder, std::string_view cameraName,
                            const KeptFrame& frame);

}  // namespace krt
