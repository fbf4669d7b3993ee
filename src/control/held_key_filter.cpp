#include "control/held_key_filter.h"

namespace krt {

HeldKeyFilter::Press HeldKeyFilter::press(int key, Clock::time_point now) {
    // A pending release of the same key was the first half of a repeat.
    if (m_key == key && (!m_releasedAt || now - *m_releasedAt <= m_grace)) {
        m_releasedAt.reset();
        return Press::Continues;
    }
    m_key = key;
    m_releasedAt.reset();
    return Press::Starts;
}

void HeldKeyFilter::release(int key, Clock::time_point now) {
    if (m_key == key && !m_releasedAt) {
        m_releasedAt = now;
    }
}

std::optional<int> HeldKeyFilter::expire(Clock::time_point now) {
    if (!m_releasedAt || now - *m_releasedAt < m_grace) {
        return std::nullopt;
    }
    const std::optional<int> ended = m_key;
    reset();
    return ended;
}

std::optional<HeldKeyFilter::Clock::time_point> HeldKeyFilter::deadline() const {
    if (!m_releasedAt) {
        return std::nullopt;
    }
    return *m_releasedAt + m_grace;
}

void HeldKeyFilter::reset() {
    m_key.reset();
    m_releasedAt.reset();
}

}  // namespace krt
