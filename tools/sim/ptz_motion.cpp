#include "ptz_motion.h"

#include <algorithm>
#include <cmath>

namespace krt::sim {
namespace {

constexpr double kPanStepDegrees = 5.0;
constexpr double kPanDegreesPerSecond = 30.0;
constexpr double kTiltStepDegrees = 3.0;
constexpr double kTiltDegreesPerSecond = 15.0;
constexpr double kZoomStepFactor = 1.2;
constexpr double kZoomFactorPerSecond = 1.6;

double wrapDegrees(double degrees) {
    const double wrapped = std::fmod(degrees, 360.0);
    return wrapped < 0.0 ? wrapped + 360.0 : wrapped;
}

// The view after moving for `seconds` in the direction of `code`; `seconds` of zero with
// `step` true is the single step of a press.
PtzView moved(PtzView view, int code, double seconds, bool step) {
    const double pan = step ? kPanStepDegrees : kPanDegreesPerSecond * seconds;
    const double tilt = step ? kTiltStepDegrees : kTiltDegreesPerSecond * seconds;
    const double zoom = step ? kZoomStepFactor : std::pow(kZoomFactorPerSecond, seconds);
    switch (code) {
        case kPtzLeft:
            view.panDegrees -= pan;
            break;
        case kPtzRight:
            view.panDegrees += pan;
            break;
        case kPtzUp:
            view.tiltDegrees += tilt;
            break;
        case kPtzDown:
            view.tiltDegrees -= tilt;
            break;
        case kPtzZoomIn:
            view.zoom *= zoom;
            break;
        case kPtzZoomOut:
            view.zoom /= zoom;
            break;
        default:
            break;
    }
    view.panDegrees = wrapDegrees(view.panDegrees);
    view.tiltDegrees = std::clamp(view.tiltDegrees, -kMaxTiltDegrees, kMaxTiltDegrees);
    view.zoom = std::clamp(view.zoom, kMinZoom, kMaxZoom);
    return view;
}

bool isPtzCode(int code) {
    switch (code) {
        case kPtzLeft:
        case kPtzRight:
        case kPtzUp:
        case kPtzDown:
        case kPtzZoomIn:
        case kPtzZoomOut:
        case kPtzStop:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool PtzMotion::apply(int code, Clock::time_point now) {
    if (!isPtzCode(code)) {
        return false;
    }
    m_view = viewAt(now);
    m_since = now;
    m_moving = code;
    if (code != kPtzStop) {
        m_view = moved(m_view, code, 0.0, true);
    }
    return true;
}

PtzView PtzMotion::viewAt(Clock::time_point now) const {
    if (m_moving == kPtzStop || now <= m_since) {
        return m_view;
    }
    const double seconds = std::chrono::duration<double>(now - m_since).count();
    return moved(m_view, m_moving, seconds, false);
}

}  // namespace krt::sim
