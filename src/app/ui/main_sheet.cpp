#include "app/ui/main_sheet.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>
#include <QSoundEffect>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <filesystem>

#include "alarms/alarm_status_text.h"
#include "alarms/alert_layout.h"
#include "alarms/ui/alarm_tray_icon.h"
#include "alarms/ui/desktop_notifier.h"
#include "alarms/ui/event_alert_dialog.h"
#include "alarms/ui/events_page.h"
#include "alarms/ui/history_view.h"
#include "alarms/ui/snapshot_store.h"
#include "app/ui/about_page.h"
#include "app/ui/alarm_monitor_window.h"
#include "common/ui/qt_text.h"
#include "common/ui/settings_store.h"
#include "common/ui/window_placement.h"
#include "login/ui/saved_servers.h"
#include "login/ui/server_sessions.h"
#include "protocol/diag_log.h"
#include "settings/ui/journal_settings_box.h"
#include "settings/ui/monitor_settings_box.h"
#include "settings/ui/servers_box.h"
#include "settings/ui/settings_page.h"
#include "settings/ui/video_settings_box.h"
#include "tile/ui/recording_stops.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

constexpr QSize kInitialSize(640, 560);
constexpr const char* kCloseQuestionText = "Log out and close the client?";
constexpr int kViewSavePeriod_ms = 5000;

// The layouts are kept beside the settings, in a file of their own.
std::filesystem::path layoutsFilePath() {
    return std::filesystem::path(settingsFilePath()).replace_extension(".layouts.json");
}

}  // namespace

