#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <span>

namespace krt {

// When the last byte of a frame came in: by the steady clock, which orders and times frames, and
// by the calendar, which names what is kept of them.
struct FrameArrival {
    std::chrono::steady_clock::time_point steady;
    std::chrono::system_clock::time_point calendar;

    static FrameArrival now() {
        return {std::chrono::steady_clock::now(), std::chrono::system_clock::now()};
    }
};

// One received picture, still encoded. The buffer is reused while frames fit and replaced,
// with headroom, only when a frame needs more.
class LiveFrame {
  public:
    static constexpr int kHeadroom = 2048;

    // Makes room for `length` payload bytes; false when the length cannot be framed.
    bool reserve(int length);
    std::span<unsigned char> buffer() {
        return {m_data.get(), static_cast<std::size_t>(m_capacity)};
    }
    std::span<const unsigned char> payload() const {
        return {m_data.get(), static_cast<std::size_t>(m_length)};
    }
    int capacity() const { return m_capacity; }
    int length() const { return m_length; }
    void setLength(int length) { m_length = length; }
    // Whether a whole newer frame had already arrived when this one was handed on: a reader
    // that shows only the newest picture need not decode this one.
    bool newerFrameWaiting() const { return m_newerFrameWaiting; }
    void setNewerFrameWaiting(bool waiting) { m_newerFrameWaiting = waiting; }
    const FrameArrival& arrival() const { return m_arrival; }
    void setArrival(const FrameArrival& arrival) { m_arrival = arrival; }

  private:
    std::unique_ptr<unsigned char[]> m_data;
    int m_capacity = 0;
    int m_length = 0;
    bool m_newerFrameWaiting = false;
    FrameArrival m_arrival;
};

}  // namespace krt
