#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame_renderer.h"
#include "frame_stamp.h"
#include "protocol/requests.h"
#include "ptz_motion.h"
#include "sim_config.h"
#include "sim_connection.h"
#include "sim_replies.h"

namespace krt::sim {

// One live stream as it runs.
struct StreamStatus {
    std::string channelId;
    std::string peer;  // the viewer's "address:port"
    LiveResolution resolution = LiveResolution::Low;
    long long lastFrameNumber = 0;  // 0 until the first frame is out
    std::int64_t lastSentMs = 0;    // that frame's stamp
};

// The live streams and the camera heads that PTZ commands move; every stream of a channel
// sees its head's view.
class SimVideo {
  public:
    SimVideo(const SimConfig& config, const StopSignal& stop, const SimLogger& logger);

    // Answers a live request and streams until the viewer or the server goes; false: the
    // connection is done (a video connection serves one stream or none).
    bool serveLiveVideo(SimConnection& connection, const ParsedRequest& request,
                        LiveResolution resolution, std::string& outcome);
    // Applies a PTZCommand2; nothing is sent back.
    void applyPtz(const ParsedRequest& request, std::string& outcome);
    // The channel's picture now at medium resolution with the banner on it, padded to the
    // configured alarm image size.
    std::string renderSnapshot(const SimChannel& channel, const std::string& banner) const;

    std::optional<int> lastPtzCommand(std::string_view channelId) const;
    std::optional<PtzView> ptzView(std::string_view channelId) const;
    std::size_t framesSent() const;
    std::size_t framesSent(std::string_view channelId) const;
    std::optional<long long> lastFrameNumber(std::string_view channelId) const;
    std::vector<StreamStatus> liveStreams() const;
    bool waitForFrames(std::string_view channelId, std::size_t count,
                       std::chrono::milliseconds timeout) const;
    bool waitForPtzCommand(std::string_view channelId, int code,
                           std::chrono::milliseconds timeout) const;

  private:
    // What the channels have sent, for the whole run.
    struct ChannelFrames {
        std::size_t sent = 0;
        long long lastFrameNumber = 0;
    };
    using StreamList = std::list<StreamStatus>;

    void streamFrames(SimConnection& connection, const SimChannel& channel,
                      LiveResolution resolution, StreamList::iterator stream);
    std::string renderFrame(FrameRenderer& renderer, const SimChannel& channel, int width,
                            int height, long long frameNumber,
                            const std::optional<std::string>& banner) const;
    PtzView currentView(const std::string& channelId) const;
    StreamList::iterator addStream(StreamStatus stream);
    void removeStream(StreamList::iterator stream);
    void countFrame(StreamList::iterator stream, const FrameStamp& stamp);

    const SimConfig& m_config;
    const StopSignal& m_stop;
    const SimLogger& m_logger;
    const SimClock::time_point m_startTime;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::map<std::string, int, std::less<>> m_lastPtz;
    std::map<std::string, PtzMotion, std::less<>> m_motions;
    std::size_t m_framesSent = 0;
    std::map<std::string, ChannelFrames, std::less<>> m_channelFrames;
    StreamList m_streams;
};

}  // namespace krt::sim
