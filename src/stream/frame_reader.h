#pragma once

#include <cstddef>
#include <vector>

#include "stream/live_frame.h"

namespace krt {

// Why a stream handed on no further frame.
enum class StreamEnd {
    Closed,   // the peer closed the connection, or it failed
    Silent,   // nothing came within the socket's receive time-out; the connection is still open
    Damaged,  // a frame header was not one, or announced more than can be held
};

// Reads the framed pictures of a live stream through one buffer: a receive call takes whatever
// has arrived, so that a frame and the frames behind it come in one call, and whether a newer
// frame waits is known from what was taken. Not for use by two threads at once.
class LiveFrameReader {
  public:
    // Where a receive call writes, at first; it grows to hold any one whole frame.
    static constexpr std::size_t kInitialBytes = std::size_t{256} * 1024;

    // The next whole frame into `frame`, stamped with the time of the receive call that brought
    // its last byte, waiting within the socket's receive time-out. False, leaving `frame` as it
    // was, when the connection ends, fails or falls silent first, or when a header is damaged;
    // lastEnd() then tells which.
    bool next(int fd, LiveFrame& frame);
    StreamEnd lastEnd() const { return m_lastEnd; }
    // Whether a whole frame has arrived behind the last one handed on, as far as the last
    // receive call saw when it took everything there was. Never waits.
    bool wholeFrameWaiting(int fd);
    // Forgets every byte taken: for a new connection.
    void clear();
    // The room for bytes taken ahead of the frames handed on.
    std::size_t bufferBytes() const { return m_bytes.size(); }

  private:
    enum class Framing { Whole, Partial, Damaged };
    // Header and payload bytes of the frame at the front, once its header is there.
    Framing frontFrame(std::size_t& frameBytes) const;
    std::size_t buffered() const { return m_end - m_begin; }
    // Moves the bytes held to the start and grows the buffer, so that `bytes` fit after its start.
    void makeRoom(std::size_t bytes);
    // Once nothing is held: back to the start of the buffer, with the room a larger frame took
    // given back.
    void restart();
    // One receive call into the room after the bytes held; false when nothing came.
    bool receive(int fd, int flags);

    std::vector<unsigned char> m_bytes;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    // The last receive call left room over, so it took everything that had arrived.
    bool m_drained = false;
    StreamEnd m_lastEnd = StreamEnd::Closed;
    // When the last receive call returned bytes: a frame whole at the front came in then, for
    // no receive is made while the front frame is whole.
    FrameArrival m_lastArrival;
};

}  // namespace krt
