#include "alarms/ui/history_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "alarms/ui/snapshot_viewer.h"
#include "app/ui/main_sheet.h"
#include "common/ui/qt_text.h"
#include "common/ui/ui_test_support.h"
#include "journal/ui/history_model.h"
#include "media/test_jpeg.h"
#include "settings/ui/journal_settings_box.h"
#include "settings/ui/settings_page.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kWait_ms = 10'000;

// A journal of three alarms (one with a snapshot) and an interval without reception, and the
// History on it.
class HistoryWiring : public test::UiTest {
  protected:
    HistoryWiring() {
        AlarmJournal journal(journalFolder(), AlarmJournal::Role::writer);
        const std::vector<unsigned char> picture =
            test::twoBandJpeg(320, 240, test::kRed, test::kBlue);
        m_snapshot.assign(picture.begin(), picture.end());
        const JournalClock::time_point now = JournalClock::now();
        m_door = record(journal, now - 300s, "3", "Door Open", m_snapshot);
        journal.startSession("127.0.0.1", now - 200s);
        journal.noteGapReason("connection lost");
        journal.endGap(now - 100s);
        m_motion = record(journal, now - 60s, "7", "Motion", {});
        m_loss = record(journal, now - 30s, "7", "Video Loss", {});
        m_view = std::make_unique<HistoryView>(journalFolder(), "ann");
        m_view->resize(640, 400);
        m_view->show();
    }

    fs::path journalFolder() const { return m_folder.path() / "journal"; }

    static std::int64_t record(AlarmJournal& journal, JournalClock::time_point received,
                               std::string channel, std::string name, std::string_view picture,
                               std::string missing = {}, std::string site = {}) {
        JournalEntry entry;
        entry.snapshotMissing = std::move(missing);
        entry.server = site.empty() ? "127.0.0.1" : "127.0.0.2";
        entry.site = std::move(site);
        entry.channelId = std::move(channel);
        entry.alarmName = std::move(name);
        entry.timestamp = std::to_string(received.time_since_epoch().count());
        entry.timeText = "08-Dec-2026::10:00:00";
        entry.receivedAt = received;
        entry.snapshot = picture;
        return journal.record(entry).value();
    }

    int rows() const { return m_view->model()->rowCount(); }
    const JournalRow* row(int index) const { return m_view->model()->row(index); }

    std::string m_snapshot;
    std::int64_t m_door = 0;
    std::int64_t m_motion = 0;
    std::int64_t m_loss = 0;
    std::unique_ptr<HistoryView> m_view;
};

TEST_F(HistoryWiring, FiltersReviewsSnapshotsAndExportReachTheJournal) {
    ASSERT_EQ(rows(), 4);
    EXPECT_EQ(row(0)->id, m_loss);
    EXPECT_EQ(row(2)->kind, JournalRow::Kind::gap);
    EXPECT_EQ(m_view->table()->columnSpan(2, HistoryModel::kGapTextColumn),
              HistoryModel::columnCount_ - HistoryModel::kGapTextColumn)
        << "the interval reads across its row";
    EXPECT_EQ(m_view->unreviewedCount(), 3);
    EXPECT_EQ(m_view->summary()->text(), "3 alarm(s) shown");

    // Filters: the camera list is the journal's; a name is applied shortly after typing.
    QComboBox* cameras = m_view->cameraFilter();
    ASSERT_EQ(cameras->count(), 3);
    cameras->setCurrentIndex(cameras->findData(QStringLiteral("7")));
    emit cameras->activated(cameras->currentIndex());
    EXPECT_EQ(rows(), 3) << "two alarms and the interval";
    QTest::keyClicks(m_view->nameFilter(), "loss");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows() == 2; }, kWait_ms));
    m_view->nameFilter()->clear();
    cameras->setCurrentIndex(0);
    emit cameras->activated(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows() == 4; }, kWait_ms));

    // Ctrl+R marks the selection reviewed, with the note asked for.
    QSignalSpy unreviewed(m_view.get(), &HistoryView::unreviewedCountChanged);
    m_view->setNoteAsker(
        [](QWidget*, int alarms) { return std::optional(QStringLiteral("seen %1").arg(alarms)); });
    m_view->table()->setFocus();
    m_view->table()->selectRow(0);
    QTest::keyClick(m_view->table(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_EQ(unreviewed.count(), 1);
    EXPECT_EQ(unreviewed.front().front().toInt(), 2);
    EXPECT_EQ(row(0)->reviewedBy, "ann");
    EXPECT_EQ(row(0)->note, "seen 1");
    m_view->unreviewedOnlyBox()->click();
    EXPECT_EQ(rows(), 3);
    m_view->unreviewedOnlyBox()->click();

    // Enter shows the snapshot large; its Show Video names the camera.
    QSignalSpy videos(m_view.get(), &HistoryView::showVideoRequested);
    m_view->table()->setCurrentIndex(m_view->model()->index(3, HistoryModel::receivedColumn));
    QTest::keyClick(m_view->table(), Qt::Key_Return);
    auto* viewer = m_view->findChild<SnapshotViewer*>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->saveButton()->isEnabled()) << "the snapshot is there";
    EXPECT_TRUE(viewer->description()->text().contains("Door Open"));
    viewer->showVideoButton()->click();
    ASSERT_EQ(videos.count(), 1);
    EXPECT_EQ(videos.front(), (QVariantList{QString(), QStringLiteral("3")}))
        << "the first server's";

    // Export: the CSV of the shown alarms and their snapshots, named alike.
    const fs::path target = m_folder.path() / "export";
    fs::create_directories(target);
    m_view->setFolderChooser([&](QWidget*) { return QString::fromStdString(target.string()); });
    QTest::keyClick(m_view->table(), Qt::Key_E, Qt::ControlModifier);
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(target)) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 2u) << "the CSV file and the one snapshot";
    const fs::path csv = files[0].extension() == ".csv" ? files[0] : files[1];
    const fs::path copy = files[0].extension() == ".csv" ? files[1] : files[0];
    std::ifstream in(csv, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << "a header and three alarms";
    EXPECT_NE(text.find(copy.filename().string()), std::string::npos);
    std::ifstream picture(copy, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(picture), {}), m_snapshot);
    EXPECT_TRUE(m_view->summary()->text().startsWith("Exported 3 alarm(s) and 1 snapshot(s)"));
}