MainSheet::MainSheet(const AppState& app, QWidget* parent)
    : QDialog(parent),
      m_app(app),
      m_tabs(new QTabWidget(this)),
      m_liveView(new LiveView(app, layoutsFilePath())),
      m_videoPage(m_liveView->videoPage()),
      m_eventsPage(new EventsPage(app)),
      m_aboutPage(new AboutPage),
      m_settingsPage(new SettingsPage),
      m_alertTimer(new QTimer(this)),
      m_alertSound(new QSoundEffect(this)),
      m_trayIcon(new AlarmTrayIcon(this)),
      m_notifier(new DesktopNotifier(this)),
      m_viewSaveTimer(new QTimer(this)) {
    setWindowFlag(Qt::WindowMinMaxButtonsHint);
    m_tabs->addTab(m_liveView, QStringLiteral("Videos"));
    m_tabs->addTab(m_eventsPage, QStringLiteral("Alarms"));
    m_tabs->addTab(m_settingsPage, QStringLiteral("Settings"));
    m_tabs->addTab(m_aboutPage, QStringLiteral("About"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
    resize(kInitialSize);

    m_alertTimer->setSingleShot(true);
    m_alertTimer->setInterval(kAlertTimerPeriod_ms);
    connect(m_alertTimer, &QTimer::timeout, this, &MainSheet::showPendingAlert);
    m_alarmVideoHook = [this](const AppState& server, int channelIndex) {
        m_liveView->showCameraAlone(server, channelIndex);
    };
    addAlarmStatusIndicator();
    connect(m_eventsPage, &EventsPage::alarmChannelStatusChanged, m_trayIcon,
            &AlarmTrayIcon::showChannelState);
    connectJournal();
    connect(m_notifier, &DesktopNotifier::showVideoRequested, this,
            [this](const QString& server, const QString& channelId) {
                const CameraRef camera{server.toStdString(), channelId.toStdString()};
                // The alert of that camera has had its answer: it must not cover the video.
                if (m_alertWindow != nullptr && m_pendingAlert.event.camera() == camera) {
                    m_alertWindow->hide();
                }
                showAlarmVideo(camera);
            });
    // Without a notification server the tray, where there is one, tells of the alert.
    connect(m_notifier, &DesktopNotifier::notificationFailed, m_trayIcon,
            [this](const AlarmEvent& event) {
                m_trayIcon->notifyAlert(event.alarmName, event.channelId);
            });
    m_closeQuestion = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    connectVideoSettings();
    connect(m_liveView, &LiveView::alarmMonitorRequested, this, [this] { openAlarmMonitor(); });
    m_viewSaveTimer->setInterval(kViewSavePeriod_ms);
    connect(m_viewSaveTimer, &QTimer::timeout, this, &MainSheet::saveViewState);
}

void MainSheet::connectJournal() {
    connect(m_eventsPage, &EventsPage::showVideoRequested, this,
            [this](const QString& server, const QString& channelId) {
                showAlarmVideo({server.toStdString(), channelId.toStdString()});
            });
    connect(m_eventsPage, &EventsPage::unreviewedCountChanged, this,
            &MainSheet::showUnreviewedCount);
    showUnreviewedCount(m_eventsPage->unreviewedCount());
    connect(m_settingsPage->journalSettings(), &JournalSettingsBox::limitsChanged, m_eventsPage,
            &EventsPage::setJournalLimits);
}

void MainSheet::showUnreviewedCount(int count) {
    // The tab says from the first look that alarms wait for someone.
    m_tabs->setTabText(m_tabs->indexOf(m_eventsPage), count > 0
                                                          ? QStringLiteral("Alarms (%1)").arg(count)
                                                          : QStringLiteral("Alarms"));
}

void MainSheet::connectVideoSettings() {
    const VideoSettingsBox* box = m_settingsPage->videoSettings();
    connect(box, &VideoSettingsBox::gridColumnsChanged, m_videoPage, &VideoPage::setGridColumns);
    connect(box, &VideoSettingsBox::liveGridChanged, m_liveView, &LiveView::setLiveGrid);
    connect(box, &VideoSettingsBox::evidenceSettingsChanged, m_liveView,
            &LiveView::setEvidenceSettings);
}

void MainSheet::addAlarmStatusIndicator() {
    // A status line under the tabs, so that every tab shows it.
    m_alarmStatus = new QLabel(this);
    m_alarmStatus->setObjectName(QStringLiteral("alarmStatus"));
    m_alarmStatus->setTextFormat(Qt::PlainText);
    m_alarmStatus->setContentsMargins(6, 2, 6, 2);
    // A long warning (a full disk's folder) wraps; it must never widen the window past the
    // screen.
    m_alarmStatus->setWordWrap(true);
    m_alarmStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout()->addWidget(m_alarmStatus);
    m_alarmStatusTimer = new QTimer(this);
    m_alarmStatusTimer->setInterval(1000);
    connect(m_alarmStatusTimer, &QTimer::timeout, this, &MainSheet::refreshAlarmStatus);
    connect(m_eventsPage, &EventsPage::alarmChannelStatusChanged, this,
            &MainSheet::showAlarmChannelStatus);
    showAlarmChannelStatus(m_eventsPage->channelStatus());
    connectRecordingStops();
}

void MainSheet::connectRecordingStops() {
    const auto show = [this](const QString& why) {
        m_recordingStopped = why.toStdString();
        showAlarmChannelStatus(m_alarmChannelStatus);
    };
    connect(&RecordingStops::instance(), &RecordingStops::stopped, this, show);
    connect(&RecordingStops::instance(), &RecordingStops::started, this,
            [show] { show(QString()); });
}

void MainSheet::showAlarmChannelStatus(const AlarmChannelStatus& status) {
    m_alarmChannelStatus = status;
    using State = AlarmChannelStatus::State;
    // What is not being stored outweighs every state.
    const bool trouble = status.snapshotTrouble || status.journalTrouble ||
                         !m_recordingStopped.empty() || !m_monitorClosed.empty();
    const bool allSubscribed = status.state == State::subscribed && !anotherServerDown();
    const char* colour = trouble                          ? "#cf222e"
                         : !status.journalNotice.empty()  ? "#bf5700"
                         : allSubscribed                  ? "#1a7f37"
                         : status.state != State::stopped ? "#bf5700"
                                                          : "#6e7781";
    m_alarmStatus->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(colour));
    m_alarmStatus->setToolTip(qtText(lastAlarmLine(status)));
    // The countdown of a retry, and with several servers theirs.
    if (status.state == State::retrying || m_servers != nullptr) {
        m_alarmStatusTimer->start();
    } else {
        m_alarmStatusTimer->stop();
    }
    refreshAlarmStatus();
}

bool MainSheet::anotherServerDown() const {
    if (m_servers == nullptr) {
        return false;
    }
    const std::vector<EventsPage::ServerAlarmStatus> alarms = m_eventsPage->otherServerStatuses();
    return alarms.size() < m_servers->shown().size() ||
           std::ranges::any_of(alarms, [](const EventsPage::ServerAlarmStatus& server) {
               return server.status.state != AlarmChannelStatus::State::subscribed;
           });
}

void MainSheet::attachServers(ServerSessions& servers) {
    m_servers = &servers;
    SavedServers* list = m_settingsPage->serversBox()->servers();
    connect(list, &SavedServers::changed, &servers, [&servers, list] { servers.addNew(*list); });
    connect(&servers, &ServerSessions::serversAdded, m_liveView, &LiveView::refreshServers);
    connect(&servers, &ServerSessions::serverLoggedIn, this, [this](int index) {
        m_eventsPage->addServer(*m_app.m_otherServers.at(static_cast<std::size_t>(index)));
        m_liveView->refreshServers();
    });
    const auto refresh = [this] { showAlarmChannelStatus(m_alarmChannelStatus); };
    connect(&servers, &ServerSessions::loginStateChanged, this, refresh);
    connect(m_eventsPage, &EventsPage::otherServerStatusChanged, this, refresh);
    // Their cells and the camera list say that they are not connected yet.
    m_liveView->refreshServers();
    showAlarmChannelStatus(m_alarmChannelStatus);
}

std::string MainSheet::serverStatesLine(AlarmChannelStatus::Clock::time_point now) const {
    const std::vector<EventsPage::ServerAlarmStatus> alarms = m_eventsPage->otherServerStatuses();
    std::string line = serverStateText({.name = m_app.shownName(),
                                        .phase = ServerState::Phase::alarms,
                                        .alarms = m_alarmChannelStatus},
                                       now);
    const std::vector<ServerSessions::Shown>& logins = m_servers->shown();
    for (const ServerSessions::Shown& server : logins) {
        ServerState state{.name = server.name};
        using Login = ServerLoginReport::State;
        const auto channel =
            std::ranges::find(alarms, server.name, &EventsPage::ServerAlarmStatus::name);
        if (channel != alarms.end()) {
            state.phase = ServerState::Phase::alarms;
            state.alarms = channel->status;
        } else if (server.passwordMissing) {
            state.phase = ServerState::Phase::noPassword;
        } else if (server.login.state == Login::refused) {
            state.phase = ServerState::Phase::loginRefused;
        } else if (server.login.state == Login::retrying) {
            state.phase = ServerState::Phase::loginRetrying;
            state.since = server.login.since;
            state.nextAttempt = server.login.nextAttempt;
        }
        line += "  \u2022  " + serverStateText(state, now);
    }
    return line;
}

void MainSheet::refreshAlarmStatus() {
    const AlarmChannelStatus::Clock::time_point now = AlarmChannelStatus::Clock::now();
    std::string line = m_servers != nullptr && !m_servers->shown().empty()
                           ? serverStatesLine(now)
                           : alarmStatusLine(m_alarmChannelStatus, now);
    // The last alarm of any server.
    AlarmChannelStatus latest = m_alarmChannelStatus;
    for (const EventsPage::ServerAlarmStatus& other : m_eventsPage->otherServerStatuses()) {
        latest.lastAlarm = std::max(latest.lastAlarm, other.status.lastAlarm);
    }
    line += "  \u2022  " + lastAlarmLine(latest);
    // The most pressing first: the journal, the snapshots, what the journal's opening found, a
    // recording that stopped, a server list that could not be read.
    const std::string listMessage = m_servers != nullptr ? m_servers->listMessage() : "";
    for (const std::optional<std::string>& warning :
         {std::optional(listMessage), std::optional(m_monitorClosed),
          std::optional(m_recordingStopped), std::optional(m_alarmChannelStatus.journalNotice),
          snapshotTroubleLine(m_alarmChannelStatus), journalTroubleLine(m_alarmChannelStatus)}) {
        if (warning && !warning->empty()) {
            line = *warning + "  \u2022  " + line;
        }
    }
    m_alarmStatus->setText(qtText(line));
}

MainSheet::~MainSheet() {
    // The alarm channel's threads call queueEventAlert(): they stop while the sheet is whole.
    m_eventsPage->stopAlarmChannel();
    // The monitor goes with the sheet's children, after the sheet's members: its end is no
    // closing by the operator.
    if (m_alarmMonitor) {
        m_alarmMonitor->disconnect(this);
    }
}

void MainSheet::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        applyStoredSettings();
    }
    QDialog::showEvent(event);
}

