#include "alarms/ui/alarm_tray_icon.h"

#include <QSystemTrayIcon>
#include <QWidget>

#include "common/ui/program_icon.h"

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

void AlarmTrayIcon::notifyAlert(const QString& alarmName, const QString& channelId) {
    if (m_icon == nullptr || m_window->isActiveWindow()) {
        return;
    }
    m_icon->showMessage(alarmName, QStringLiteral("Camera %1").arg(channelId),
                        QSystemTrayIcon::Warning, kMessageShown_ms);
}

void AlarmTrayIcon::showChannelState(const QString& state) {
    if (m_icon != nullptr) {
        m_icon->setToolTip(QStringLiteral("KRT client \u2013 alarms: %1").arg(state));
    }
}

void AlarmTrayIcon::bringWindowForward() {
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

}  // namespace krt
