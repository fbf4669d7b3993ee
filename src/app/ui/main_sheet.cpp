#include "app/ui/main_sheet.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QSoundEffect>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "alarms/alarm_status_text.h"
#include "alarms/alert_layout.h"
#include "alarms/ui/alarm_tray_icon.h"
#include "alarms/ui/event_alert_dialog.h"
#include "alarms/ui/events_page.h"
#include "alarms/ui/snapshot_store.h"
#include "app/ui/about_page.h"
#include "common/ui/qt_text.h"
#include "settings/ui/settings_page.h"
#include "settings/ui/video_settings_box.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

constexpr QSize kInitialSize(640, 560);
constexpr const char* kCloseQuestionText = "Log out and close the client?";

}  // namespace

MainSheet::MainSheet(const AppState& app, QWidget* parent)
    : QDialog(parent),
      m_app(app),
      m_tabs(new QTabWidget(this)),
      m_videoPage(new VideoPage(app)),
      m_eventsPage(new EventsPage(app)),
      m_aboutPage(new AboutPage),
      m_settingsPage(new SettingsPage),
      m_alertTimer(new QTimer(this)),
      m_alertSound(new QSoundEffect(this)),
      m_trayIcon(new AlarmTrayIcon(this)) {
    setWindowFlag(Qt::WindowMinMaxButtonsHint);
    m_tabs->addTab(m_videoPage, QStringLiteral("Videos"));
    m_tabs->addTab(m_eventsPage, QStringLiteral("Alarms"));
    m_tabs->addTab(m_settingsPage, QStringLiteral("Settings"));
    m_tabs->addTab(m_aboutPage, QStringLiteral("About"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
    resize(kInitialSize);

    m_alertTimer->setSingleShot(true);
    m_alertTimer->setInterval(kAlertTimerPeriod_ms);
    connect(m_alertTimer, &QTimer::timeout, this, &MainSheet::OnAlertTimer);
    m_alarmVideoHook = [this](int channelIndex) { m_videoPage->showChannelAt(channelIndex); };
    addAlarmStatusIndicator();
    connect(m_eventsPage, &EventsPage::alarmChannelStatusChanged, m_trayIcon,
            &AlarmTrayIcon::showChannelState);
    m_closeQuestion = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    connectVideoSettings();
}

void MainSheet::connectVideoSettings() {
    const VideoSettingsBox* box = m_settingsPage->videoSettings();
    connect(box, &VideoSettingsBox::gridColumnsChanged, m_videoPage, &VideoPage::setGridColumns);
    connect(box, &VideoSettingsBox::liveGridChanged, m_videoPage, &VideoPage::setLiveGrid);
    connect(box, &VideoSettingsBox::evidenceSettingsChanged, m_videoPage,
            &VideoPage::setEvidenceSettings);
}

void MainSheet::addAlarmStatusIndicator() {
    // A status line under the tabs, so that every tab shows it.
    m_alarmStatus = new QLabel(this);
    m_alarmStatus->setObjectName(QStringLiteral("alarmStatus"));
    m_alarmStatus->setTextFormat(Qt::PlainText);
    m_alarmStatus->setContentsMargins(6, 2, 6, 2);
    layout()->addWidget(m_alarmStatus);
    m_alarmStatusTimer = new QTimer(this);
    m_alarmStatusTimer->setInterval(1000);
    connect(m_alarmStatusTimer, &QTimer::timeout, this, &MainSheet::refreshAlarmStatus);
    connect(m_eventsPage, &EventsPage::alarmChannelStatusChanged, this,
            &MainSheet::showAlarmChannelStatus);
    showAlarmChannelStatus(m_eventsPage->channelStatus());
}

void MainSheet::showAlarmChannelStatus(const AlarmChannelStatus& status) {
    m_alarmChannelStatus = status;
    using State = AlarmChannelStatus::State;
    // Snapshots that are not being stored outweigh every state.
    const char* colour = status.snapshotTrouble              ? "#cf222e"
                         : status.state == State::subscribed ? "#1a7f37"
                         : status.state == State::retrying   ? "#bf5700"
                                                             : "#6e7781";
    m_alarmStatus->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(colour));
    m_alarmStatus->setToolTip(qtText(lastAlarmLine(status)));
    if (status.state == State::retrying) {
        m_alarmStatusTimer->start();
    } else {
        m_alarmStatusTimer->stop();
    }
    refreshAlarmStatus();
}

void MainSheet::refreshAlarmStatus() {
    std::string line = alarmStatusLine(m_alarmChannelStatus, AlarmChannelStatus::Clock::now()) +
                       "  \u2022  " + lastAlarmLine(m_alarmChannelStatus);
    if (const std::optional<std::string> trouble = snapshotTroubleLine(m_alarmChannelStatus)) {
        line = *trouble + "  \u2022  " + line;
    }
    m_alarmStatus->setText(qtText(line));
}

MainSheet::~MainSheet() {
    // The alarm channel's threads call queueEventAlert(): they stop while the sheet is whole.
    m_eventsPage->stopAlarmChannel();
}

void MainSheet::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void MainSheet::OnInitDialog() {
    // The grid kept in the settings replaces the login's 2 × 2.
    m_gridRows = m_gridColumns = loadGridColumns();
    m_videoPage->setGridColumns(m_gridColumns);
    m_videoPage->setLiveGrid(loadLiveGrid());
    m_videoPage->setEvidenceSettings(loadEvidenceSettings());
    m_videoPage->setGrid(m_gridRows, m_gridColumns);
    m_settingsPage->ShowAlerts = loadAlertSetting(kShowAlertsValue);
    m_settingsPage->PlaySound = loadAlertSetting(kPlaySoundValue);
    m_settingsPage->AlertCooldownSeconds = loadAlertCooldownSetting();
    m_settingsPage->updateControlsFromMembers();
    m_eventsPage->alertSink = this;
}

void MainSheet::queueEventAlert(const AlarmEvent& event,
                                std::shared_ptr<const KeptSnapshot> snapshot) {
    if (m_settingsPage->ShowAlerts != 1) {
        return;
    }
    if (!m_alertCooldown.allowAlert(event.channelId, event.alarmName, AlertCooldown::Clock::now(),
                                    std::chrono::seconds(m_settingsPage->AlertCooldownSeconds))) {
        return;
    }
    m_pendingAlert = {event, std::move(snapshot)};
    m_alertTimer->start();
}

void MainSheet::OnAlertTimer() {
    if (m_alertWindow == nullptr) {
        m_alertWindow = new EventAlertDialog(this);
        connect(m_alertWindow, &EventAlertDialog::showVideoRequested, this,
                [this](const QString& channelId) { showAlarmVideo(channelId.toStdString()); });
    }
    const DialogRect place = alertPopupRect(width(), height());
    m_alertWindow->setGeometry(place.x, place.y, place.width, place.height);
    const AlarmEvent& event = m_pendingAlert.event;
    m_alertWindow->setTexts(qtText(event.alarmName), qtText(event.channelId),
                            qtText(event.timeText));
    m_alertWindow->setEvent(event, m_pendingAlert.snapshot);
    m_alertWindow->show();
    m_alertWindow->raise();
    m_trayIcon->notifyAlert(qtText(event.alarmName), qtText(event.channelId));
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
    QDialog::closeEvent(event);
}

void MainSheet::showAlarmVideo(std::string_view channelId) {
    const int index = findChannelIndex(m_app.m_channels, channelId);
    if (index < 0) {
        return;
    }
    if (m_alarmVideoHook) {
        m_alarmVideoHook(index);
    }
    m_tabs->setCurrentWidget(m_videoPage);
}

void MainSheet::setAlarmVideoHook(AlarmVideoHook hook) {
    m_alarmVideoHook = std::move(hook);
}

void MainSheet::setCloseQuestion(CloseQuestion question) {
    m_closeQuestion = std::move(question);
}

}  // namespace krt
