#include "alarms/snapshot_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <utility>

namespace krt {
namespace {

// Closes its descriptor when it goes.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int fd() const { return m_fd; }
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int m_fd;
};

bool writeAll(int fd, std::span<const char> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

bool writeSnapshotFile(const std::filesystem::path& path, std::span<const char> bytes) {
    std::string temporary = (path.parent_path() / ".snapshot-XXXXXX").string();
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.fd() < 0) {
        return false;
    }
    const bool written = writeAll(file.fd(), bytes) && file.close();
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void removeSnapshotFile(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace krt
