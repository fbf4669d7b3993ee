#include "app/ui/main_prop_sheet.h"

#include <QTabWidget>
#include <QVBoxLayout>

#include "app/ui/about_page.h"
#include "settings/ui/settings_page.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

constexpr QSize kInitialSize(640, 560);

}  // namespace

DMainPropSheet::DMainPropSheet(const KRTApp& app, QWidget* parent)
    : QDialog(parent),
      m_tabs(new QTabWidget(this)),
      m_videoPage(new DVideoPage(app)),
      m_eventsPage(new QWidget),
      m_aboutPage(new DAboutPage),
      m_settingsPage(new DSettingsPage) {
    setWindowFlag(Qt::WindowMinMaxButtonsHint);
    m_tabs->addTab(m_videoPage, QStringLiteral("Videos"));
    m_tabs->addTab(m_eventsPage, QStringLiteral("Alarms"));
    m_tabs->addTab(m_settingsPage, QStringLiteral("Settings"));
    m_tabs->addTab(m_aboutPage, QStringLiteral("About"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
    resize(kInitialSize);
}

void DMainPropSheet::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void DMainPropSheet::OnInitDialog() {
    m_videoPage->setChannelCount(m_channelCount);
    m_videoPage->setGrid(m_gridRows, m_gridColumns);
    m_settingsPage->ShowAlerts = loadAlertSetting(kShowAlertsValue);
    m_settingsPage->PlaySound = loadAlertSetting(kPlaySoundValue);
    m_settingsPage->updateControlsFromMembers();
}

void DMainPropSheet::showAlarmVideo(std::string_view channelId) {
    if (m_videoPage->showChannel(channelId)) {
        m_tabs->setCurrentWidget(m_videoPage);
    }
}

}  // namespace krt
