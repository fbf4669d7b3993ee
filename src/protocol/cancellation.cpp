#include "protocol/cancellation.h"

#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace krt {

Cancellation::Cancellation() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (m_fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

Cancellation::~Cancellation() {
    ::close(m_fd);
}

void Cancellation::cancel() const noexcept {
    m_cancelled.store(true);
    // Never read: the counter stays above zero, so the descriptor stays readable.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(m_fd, &one, sizeof one);
}

}  // namespace krt
