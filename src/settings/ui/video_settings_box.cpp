#include "settings/ui/video_settings_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <algorithm>
#include <array>

#include "common/ui/settings_store.h"
#include "settings/ui/settings_page.h"
#include "video/video_settings.h"

namespace krt {
namespace {

constexpr std::size_t kStoredTextBytes = 256;

void storeText(std::string_view valueName, std::string_view text) {
    deleteRegistryValue(kSettingsKey, valueName);
    writeRegistryString(kSettingsKey, valueName, text);
}

}  // namespace

int loadGridColumns() {
    std::array<char, kStoredTextBytes + 1> text{};  // one more for the terminator
    readRegistryString(kSettingsKey, kGridColumnsValue, std::span(text.data(), kStoredTextBytes));
    return gridColumnsFromText(text.data());
}

bool loadLiveGrid() {
    return loadAlertSetting(kLiveGridValue) == 1;
}

VideoSettingsBox::VideoSettingsBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Videos"), parent),
      m_grid(new QComboBox(this)),
      m_liveGrid(
          new QCheckBox(QStringLiteral("Refresh grid tiles at the camera's frame rate"), this)) {
    m_grid->setObjectName(QStringLiteral("gridColumns"));
    m_liveGrid->setObjectName(QStringLiteral("liveGrid"));
    for (const int columns : kGridChoices) {
        m_grid->addItem(QStringLiteral("%1 × %1").arg(columns), columns);
    }
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Grid"), m_grid);
    layout->addRow(m_liveGrid);
    connect(m_grid, &QComboBox::activated, this, &VideoSettingsBox::onGridChosen);
    connect(m_liveGrid, &QCheckBox::clicked, this, &VideoSettingsBox::onLiveGridClicked);
    load();
    adjustSize();
}

void VideoSettingsBox::load() {
    m_grid->setCurrentIndex(m_grid->findData(loadGridColumns()));
    m_liveGrid->setChecked(loadLiveGrid());
}

int VideoSettingsBox::gridColumns() const {
    return m_grid->currentData().toInt();
}

bool VideoSettingsBox::liveGrid() const {
    return m_liveGrid->isChecked();
}

void VideoSettingsBox::onGridChosen(int /*index*/) {
    storeText(kGridColumnsValue, gridColumnsText(gridColumns()));
    emit gridColumnsChanged(gridColumns());
}

void VideoSettingsBox::onLiveGridClicked(bool checked) {
    storeText(kLiveGridValue, checked ? "true" : "false");
    emit liveGridChanged(checked);
}

}  // namespace krt
