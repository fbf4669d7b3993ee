#include "tile/tile_status.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "common/local_time.h"

namespace krt {
namespace {

// How the reconnecting goes, in one line; empty while nothing is to be said.
std::string reconnectLine(const ReconnectState& reconnect, std::int64_t now_ms, bool stale) {
    const std::string attempt = "(attempt " + std::to_string(reconnect.attempt) + ")";
    if (reconnect.attempt > 0 && reconnect.nextAttempt_ms && !reconnect.connecting) {
        const std::int64_t left_ms = *reconnect.nextAttempt_ms - now_ms;
        if (left_ms > 0) {
            return "Reconnecting in " + std::to_string((left_ms + 999) / 1000) + " s " + attempt;
        }
    }
    if (reconnect.attempt > 0) {
        return "Reconnecting " + attempt + "...";
    }
    // The stream is open but silent: the watchdog reconnects it.
    return stale ? "Reconnecting after " + std::to_string(kWatchdogSilence_s) + " s without video"
                 : std::string();
}

std::string joinedLines(const std::string& first, const std::string& second) {
    return first.empty() || second.empty() ? first + second : first + "\n" + second;
}

}  // namespace

std::string noVideoSinceText(std::int64_t lastFrameCalendar_s) {
    return "No video since " +
           formatLocalTime(std::chrono::sys_seconds(std::chrono::seconds(lastFrameCalendar_s)),
                           "%H:%M:%S");
}

std::int64_t staleAfter_ms(std::optional<std::int64_t> frameInterval_ms) {
    return std::max(kStaleAfter_ms, kStaleFrameIntervals * frameInterval_ms.value_or(0));
}

bool pictureIsStale(std::int64_t now_ms, std::int64_t lastFrame_ms,
                    std::optional<std::int64_t> frameInterval_ms) {
    return now_ms - lastFrame_ms >= staleAfter_ms(frameInterval_ms);
}

void FrameIntervals::frameArrived(std::int64_t now_ms) {
    if (m_previous_ms) {
        m_intervals[m_next] = now_ms - *m_previous_ms;
        m_next = (m_next + 1) % kKept;
        m_kept = std::min(m_kept + 1, kKept);
    }
    m_previous_ms = now_ms;
}

void FrameIntervals::restart() {
    m_kept = 0;
    m_next = 0;
    m_previous_ms.reset();
}

std::optional<std::int64_t> FrameIntervals::typical_ms() const {
    if (m_kept == 0) {
        return std::nullopt;
    }
    std::array<std::int64_t, kKept> sorted = m_intervals;
    const auto end = sorted.begin() + static_cast<std::ptrdiff_t>(m_kept);
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(m_kept / 2);
    std::nth_element(sorted.begin(), middle, end);
    return *middle;
}

TileStatus tileStatus(const TileStatusInput& input) {
    if (!input.hasChannel || input.state == VideoState::VideoIdle) {
        return {};
    }
    TileStatus status;
    std::string headline;
    if (!input.lastFrame_ms) {
        status.mark = TileMark::Connecting;
        headline = "Connecting...";
    } else if (pictureIsStale(input.now_ms, *input.lastFrame_ms, input.frameInterval_ms)) {
        status.mark = TileMark::NoVideo;
        status.stale = true;
        headline = noVideoSinceText(input.lastFrameCalendar_s);
        status.caption = headline;
    } else {
        status.mark = TileMark::Playing;
        headline = "Playing";
        if (input.frameInterval_ms && *input.frameInterval_ms > 0) {
            headline +=
                " at " +
                std::to_string((1000 + *input.frameInterval_ms / 2) / *input.frameInterval_ms) +
                " fps";
        }
    }
    const std::string reconnecting = reconnectLine(input.reconnect, input.now_ms, status.stale);
    status.caption = joinedLines(status.caption, reconnecting);
    status.toolTip = joinedLines(headline, reconnecting);
    if (input.reconnect.lastLoss) {
        status.toolTip += "\nLast loss: " + std::string(streamLossText(*input.reconnect.lastLoss));
    }
    status.toolTip += "\nReconnects by the watchdog: " + std::to_string(input.watchdogReconnects);
    return status;
}

}  // namespace krt
