#pragma once

#include <QObject>
#include <QString>
#include <string_view>

#include "alarms/alarm_channel_owner.h"

class QSystemTrayIcon;
class QWidget;

namespace krt {

// The desktop's tray, where it has one: an icon whose tooltip tells the alarm channel's state
// and whose click brings the main window forward. Alerts reach the desktop as notifications
// (DesktopNotifier); the tray shows one only where no notification server took it.
class AlarmTrayIcon : public QObject {
    Q_OBJECT

  public:
    explicit AlarmTrayIcon(QWidget* window);

    bool available() const { return m_icon != nullptr; }
    // An alert no notification server took: a message with the server's texts, while the
    // window is not active.
    void notifyAlert(std::string_view alarmName, std::string_view channelId);
    // The alarm channel's state: in words in the tooltip, and a warning icon while the
    // channel is not subscribed.
    void showChannelState(const AlarmChannelStatus& status);

  private:
    void bringWindowForward();

    QWidget* m_window;
    QSystemTrayIcon* m_icon = nullptr;
};

}  // namespace krt
