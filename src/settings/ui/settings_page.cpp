#include "settings/ui/settings_page.h"

#include <QCheckBox>
#include <QPushButton>
#include <array>

#include "common/dialog_text.h"
#include "common/ui/dialog_template.h"
#include "settings/settings_layout.h"
#include "settings/ui/settings_store.h"
#include "settings/ui/video_settings_box.h"

namespace krt {
namespace {

constexpr std::size_t kStoredTextBytes = 256;

void storeSwitch(std::string_view valueName, int on) {
    deleteRegistryValue(kSettingsKey, valueName);
    writeRegistryString(kSettingsKey, valueName, on == 1 ? "true" : "false");
}

}  // namespace

int loadAlertSetting(std::string_view valueName) {
    std::array<char, kStoredTextBytes + 1> text{};  // one more for the terminator
    readRegistryString(kSettingsKey, valueName, std::span(text.data(), kStoredTextBytes));
    return isStoredTrue(text.data()) ? 1 : 0;
}

DSettingsPage::DSettingsPage(QWidget* parent)
    : QWidget(parent),
      m_showAlerts(new QCheckBox(QStringLiteral("Show Event Alert"), this)),
      m_playSound(new QCheckBox(QStringLiteral("Play Alert Sound For Events"), this)),
      m_save(new QPushButton(QStringLiteral("Save"), this)),
      m_videoSettings(new DVideoSettingsBox(this)) {
    m_showAlerts->setObjectName(QStringLiteral("showAlerts"));
    m_playSound->setObjectName(QStringLiteral("playSound"));
    m_save->setObjectName(QStringLiteral("save"));
    for (QWidget* control : {static_cast<QWidget*>(m_showAlerts),
                             static_cast<QWidget*>(m_playSound), static_cast<QWidget*>(m_save)}) {
        control->resize(control->sizeHint());
    }
    connect(m_showAlerts, &QCheckBox::clicked, this, &DSettingsPage::OnShowAlertsClicked);
    connect(m_save, &QPushButton::clicked, this, &DSettingsPage::OnSave);
    updateControlsFromMembers();
}

void DSettingsPage::updateMembersFromControls() {
    ShowAlerts = m_showAlerts->isChecked() ? 1 : 0;
    PlaySound = m_playSound->isChecked() ? 1 : 0;
}

void DSettingsPage::updateControlsFromMembers() {
    m_showAlerts->setChecked(ShowAlerts == 1);
    m_playSound->setChecked(PlaySound == 1);
}

void DSettingsPage::OnShowAlertsClicked() {
    updateMembersFromControls();
    if (ShowAlerts == 0) {
        PlaySound = 0;
        updateControlsFromMembers();
        m_playSound->setEnabled(false);
    } else {
        m_playSound->setEnabled(true);
    }
}

void DSettingsPage::OnSave() {
    updateMembersFromControls();
    storeSwitch(kShowAlertsValue, ShowAlerts);
    storeSwitch(kPlaySoundValue, PlaySound);
}

void DSettingsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const SettingsPageLayout layout = layoutSettingsPage(
        {width(), m_showAlerts->width(), m_showAlerts->height(), m_save->width()});
    moveTo(m_showAlerts, layout.showAlerts);
    moveTo(m_playSound, layout.playSound);
    moveTo(m_save, layout.save);
    placeBelow(m_videoSettings, m_save);
}

void DSettingsPage::placeBelow(QWidget* control, const QWidget* above) {
    constexpr int kGap = 30;
    control->move((width() - control->width()) / 2, above->y() + above->height() + kGap);
}

}  // namespace krt
