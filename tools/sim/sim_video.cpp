#include "sim_video.h"

#include <algorithm>

#include "frame_scene.h"
#include "protocol/packet_framing.h"
#include "protocol/xml_message.h"

namespace krt::sim {

SimVideo::SimVideo(const SimConfig& config, const StopSignal& stop, const SimLogger& logger)
    : m_config(config), m_stop(stop), m_logger(logger), m_startTime(SimClock::now()) {}

bool SimVideo::serveLiveVideo(SimConnection& connection, const ParsedRequest& request,
                              LiveResolution resolution, std::string& outcome) {
    const std::string channelId = request.param();
    const SimChannel* channel = m_config.findChannel(channelId);
    if (channel == nullptr) {
        outcome = "channel " + channelId + ": unknown";
        connection.sendFrame(statusReply(-1, "Unknown channel"));
        return false;
    }
    if (!connection.sendFrame(statusReply(1, std::string(kLiveVideoAccepted)))) {
        return false;
    }
    m_logger.line(connection.peer(), request.id + " channel " + channelId + " -> streaming");
    const StreamList::iterator stream = addStream({channelId, connection.peer(), resolution, 0, 0});
    streamFrames(connection, *channel, resolution, stream);
    removeStream(stream);
    outcome = "channel " + channelId + ": stream ended";
    return false;
}

void SimVideo::streamFrames(SimConnection& connection, const SimChannel& channel,
                            LiveResolution resolution, StreamList::iterator stream) {
    const int divisor = resolution == LiveResolution::Low ? m_config.lowResolutionDivisor
                                                          : m_config.mediumResolutionDivisor;
    const int width = std::max(16, channel.width / divisor);
    const int height = std::max(16, channel.height / divisor);
    const auto period = channel.frameRate > 0
                            ? std::chrono::duration_cast<SimClock::duration>(
                                  std::chrono::duration<double>(1.0 / channel.frameRate))
                            : SimClock::duration::zero();
    FrameRenderer renderer(m_config.jpegQuality, kMaxPayloadLength - kMaxFrameStampBytes);
    SimClock::time_point next = SimClock::now();
    for (long long frame = 1;; ++frame) {
        std::string jpeg = renderFrame(renderer, channel, width, height, frame, {});
        const FrameStamp stamp{frame, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count()};
        stampJpeg(jpeg, stamp);
        if (!connection.sendFrame(jpeg)) {
            return;
        }
        countFrame(stream, stamp);
        if (m_stop.raised()) {
            return;
        }
        if (period > SimClock::duration::zero()) {
            // A viewer that fell behind starts afresh instead of getting a burst.
            next = std::max(next + period, SimClock::now() - period);
            if (!m_stop.waitUntil(next)) {
                return;
            }
        }
    }
}

SimVideo::StreamList::iterator SimVideo::addStream(StreamStatus stream) {
    std::lock_guard lock(m_mutex);
    return m_streams.insert(m_streams.end(), std::move(stream));
}

void SimVideo::removeStream(StreamList::iterator stream) {
    std::lock_guard lock(m_mutex);
    m_streams.erase(stream);
}

void SimVideo::countFrame(StreamList::iterator stream, const FrameStamp& stamp) {
    std::lock_guard lock(m_mutex);
    ++m_framesSent;
    stream->lastFrameNumber = stamp.frameNumber;
    stream->lastSentMs = stamp.sentMs;
    ChannelFrames& channel = m_channelFrames[stream->channelId];
    ++channel.sent;
    channel.lastFrameNumber = stamp.frameNumber;
    m_changed.notify_all();
}

void SimVideo::applyPtz(const ParsedRequest& request, std::string& outcome) {
    const std::string channelId = request.field("kmChannelID");
    const int code = parseLeadingInt(request.field("kmPTZCommand"));
    const SimChannel* channel = m_config.findChannel(channelId);
    outcome = "channel " + channelId + " code " + std::to_string(code);
    std::lock_guard lock(m_mutex);
    m_lastPtz[channelId] = code;
    if (channel == nullptr || !channel->ptzEnabled()) {
        outcome += ": ignored, no PTZ";
    } else if (!m_motions[channelId].apply(code, SimClock::now())) {
        outcome += ": ignored, unknown code";
    }
    m_changed.notify_all();
}

PtzView SimVideo::currentView(const std::string& channelId) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_motions.find(channelId);
    return found == m_motions.end() ? PtzView{} : found->second.viewAt(SimClock::now());
}

std::string SimVideo::renderFrame(FrameRenderer& renderer, const SimChannel& channel, int width,
                                  int height, long long frameNumber,
                                  const std::optional<std::string>& banner) const {
    SceneInput input;
    input.channelId = channel.id;
    input.description = channel.description;
    input.width = width;
    input.height = height;
    input.frameNumber = frameNumber;
    input.seconds = std::chrono::duration<double>(SimClock::now() - m_startTime).count();
    input.view = currentView(channel.id);
    input.showPtz = channel.ptzEnabled();
    input.clockText = clockText();
    input.banner = banner;
    input.detail = m_config.pictureDetail;
    return renderer.render(buildScene(input));
}

std::string SimVideo::renderSnapshot(const SimChannel& channel, const std::string& banner) const {
    FrameRenderer renderer(m_config.jpegQuality);
    const int divisor = m_config.mediumResolutionDivisor;
    std::string jpeg = renderFrame(renderer, channel, std::max(16, channel.width / divisor),
                                   std::max(16, channel.height / divisor), 0, banner);
    padJpeg(jpeg, m_config.alarmImageMinBytes);
    return jpeg;
}

std::optional<int> SimVideo::lastPtzCommand(std::string_view channelId) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_lastPtz.find(channelId);
    return found == m_lastPtz.end() ? std::nullopt : std::optional<int>(found->second);
}

std::optional<PtzView> SimVideo::ptzView(std::string_view channelId) const {
    const SimChannel* channel = m_config.findChannel(channelId);
    if (channel == nullptr || !channel->ptzEnabled()) {
        return std::nullopt;
    }
    return currentView(channel->id);
}

std::size_t SimVideo::framesSent() const {
    std::lock_guard lock(m_mutex);
    return m_framesSent;
}

bool SimVideo::waitForPtzCommand(std::string_view channelId, int code,
                                 std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        const auto found = m_lastPtz.find(channelId);
        return found != m_lastPtz.end() && found->second == code;
    });
}

std::size_t SimVideo::framesSent(std::string_view channelId) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_channelFrames.find(channelId);
    return found == m_channelFrames.end() ? 0 : found->second.sent;
}

std::optional<long long> SimVideo::lastFrameNumber(std::string_view channelId) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_channelFrames.find(channelId);
    return found == m_channelFrames.end() ? std::nullopt
                                          : std::optional(found->second.lastFrameNumber);
}

std::vector<StreamStatus> SimVideo::liveStreams() const {
    std::lock_guard lock(m_mutex);
    return {m_streams.begin(), m_streams.end()};
}

bool SimVideo::waitForFrames(std::string_view channelId, std::size_t count,
                             std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        const auto found = m_channelFrames.find(channelId);
        return found != m_channelFrames.end() && found->second.sent >= count;
    });
}

}  // namespace krt::sim
