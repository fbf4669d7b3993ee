// Three servers in one session, each a krt-sim of its own: the first as the login dialog leaves
// it, "Site B" that logs in beside it, and "Site C" whose login never gets an answer. Site C's
// trouble delays nothing of the others, every camera and alarm names its server, and the
// session ends at once although Site C still holds its login.
#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QTest>
#include <fstream>
#include <set>

#include "alarms/ui/events_page.h"
#include "alarms/ui/history_view.h"
#include "app/ui/main_sheet.h"
#include "common/ui/settings_store.h"
#include "common/ui/ui_test_support.h"
#include "journal/ui/history_model.h"
#include "layouts/layouts_file.h"
#include "layouts/ui/camera_list.h"
#include "layouts/ui/layout_grid.h"
#include "login/ui/saved_servers.h"
#include "login/ui/server_sessions.h"
#include "settings/ui/servers_box.h"
#include "settings/ui/settings_page.h"
#include "sim/sim_test_support.h"
#include "support/logged_in_sim.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/live_view.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

using sim::test::RunningSim;
using namespace std::chrono_literals;

constexpr int kServersWait_ms = 10000;

sim::SimConfig stalledLogin() {
    sim::SimConfig config = RunningSim::quietDefault();
    sim::FaultMode stall;
    stall.kind = sim::FaultKind::Stall;
    stall.request = "validateuser";
    config.faults.push_back(stall);
    return config;
}

class SeveralServers : public test::UiTest {
  protected:
    SeveralServers() : m_siteC(stalledLogin()) {
        m_first.app.m_snapshotFolder = m_folder.path() / "EventImages";
        std::filesystem::create_directory(m_first.app.m_snapshotFolder);
        m_first.app.m_journalFolder = m_folder.path() / "journal";
        // Without a secret store the list file keeps the passwords.
        std::ofstream(savedServersPath())
            << R"({"format": "krt-servers", "version": 1, "servers": [)"
            << R"({"name": "Site B", "address": ")" << m_siteB.address()
            << R"(", "port": 5500, "user": "demo", "rememberLogin": true, "password": "demo"},)"
            << R"({"name": "Site C", "address": ")" << m_siteC.address()
            << R"(", "port": 5500, "user": "demo", "rememberLogin": true, "password": "demo"}]})";
    }

    // As the login leaves it: the list read, the sheet up, the other servers logging in.
    void openSession() {
        m_saved = std::make_unique<SavedServers>(savedServersPath(), nullptr);
        m_servers = std::make_unique<ServerSessions>(m_first.app, *m_saved);
        m_sheet = std::make_unique<MainSheet>(m_first.app);
        m_sheet->attachServers(*m_servers);
        m_sheet->show();
        m_servers->start(*m_saved);
    }

    QString statusLine() const { return m_sheet->alarmStatusLabel()->text(); }

    test::LoggedInSim m_first;
    RunningSim m_siteB;
    RunningSim m_siteC;
    std::unique_ptr<SavedServers> m_saved;
    std::unique_ptr<ServerSessions> m_servers;
    std::unique_ptr<MainSheet> m_sheet;
};

