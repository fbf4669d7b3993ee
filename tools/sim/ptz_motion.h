#pragma once

#include <chrono>

namespace krt::sim {

// Where a camera looks: pan in degrees (0 to 360, wrapping), tilt in degrees (positive up),
// zoom as a magnification (1 = widest).
struct PtzView {
    double panDegrees = 0.0;
    double tiltDegrees = 0.0;
    double zoom = 1.0;
};

inline constexpr double kMaxTiltDegrees = 30.0;
inline constexpr double kMinZoom = 1.0;
inline constexpr double kMaxZoom = 6.0;

// The PTZ command codes of the client's six buttons and of their release.
enum PtzCode : int {
    kPtzLeft = 2,
    kPtzRight = 3,
    kPtzUp = 4,
    kPtzDown = 5,
    kPtzZoomIn = 11,
    kPtzZoomOut = 12,
    kPtzStop = 26,
};

// A camera head as the buttons drive it: a press moves one step at once, so that a short tap
// still shows, and keeps moving until the release (26) stops it.
class PtzMotion {
  public:
    using Clock = std::chrono::steady_clock;

    // False for a code that is no PTZ command; the view is then unchanged.
    bool apply(int code, Clock::time_point now);
    PtzView viewAt(Clock::time_point now) const;

  private:
    PtzView m_view;
    int m_moving = kPtzStop;
    Clock::time_point m_since{};
};

}  // namespace krt::sim
