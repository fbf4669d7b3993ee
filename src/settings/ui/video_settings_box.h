#pragma once

#include <QGroupBox>

class QCheckBox;
class QComboBox;

namespace krt {

// The Videos part of the Settings tab: the grid size and whether grid tiles draw every frame.
// A change takes effect and is stored at once.
class VideoSettingsBox : public QGroupBox {
    Q_OBJECT

  public:
    explicit VideoSettingsBox(QWidget* parent = nullptr);

    // Shows the stored values (a missing value: 2 × 2, not live).
    void load();
    int gridColumns() const;
    bool liveGrid() const;

    QComboBox* gridChoice() const { return m_grid; }
    QCheckBox* liveGridBox() const { return m_liveGrid; }

  signals:
    void gridColumnsChanged(int columns);
    void liveGridChanged(bool liveGrid);

  private:
    void onGridChosen(int index);
    void onLiveGridClicked(bool checked);

    QComboBox* m_grid;
    QCheckBox* m_liveGrid;
};

// The stored grid, as the Videos page opens with it.
int loadGridColumns();
bool loadLiveGrid();

}  // namespace krt