void MainSheet::applyStoredSettings() {
    // The grid kept in the settings replaces the login's 2 × 2.
    m_gridRows = m_gridColumns = settingValue<Setting::GridColumns>();
    m_videoPage->setGridColumns(m_gridColumns);
    m_liveView->setLiveGrid(settingValue<Setting::LiveGrid>());
    m_liveView->setEvidenceSettings(loadEvidenceSettings());
    m_videoPage->setGrid(m_gridRows, m_gridColumns);
    m_settingsPage->ShowAlerts = settingValue<Setting::ShowAlerts>() ? 1 : 0;
    m_settingsPage->PlaySound = settingValue<Setting::PlaySound>() ? 1 : 0;
    m_settingsPage->AlertCooldownSeconds = settingValue<Setting::AlertCooldownSeconds>();
    m_settingsPage->updateControlsFromMembers();
    m_eventsPage->alertSink = this;
    // Once the window is up, so that full screen and the screen apply to it.
    QTimer::singleShot(0, this, &MainSheet::showStartView);
    m_viewSaveTimer->start();
}

void MainSheet::showStartView() {
    if (m_startRequest.alarmMonitor) {
        openAlarmMonitor(m_startRequest.screen.value_or(0));
        return;
    }
    if (m_startRequest.any()) {
        if (m_startRequest.screen) {
            placeOnScreen(*m_startRequest.screen);
        }
        if (m_startRequest.layout && !m_liveView->showLayout(*m_startRequest.layout)) {
            writeLog("DMainPropSheet", "showStartView",
                     ("no layout \"" + *m_startRequest.layout + "\"").c_str());
        }
        if (m_startRequest.tour && !m_liveView->startTour(*m_startRequest.tour)) {
            writeLog("DMainPropSheet", "showStartView",
                     ("no tour \"" + *m_startRequest.tour + "\"").c_str());
        }
        if (m_startRequest.fullScreen) {
            m_liveView->setFullScreen(true);
        }
        return;
    }
    const std::optional<ViewState> saved = parseViewState(settingValue<Setting::LastView>());
    if (!saved) {
        return;
    }
    restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(saved->main.geometry)));
    placeOnScreen(saved->main.screen);
    m_liveView->restoreView(saved->main);
    m_liveView->restoreExtraWindows(saved->extraWindows);
    m_savedView = viewStateText(*saved);
}

