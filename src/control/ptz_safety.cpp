#include "control/ptz_safety.h"

#include "control/ptz_sender.h"

namespace krt {

std::string_view ptzStopTriggerName(PtzStopTrigger trigger) {
    switch (trigger) {
        case PtzStopTrigger::Released:
            return "released";
        case PtzStopTrigger::FocusLost:
            return "focus lost";
        case PtzStopTrigger::Minimised:
            return "hidden or minimised";
        case PtzStopTrigger::TabChanged:
            return "tab changed";
        case PtzStopTrigger::PageChanged:
            return "page changed";
        case PtzStopTrigger::GridChanged:
            return "grid changed";
        case PtzStopTrigger::SingleViewClosed:
            return "single view closed";
        case PtzStopTrigger::Reconnected:
            return "connection re-established";
        case PtzStopTrigger::MoveTimedOut:
            return "held too long";
    }
    return "unknown";
}

int PtzMoveGuard::press(int pressCode, Clock::time_point now) {
    m_moveStart = now;
    return pressCode;
}

int PtzMoveGuard::release() {
    m_moveStart.reset();
    return kPtzReleaseCode;
}

std::optional<int> PtzMoveGuard::stopFor(PtzStopTrigger trigger) {
    if (trigger == PtzStopTrigger::Released) {
        return release();
    }
    if (!moving()) {
        return std::nullopt;
    }
    m_moveStart.reset();
    return kPtzReleaseCode;
}

std::optional<int> PtzMoveGuard::tick(Clock::time_point now) {
    if (!moving() || now - *m_moveStart < m_moveLimit) {
        return std::nullopt;
    }
    return stopFor(PtzStopTrigger::MoveTimedOut);
}

}  // namespace krt
