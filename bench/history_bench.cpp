// The History on a journal of 100,000 alarms (30 days, nine cameras, 200 different 640 × 480
// snapshots) and 50 intervals without reception: how long it takes to open (until its first
// rows are painted), to apply a filter, and how much memory scrolling through every row adds.
// Wall-clock time, offscreen. Goals: open < 300 ms, a filter < 100 ms, scrolling < 50 MB.
//
//   build/bench/history_bench
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

#include "alarms/ui/history_view.h"
#include "journal/alarm_journal.h"
#include "journal/ui/history_model.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAlarms = 100'000;
constexpr int kGaps = 50;
constexpr int kPictures = 200;
constexpr std::int64_t kDay_ms = 24LL * 3600 * 1000;

// Resident memory of this process, in kilobytes.
long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

void writePictures(const fs::path& folder) {
    for (int n = 0; n < kPictures; ++n) {
        QImage image(640, 480, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(n * 360 / kPictures, 160, 200));
        QPainter painter(&image);
        painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Camera %1").arg(n));
        for (int stripe = 0; stripe < 480; stripe += 8) {
            painter.drawLine(0, stripe, 640, 479 - stripe);
        }
        painter.end();
        image.save(QString::fromStdString((folder / ("p" + std::to_string(n) + ".jpg")).string()),
                   "JPEG", 85);
    }
}

// The journal's rows written at once, as a month of a busy site leaves them.
void fillJournal(const fs::path& folder) {
    { krt::AlarmJournal created(folder, krt::AlarmJournal::Role::writer); }
    writePictures(folder / krt::AlarmJournal::kSnapshotFolderName);
    sqlite3* db = nullptr;
    sqlite3_open((folder / krt::AlarmJournal::kFileName).c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO alarms (server, channel_id, alarm_name, timestamp, time_text, "
                       "received_ms, late, snapshot_file, snapshot_bytes, reviewed_ms) VALUES "
                       "('127.0.0.1', ?, ?, ?, '08-Dec-2026::10:00:00', ?, 0, ?, 40000, ?)",
                       -1, &insert, nullptr);
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    const char* names[] = {"Motion", "Door Open", "Video Loss", "Tamper", "Line Crossing"};
    for (int i = 0; i < kAlarms; ++i) {
        const std::string channel = std::to_string(1 + i % 9);
        const std::string picture = "p" + std::to_string(i % kPictures) + ".jpg";
        const std::string stamp = std::to_string(i);
        sqlite3_bind_text(insert, 1, channel.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, names[i % 5], -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, stamp.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 4, now - 30 * kDay_ms + i * (30 * kDay_ms / kAlarms));
        sqlite3_bind_text(insert, 5, picture.c_str(), -1, SQLITE_TRANSIENT);
        if (i % 4 == 0) {
            sqlite3_bind_int64(insert, 6, now);
        } else {
            sqlite3_bind_null(insert, 6);
        }
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    for (int i = 0; i < kGaps; ++i) {
        const std::int64_t start = now - 30 * kDay_ms + i * (30 * kDay_ms / kGaps);
        const std::string sql =
            "INSERT INTO gaps (server, started_ms, ended_ms, reason) VALUES "
            "('127.0.0.1', " +
            std::to_string(start) + ", " + std::to_string(start + 60'000) + ", 'connection lost')";
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void paint(krt::HistoryView& view) {
    view.table()->viewport()->repaint();
    QCoreApplication::processEvents();
}

void HistoryOf100000Alarms(benchmark::State& state) {
    const QTemporaryDir temporary;
    const fs::path folder = fs::path(temporary.path().toStdString()) / "journal";
    fillJournal(folder);
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        krt::HistoryView view(folder, "bench");
        view.resize(1000, 800);
        view.show();
        QCoreApplication::processEvents();
        paint(view);
        const double open_ms = static_cast<double>(clock.nsecsElapsed()) * 1e-6;
        if (view.model()->rowCount() != kAlarms + kGaps) {
            state.SkipWithError("not every row is listed");
            break;
        }

        double filter_ms = 0;
        const auto timed = [&](auto change) {
            clock.restart();
            change();
            paint(view);
            filter_ms = std::max(filter_ms, static_cast<double>(clock.nsecsElapsed()) * 1e-6);
        };
        QComboBox* cameras = view.cameraFilter();
        timed([&] {
            cameras->setCurrentIndex(cameras->findData(QStringLiteral("7")));
            emit cameras->activated(cameras->currentIndex());
        });
        timed([&] { view.unreviewedOnlyBox()->click(); });
        timed([&] { view.unreviewedOnlyBox()->click(); });
        timed([&] {
            cameras->setCurrentIndex(0);
            emit cameras->activated(0);
        });

        const long before = residentKilobytes();
        clock.restart();
        QScrollBar* bar = view.table()->verticalScrollBar();
        for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
            bar->setValue(value);
            paint(view);
        }
        const double scroll_s = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
        const long growth = residentKilobytes() - before;

        state.counters["open_ms"] = open_ms;
        state.counters["filter_ms"] = filter_ms;
        state.counters["scroll_all_s"] = scroll_s;
        state.counters["scroll_rss_growth_MB"] = static_cast<double>(growth) / 1024.0;
        state.counters["cached_pages"] = view.model()->cachedPageCount();
    }
}

BENCHMARK(HistoryOf100000Alarms)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
