#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSoundEffect>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "alarms/ui/event_alert_dialog.h"
#include "alarms/ui/event_list.h"
#include "alarms/ui/events_page.h"
#include "alarms/ui/history_view.h"
#include "alarms/ui/snapshot_actions.h"
#include "alarms/ui/snapshot_store.h"
#include "app/ui/main_sheet.h"
#include "common/ui/ui_test_support.h"
#include "journal/ui/history_model.h"
#include "media/snapshot_picture.h"
#include "settings/ui/settings_page.h"
#include "sim/sim_test_support.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using sim::test::RunningSim;

constexpr int kWait_ms = 10'000;
// 25 November 2013, 10:30:00.123.
constexpr std::string_view kTimestamp = "20131125103000123";

// The main sheet on a logged-in application state, against krt-sim on its own address.
class EventAlert : public test::UiTest {
  protected:
    explicit EventAlert(sim::SimConfig config = RunningSim::quietDefault())
        : m_sim(std::move(config)) {
        m_app.m_serverAddress = m_sim.address();
        m_app.m_snapshotFolder = m_folder.path() / "EventImages";
        std::filesystem::create_directory(m_app.m_snapshotFolder);
        for (const char* id : {"1", "2", "3", "Lobby"}) {
            VideoChannel channel;
            channel.ChannelID = id;
            m_app.m_channels.push_back(channel);
        }
    }

    // Opens the sheet with the stored switches, on the Alarms tab.
    void openSheet(const char* showAlerts, const char* playSound) {
        store("ShowAlerts", showAlerts);
        store("PlaySound", playSound);
        m_sheet = std::make_unique<MainSheet>(m_app);
        m_sheet->setAlarmVideoHook(
            [this](const AppState&, int index) { m_shownChannels.push_back(index); });
        m_sheet->show();
        m_sheet->tabs()->setCurrentWidget(m_sheet->eventsPage());
    }
    void openSubscribedSheet(const char* showAlerts, const char* playSound) {
        openSheet(showAlerts, playSound);
        ASSERT_TRUE(m_sim.server().waitForSubscribers(1, 10s));
    }

    // Pushes an alarm and waits until the list has been repainted with it: by then any alert
    // it queued has been shown, since the alert's timer is far shorter than the list's.
    void pushAndWaitForTheList(std::string_view name, std::string_view channelId) {
        EventList* list = m_sheet->eventsPage()->eventList();
        ASSERT_NE(list, nullptr);
        QSignalSpy repainted(list->refreshTimer(), &QTimer::timeout);
        const std::size_t before = m_sheet->eventsPage()->ring().events().size();
        ASSERT_EQ(m_sim.server().pushAlarmMessage(
                      {std::string(kTimestamp), std::string(name), std::string(channelId)}),
                  1u);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return m_sheet->eventsPage()->ring().events().size() > before; }, kWait_ms));
        ASSERT_TRUE(repainted.wait(kWait_ms));
    }

    // Pushes an alarm and waits until it is the newest kept event and its snapshot is decoded.
    void pushAndWaitForItsSnapshot(const std::string& timestamp, const std::string& name) {
        ASSERT_EQ(m_sim.server().pushAlarmMessage({timestamp, name, "1"}), 1u);
        EventsPage* page = m_sheet->eventsPage();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const EventRing ring = page->ring();
                if (ring.events().empty()) {
                    return false;
                }
                const AlarmEvent& newest = ring.events()[ring.newestPos()];
                return newest.alarmName == name && page->snapshots().find(newest.imagePath);
            },
            kWait_ms));
    }

    bool alertShown() const {
        return m_sheet->alertWindow() != nullptr && m_sheet->alertWindow()->isVisible();
    }
    bool soundPlaying() const { return m_sheet->alertSound()->isPlaying(); }

    RunningSim m_sim;
    AppState m_app;
    std::unique_ptr<MainSheet> m_sheet;
    std::vector<int> m_shownChannels;
};