void MainSheet::openAlarmMonitor(std::optional<int> fullScreenOn) {
    if (!m_alarmMonitor) {
        m_alarmMonitor = new AlarmMonitorWindow(m_app, this);
        m_monitorClosed.clear();
        const MonitorSettingsBox* settings = m_settingsPage->monitorSettings();
        m_alarmMonitor->setHold(settings->hold());
        connect(settings, &MonitorSettingsBox::holdChanged, m_alarmMonitor,
                &AlarmMonitorWindow::setHold);
        connect(m_alarmMonitor, &AlarmMonitorWindow::moreAlarmsAsked, this,
                [this](const QDateTime& from, const QDateTime& to) {
                    if (HistoryView* history = m_eventsPage->history()) {
                        history->showReceivedBetween(from, to);
                        m_tabs->setCurrentWidget(m_eventsPage);
                        raise();
                        activateWindow();
                    }
                });
        // Closed by the operator: alarms no longer reach it, and that must not go unsaid.
        connect(m_alarmMonitor, &QObject::destroyed, this, [this] {
            m_monitorClosed = "The alarm monitor is closed: alarms no longer show their cameras";
            showAlarmChannelStatus(m_alarmChannelStatus);
        });
        showAlarmChannelStatus(m_alarmChannelStatus);
    }
    if (fullScreenOn) {
        const QList<QScreen*> screens = QGuiApplication::screens();
        if (QScreen* chosen =
                screens.value(chosenScreen(*fullScreenOn, static_cast<int>(screens.size())))) {
            m_alarmMonitor->setGeometry(chosen->availableGeometry());
        }
        m_alarmMonitor->show();
        m_alarmMonitor->setFullScreen(true);
    } else {
        m_alarmMonitor->show();
    }
    m_alarmMonitor->raise();
    m_alarmMonitor->activateWindow();
}

void MainSheet::placeOnScreen(int screen) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    QScreen* chosen = screens.value(chosenScreen(screen, static_cast<int>(screens.size())));
    if (chosen == nullptr || this->screen() == chosen) {
        return;
    }
    const QRect room = chosen->availableGeometry();
    setGeometry(keptWithin(QRect(room.topLeft(), size()), room));
    if (windowHandle() != nullptr) {
        windowHandle()->setScreen(chosen);
    }
}