TEST_F(SeveralServers, AStalledServerDelaysNoOtherAndEveryCameraAndAlarmNamesItsServer) {
    openSession();

    // Site B logs in and subscribes while Site C's login waits for an answer that never comes.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return m_first.sim.server().subscriberCount() == 1 &&
                   m_siteB.server().subscriberCount() == 1 &&
                   statusLine().contains("Site B: connected");
        },
        kServersWait_ms))
        << statusLine().toStdString();
    EXPECT_TRUE(statusLine().contains("Site C: logging in")) << statusLine().toStdString();
    EXPECT_EQ(m_siteC.server().requestCount("validateuser"), 1U);

    // The camera list: each server under its name, Site C's without cameras yet.
    const QListWidget* cameras = m_sheet->liveView()->cameraList()->list();
    std::vector<QString> headings;
    for (int row = 0; row < cameras->count(); ++row) {
        if (!cameras->item(row)->flags().testFlag(Qt::ItemIsSelectable)) {
            headings.push_back(cameras->item(row)->text());
        }
    }
    EXPECT_EQ(headings, (std::vector<QString>{QString::fromStdString(m_first.sim.address()),
                                              "Site B", "Site C (not connected)"}));
    EXPECT_EQ(cameras->count(), 3 + 2 * static_cast<int>(m_first.app.m_channels.size()));

    // Both servers have a camera "2" and send an alarm of it in the same second: two rows, each
    // naming its server, and both in the list of the newest.
    m_first.sim.server().pushAlarm("2", "Door Open");
    m_siteB.server().pushAlarm("2", "Door Open");
    HistoryView* history = m_sheet->eventsPage()->history();
    ASSERT_NE(history, nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return history->model()->rowCount() == 2; }, kServersWait_ms));
    std::set<std::string> sites;
    for (int row = 0; row < 2; ++row) {
        sites.insert(history->model()->row(row)->site);
        EXPECT_EQ(history->model()->row(row)->channelId, "2");
    }
    EXPECT_EQ(sites, (std::set<std::string>{"", "Site B"}));
    std::set<std::string> listed;
    std::set<std::filesystem::path> snapshots;
    const EventRing newest = m_sheet->eventsPage()->ring();
    for (const AlarmEvent& event : newest.events()) {
        listed.insert(event.site);
        snapshots.insert(event.imagePath);
    }
    EXPECT_EQ(listed, (std::set<std::string>{"", "Site B"}));
    EXPECT_EQ(snapshots.size(), 2U) << "each server's snapshot has a file of its own";

    // Show Video of Site B's alarm: Site B's camera "2", from Site B.
    m_sheet->showAlarmVideo({.server = "Site B", .channel = "2"});
    VideoPage* page = m_sheet->liveView()->videoPage();
    EXPECT_EQ(page->server().m_serverName, "Site B");
    EXPECT_EQ(page->tiles()[0]->getChannelId(), "2");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return m_siteB.server().framesSent("2") > 0; }, kServersWait_ms));
    EXPECT_TRUE(statusLine().contains("Site C: logging in")) << statusLine().toStdString();
    // Site B goes down: the line says so, and the first server's alarms still come.
    m_siteB.server().stop();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return statusLine().contains(QRegularExpression(
                QStringLiteral("Site B: [^\u2022]+ since \\d\\d:\\d\\d \u2014 retrying")));
        },
        kServersWait_ms))
        << statusLine().toStdString();
    m_first.sim.server().pushAlarm("3", "Motion");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return history->model()->rowCount() >= 3; }, kServersWait_ms));

    // A server added on the Settings page joins at once.
    RunningSim siteD;
    ASSERT_FALSE(m_sheet->settingsPage()->serversBox()->servers()->add(
        {"Site D", siteD.address(), kServerPort, "demo", true, {}}, QStringLiteral("demo")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return siteD.server().subscriberCount() == 1 &&
                   statusLine().contains("Site D: connected");
        },
        kServersWait_ms))
        << statusLine().toStdString();
    EXPECT_NE(m_first.app.camera({.server = "Site D", .channel = "9"}), nullptr);
    m_sheet.reset();  // before Site D's server goes
}

// A damaged list file: the session says so on its status line, and the first server works.
TEST_F(SeveralServers, ADamagedListIsToldAndTheFirstServerStillWorks) {
    std::ofstream(savedServersPath(), std::ios::trunc) << "{\"format\": \"krt-servers\", \"vers";
    openSession();
    EXPECT_TRUE(m_servers->shown().empty());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return m_first.sim.server().subscriberCount() == 1 &&
                   statusLine().contains("Alarms: connected");
        },
        kServersWait_ms))
        << statusLine().toStdString();
    EXPECT_TRUE(statusLine().startsWith("The server list ")) << statusLine().toStdString();
    EXPECT_TRUE(statusLine().contains("is kept as")) << statusLine().toStdString();
}

// A layout of the three servers' cameras, shown before the others log in: Site B's cell joins
// the first pictures when Site B logs in, still timed from the show; Site C's cell waits for
// its server and is not awaited.
TEST_F(SeveralServers, ACellFilledByALaterLoginJoinsTheFirstPicturesTimedFromTheShow) {
    LayoutBook book;
    ASSERT_FALSE(book.addLayout("Sites", "2x2"));
    book.placeCamera("Sites", 0, {.server = {}, .channel = "1"});
    book.placeCamera("Sites", 1, {.server = "Site B", .channel = "2"});
    book.placeCamera("Sites", 2, {.server = "Site C", .channel = "3"});
    ASSERT_FALSE(writeLayoutsFile(
        std::filesystem::path(settingsFilePath()).replace_extension(".layouts.json"), book));
    m_saved = std::make_unique<SavedServers>(savedServersPath(), nullptr);
    m_servers = std::make_unique<ServerSessions>(m_first.app, *m_saved);
    m_sheet = std::make_unique<MainSheet>(m_first.app);
    m_sheet->attachServers(*m_servers);
    m_sheet->show();
    const LayoutGrid* grid = m_sheet->liveView()->layoutGrid();
    ASSERT_TRUE(m_sheet->liveView()->showLayout("Sites"));
    QElapsedTimer sinceShown;
    sinceShown.start();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return grid->firstPictures_ms().has_value(); }, kServersWait_ms));
    // Twice what Site B takes here from its login to its cell's picture, so that a count from
    // its login would come out shorter than the wait.
    QTest::qWait(2000);
    const qint64 waited = sinceShown.elapsed();
    m_servers->start(*m_saved);

    // Site B's stream starts only once its login filled the cell, which restarted the watch.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return m_siteB.server().framesSent("2") > 0 && grid->firstPictures_ms().has_value();
        },
        kServersWait_ms));
    EXPECT_GE(*grid->firstPictures_ms(), waited);
    EXPECT_EQ(grid->tiles()[1]->getChannelId(), "2");
    EXPECT_TRUE(grid->tiles()[2]->getChannelId().empty());
    EXPECT_TRUE(grid->cellNote(2)->text().endsWith(QStringLiteral("waiting for the server")));
}

}  // namespace
}  // namespace krt