TEST_F(EventAlert, AnAlarmFromTheServerIsListedAndPopsTheAlertWithItsTexts) {
    openSubscribedSheet("true", "true");
    pushAndWaitForTheList("Motion", "3");

    ASSERT_TRUE(alertShown());
    const EventAlertDialog* alert = m_sheet->alertWindow();
    EXPECT_EQ(alert->captionLabel()->text(), "Event Alert");
    EXPECT_EQ(alert->typeText()->text(), "Motion");
    EXPECT_EQ(alert->sourceText()->text(), "3");
    EXPECT_EQ(alert->timeText()->text(), "25-Nov-2013::10:30:00");
    EXPECT_EQ(alert->showVideoButton()->text(), "Show Video");
    EXPECT_EQ(alert->closeButton()->text(), "Close");
    EXPECT_TRUE(alert->showVideoButton()->isDefault());
    // Over a sheet wider than high: as wide as the sheet is high, centred, 20 pixels down.
    ASSERT_EQ(m_sheet->size(), QSize(640, 560));
    EXPECT_EQ(alert->geometry(), QRect(40, 20, 560, 520));
    // A resize while it is shown places it anew.
    m_sheet->resize(800, 560);
    EXPECT_EQ(alert->geometry(), QRect(120, 20, 560, 520));
    m_sheet->resize(640, 560);
    EXPECT_TRUE(soundPlaying());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return m_sheet->alertSound()->status() == QSoundEffect::Ready; }, kWait_ms))
        << "the sound resource loads";

    const EventListPicture picture = m_sheet->eventsPage()->eventList()->picture();
    ASSERT_EQ(picture.rows.size(), 1u);
    EXPECT_EQ(picture.rows[0].lines, (std::array<std::string, 3>{"Type : Motion", "Camera ID : 3",
                                                                 "25-Nov-2013::10:30:00"}));
    const std::filesystem::path snapshot = picture.rows[0].imagePath;
    EXPECT_EQ(snapshot, m_app.m_snapshotFolder / "20131125103000123.jpg");
    EXPECT_GT(std::filesystem::file_size(snapshot), 0u);

    // Closing the sheet stops the channel and takes the kept snapshots with it.
    m_sheet.reset();
    EXPECT_FALSE(std::filesystem::exists(snapshot));
}

TEST_F(EventAlert, TheSettingsSwitchTheAlertAndItsSoundOff) {
    struct Case {
        const char* showAlerts;
        const char* playSound;
        bool alert;
        bool sound;
    };
    for (const Case& c :
         {Case{"true", "true", true, true}, Case{"true", "false", true, false},
          Case{"false", "true", false, false}, Case{"false", "false", false, false}}) {
        SCOPED_TRACE(std::string(c.showAlerts) + "/" + c.playSound);
        openSubscribedSheet(c.showAlerts, c.playSound);
        pushAndWaitForTheList("Door Open", "2");
        EXPECT_EQ(alertShown(), c.alert);
        EXPECT_EQ(soundPlaying(), c.sound);
        // Alerts off or on, the event is listed.
        EXPECT_EQ(m_sheet->eventsPage()->eventList()->picture().rows.size(), 1u);
        m_sheet.reset();
        ASSERT_TRUE(m_sim.server().waitForSubscribers(0, 10s));
    }
}

TEST_F(EventAlert, UncheckingShowAlertsWhileRunningStopsTheNextAlert) {
    openSubscribedSheet("true", "true");
    pushAndWaitForTheList("Motion", "1");
    ASSERT_TRUE(alertShown());
    m_sheet->alertWindow()->closeButton()->click();
    m_sheet->alertSound()->stop();

    m_sheet->tabs()->setCurrentWidget(m_sheet->settingsPage());
    m_sheet->settingsPage()->showAlertsBox()->click();
    m_sheet->tabs()->setCurrentWidget(m_sheet->eventsPage());
    pushAndWaitForTheList("Video Loss", "2");
    EXPECT_FALSE(alertShown());
    EXPECT_FALSE(soundPlaying());
    EXPECT_EQ(m_sheet->eventsPage()->eventList()->picture().rows.size(), 2u);
}