ViewState MainSheet::viewState() const {
    ViewState state{m_liveView->view(), m_liveView->extraWindowViews()};
    state.main.geometry = saveGeometry().toBase64().toStdString();
    state.main.screen = static_cast<int>(QGuiApplication::screens().indexOf(screen()));
    return state;
}

void MainSheet::saveViewState() {
    const std::string text = viewStateText(viewState());
    if (text != m_savedView && setSettingValue<Setting::LastView>(text)) {
        m_savedView = text;
    }
}

void MainSheet::queueEventAlert(const AlarmEvent& event,
                                std::shared_ptr<const KeptSnapshot> snapshot) {
    // A tour that lets alarms in shows the camera, whether alerts pop up or not; so does the
    // alarm monitor.
    m_liveView->noteAlarm(event.camera());
    if (m_alarmMonitor) {
        m_alarmMonitor->noteAlarm(event);
    }
    if (m_settingsPage->ShowAlerts != 1 || (m_alarmMonitor && m_alarmMonitor->isVisible() &&
                                            m_settingsPage->monitorSettings()->hidesAlerts())) {
        return;
    }
    if (!m_alertCooldown.allowAlert(cameraKey(event.camera()), event.alarmName,
                                    AlertCooldown::Clock::now(),
                                    std::chrono::seconds(m_settingsPage->AlertCooldownSeconds))) {
        return;
    }
    // Each camera's alarm reaches the desktop, even where the alert shows only the last.
    m_notifier->notifyAlert(event, snapshot ? snapshot->picture : QImage());
    m_pendingAlert = {event, std::move(snapshot)};
    m_alertTimer->start();
}

void MainSheet::placeAlert() {
    const DialogRect place = alertPopupRect(width(), height());
    m_alertWindow->setGeometry(place.x, place.y, place.width, place.height);
}

void MainSheet::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // A shown alert stays over the middle of the tabs.
    if (m_alertWindow != nullptr && m_alertWindow->isVisible()) {
        placeAlert();
    }
}

void MainSheet::showPendingAlert() {
    if (m_alertWindow == nullptr) {
        m_alertWindow = new EventAlertDialog(this);
        connect(m_alertWindow, &EventAlertDialog::showVideoRequested, this,
                [this](const QString& server, const QString& channelId) {
                    showAlarmVideo({server.toStdString(), channelId.toStdString()});
                });
    }
    placeAlert();
    const AlarmEvent& event = m_pendingAlert.event;
    m_alertWindow->setTexts(event.alarmName, event.channelId, event.timeText);
    m_alertWindow->setEvent(event, m_pendingAlert.snapshot);
    m_alertWindow->show();
    m_alertWindow->raise();
    if (m_settingsPage->PlaySound == 1) {
        // Loaded at the first sound only: a sheet that never plays one starts no loader.
        if (m_alertSound->source().isEmpty()) {
            m_alertSound->setSource(QUrl(QStringLiteral("qrc:/krt/alert.wav")));
        }
        // A sound still playing starts again from the beginning.
        m_alertSound->stop();
        m_alertSound->play();
    }
}

void MainSheet::keyPressEvent(QKeyEvent* event) {
    // Escape would end the dialog, and with it the session: one stray key must not stop the
    // alarms. A focused alert closes on its own Escape before the key gets here.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainSheet::closeEvent(QCloseEvent* event) {
    if (!m_closeQuestion(QString::fromUtf8(kCloseQuestionText))) {
        event->ignore();
        return;
    }
    saveViewState();
    QDialog::closeEvent(event);
}

void MainSheet::showAlarmVideo(const CameraRef& camera) {
    const AppState* server = m_app.server(camera.server);
    const int index = server != nullptr ? findChannelIndex(server->m_channels, camera.channel) : -1;
    if (index < 0) {
        return;
    }
    if (m_alarmVideoHook) {
        m_alarmVideoHook(*server, index);
    }
    m_tabs->setCurrentWidget(m_liveView);
}

void MainSheet::setAlarmVideoHook(AlarmVideoHook hook) {
    m_alarmVideoHook = std::move(hook);
}

void MainSheet::setCloseQuestion(CloseQuestion question) {
    m_closeQuestion = std::move(question);
}

}  // namespace krt
