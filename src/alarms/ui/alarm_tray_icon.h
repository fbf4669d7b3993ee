#pragma once

#include <QObject>
#include <QString>
#include <string_view>

#include "alarms/alarm_channel_owner.h"

class QSystemTrayIcon;
class QWidget;

namespace krt {

// The desktop's notification area for alarms. Where the desktop has a tray: an icon whose
// tooltip tells the alarm channel's state and whose click brings the main window forward,
// and a message for each alert that comes while the main window is not the active one.
// Where there is none, nothing is shown and alerts stay in the window.
class AlarmTrayIcon : public QObject {
    Q_OBJECT

  public:
    explicit AlarmTrayIcon(QWidget* window);

    bool available() const { return m_icon != nullptr; }
    // Called for every alert shown, with the server's texts; a message goes out only while the
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
