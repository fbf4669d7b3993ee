#include "common/file_descriptor.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace krt {

bool FileDescriptor::close() {
    const int fd = std::exchange(m_fd, -1);
    return fd < 0 || ::close(fd) == 0;
}

bool writeAll(int fd, std::span<const char> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

bool writeAll(int fd, std::span<const unsigned char> bytes) {
    return writeAll(fd, std::span(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace krt
