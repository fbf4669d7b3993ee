#include "journal/snapshot_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "common/file_descriptor.h"
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

std::error_code copySnapshotFile(const std::filesystem::path& from,
                                 const std::filesystem::path& to) {
    // A snapshot is at most a few megabytes: read whole, then written as one new file.
    const FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    std::vector<char> bytes;
    std::array<char, std::size_t{64} * 1024> buffer{};
    while (source.fd() >= 0) {
        const ssize_t got = ::read(source.fd(), buffer.data(), buffer.size());
        if (got == 0) {
            return writeSnapshotFile(to, bytes);
        }
        if (got > 0) {
            bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
        } else if (errno != EINTR) {
            break;
        }
    }
    return {errno, std::generic_category()};
}

}  // namespace krt
