#include "settings/ui/video_settings_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>

#include "common/ui/qt_text.h"
#include "common/ui/settings_store.h"
#include "tile/video_settings.h"

namespace krt {
namespace {

QString defaultEvidenceFolder() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QDir(pictures.isEmpty() ? QDir::homePath() : pictures).filePath(QStringLiteral("KRT"));
}

}  // namespace

EvidenceSettings loadEvidenceSettings() {
    EvidenceSettings settings;
    settings.folder = settingValue<Setting::EvidenceFolder>();
    if (settings.folder.empty()) {
        settings.folder = defaultEvidenceFolder().toStdString();
    }
    settings.maxRecordingMinutes = settingValue<Setting::MaxRecordingMinutes>();
    return settings;
}

VideoSettingsBox::VideoSettingsBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Videos"), parent),
      m_grid(new QComboBox(this)),
      m_liveGrid(
          new QCheckBox(QStringLiteral("Refresh grid tiles at the camera's frame rate"), this)),
      m_evidenceFolder(new QLineEdit(this)),
      m_chooseFolder(new QPushButton(QStringLiteral("Choose\u2026"), this)),
      m_recordingMinutes(new QSpinBox(this)) {
    m_grid->setObjectName(QStringLiteral("gridColumns"));
    m_liveGrid->setObjectName(QStringLiteral("liveGrid"));
    m_evidenceFolder->setObjectName(QStringLiteral("evidenceFolder"));
    m_recordingMinutes->setObjectName(QStringLiteral("maxRecordingMinutes"));
    constexpr const SettingRow& kGrids = settingRow(Setting::GridColumns);
    for (int columns = kGrids.least; columns <= kGrids.most; ++columns) {
        m_grid->addItem(QStringLiteral("%1 × %1").arg(columns), columns);
    }
    constexpr const SettingRow& kMinutes = settingRow(Setting::MaxRecordingMinutes);
    m_recordingMinutes->setRange(kMinutes.least, kMinutes.most);
    m_recordingMinutes->setSuffix(QStringLiteral(" min"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_evidenceFolder, 1);
    folderRow->addWidget(m_chooseFolder);
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Grid"), m_grid);
    layout->addRow(m_liveGrid);
    layout->addRow(QStringLiteral("Snapshots and clips"), folderRow);
    layout->addRow(QStringLiteral("Longest recording"), m_recordingMinutes);
    connect(m_grid, &QComboBox::activated, this, &VideoSettingsBox::onGridChosen);
    connect(m_liveGrid, &QCheckBox::clicked, this, &VideoSettingsBox::onLiveGridClicked);
    connect(m_evidenceFolder, &QLineEdit::editingFinished, this,
            &VideoSettingsBox::onEvidenceFolderEdited);
    connect(m_chooseFolder, &QPushButton::clicked, this, &VideoSettingsBox::onChooseFolder);
    load();
    connect(m_recordingMinutes, &QSpinBox::valueChanged, this,
            &VideoSettingsBox::onRecordingMinutesChanged);
    adjustSize();
}

void VideoSettingsBox::load() {
    m_grid->setCurrentIndex(m_grid->findData(settingValue<Setting::GridColumns>()));
    m_liveGrid->setChecked(settingValue<Setting::LiveGrid>());
    const EvidenceSettings evidence = loadEvidenceSettings();
    m_evidenceFolder->setText(qtText(evidence.folder));
    // Set before the change is listened to, so that loading stores nothing.
    const QSignalBlocker quiet(m_recordingMinutes);
    m_recordingMinutes->setValue(evidence.maxRecordingMinutes);
}

int VideoSettingsBox::gridColumns() const {
    return m_grid->currentData().toInt();
}

bool VideoSettingsBox::liveGrid() const {
    return m_liveGrid->isChecked();
}

EvidenceSettings VideoSettingsBox::evidenceSettings() const {
    return {m_evidenceFolder->text().toStdString(), m_recordingMinutes->value()};
}

void VideoSettingsBox::onGridChosen(int /*index*/) {
    replaceSettingValue<Setting::GridColumns>(gridColumns());
    emit gridColumnsChanged(gridColumns());
}

void VideoSettingsBox::onLiveGridClicked(bool checked) {
    replaceSettingValue<Setting::LiveGrid>(checked);
    emit liveGridChanged(checked);
}

void VideoSettingsBox::onEvidenceFolderEdited() {
    // An emptied field goes back to the default folder.
    const QString folder = m_evidenceFolder->text().trimmed();
    if (folder.isEmpty()) {
        clearSetting(Setting::EvidenceFolder);
        m_evidenceFolder->setText(defaultEvidenceFolder());
    } else {
        replaceSettingValue<Setting::EvidenceFolder>(folder.toStdString());
        m_evidenceFolder->setText(folder);
    }
    emit evidenceSettingsChanged(evidenceSettings());
}

void VideoSettingsBox::onChooseFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Folder of snapshots and clips"), m_evidenceFolder->text());
    if (!folder.isEmpty()) {
        m_evidenceFolder->setText(folder);
        onEvidenceFolderEdited();
    }
}

void VideoSettingsBox::onRecordingMinutesChanged(int minutes) {
    replaceSettingValue<Setting::MaxRecordingMinutes>(minutes);
    emit evidenceSettingsChanged(evidenceSettings());
}

}  // namespace krt
