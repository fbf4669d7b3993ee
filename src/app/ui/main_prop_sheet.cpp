#include "app/ui/main_prop_sheet.h"

#include <QSoundEffect>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "alarms/alert_layout.h"
#include "alarms/ui/events_alert_dlg.h"
#include "alarms/ui/events_page.h"
#include "app/ui/about_page.h"
#include "common/ui/qt_text.h"
#include "settings/ui/settings_page.h"
#include "settings/ui/video_settings_box.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

constexpr QSize kInitialSize(640, 560);

}  // namespace

DMainPropSheet::DMainPropSheet(const KRTApp& app, QWidget* parent)
    : QDialog(parent),
      m_app(app),
      m_tabs(new QTabWidget(this)),
      m_videoPage(new DVideoPage(app)),
      m_eventsPage(new DEventsPage(app)),
      m_aboutPage(new DAboutPage),
      m_settingsPage(new DSettingsPage),
      m_alertTimer(new QTimer(this)),
      m_alertSound(new QSoundEffect(this)) {
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
    connect(m_alertTimer, &QTimer::timeout, this, &DMainPropSheet::OnAlertTimer);
    m_alarmVideoHook = [this](int channelIndex) { m_videoPage->showChannelAt(channelIndex); };
    connectVideoSettings();
}

void DMainPropSheet::connectVideoSettings() {
    const DVideoSettingsBox* box = m_settingsPage->videoSettings();
    connect(box, &DVideoSettingsBox::gridColumnsChanged, m_videoPage, &DVideoPage::setGridColumns);
    connect(box, &DVideoSettingsBox::liveGridChanged, m_videoPage, &DVideoPage::setLiveGrid);
}

DMainPropSheet::~DMainPropSheet() {
    // The alarm channel's threads call queueEventAlert(): they stop while the sheet is whole.
    m_eventsPage->stopAlarmChannel();
}

void DMainPropSheet::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void DMainPropSheet::OnInitDialog() {
    // The grid kept in the settings replaces the login's 2 × 2.
    m_gridRows = m_gridColumns = loadGridColumns();
    m_videoPage->setGridColumns(m_gridColumns);
    m_videoPage->setLiveGrid(loadLiveGrid());
    m_videoPage->setGrid(m_gridRows, m_gridColumns);
    m_settingsPage->ShowAlerts = loadAlertSetting(kShowAlertsValue);
    m_settingsPage->PlaySound = loadAlertSetting(kPlaySoundValue);
    m_settingsPage->updateControlsFromMembers();
    m_eventsPage->alertSink = this;
}

void DMainPropSheet::queueEventAlert(std::string_view alarmName, std::string_view channelId,
                                     std::string_view timeText) {
    if (m_settingsPage->ShowAlerts != 1) {
        return;
    }
    {
        std::lock_guard lock(m_alertMutex);
        m_alertTexts = {qtText(alarmName), qtText(timeText), qtText(channelId)};
    }
    QMetaObject::invokeMethod(
        this, [this] { m_alertTimer->start(); }, Qt::QueuedConnection);
}

void DMainPropSheet::OnAlertTimer() {
    if (m_alertWindow == nullptr) {
        m_alertWindow = new DEventsAlertDlg(this);
        connect(m_alertWindow, &DEventsAlertDlg::showVideoRequested, this,
                [this](const QString& channelId) { showAlarmVideo(channelId.toStdString()); });
    }
    const DialogRect place = alertPopupRect(width(), height());
    m_alertWindow->setGeometry(place.x, place.y, place.width, place.height);
    {
        std::lock_guard lock(m_alertMutex);
        m_alertWindow->setTexts(m_alertTexts.type, m_alertTexts.source, m_alertTexts.time);
    }
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

void DMainPropSheet::showAlarmVideo(std::string_view channelId) {
    const int index = findChannelIndex(m_app.m_channels, channelId);
    if (index < 0) {
        return;
    }
    if (m_alarmVideoHook) {
        m_alarmVideoHook(index);
    }
    m_tabs->setCurrentWidget(m_videoPage);
}

void DMainPropSheet::setAlarmVideoHook(AlarmVideoHook hook) {
    m_alarmVideoHook = std::move(hook);
}

}  // namespace krt
