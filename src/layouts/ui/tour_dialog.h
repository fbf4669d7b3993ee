#pragma once

#include <QDialog>

#include "layouts/layout_book.h"

class QLineEdit;
class QListWidget;
class QSpinBox;

namespace krt {

// Makes or changes a tour: its name, the layouts it shows in order (checked in the list),
// how long each stays, and whether an alarm shows its camera in the middle of it.
class TourDialog : public QDialog {
    Q_OBJECT

  public:
    TourDialog(const LayoutBook& book, const Tour& tour, QWidget* parent = nullptr);

    Tour tour() const;

  private:
    QLineEdit* m_name;
    QSpinBox* m_dwell;
    QSpinBox* m_alarm;
    QListWidget* m_layouts;
};

}  // namespace krt