TEST_F(EventAlert, CloseHidesTheAlertAndTheNextEventShowsTheSameWindowAgain) {
    openSubscribedSheet("true", "false");
    pushAndWaitForTheList("Motion", "1");
    EventAlertDialog* first = m_sheet->alertWindow();
    ASSERT_TRUE(alertShown());
    first->closeButton()->click();
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(m_sheet->tabs()->currentWidget(), m_sheet->eventsPage());

    pushAndWaitForTheList("Video Loss", "2");
    EXPECT_EQ(m_sheet->alertWindow(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->typeText()->text(), "Video Loss");
    EXPECT_EQ(first->sourceText()->text(), "2");
    EXPECT_TRUE(m_shownChannels.empty());
}

TEST_F(EventAlert, ShowVideoSwitchesToTheVideosTabOnTheEventsChannel) {
    struct Case {
        const char* source;
        std::vector<int> shown;  // channel indices handed to the Videos page
        bool videosTab;
    };
    openSubscribedSheet("true", "false");
    for (const Case& c : {Case{"3", {2}, true}, Case{"LOBBY", {3}, true}, Case{"lobby", {3}, true},
                          Case{"77", {}, false}}) {
        SCOPED_TRACE(c.source);
        m_shownChannels.clear();
        m_sheet->tabs()->setCurrentWidget(m_sheet->eventsPage());
        pushAndWaitForTheList("Motion", c.source);
        ASSERT_TRUE(alertShown());
        QTest::mouseClick(m_sheet->alertWindow()->showVideoButton(), Qt::LeftButton);
        EXPECT_FALSE(m_sheet->alertWindow()->isVisible());
        EXPECT_EQ(m_shownChannels, c.shown);
        EXPECT_EQ(m_sheet->tabs()->currentWidget(),
                  c.videosTab ? static_cast<QWidget*>(m_sheet->liveView()) : m_sheet->eventsPage());
    }
}

TEST_F(EventAlert, EventsBeforeTheAlarmsTabIsFirstShownAreListedWhenItIs) {
    // Opened on the Videos tab: the Alarms page has not been shown yet.
    m_sheet = std::make_unique<MainSheet>(m_app);
    m_sheet->show();
    ASSERT_TRUE(m_sim.server().waitForSubscribers(1, 10s));
    ASSERT_EQ(m_sheet->eventsPage()->eventList(), nullptr);

    m_sim.server().pushAlarm("4", "Motion");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_sheet->eventsPage()->ring().events().size() == 1; },
                                kWait_ms));
    m_sheet->tabs()->setCurrentWidget(m_sheet->eventsPage());
    ASSERT_NE(m_sheet->eventsPage()->eventList(), nullptr);
    const EventListPicture picture = m_sheet->eventsPage()->eventList()->picture();
    ASSERT_EQ(picture.rows.size(), 1u);
    EXPECT_EQ(picture.rows[0].lines[1], "Camera ID : 4");
    EXPECT_EQ(m_sheet->eventsPage()->eventList()->scrollHeight(), 570);
}

// Mean colour of the rectangle, red, green and blue.
std::array<double, 3> meanColour(const QImage& image, QRect area) {
    std::array<double, 3> sum{};
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            sum[0] += qRed(pixel);
            sum[1] += qGreen(pixel);
            sum[2] += qBlue(pixel);
        }
    }
    for (double& channel : sum) {
        channel /= static_cast<double>(area.width()) * area.height();
    }
    return sum;
}

bool sameColour(std::array<double, 3> a, std::array<double, 3> b) {
    for (std::size_t c = 0; c < 3; ++c) {
        if (std::abs(a[c] - b[c]) > 12.0) {
            return false;
        }
    }
    return true;
}

