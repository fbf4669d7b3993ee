#include "stream/live_frame.h"

#include "protocol/packet_framing.h"

namespace krt {

bool LiveFrame::reserve(int length) {
    if (length <= 0 || static_cast<std::uint32_t>(length) > kMaxPayloadLength) {
        return false;
    }
    const int needed = length + kHeadroom;
    if (!m_data || m_capacity < needed) {
        // No zero fill: only whole frames are ever handed on, so stale bytes are never read.
        m_data = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(needed));
        m_capacity = needed;
    }
    return true;
}

}  // namespace krt
