#include "alarms/snapshot_file.h"

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
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

// A name no other writer uses, in the snapshot's own folder so that the rename stays within one
// file system.
std::string temporaryPathBeside(const std::filesystem::path& path) {
    static std::atomic<unsigned> counter{0};
    const std::string name =
        ".snapshot-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".part";
    return (path.parent_path() / name).string();
}

}  // namespace

bool writeSnapshotFile(const std::filesystem::path& path, std::span<const char> bytes) {
    const std::string temporary = temporaryPathBeside(path);
    // Created as fopen would create it (the umask applies), and never over an existing file.
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
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
