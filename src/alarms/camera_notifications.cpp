#include "alarms/camera_notifications.h"

#include <algorithm>

#include "common/server_text.h"

namespace krt {

AlarmNotificationText alarmNotificationText(const AlarmEvent& event) {
    return {shownServerText(event.alarmName),
            "Camera " + shownServerText(event.channelId) + "\n" + shownServerText(event.timeText)};
}

std::optional<CameraNotifications::Id> CameraNotifications::beginSend(std::string_view channelId) {
    auto [camera, added] = m_cameras.try_emplace(std::string(channelId));
    Camera& state = camera->second;
    if (state.sending) {
        state.waiting = true;
        return std::nullopt;
    }
    state.sending = true;
    state.waiting = false;
    return state.shown;
}

bool CameraNotifications::sent(std::string_view channelId, Id id) {
    return finishSend(channelId, id);
}

bool CameraNotifications::failed(std::string_view channelId) {
    return finishSend(channelId, 0);
}

bool CameraNotifications::finishSend(std::string_view channelId, Id shown) {
    const auto camera = m_cameras.find(channelId);
    if (camera == m_cameras.end()) {
        return false;
    }
    camera->second.shown = shown;
    camera->second.sending = false;
    return camera->second.waiting;
}

std::optional<std::string> CameraNotifications::channelOf(Id id) const {
    if (id == 0) {
        return std::nullopt;
    }
    const auto camera = std::ranges::find_if(
        m_cameras, [id](const auto& entry) { return entry.second.shown == id; });
    if (camera == m_cameras.end()) {
        return std::nullopt;
    }
    return camera->first;
}

void CameraNotifications::closed(Id id) {
    for (auto& [channelId, camera] : m_cameras) {
        if (camera.shown == id) {
            camera.shown = 0;
        }
    }
}

bool CameraNotifications::isSending() const {
    return std::ranges::any_of(m_cameras, [](const auto& entry) { return entry.second.sending; });
}

}  // namespace krt
