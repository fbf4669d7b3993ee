#pragma once

#include <QGroupBox>

#include "tile/video_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace krt {

// The Videos part of the Settings tab: the grid size, whether grid tiles draw every frame, the
// folder of snapshots and clips and the longest recording. A change takes effect and is stored
// at once.
class VideoSettingsBox : public QGroupBox {
    Q_OBJECT

  public:
    explicit VideoSettingsBox(QWidget* parent = nullptr);

    // Shows the stored values (a missing value: 2 × 2, not live).
    void load();
    int gridColumns() const;
    bool liveGrid() const;
    EvidenceSettings evidenceSettings() const;

    QComboBox* gridChoice() const { return m_grid; }
    QCheckBox* liveGridBox() const { return m_liveGrid; }
    QLineEdit* evidenceFolderField() const { return m_evidenceFolder; }
    QPushButton* chooseFolderButton() const { return m_chooseFolder; }
    QSpinBox* recordingMinutesField() const { return m_recordingMinutes; }

  signals:
    void gridColumnsChanged(int columns);
    void liveGridChanged(bool liveGrid);
    void evidenceSettingsChanged(const EvidenceSettings& settings);

  private:
    void onGridChosen(int index);
    void onLiveGridClicked(bool checked);
    void onEvidenceFolderEdited();
    void onChooseFolder();
    void onRecordingMinutesChanged(int minutes);

    QComboBox* m_grid;
    QCheckBox* m_liveGrid;
    QLineEdit* m_evidenceFolder;
    QPushButton* m_chooseFolder;
    QSpinBox* m_recordingMinutes;
};

// The stored folder of snapshots and clips (without one: KRT in the user's pictures folder, as
// xdg-user-dir names it) and the longest recording.
EvidenceSettings loadEvidenceSettings();

}  // namespace krt
