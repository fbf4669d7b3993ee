#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "alarms/alarm_event.h"

namespace krt {

// The desktop notification of an alarm: the alarm's name over its camera and time, each the
// server's text as it is shown (shownServerText), on a line of its own.
struct AlarmNotificationText {
    std::string summary;
    std::string body;
};
AlarmNotificationText alarmNotificationText(const AlarmEvent& event);

// One desktop notification per camera: the next alarm of a camera replaces the notification
// its last one opened, rather than piling up beside it. The notification server names each
// notification by an id; the ids lead back to the camera for "Show Video".
//
// A camera's alarm goes out only once the server has answered for its previous one (before
// that there is no id to replace): an alarm that comes meanwhile waits, and a newer one takes
// its place.
class CameraNotifications {
  public:
    using Id = std::uint32_t;

    // Whether this camera's alarm may go out now: the id it replaces (0 for a new
    // notification), or nothing while the camera's previous one is on its way (the alarm
    // then waits).
    std::optional<Id> beginSend(std::string_view channelId);
    // The server has shown the camera's notification under `id`. True when an alarm of the
    // camera waits to go out next.
    bool sent(std::string_view channelId, Id id);
    // No server took it: the camera's next alarm opens a new notification. True when an
    // alarm of the camera waits.
    bool failed(std::string_view channelId);
    // The camera whose notification has this id, while it is shown.
    std::optional<std::string> channelOf(Id id) const;
    // The server closed it; the camera's next alarm opens a new one.
    void closed(Id id);
    // Whether any camera's notification is on its way to the server.
    bool isSending() const;

  private:
    struct Camera {
        Id shown = 0;
        bool sending = false;
        bool waiting = false;
    };

    bool finishSend(std::string_view channelId, Id shown);

    std::map<std::string, Camera, std::less<>> m_cameras;
};

}  // namespace krt
