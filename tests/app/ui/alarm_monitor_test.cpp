// The alarm monitor against krt-sim: an alarm of the server puts its camera live in a cell
// with the alarm's caption; Escape dismisses it and the cell waits again.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <set>

#include "alarms/ui/history_view.h"
#include "app/ui/alarm_monitor_window.h"
#include "app/ui/main_sheet.h"
#include "common/ui/ui_test_support.h"
#include "layouts/ui/layout_grid.h"
#include "sim/sim_test_support.h"
#include "support/logged_in_sim.h"
#include "tile/ui/video_window_container.h"

namespace krt {
namespace {

constexpr int kMonitorWait_ms = 10000;

class AlarmMonitor : public test::UiTest {};

TEST_F(AlarmMonitor, AnAlarmPutsItsCameraLiveInACellUntilDismissed) {
    test::LoggedInSim server;
    server.app.m_snapshotFolder = m_folder.path() / "EventImages";
    std::filesystem::create_directory(server.app.m_snapshotFolder);
    store("ShowAlerts", "false");
    MainSheet sheet(server.app);
    sheet.show();
    ASSERT_TRUE(server.sim.server().waitForSubscribers(1, std::chrono::seconds(10)));
    sheet.openAlarmMonitor();
    AlarmMonitorWindow* monitor = sheet.alarmMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->cellCaption(0), "Waiting for alarms");

    server.sim.server().pushAlarm("3", "Door Open");
    VideoWindowContainer* cell = monitor->grid()->tiles().at(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return cell->getChannelId() == "3"; }, kMonitorWait_ms));
    EXPECT_TRUE(monitor->cellCaption(0).startsWith("Door Open - 3 - "))
        << monitor->cellCaption(0).toStdString();
    EXPECT_EQ(monitor->cellCaption(1), "Waiting for alarms");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return server.sim.server().framesSent("3") > 0; }, kMonitorWait_ms));

    // The operator works in the window: the camera's next alarm pulses its cell instead.
    monitor->activateWindow();
    QTest::mouseClick(monitor->grid(), Qt::LeftButton, {}, QPoint(2, 2));
    server.sim.server().pushAlarm("3", "Door Open");
    EXPECT_TRUE(QTest::qWaitFor([&] { return monitor->isPulsing(0); }, kMonitorWait_ms));
    EXPECT_FALSE(monitor->isPulsing(1));

    QTest::keyClick(monitor->grid(), Qt::Key_Escape);
    EXPECT_EQ(cell->getChannelId(), "");
    EXPECT_EQ(monitor->cellCaption(0), "Waiting for alarms");

    // Closed by the operator: the status line says that alarms no longer reach it.
    monitor->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.alarmMonitor() == nullptr; }, kMonitorWait_ms));
    EXPECT_TRUE(sheet.alarmStatusLabel()->text().startsWith("The alarm monitor is closed"))
        << sheet.alarmStatusLabel()->text().toStdString();
    // Opened again, the notice goes; the sheet then ends with the monitor open.
    sheet.openAlarmMonitor();
    EXPECT_FALSE(sheet.alarmStatusLabel()->text().contains("alarm monitor"));
}

// A burst fills the cells once with the newest cameras; "+2 more" shows the rest in the
// History. The operator chose no alert for what the monitor shows.
TEST_F(AlarmMonitor, ABurstShowsTheNewestAndTheRestInTheHistory) {
    store("ShowAlerts", "true");
    store("MonitorHidesAlerts", "true");
    AppState app;
    app.m_journalFolder = m_folder.path() / "journal";
    for (const char* id : {"1", "2", "3", "4", "5", "6"}) {
        app.m_channels.emplace_back().ChannelID = id;
    }
    MainSheet sheet(app);
    sheet.show();
    sheet.openAlarmMonitor();
    AlarmMonitorWindow* monitor = sheet.alarmMonitor();
    for (const char* id : {"1", "2", "3", "4", "5", "6"}) {
        AlarmEvent alarm;
        alarm.alarmName = "Motion";
        alarm.channelId = id;
        alarm.receivedTime = WallClock::now();
        sheet.queueEventAlert(alarm, nullptr);
    }
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return monitor->moreButton()->isVisible(); }, kMonitorWait_ms));
    EXPECT_EQ(monitor->moreButton()->text(), "+2 more");
    std::set<std::string> shown;
    for (VideoWindowContainer* cell : monitor->grid()->tiles()) {
        shown.insert(cell->getChannelId());
    }
    EXPECT_EQ(shown, (std::set<std::string>{"3", "4", "5", "6"}));
    EXPECT_EQ(sheet.alertWindow(), nullptr);

    monitor->moreButton()->click();
    EXPECT_FALSE(monitor->moreButton()->isVisible());
    EXPECT_EQ(sheet.tabs()->currentWidget(), sheet.eventsPage());
    ASSERT_NE(sheet.eventsPage()->history(), nullptr);
    EXPECT_TRUE(sheet.eventsPage()->history()->fromBox()->isChecked());
}

}  // namespace
}  // namespace krt