// Alarms of two servers: each row names its own, and the server filter keeps one server's rows
// through a refresh; Show Video names the server with the camera.
TEST_F(HistoryWiring, EachRowNamesItsServerAndTheFilterKeepsOneServer) {
    {
        AlarmJournal journal(journalFolder(), AlarmJournal::Role::writer);
        record(journal, JournalClock::now() - 10s, "3", "Tamper", {}, {}, "Site B");
    }
    m_view->refresh();
    HistoryModel* model = m_view->model();
    const auto serverOf = [&](int row) {
        return model->data(model->index(row, HistoryModel::serverColumn), Qt::DisplayRole)
            .toString();
    };
    ASSERT_EQ(rows(), 5);
    EXPECT_EQ(serverOf(0), "Site B");
    EXPECT_EQ(serverOf(1), "127.0.0.1") << "the first server, by its address";
    EXPECT_EQ(serverOf(3), "127.0.0.1") << "the interval's";

    QComboBox* servers = m_view->serverFilter();
    ASSERT_EQ(servers->count(), 3);
    EXPECT_EQ(servers->itemText(0), "All servers");
    EXPECT_EQ(servers->itemText(1), "127.0.0.1");
    servers->setCurrentIndex(servers->findText("Site B"));
    emit servers->activated(servers->currentIndex());
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(row(0)->alarmName, "Tamper");
    {
        AlarmJournal journal(journalFolder(), AlarmJournal::Role::writer);
        record(journal, JournalClock::now(), "3", "Motion", {});
    }
    m_view->refresh();
    EXPECT_EQ(servers->currentText(), "Site B") << "the choice outlives a refresh";
    EXPECT_EQ(rows(), 1);

    QSignalSpy videos(m_view.get(), &HistoryView::showVideoRequested);
    m_view->openSnapshot(0);
    auto* viewer = m_view->findChild<SnapshotViewer*>();
    ASSERT_NE(viewer, nullptr);
    viewer->showVideoButton()->click();
    ASSERT_EQ(videos.count(), 1);
    EXPECT_EQ(videos.front(), (QVariantList{QStringLiteral("Site B"), QStringLiteral("3")}));
}

// Server text in the History reads as the characters it is, in the cells and their tooltips.
TEST_F(HistoryWiring, ServerTextIsShownByTheOneTextRule) {
    const std::string hostile = "<img src=\"/etc/x.png\"><b>Door</b> \u202Enepo";
    {
        AlarmJournal journal(journalFolder(), AlarmJournal::Role::writer);
        record(journal, JournalClock::now(), hostile, hostile, {});
    }
    m_view->refresh();
    HistoryModel* model = m_view->model();
    const QString shown = qtServerText(hostile);
    EXPECT_TRUE(shown.contains(QStringLiteral("\u27E8U+202E\u27E9"))) << shown.toStdString();
    for (const int column : {HistoryModel::cameraColumn, HistoryModel::alarmColumn}) {
        const QModelIndex cell = model->index(0, column);
        EXPECT_EQ(model->data(cell, Qt::DisplayRole).toString(), shown);
        EXPECT_EQ(model->data(cell, Qt::ToolTipRole).toString(), literalRichText(shown));
    }
    EXPECT_GE(m_view->cameraFilter()->findText(shown), 0);
}

