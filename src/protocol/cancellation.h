#pragma once

#include <atomic>

namespace krt {

// A stop for every blocking socket call made under it: a call already waiting wakes at once,
// and every later one fails at once. It cannot be undone. Waiters poll its descriptor
// together with their socket; it stays readable once cancelled. cancel() is
// async-signal-safe, so a SIGINT handler may call it.
class Cancellation {
  public:
    Cancellation();
    ~Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void cancel() const noexcept;
    bool cancelled() const noexcept { return m_cancelled.load(); }
    int wakeFd() const { return m_fd; }

  private:
    int m_fd = -1;
    mutable std::atomic<bool> m_cancelled{false};
};

}  // namespace krt
