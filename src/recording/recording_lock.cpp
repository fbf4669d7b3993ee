#include "recording/recording_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "common/file_descriptor.h"

namespace krt {
namespace {

// A stable name for any key, whatever its bytes and length (FNV-1a, 64 bits).
std::string keyName(std::string_view key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : key) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.lock", static_cast<unsigned long long>(hash));
    return name;
}

// The user's runtime folder, or a folder of the user's own under /tmp.
std::string lockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && runtime[0] == '/'
               ? std::string(runtime) + "/krt-recordings"
               : "/tmp/krt-recordings-" + std::to_string(::getuid());
}

// The lock folder made if missing, and opened (-1 when it cannot be, or is a link).
int openLockFolder(const std::string& folder) {
    ::mkdir(folder.c_str(), S_IRWXU);
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Whether the folder is this user's and nobody else may write to it: in /tmp another user can
// make it first, and hold every camera's lock.
bool isPrivateFolder(int fd) {
    struct stat status {};
    return fd >= 0 && ::fstat(fd, &status) == 0 && status.st_uid == ::getuid() &&
           (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace

std::optional<RecordingLock> RecordingLock::take(std::string_view cameraKey) {
    const FileDescriptor folder(openLockFolder(lockFolder()));
    if (!isPrivateFolder(folder.fd())) {
        return RecordingLock(-1);
    }
    const int fd = ::openat(folder.fd(), keyName(cameraKey).c_str(),
                            O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return RecordingLock(-1);
    }
    // A lock of the open file itself: a second open in this process conflicts as well.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            const bool held = errno == EWOULDBLOCK;
            ::close(fd);
            return held ? std::nullopt : std::optional(RecordingLock(-1));
        }
    }
    return RecordingLock(fd);
}

RecordingLock::~RecordingLock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

RecordingLock::RecordingLock(RecordingLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)) {}

RecordingLock& RecordingLock::operator=(RecordingLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

}  // namespace krt
