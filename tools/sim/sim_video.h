#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "frame_renderer.h"
#include "ptz_motion.h"
#include "sim_config.h"
#include "sim_connection.h"
#include "sim_replies.h"

namespace krt::sim {

enum class Resolution { Low, Medium };

// The live streams and the camera heads that PTZ commands move; every stream of a channel
// sees its head's view.
class SimVideo {
  public:
    SimVideo(const SimConfig& config, const StopSignal& stop, const SimLogger& logger);

    // Answers a live request and streams until the viewer or the server goes; false: the
    // connection is done (a video connection serves one stream or none).
    bool serveLiveVideo(SimConnection& connection, const ParsedRequest& request,
                        Resolution resolution, std::string& outcome);
    // Applies a PTZCommand2; nothing is sent back.
    void applyPtz(const ParsedRequest& request, std::string& outcome);
    // The channel's picture now at medium resolution with the banner on it, padded to the
    // configured alarm image size.
    std::string renderSnapshot(const SimChannel& channel, const std::string& banner) const;

    std::optional<int> lastPtzCommand(std::string_view channelId) const;
    std::optional<PtzView> ptzView(std::string_view channelId) const;
    std::size_t framesSent() const;
    bool waitForPtzCommand(std::string_view channelId, int code,
                           std::chrono::milliseconds timeout) const;

  private:
    void streamFrames(SimConnection& connection, const SimChannel& channel, Resolution resolution);
    std::string renderFrame(FrameRenderer& renderer, const SimChannel& channel, int width,
                            int height, long long frameNumber,
                            const std::optional<std::string>& banner) const;
    PtzView currentView(const std::string& channelId) const;
    void countFrame();

    const SimConfig& m_config;
    const StopSignal& m_stop;
    const SimLogger& m_logger;
    const SimClock::time_point m_startTime;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::map<std::string, int, std::less<>> m_lastPtz;
    std::map<std::string, PtzMotion, std::less<>> m_motions;
    std::size_t m_framesSent = 0;
};

}  // namespace krt::sim
