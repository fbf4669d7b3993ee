#include "journal/snapshot_export.h"

#include "common/local_time.h"
#include "journal/snapshot_file.h"

namespace krt {
namespace {

constexpr std::size_t kMaxCameraChars = 64;

bool fitsAFileName(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

}  // namespace

std::string snapshotSaveName(std::string_view channelId,
                             std::chrono::system_clock::time_point eventTime) {
    std::string camera;
    for (const char c : channelId.substr(0, kMaxCameraChars)) {
        camera.push_back(fitsAFileName(c) ? c : '_');
    }
    // A leading dot would hide the file.
    if (camera.empty() || camera.front() == '.') {
        camera.insert(camera.begin(), '_');
    }
    return camera + "-" + formatLocalTime(eventTime, "%Y%m%d-%H%M%S") + ".jpg";
}

bool saveSnapshotCopy(const std::filesystem::path& path, std::span<const char> bytes) {
    return !path.empty() && !bytes.empty() && !writeSnapshotFile(path, bytes);
}

}  // namespace krt
