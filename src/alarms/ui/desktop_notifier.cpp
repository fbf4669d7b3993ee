#include "alarms/ui/desktop_notifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>

#include "common/ui/qt_text.h"

namespace krt {

// The picture of the "image-data" hint, sent as (iiibiiay): width, height, bytes per row,
// alpha, bits per sample, channels, the pixels.
struct NotificationImage {
    QImage picture;  // RGB888
};

QDBusArgument& operator<<(QDBusArgument& argument, const NotificationImage& image) {
    const QImage& picture = image.picture;
    argument.beginStructure();
    argument << picture.width() << picture.height() << static_cast<int>(picture.bytesPerLine())
             << false << 8 << 3
             << QByteArray(reinterpret_cast<const char*>(picture.constBits()),
                           static_cast<qsizetype>(picture.sizeInBytes()));
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, NotificationImage& image) {
    int width = 0;
    int height = 0;
    int bytesPerLine = 0;
    bool alpha = false;
    int bitsPerSample = 0;
    int channels = 0;
    QByteArray pixels;
    argument.beginStructure();
    argument >> width >> height >> bytesPerLine >> alpha >> bitsPerSample >> channels >> pixels;
    argument.endStructure();
    if (channels == 3 && bitsPerSample == 8 && !alpha &&
        pixels.size() >= static_cast<qsizetype>(bytesPerLine) * height) {
        image.picture = QImage(reinterpret_cast<const uchar*>(pixels.constData()), width, height,
                               bytesPerLine, QImage::Format_RGB888)
                            .copy();
    }
    return argument;
}

}  // namespace krt

Q_DECLARE_METATYPE(krt::NotificationImage)

namespace krt {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// "default" is a click on the notification itself; the other key is its button.
const QString kDefaultAction = QStringLiteral("default");
const QString kShowVideoAction = QStringLiteral("show-video");
const QString kShowVideoText = QStringLiteral("Show Video");
// Large enough for the desktop to show the scene, small enough for the bus.
constexpr int kImageSide = 256;
constexpr int kServerDefaultTimeout = -1;

QImage notificationPicture(const QImage& snapshot) {
    if (snapshot.isNull()) {
        return {};
    }
    return snapshot.scaled(kImageSide, kImageSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB888);
}

}  // namespace

DesktopNotifier::DesktopNotifier(QWidget* window)
    : QObject(window), m_window(window), m_bus(QDBusConnection::sessionBus()) {
    qDBusRegisterMetaType<NotificationImage>();
    connectSignals();
}

void DesktopNotifier::setBus(const QDBusConnection& bus) {
    disconnectSignals();
    m_bus = bus;
    connectSignals();
}

void DesktopNotifier::connectSignals() {
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(handleActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(handleNotificationClosed(uint, uint)));
}

void DesktopNotifier::disconnectSignals() {
    m_bus.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                     SLOT(handleActionInvoked(uint, QString)));
    m_bus.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                     SLOT(handleNotificationClosed(uint, uint)));
}

void DesktopNotifier::notifyAlert(const AlarmEvent& event, const QImage& snapshot) {
    if (m_window->isActiveWindow()) {
        return;
    }
    Alert alert{event, notificationPicture(snapshot)};
    const std::string camera = cameraKey(event.camera());
    if (const std::optional<CameraNotifications::Id> replacesId = m_cameras.beginSend(camera)) {
        send(alert, *replacesId);
    } else {
        m_waiting.insert_or_assign(camera, std::move(alert));
    }
}

void DesktopNotifier::send(const Alert& alert, CameraNotifications::Id replacesId) {
    const AlarmNotificationText text = alarmNotificationText(alert.event);
    QVariantMap hints;
    if (!alert.image.isNull()) {
        hints.insert(QStringLiteral("image-data"),
                     QVariant::fromValue(NotificationImage{alert.image}));
    }
    const QString desktopEntry = QGuiApplication::desktopFileName();
    if (!desktopEntry.isEmpty()) {
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    }
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    // Servers read a subset of markup in the body: there the text is escaped.
    notify << QStringLiteral("KRT client") << static_cast<uint>(replacesId) << desktopEntry
           << qtText(text.summary) << qtText(text.body).toHtmlEscaped()
           << QStringList{kDefaultAction, kShowVideoText, kShowVideoAction, kShowVideoText} << hints
           << kServerDefaultTimeout;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(notify), this);
    connect(
        call, &QDBusPendingCallWatcher::finished, this,
        [this, alert](QDBusPendingCallWatcher* answered) { handleNotifyReply(answered, alert); });
}

void DesktopNotifier::handleNotifyReply(QDBusPendingCallWatcher* call, const Alert& alert) {
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    const std::string camera = cameraKey(alert.event.camera());
    const bool waiting =
        reply.isError() ? m_cameras.failed(camera) : m_cameras.sent(camera, reply.value());
    if (reply.isError()) {
        emit notificationFailed(alert.event);
    }
    if (waiting) {
        sendWaiting(camera);
    }
}

void DesktopNotifier::sendWaiting(const std::string& channelId) {
    const auto waiting = m_waiting.find(channelId);
    if (waiting == m_waiting.end()) {
        return;
    }
    const Alert alert = std::move(waiting->second);
    m_waiting.erase(waiting);
    if (const std::optional<CameraNotifications::Id> replacesId = m_cameras.beginSend(channelId)) {
        send(alert, *replacesId);
    }
}

void DesktopNotifier::handleActionInvoked(uint id, const QString& actionKey) {
    if (actionKey != kDefaultAction && actionKey != kShowVideoAction) {
        return;
    }
    const std::optional<std::string> camera = m_cameras.channelOf(id);
    if (!camera) {
        return;
    }
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
    const CameraRef shown = cameraOfKey(*camera);
    emit showVideoRequested(qtText(shown.server), qtText(shown.channel));
}

void DesktopNotifier::handleNotificationClosed(uint id, uint) {
    m_cameras.closed(id);
}

}  // namespace krt