// A row without its snapshot says why in the snapshot cell; one with its picture shows it.
TEST_F(HistoryWiring, ARowWithoutItsSnapshotSaysWhy) {
    {
        AlarmJournal journal(journalFolder(), AlarmJournal::Role::writer);
        record(journal, JournalClock::now(), "4", "Motion", {}, "not fetched: too many waiting");
    }
    m_view->refresh();
    HistoryModel* model = m_view->model();
    const QModelIndex missing = model->index(0, HistoryModel::snapshotColumn);
    EXPECT_EQ(model->data(missing, Qt::DisplayRole).toString(),
              QStringLiteral("not fetched: too many waiting"));
    EXPECT_FALSE(model->data(missing, Qt::DecorationRole).isValid());
    const QModelIndex door = model->index(rows() - 1, HistoryModel::snapshotColumn);
    ASSERT_EQ(row(rows() - 1)->id, m_door);
    EXPECT_FALSE(model->data(door, Qt::DisplayRole).isValid());
    EXPECT_TRUE(model->data(door, Qt::DecorationRole).isValid());
}

// The Alarms tab carries the unreviewed count; the Settings page's retention is stored.
TEST_F(HistoryWiring, TheTabCountsTheUnreviewedAndTheSettingsKeepTheRetention) {
    // And applied at once: an alarm older than the new age limit goes.
    {
        AlarmJournal journal(journalFolder(), AlarmJournal::Role::writer);
        record(journal, JournalClock::now() - 72h, "3", "Old", {});
    }
    const auto alarmCount = [this] {
        AlarmJournal reader(journalFolder(), AlarmJournal::Role::reader);
        return std::ranges::count(reader.list({}), JournalRow::Kind::alarm, &JournalKey::kind);
    };
    AppState app;
    app.m_journalFolder = journalFolder();
    MainSheet sheet(app);
    QTabWidget* tabs = sheet.tabs();
    EXPECT_EQ(tabs->tabText(tabs->indexOf(sheet.eventsPage())), "Alarms (4)");
    HistoryView* history = sheet.eventsPage()->history();
    ASSERT_NE(history, nullptr);
    history->setNoteAsker([](QWidget*, int) { return std::optional(QString()); });
    history->markAllShownReviewed();
    EXPECT_EQ(tabs->tabText(tabs->indexOf(sheet.eventsPage())), "Alarms");

    JournalSettingsBox* box = sheet.settingsPage()->journalSettings();
    EXPECT_EQ(box->limits(), JournalLimits{});
    box->maxAlarmsBox()->setValue(500);
    box->maxDaysBox()->setValue(7);
    box->maxSizeBox()->setValue(4096);
    EXPECT_EQ(stored("JournalMaxAlarms"), "500");
    EXPECT_EQ(stored("JournalMaxDays"), "7");
    EXPECT_EQ(stored("JournalMaxMiB"), "4096");
    EXPECT_EQ(alarmCount(), 4);
    box->maxDaysBox()->setValue(2);
    EXPECT_EQ(alarmCount(), 3) << "the alarm older than two days went at once";
    for (const auto& [alarms, days, size, expected] :
         {std::tuple{"2000", "90", "100", JournalLimits{2000, 90, 100}},
          std::tuple{"99", "0", "63", JournalLimits{}},
          std::tuple{"lots", "", "", JournalLimits{}}}) {
        store("JournalMaxAlarms", alarms);
        store("JournalMaxDays", days);
        store("JournalMaxMiB", size);
        box->load();
        EXPECT_EQ(box->limits(), expected) << alarms << " " << days << " " << size;
    }
}

// A file in the journal's place that is no journal: set aside, a new journal started, and the
// status line says so.
TEST_F(HistoryWiring, AJournalSetAsideIsToldOnTheStatusLine) {
    m_view.reset();
    fs::remove_all(journalFolder());
    fs::create_directories(journalFolder());
    std::ofstream(journalFolder() / AlarmJournal::kFileName) << std::string(5000, 'q');
    AppState app;
    app.m_journalFolder = journalFolder();
    MainSheet sheet(app);
    const QLabel* status = sheet.alarmStatusLabel();
    // Told with the channel's first report.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return status->text().startsWith(
                "The alarm journal was damaged; it was set aside "
                "as journal.sqlite3.damaged-");
        },
        kWait_ms))
        << status->text().toStdString();
    EXPECT_EQ(sheet.eventsPage()->history()->model()->shownAlarmCount(), 0) << "a new journal";
}

}  // namespace
}  // namespace krt
