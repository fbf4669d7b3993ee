#include "layouts/ui/camera_list.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QVBoxLayout>

#include "common/ui/qt_text.h"
#include "layouts/ui/layout_grid.h"

namespace krt {
namespace {

constexpr int kChannelIdRole = Qt::UserRole;

// Drags carry the ChannelID alone, as the layout grid reads it.
class CameraListWidget : public QListWidget {
  public:
    using QListWidget::QListWidget;

  protected:
    QStringList mimeTypes() const override {
        return {QString::fromLatin1(LayoutGrid::kCameraMime)};
    }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override {
        if (items.isEmpty()) {
            return nullptr;
        }
        auto* dragged = new QMimeData;
        dragged->setData(QString::fromLatin1(LayoutGrid::kCameraMime),
                         items.front()->data(kChannelIdRole).toString().toUtf8());
        return dragged;
    }
};

}  // namespace

CameraList::CameraList(const AppState& app, QWidget* parent)
    : QWidget(parent),
      m_app(app),
      m_search(new QLineEdit(this)),
      m_list(new CameraListWidget(this)) {
    m_search->setPlaceholderText(QStringLiteral("Search cameras"));
    m_search->setClearButtonEnabled(true);
    m_list->setDragEnabled(true);
    m_list->setDragDropMode(QAbstractItemView::DragOnly);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_search);
    layout->addWidget(m_list);
    connect(m_search, &QLineEdit::textChanged, this, &CameraList::filter);
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        emit cameraChosen(item->data(kChannelIdRole).toString());
    });
    reload();
}

void CameraList::reload() {
    m_list->clear();
    for (const VideoChannel& channel : m_app.m_channels) {
        const QString id = qtServerText(channel.ChannelID);
        const QString description = qtServerText(channel.ChannelDescription);
        auto* item = new QListWidgetItem(
            description.isEmpty() ? id : QStringLiteral("%1 - %2").arg(id, description), m_list);
        item->setData(kChannelIdRole, qtText(channel.ChannelID));
    }
    filter(m_search->text());
}

void CameraList::filter(const QString& text) {
    const QString wanted = text.trimmed();
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem* item = m_list->item(row);
        item->setHidden(!wanted.isEmpty() && !item->text().contains(wanted, Qt::CaseInsensitive));
    }
}

}  // namespace krt
