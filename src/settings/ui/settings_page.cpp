#include "settings/ui/settings_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "common/ui/dialog_template.h"
#include "common/ui/settings_store.h"
#include "settings/settings_layout.h"
#include "settings/ui/journal_settings_box.h"
#include "settings/ui/monitor_settings_box.h"
#include "settings/ui/servers_box.h"
#include "settings/ui/video_settings_box.h"

namespace krt {
namespace {

constexpr int kCooldownRowGap = 20;
constexpr int kCooldownFieldGap = 6;

}  // namespace

SettingsPage::SettingsPage(QWidget* parent)
    : QWidget(parent),
      m_showAlerts(new QCheckBox(QStringLiteral("Show Event Alert"), this)),
      m_playSound(new QCheckBox(QStringLiteral("Play Alert Sound For Events"), this)),
      m_save(new QPushButton(QStringLiteral("Save"), this)),
      m_cooldownBefore(
          new QLabel(QStringLiteral("Alert again for the same camera and alarm after"), this)),
      m_cooldown(new QSpinBox(this)),
      m_cooldownAfter(new QLabel(QStringLiteral("seconds"), this)),
      m_videoSettings(new VideoSettingsBox(this)),
      m_journalSettings(new JournalSettingsBox(this)),
      m_servers(new ServersBox(this)),
      m_monitorSettings(new MonitorSettingsBox(this)) {
    m_showAlerts->setObjectName(QStringLiteral("showAlerts"));
    m_playSound->setObjectName(QStringLiteral("playSound"));
    m_save->setObjectName(QStringLiteral("save"));
    for (QWidget* control : {static_cast<QWidget*>(m_showAlerts),
                             static_cast<QWidget*>(m_playSound), static_cast<QWidget*>(m_save)}) {
        control->resize(control->sizeHint());
    }
    connect(m_showAlerts, &QCheckBox::clicked, this, &SettingsPage::applyShowAlertsChoice);
    connect(m_save, &QPushButton::clicked, this, &SettingsPage::save);
    setupCooldownField();
    updateControlsFromMembers();
}

void SettingsPage::setupCooldownField() {
    m_cooldown->setObjectName(QStringLiteral("alertCooldownSeconds"));
    constexpr const SettingRow& kCooldown = settingRow(Setting::AlertCooldownSeconds);
    m_cooldown->setRange(kCooldown.least, kCooldown.most);
    m_cooldown->setSpecialValueText(QStringLiteral("0 (always)"));
    m_cooldownBefore->setBuddy(m_cooldown);
    for (QWidget* part :
         {static_cast<QWidget*>(m_cooldownBefore), static_cast<QWidget*>(m_cooldown),
          static_cast<QWidget*>(m_cooldownAfter)}) {
        part->resize(part->sizeHint());
    }
    // Acts at once, like the alert switch; "Save" keeps it.
    connect(m_cooldown, &QSpinBox::valueChanged, this,
            [this](int seconds) { AlertCooldownSeconds = seconds; });
}

void SettingsPage::placeCooldownField() {
    const int rowWidth = m_cooldownBefore->width() + m_cooldown->width() +
                         m_cooldownAfter->width() + 2 * kCooldownFieldGap;
    const int rowTop = m_save->y() + m_save->height() + kCooldownRowGap;
    int x = (width() - rowWidth) / 2;
    for (QWidget* part :
         {static_cast<QWidget*>(m_cooldownBefore), static_cast<QWidget*>(m_cooldown),
          static_cast<QWidget*>(m_cooldownAfter)}) {
        part->move(x, rowTop + (m_cooldown->height() - part->height()) / 2);
        x += part->width() + kCooldownFieldGap;
    }
}

void SettingsPage::storeCooldownField() {
    AlertCooldownSeconds = m_cooldown->value();
    replaceSettingValue<Setting::AlertCooldownSeconds>(AlertCooldownSeconds);
}

void SettingsPage::updateMembersFromControls() {
    ShowAlerts = m_showAlerts->isChecked() ? 1 : 0;
    PlaySound = m_playSound->isChecked() ? 1 : 0;
}

void SettingsPage::updateControlsFromMembers() {
    m_showAlerts->setChecked(ShowAlerts == 1);
    m_playSound->setChecked(PlaySound == 1);
    m_cooldown->setValue(AlertCooldownSeconds);
}

void SettingsPage::applyShowAlertsChoice() {
    updateMembersFromControls();
    if (ShowAlerts == 0) {
        PlaySound = 0;
        updateControlsFromMembers();
        m_playSound->setEnabled(false);
    } else {
        m_playSound->setEnabled(true);
    }
}

void SettingsPage::save() {
    updateMembersFromControls();
    replaceSettingValue<Setting::ShowAlerts>(ShowAlerts == 1);
    replaceSettingValue<Setting::PlaySound>(PlaySound == 1);
    storeCooldownField();
}

void SettingsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const SettingsPageLayout layout = layoutSettingsPage(
        {width(), m_showAlerts->width(), m_showAlerts->height(), m_save->width()});
    moveTo(m_showAlerts, layout.showAlerts);
    moveTo(m_playSound, layout.playSound);
    moveTo(m_save, layout.save);
    placeCooldownField();
    placeBelow(m_videoSettings, m_cooldown);
    placeBelow(m_journalSettings, m_videoSettings);
    placeBelow(m_servers, m_journalSettings);
    placeBelow(m_monitorSettings, m_servers);
}

void SettingsPage::placeBelow(QWidget* control, const QWidget* above) {
    constexpr int kGap = 30;
    control->move((width() - control->width()) / 2, above->y() + above->height() + kGap);
}

}  // namespace krt
