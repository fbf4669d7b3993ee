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
constexpr int kServerRole = Qt::UserRole + 1;

CameraRef cameraOf(const QListWidgetItem& item) {
    return {.server = item.data(kServerRole).toString().toStdString(),
            .channel = item.data(kChannelIdRole).toString().toStdString()};
}

// Drags carry the camera as the layout grid reads it.
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
                         LayoutGrid::cameraMimeData(cameraOf(*items.front())));
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
        if (item->flags().testFlag(Qt::ItemIsSelectable)) {
            emit cameraChosen(cameraOf(*item));
        }
    });
    reload();
}

void CameraList::reload() {
    m_list->clear();
    // With several servers the cameras come under their server's heading.
    const bool grouped = !m_app.m_otherServers.empty();
    addServer(m_app, grouped);
    for (const std::shared_ptr<AppState>& other : m_app.m_otherServers) {
        addServer(*other, grouped);
    }
    filter(m_search->text());
}

void CameraList::addServer(const AppState& server, bool withHeading) {
    if (withHeading) {
        auto* heading = new QListWidgetItem(
            server.m_loggedIn || server.m_serverName.empty()
                ? qtText(server.shownName())
                : QStringLiteral("%1 (not connected)").arg(qtText(server.shownName())),
            m_list);
        heading->setFlags(Qt::ItemIsEnabled);
        QFont font = heading->font();
        font.setBold(true);
        heading->setFont(font);
    }
    for (const VideoChannel& channel : server.m_channels) {
        const QString id = qtServerText(channel.ChannelID);
        const QString description = qtServerText(channel.ChannelDescription);
        auto* item = new QListWidgetItem(
            description.isEmpty() ? id : QStringLiteral("%1 - %2").arg(id, description), m_list);
        item->setData(kChannelIdRole, qtText(channel.ChannelID));
        item->setData(kServerRole, qtText(server.m_serverName));
    }
}

void CameraList::filter(const QString& text) {
    const QString wanted = text.trimmed();
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem* item = m_list->item(row);
        // Headings stay, so that a match says which server it is of.
        const bool heading = !item->flags().testFlag(Qt::ItemIsSelectable);
        item->setHidden(!heading && !wanted.isEmpty() &&
                        !item->text().contains(wanted, Qt::CaseInsensitive));
    }
}

}  // namespace krt
