#include "layouts/ui/tour_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>

#include "common/ui/qt_text.h"

namespace krt {
namespace {

// The name as stored; the item's text is the name as shown.
constexpr int kLayoutNameRole = Qt::UserRole;

}  // namespace

TourDialog::TourDialog(const LayoutBook& book, const Tour& tour, QWidget* parent)
    : QDialog(parent),
      m_name(new QLineEdit(qtText(tour.name), this)),
      m_dwell(new QSpinBox(this)),
      m_alarm(new QSpinBox(this)),
      m_layouts(new QListWidget(this)) {
    setWindowTitle(QStringLiteral("Tour"));
    m_dwell->setRange(Tour::kShortestDwell_s, Tour::kLongestDwell_s);
    m_dwell->setSuffix(QStringLiteral(" s"));
    m_dwell->setValue(clampedDwell(tour.dwell_s));
    m_alarm->setRange(0, Tour::kLongestDwell_s);
    m_alarm->setSuffix(QStringLiteral(" s"));
    m_alarm->setSpecialValueText(QStringLiteral("Alarms do not interrupt"));
    m_alarm->setValue(tour.alarmShow_s);
    std::vector<std::string> names{std::string(kAllCamerasLayout)};
    for (const Layout& layout : book.layouts()) {
        names.push_back(layout.name);
    }
    for (const std::string& name : names) {
        auto* item = new QListWidgetItem(qtServerText(name), m_layouts);
        item->setData(kLayoutNameRole, qtText(name));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool chosen = std::ranges::find(tour.layouts, name) != tour.layouts.end();
        item->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Name:"), m_name);
    form->addRow(QStringLiteral("Layouts:"), m_layouts);
    form->addRow(QStringLiteral("Each shown for:"), m_dwell);
    form->addRow(QStringLiteral("Alarm camera shown for:"), m_alarm);
    form->addRow(buttons);
}

Tour TourDialog::tour() const {
    Tour tour{m_name->text().toStdString(), m_dwell->value(), {}, m_alarm->value()};
    for (int row = 0; row < m_layouts->count(); ++row) {
        if (m_layouts->item(row)->checkState() == Qt::Checked) {
            tour.layouts.push_back(
                m_layouts->item(row)->data(kLayoutNameRole).toString().toStdString());
        }
    }
    return tour;
}

}  // namespace krt