TEST_F(EventAlert, TheAlertShowsTheSnapshotRightWayUpAndSaysWhenThereIsNone) {
    openSubscribedSheet("true", "false");
    pushAndWaitForTheList("Motion", "3");
    ASSERT_TRUE(QTest::qWaitFor([&] { return alertShown(); }, kWait_ms));
    EventAlertDialog* alert = m_sheet->alertWindow();
    EXPECT_TRUE(alert->saveSnapshotButton()->isEnabled());

    // The picture received, drawn as the client draws it, in the area scaled to fit.
    const std::filesystem::path file = m_sheet->eventsPage()->ring().events()[0].imagePath;
    const QByteArray received = [&] {
        QFile snapshot(QString::fromStdString(file.string()));
        EXPECT_TRUE(snapshot.open(QIODevice::ReadOnly));
        return snapshot.readAll();
    }();
    const std::optional<sim::test::DecodedImage> expected = sim::test::decodeJpeg(
        std::span(received.constData(), static_cast<std::size_t>(received.size())),
        sim::test::RowOrder::Mirrored);
    ASSERT_TRUE(expected);
    const QImage area =
        alert->snapshotArea()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const PictureSize fitted =
        scaleToFit({expected->width, expected->height}, {area.width(), area.height()});
    ASSERT_GT(fitted.height, 40);
    const QRect drawn((area.width() - fitted.width) / 2, (area.height() - fitted.height) / 2,
                      fitted.width, fitted.height);
    const int half = drawn.height() / 2;
    EXPECT_TRUE(sameColour(meanColour(area, drawn.adjusted(2, 2, -2, -half)),
                           expected->meanColour(0, expected->height / 2)))
        << "upper half";
    EXPECT_TRUE(sameColour(meanColour(area, drawn.adjusted(2, half, -2, -2)),
                           expected->meanColour(expected->height / 2, expected->height)))
        << "lower half";
    // An alarm from 2013 is far from now: flagged, with both times.
    EXPECT_TRUE(alert->lateNote()->isVisible());
    EXPECT_TRUE(alert->lateNote()->text().startsWith("late: event 25-Nov-2013 10:30:00, received "))
        << alert->lateNote()->text().toStdString();

    // A camera the server has no picture for.
    alert->closeButton()->click();
    ASSERT_EQ(m_sim.server().pushAlarmMessage({"20131125103100123", "Motion", "77"}), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return alertShown() && alert->sourceText()->text() == "77"; },
                                kWait_ms));
    EXPECT_FALSE(alert->saveSnapshotButton()->isEnabled());
    EXPECT_FALSE(alert->copySnapshotButton()->isEnabled());
    const QImage none =
        alert->snapshotArea()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(sameColour(meanColour(none, QRect(0, 0, none.width(), none.height() / 3)),
                           meanColour(none, QRect(0, 0, 4, 4))))
        << "no picture, only the text in the middle";
}

// A snapshot that cannot be written is shown, listed and saved from what was received, and the
// status line says that snapshots are not being stored.
TEST_F(EventAlert, ASnapshotThatCannotBeWrittenIsShownListedAndSavedFromMemory) {
    const std::filesystem::path missing = m_folder.path() / "gone" / "EventImages";
    m_app.m_snapshotFolder = missing;
    openSubscribedSheet("true", "false");
    pushAndWaitForTheList("Motion", "3");
    ASSERT_TRUE(alertShown());

    const EventRow row = m_sheet->eventsPage()->eventList()->picture().rows.at(0);
    EXPECT_FALSE(std::filesystem::exists(row.imagePath));
    const std::shared_ptr<const KeptSnapshot> kept =
        m_sheet->eventsPage()->snapshots().find(row.imagePath);
    ASSERT_NE(kept, nullptr);
    EXPECT_FALSE(kept->thumbnail.isNull()) << "the list draws it";
    EXPECT_TRUE(m_sheet->alertWindow()->saveSnapshotButton()->isEnabled()) << "the alert shows it";
    const QLabel* status = m_sheet->alarmStatusLabel();
    const QString told = QString::fromStdString(
        "Snapshots cannot be stored: the folder is missing in " + missing.string() + ", 1 lost");
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->text().startsWith(told); }, kWait_ms))
        << status->text().toStdString();
    EXPECT_TRUE(status->styleSheet().contains("#cf222e"));

    const std::filesystem::path saved = m_folder.path() / "saved.jpg";
    const SnapshotFileChooser previous = setSnapshotFileChooser(
        [&](QWidget*, const QString&) { return QString::fromStdString(saved.string()); });
    m_sheet->alertWindow()->saveSnapshotButton()->click();
    setSnapshotFileChooser(previous);
    QFile file(QString::fromStdString(saved.string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), kept->bytes);
}

// An alarm from the server is journaled: the History lists it with its snapshot and the tab
// counts it until it is reviewed.
TEST_F(EventAlert, AnAlarmIsJournaledShownInTheHistoryAndCountedOnTheTab) {
    m_app.m_journalFolder = m_folder.path() / "journal";
    openSubscribedSheet("false", "false");
    HistoryView* history = m_sheet->eventsPage()->history();
    ASSERT_NE(history, nullptr);
    pushAndWaitForTheList("Door Open", "2");

    QTabWidget* tabs = m_sheet->tabs();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return tabs->tabText(tabs->indexOf(m_sheet->eventsPage())) == "Alarms (1)"; },
        kWait_ms));
    const JournalRow* alarm = history->model()->row(0);
    ASSERT_NE(alarm, nullptr);
    EXPECT_EQ(alarm->alarmName, "Door Open");
    EXPECT_EQ(alarm->channelId, "2");
    const QModelIndex thumbnail = history->model()->index(0, HistoryModel::snapshotColumn);
    EXPECT_FALSE(history->model()->data(thumbnail, Qt::DecorationRole).value<QImage>().isNull());
}

