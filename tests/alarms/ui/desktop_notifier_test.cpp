#include "alarms/ui/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <chrono>
#include <memory>
#include <optional>

#include "alarms/ui/event_alert_dialog.h"
#include "alarms/ui/events_page.h"
#include "app/ui/main_sheet.h"
#include "common/ui/private_session.h"
#include "common/ui/qt_text.h"
#include "common/ui/ui_test_support.h"
#include "sim/sim_test_support.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using sim::test::RunningSim;

constexpr int kWait_ms = 10'000;
constexpr std::string_view kTimestamp = "20131125103000123";  // 25 November 2013, 10:30:00

// The main sheet against krt-sim, with a real notification server (dunst, on an X server of
// the test's own) on a private session bus, and another window active.
class DesktopNotifications : public test::UiTest {
  protected:
    void SetUp() override {
        if (const std::string missing = test::missingProgram({"dbus-daemon", "Xvfb", "dunst"});
            !missing.empty()) {
            GTEST_SKIP() << missing << " is not installed (scripts/setup installs it)";
        }
        m_bus.emplace(m_folder.path());
        m_display.emplace("Xvfb", std::vector<std::string>{"-displayfd", "1", "-nolisten", "tcp"},
                          m_bus->environment());
        m_server.emplace("dunst", std::vector<std::string>{"-conf", "/dev/null"},
                         m_bus->environment({{"DISPLAY", ':' + m_display->firstLine()}}));
        ASSERT_TRUE(m_bus->waitForService("org.freedesktop.Notifications"));

        m_app.m_serverAddress = m_sim.address();
        for (const char* id : {"1", "2", "3", "Lobby"}) {
            m_app.m_channels.push_back({});
            m_app.m_channels.back().ChannelID = id;
        }
        store("ShowAlerts", "true");
        m_sheet = std::make_unique<MainSheet>(m_app);
        m_sheet->desktopNotifier()->setBus(m_bus->connection());
        m_sheet->setAlarmVideoHook(
            [this](const AppState&, int index) { m_shownChannels.push_back(index); });
        m_sheet->show();
        ASSERT_TRUE(m_sim.server().waitForSubscribers(1, 10s));
        m_elsewhere.show();
        m_elsewhere.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_elsewhere));
    }

    // Pushes an alarm and waits until the sheet has handed it on: its alert shows it, and the
    // notification server has answered.
    void pushAlarm(std::string_view name, std::string_view channelId) {
        ASSERT_EQ(m_sim.server().pushAlarmMessage(
                      {std::string(kTimestamp), std::string(name), std::string(channelId)}),
                  1u);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const EventAlertDialog* alert = m_sheet->alertWindow();
                return alert != nullptr && alert->typeText()->text() == qtServerText(name) &&
                       alert->sourceText()->text() == qtServerText(channelId) &&
                       !m_sheet->desktopNotifier()->isSending();
            },
            kWait_ms));
    }
    // A call of the server: dunst's own interface tells what it shows.
    QDBusMessage callServer(
        const QString& method, const QVariantList& arguments = {},
        const QString& interface = QStringLiteral("org.dunstproject.cmd0")) const {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"), interface, method);
        call.setArguments(arguments);
        return m_bus->connection().call(call);
    }
    uint displayed() const {
        const QDBusMessage reply =
            callServer(QStringLiteral("Get"),
                       {QStringLiteral("org.dunstproject.cmd0"), QStringLiteral("displayedLength")},
                       QStringLiteral("org.freedesktop.DBus.Properties"));
        return reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
    }

    std::optional<test::PrivateBus> m_bus;
    std::optional<test::SessionProgram> m_display;
    std::optional<test::SessionProgram> m_server;
    RunningSim m_sim;
    AppState m_app;
    std::unique_ptr<MainSheet> m_sheet;
    QWidget m_elsewhere;
    std::vector<int> m_shownChannels;
};

TEST_F(DesktopNotifications, OneForEachCameraWhileTheWindowIsInactiveAndShowVideoLeadsBack) {
    pushAlarm("Motion", "3");
    EXPECT_TRUE(QTest::qWaitFor([&] { return displayed() == 1; }, kWait_ms));
    pushAlarm("Intrusion <b>\u202E", "3");  // replaces the camera's notification
    pushAlarm("Motion", "Gate & <Yard>");
    EXPECT_TRUE(QTest::qWaitFor([&] { return displayed() == 2; }, kWait_ms));

    // What the server received, as it keeps it once closed: server text shown as it reads,
    // and escaped in the body.
    callServer("NotificationCloseAll");
    const QDBusMessage history = callServer("NotificationListHistory");
    QStringList received;
    for (const QVariantMap& fields : qdbus_cast<QList<QVariantMap>>(history.arguments().value(0))) {
        received << QStringList{fields.value("appname").toString(),
                                fields.value("summary").toString(), fields.value("body").toString(),
                                fields.value("default_action_name").toString()}
                        .join('|');
    }
    received.sort();
    EXPECT_EQ(
        received,
        (QStringList{
            "KRT client|Intrusion <b>\u27E8U+202E\u27E9|Camera 3\n25-Nov-2013::10:30:00|default",
            "KRT client|Motion|Camera Gate &amp; &lt;Yard&gt;\n"
            "25-Nov-2013::10:30:00|default"}));

    pushAlarm("Motion", "Lobby");
    ASSERT_TRUE(QTest::qWaitFor([&] { return displayed() == 1; }, kWait_ms));
    callServer("NotificationAction", {QVariant::fromValue(0u)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_shownChannels.empty(); }, kWait_ms));
    EXPECT_EQ(m_shownChannels, std::vector<int>{3});
    EXPECT_EQ(m_sheet->tabs()->currentWidget(), static_cast<QWidget*>(m_sheet->liveView()));
    EXPECT_FALSE(m_sheet->alertWindow()->isVisible());  // the camera's alert is answered
    EXPECT_TRUE(QTest::qWaitForWindowActive(m_sheet.get()));

    // In front, the window shows its alerts itself.
    callServer("NotificationCloseAll");
    pushAlarm("Motion", "1");
    EXPECT_EQ(displayed(), 0u);
}

}  // namespace
}  // namespace krt
