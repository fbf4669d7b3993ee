#pragma once

#include <span>
#include <utility>

namespace krt {

// A descriptor of ours, closed when it goes.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            close();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    int fd() const { return m_fd; }
    // Closes it now; false when the close failed, which may have lost a write.
    bool close();

  private:
    int m_fd;
};

// Writes the whole span, through interruptions and short writes; false with errno set when it
// cannot (EIO when nothing was written and no error said why).
bool writeAll(int fd, std::span<const char> bytes);
bool writeAll(int fd, std::span<const unsigned char> bytes);

}  // namespace krt
