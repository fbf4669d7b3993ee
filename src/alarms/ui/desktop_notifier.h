#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QString>
#include <map>
#include <string>

#include "alarms/alarm_event.h"
#include "alarms/camera_notifications.h"

class QDBusPendingCallWatcher;
class QWidget;

namespace krt {

// Alarms on the desktop's notification server (org.freedesktop.Notifications on the session
// bus), which every desktop has whether or not it has a tray: while the window is not the
// active one, each alert becomes a notification with the alarm's name, camera and time, the
// snapshot as its image and the action "Show Video". A camera's next alarm replaces its
// notification.
class DesktopNotifier : public QObject {
    Q_OBJECT

  public:
    explicit DesktopNotifier(QWidget* window);

    // The session bus unless replaced (tests run a bus of their own).
    void setBus(const QDBusConnection& bus);
    // An alert: a notification while the window is not active, otherwise nothing.
    void notifyAlert(const AlarmEvent& event, const QImage& snapshot);
    // Whether a notification is on its way to the server.
    bool isSending() const { return m_cameras.isSending(); }

  signals:
    // "Show Video" on a camera's notification; the window has been brought forward.
    void showVideoRequested(const QString& server, const QString& channelId);
    // No notification server took the alert.
    void notificationFailed(const AlarmEvent& event);

  private slots:
    void handleActionInvoked(uint id, const QString& actionKey);
    void handleNotificationClosed(uint id, uint reason);

  private:
    struct Alert {
        AlarmEvent event;
        QImage image;
    };

    void send(const Alert& alert, CameraNotifications::Id replacesId);
    void handleNotifyReply(QDBusPendingCallWatcher* call, const Alert& alert);
    void sendWaiting(const std::string& channelId);
    void connectSignals();
    void disconnectSignals();

    QWidget* m_window;
    QDBusConnection m_bus;
    CameraNotifications m_cameras;
    std::map<std::string, Alert, std::less<>> m_waiting;  // by camera
};

}  // namespace krt
