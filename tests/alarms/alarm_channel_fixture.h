#pragma once

// The alarm channel's test fixture: a recording owner, a scoped diagnostic log and the
// fake server, shared by the channel's test files.

#include <gtest/gtest.h>
#include <array>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "alarms/alarm_channel.h"
#include "alarms/fake_alarm_server.h"
#include "protocol/diag_log.h"
#include "protocol/message_sink.h"

namespace krt::alarm_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using test::FakeAlarmServer;
using test::FakeAlarmServerScript;
using test::fakeJpeg;

constexpr auto kWait = 10s;

inline std::string alarmXml(std::string_view timestamp, std::string_view name = "Motion",
                            std::string_view channel = "7") {
    return "<kmResponse><kmReturnCode>1</kmReturnCode><kmResponseData>"
           "<kmAlarmTimestamp>" +
           std::string(timestamp) +
           "</kmAlarmTimestamp>"
           "<kmAlarmName>" +
           std::string(name) +
           "</kmAlarmName>"
           "<kmAlarmChannelID>" +
           std::string(channel) +
           "</kmAlarmChannelID>"
           "<kmAlarmVideoChannelID>" +
           std::string(channel) +
           "</kmAlarmVideoChannelID>"
           "</kmResponseData></kmResponse>";
}

inline std::string fileContents(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Records what the channel tells its owner and lets a test await it.
class RecordingOwner : public AlarmChannelOwner {
  public:
    struct Alert {
        std::string name, channel, time;
    };

    void queueEventAlert(std::string_view alarmName, std::string_view channelId,
                         std::string_view timeText) override {
        record([&] {
            m_alerts.push_back(
                {std::string(alarmName), std::string(channelId), std::string(timeText)});
        });
    }
    void eventStored(const AlarmEvent& event, std::span<const char> snapshot) override {
        // The file is there when the owner hears of the event.
        const bool imagePresent = fs::exists(event.imagePath);
        record([&] {
            m_events.push_back(event);
            m_imagePresent.push_back(imagePresent);
            m_snapshots.emplace_back(snapshot.begin(), snapshot.end());
        });
    }
    void channelStatusChanged(const AlarmChannelStatus& status) override {
        record([&] { m_statuses.push_back(status); });
    }
    void setRetryTimer(int timerId, int period_ms) override {
        record([&] { m_timersSet.push_back({timerId, period_ms}); });
    }
    void killRetryTimer(int timerId) override {
        record([&] { m_timersKilled.push_back(timerId); });
    }

    bool waitForEvents(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_events.size() >= count; });
    }
    bool waitForTimerCalls(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(
            lock, kWait, [&] { return m_timersSet.size() + m_timersKilled.size() >= count; });
    }
    std::vector<AlarmEvent> events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<bool> imagePresent() {
        std::lock_guard lock(m_mutex);
        return m_imagePresent;
    }
    // The snapshot bytes handed over with each event.
    std::vector<std::string> snapshots() {
        std::lock_guard lock(m_mutex);
        return m_snapshots;
    }
    std::vector<Alert> alerts() {
        std::lock_guard lock(m_mutex);
        return m_alerts;
    }
    std::vector<std::array<int, 2>> timersSet() {
        std::lock_guard lock(m_mutex);
        return m_timersSet;
    }
    std::vector<int> timersKilled() {
        std::lock_guard lock(m_mutex);
        return m_timersKilled;
    }
    std::vector<AlarmChannelStatus> statuses() {
        std::lock_guard lock(m_mutex);
        return m_statuses;
    }
    bool waitForStatus(AlarmChannelStatus::State state) {
        return waitForStatus(
            [state](const AlarmChannelStatus& status) { return status.state == state; });
    }
    bool waitForStatus(const std::function<bool(const AlarmChannelStatus&)>& wanted) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kWait,
                                  [&] { return !m_statuses.empty() && wanted(m_statuses.back()); });
    }

  private:
    template <typename Change>
    void record(Change change) {
        {
            std::lock_guard lock(m_mutex);
            change();
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<AlarmEvent> m_events;
    std::vector<bool> m_imagePresent;
    std::vector<std::string> m_snapshots;
    std::vector<Alert> m_alerts;
    std::vector<std::array<int, 2>> m_timersSet;
    std::vector<int> m_timersKilled;
    std::vector<AlarmChannelStatus> m_statuses;
};

// The diagnostic log, turned on for one test in a folder of its own.
class ScopedDiagLog {
  public:
    explicit ScopedDiagLog(const fs::path& folder) : m_folder(folder) {
        fs::create_directories(folder);
        enableDiagLog(folder.string());
    }
    ~ScopedDiagLog() { enableDiagLog(""); }
    ScopedDiagLog(const ScopedDiagLog&) = delete;
    ScopedDiagLog& operator=(const ScopedDiagLog&) = delete;

    int entriesContaining(std::string_view text) const {
        int count = 0;
        for (const fs::directory_entry& file : fs::directory_iterator(m_folder)) {
            std::ifstream in(file.path());
            for (std::string line; std::getline(in, line);) {
                count += line.find(text) != std::string::npos ? 1 : 0;
            }
        }
        return count;
    }

  private:
    fs::path m_folder;
};

class AlarmHandlerTest : public testing::Test {
  protected:
    void SetUp() override {
        m_root =
            fs::temp_directory_path() / ("krt-alarms-" + std::to_string(std::random_device{}()));
        m_app.m_appFolder = m_root / "program";
        m_app.m_snapshotFolder = m_app.m_appFolder / "EventImages";
        fs::create_directories(m_app.m_snapshotFolder);
    }
    void TearDown() override {
        m_handler.reset();
        fs::remove_all(m_root);
    }

    void startChannel(const FakeAlarmServer& server,
                      SnapshotRetention retention = SnapshotRetention::DeleteEvicted,
                      std::shared_ptr<AlarmJournal> journal = nullptr) {
        m_app.m_serverAddress = server.address();
        m_handler = std::make_unique<AlarmChannel>(m_app, m_owner, retention, kAlarmRetryPeriod_ms,
                                                   std::move(journal));
        m_handler->requestAlarmRestart();
    }
    // Subscribes and waits until the server holds the push connection.
    void startSubscribed(FakeAlarmServer& server, std::shared_ptr<AlarmJournal> journal = nullptr) {
        startChannel(server, SnapshotRetention::DeleteEvicted, std::move(journal));
        ASSERT_TRUE(server.waitForSubscriptions(1, kWait));
    }
    fs::path snapshot(std::string_view stem) const {
        return m_app.m_snapshotFolder / (std::string(stem) + ".jpg");
    }
    std::vector<fs::path> snapshotFiles() const {
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_app.m_snapshotFolder)) {
            files.push_back(entry.path());
        }
        return files;
    }
    void pushAlarms(FakeAlarmServer& server, int count, int firstSecond = 0) {
        for (int i = 0; i < count; ++i) {
            char timestamp[18];
            std::snprintf(timestamp, sizeof timestamp, "201311251030%02d000", firstSecond + i);
            ASSERT_TRUE(server.push(alarmXml(timestamp, "Alarm" + std::to_string(i))));
        }
    }

    fs::path m_root;
    AppState m_app;
    RecordingOwner m_owner;
    std::unique_ptr<AlarmChannel> m_handler;
};

}  // namespace krt::alarm_test