TEST_F(EventAlert, SevenAlarmsListTheSixKeptNewestFirstWithTheirSnapshots) {
    openSubscribedSheet("false", "false");
    for (int n = 1; n <= 7; ++n) {
        pushAndWaitForItsSnapshot("2013112510300" + std::to_string(n) + "000",
                                  "Motion" + std::to_string(n));
    }
    EventList* list = m_sheet->eventsPage()->eventList();
    const EventListPicture picture = list->picture();
    ASSERT_EQ(picture.rows.size(), 6u);
    const QImage painted = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb background = list->palette().color(QPalette::Base).rgb();
    for (std::size_t k = 0; k < picture.rows.size(); ++k) {
        const EventRow& row = picture.rows[k];
        EXPECT_EQ(row.lines[0], "Type : Motion" + std::to_string(7 - k));
        const auto snapshot = m_sheet->eventsPage()->snapshots().find(row.imagePath);
        ASSERT_NE(snapshot, nullptr) << k;
        ASSERT_FALSE(snapshot->thumbnail.isNull()) << k;
        const QRect thumbnail(row.snapshotOrigin.x, row.snapshotOrigin.y,
                              snapshot->thumbnail.width(), snapshot->thumbnail.height());
        EXPECT_FALSE(sameColour(
            meanColour(painted, thumbnail),
            {double(qRed(background)), double(qGreen(background)), double(qBlue(background))}))
            << "row " << k << " shows its snapshot";
    }
    EXPECT_FALSE(std::filesystem::exists(m_app.m_snapshotFolder / "20131125103001000.jpg"))
        << "the first went with its event";
}

// Two cameras' alarms of one timestamp: each row draws its own camera's picture.
TEST_F(EventAlert, AlarmsOfOneTimestampEachShowTheirOwnSnapshot) {
    openSubscribedSheet("false", "false");
    pushAndWaitForTheList("Motion", "1");
    pushAndWaitForTheList("Motion", "2");

    EventList* list = m_sheet->eventsPage()->eventList();
    const EventListPicture picture = list->picture();
    ASSERT_EQ(picture.rows.size(), 2u);
    const QImage painted = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::vector<QImage> drawn;
    for (const EventRow& row : picture.rows) {
        const auto snapshot = m_sheet->eventsPage()->snapshots().find(row.imagePath);
        ASSERT_NE(snapshot, nullptr) << row.lines[1];
        drawn.push_back(painted.copy(row.snapshotOrigin.x, row.snapshotOrigin.y,
                                     snapshot->thumbnail.width(), snapshot->thumbnail.height()));
    }
    EXPECT_EQ(picture.rows[0].lines[1], "Camera ID : 2");
    EXPECT_NE(picture.rows[0].imagePath, picture.rows[1].imagePath);
    EXPECT_NE(drawn[0], drawn[1]) << "camera 2's picture on camera 1's row";
}

class RefusedSubscription : public EventAlert {
  protected:
    static sim::SimConfig refusing() {
        sim::SimConfig config = RunningSim::quietDefault();
        sim::FaultMode refusal;
        refusal.kind = sim::FaultKind::Refuse;
        refusal.request = "setalarmnotifications";
        refusal.code = 0;
        config.faults.push_back(refusal);
        return config;
    }
    RefusedSubscription() : EventAlert(refusing()) {}
};

TEST_F(RefusedSubscription, ArmsTheRetryTimerOfTheAlarmsPage) {
    openSheet("true", "false");
    const QTimer* retry = m_sheet->eventsPage()->retryTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return retry->isActive(); }, kWait_ms));
    EXPECT_EQ(retry->interval(), 15'000);
    EXPECT_FALSE(retry->isSingleShot());
}

}  // namespace
}  // namespace krt
