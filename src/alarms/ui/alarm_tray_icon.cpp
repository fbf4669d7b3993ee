#include "alarms/ui/alarm_tray_icon.h"

#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>

#include "alarms/alarm_status_text.h"
#include "common/ui/program_icon.h"
#include "common/ui/qt_text.h"

namespace krt {
namespace {

constexpr int kMessageShown_ms = 10'000;

}  // namespace

AlarmTrayIcon::AlarmTrayIcon(QWidget* window) : QObject(window), m_window(window) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    m_icon = new QSystemTrayIcon(programIcon(), this);
    m_icon->setToolTip(QStringLiteral("KRT client"));
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason) { bringWindowForward(); });
    connect(m_icon, &QSystemTrayIcon::messageClicked, this, &AlarmTrayIcon::bringWindowForward);
    m_icon->show();
}

void AlarmTrayIcon::notifyAlert(std::string_view alarmName, std::string_view channelId) {
    if (m_icon == nullptr || m_window->isActiveWindow()) {
        return;
    }
    m_icon->showMessage(qtServerText(alarmName),
                        QStringLiteral("Camera %1").arg(qtServerText(channelId)),
                        QSystemTrayIcon::Warning, kMessageShown_ms);
}

void AlarmTrayIcon::showChannelState(const AlarmChannelStatus& status) {
    if (m_icon == nullptr) {
        return;
    }
    const bool subscribed = status.state == AlarmChannelStatus::State::subscribed;
    m_icon->setIcon(subscribed ? programIcon()
                               : m_window->style()->standardIcon(QStyle::SP_MessageBoxWarning));
    m_icon->setToolTip(QStringLiteral("KRT client\n%1\n%2")
                           .arg(qtText(alarmStatusLine(status, AlarmChannelStatus::Clock::now())),
                                qtText(lastAlarmLine(status))));
}

void AlarmTrayIcon::bringWindowForward() {
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

}  // namespace krt
