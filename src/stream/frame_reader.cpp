#include "stream/frame_reader.h"

#include <sys/socket.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/packet_framing.h"

namespace krt {

bool LiveFrameReader::next(int fd, LiveFrame& frame) {
    for (;;) {
        std::size_t frameBytes = kPktHeaderSize;
        const Framing framing = frontFrame(frameBytes);
        if (framing == Framing::Damaged) {
            m_lastEnd = StreamEnd::Damaged;
            return false;
        }
        if (framing == Framing::Whole) {
            const auto length = static_cast<int>(frameBytes - kPktHeaderSize);
            if (!frame.reserve(length)) {
                m_lastEnd = StreamEnd::Damaged;
                return false;
            }
            std::memcpy(frame.buffer().data(), m_bytes.data() + m_begin + kPktHeaderSize,
                        static_cast<std::size_t>(length));
            frame.setLength(length);
            frame.setArrival(m_lastArrival);
            m_begin += frameBytes;
            if (buffered() == 0) {
                restart();
            }
            return true;
        }
        makeRoom(frameBytes);
        if (!receive(fd, 0)) {
            return false;
        }
    }
}

bool LiveFrameReader::wholeFrameWaiting(int fd) {
    std::size_t frameBytes = kPktHeaderSize;
    Framing framing = frontFrame(frameBytes);
    // Right after a receive that took everything, asking again would cost a call per frame and
    // hardly ever find more; a frame arriving meanwhile is simply the next one taken.
    if (framing == Framing::Partial && !m_drained) {
        makeRoom(frameBytes);
        receive(fd, MSG_DONTWAIT);
        framing = frontFrame(frameBytes);
    }
    return framing == Framing::Whole;
}

// The next receive writes where the last one did, into memory still cached, rather than
// walking through the whole buffer; and one huge frame, from a hostile server too, does not
// keep its room for the whole connection.
void LiveFrameReader::restart() {
    if (m_bytes.size() > kInitialBytes) {
        m_bytes.resize(kInitialBytes);
        m_bytes.shrink_to_fit();
    }
    m_begin = 0;
    m_end = 0;
}

void LiveFrameReader::clear() {
    m_begin = 0;
    m_end = 0;
    m_drained = false;
}

LiveFrameReader::Framing LiveFrameReader::frontFrame(std::size_t& frameBytes) const {
    if (buffered() < kPktHeaderSize) {
        frameBytes = kPktHeaderSize;
        return Framing::Partial;
    }
    PktHeader header;
    if (PacketFraming::parsePktHeader(
            std::span<const std::uint8_t, kPktHeaderSize>(m_bytes.data() + m_begin, kPktHeaderSize),
            header) != HeaderStatus::Ok) {
        return Framing::Damaged;
    }
    frameBytes = kPktHeaderSize + header.payloadLength;
    return buffered() >= frameBytes ? Framing::Whole : Framing::Partial;
}

void LiveFrameReader::makeRoom(std::size_t bytes) {
    if (m_begin + bytes <= m_bytes.size()) {
        return;
    }
    // Called for a partial frame at the front, so that is all the buffer holds.
    if (buffered() > 0) {
        std::memmove(m_bytes.data(), m_bytes.data() + m_begin, buffered());
    }
    m_end -= m_begin;
    m_begin = 0;
    if (bytes > m_bytes.size()) {
        m_bytes.resize(std::max(bytes, kInitialBytes));
    }
}

bool LiveFrameReader::receive(int fd, int flags) {
    for (;;) {
        const std::size_t room = m_bytes.size() - m_end;
        const ssize_t count = ::recv(fd, m_bytes.data() + m_end, room, flags);
        if (count > 0) {
            m_lastArrival = FrameArrival::now();
            m_end += static_cast<std::size_t>(count);
            m_drained = static_cast<std::size_t>(count) < room;
            return true;
        }
        if (count == 0 || errno != EINTR) {
            m_lastEnd = count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? StreamEnd::Silent
                                                                               : StreamEnd::Closed;
            return false;
        }
    }
}

}  // namespace krt
