#include "layouts/ui/layout_grid.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDataStream>
#include <QDrag>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <set>

#include "common/ui/qt_text.h"
#include "control/video_keys.h"
#include "layouts/layout_cell.h"
#include "protocol/diag_log.h"
#include "tile/ui/tile_evidence.h"
#include "tile/ui/tile_zoom.h"
#include "tile/ui/video_title_bar.h"
#include "tile/ui/video_window.h"
#include "tile/ui/video_window_container.h"

namespace krt {

LayoutGrid::LayoutGrid(const AppState& app, QWidget* parent) : QWidget(parent), m_app(app) {
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    QPalette dark = palette();
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    setPalette(dark);
    m_tapTimer.setSingleShot(true);
    m_tapTimer.setInterval(QApplication::doubleClickInterval());
    connect(&m_tapTimer, &QTimer::timeout, this, [this] { openCell(m_pressedCell); });
    m_firstPictureWatch.setInterval(kFirstPictureCheck_ms);
    connect(&m_firstPictureWatch, &QTimer::timeout, this, &LayoutGrid::watchFirstPictures);
    if (diagLogEnabled()) {
        m_frameLog.setInterval(kFrameLogPeriod_ms);
        connect(&m_frameLog, &QTimer::timeout, this, &LayoutGrid::logTileFrames);
        m_frameLog.start();
    }
}

void LayoutGrid::logTileFrames() {
    if (isVisible()) {
        krt::logTileFrames(m_tiles);
    }
}

LayoutGrid::~LayoutGrid() {
    stop();
}

void LayoutGrid::showLayout(const Layout& layout) {
    m_paintedAtShow.clear();
    m_cellsPainted = 0;
    m_lastFirstPicture_ms = 0;
    m_sinceShown.start();
    showCells(layout);
}

// A server that logs in later fills its cells; the first pictures still count from the show.
void LayoutGrid::refreshCells() {
    showCells(Layout(m_layout));
}

void LayoutGrid::showCells(const Layout& layout) {
    m_template = findLayoutTemplate(layout.templateId);
    const std::size_t count = m_template ? m_template->cells.size() : 0;
    while (m_tiles.size() > count) {
        m_tiles.back()->pauseVideo();
        m_tiles.back()->stopVideo();
        m_tiles.back()->hide();
        m_tiles.back()->deleteLater();
        m_notes.back()->deleteLater();
        m_tiles.pop_back();
        m_notes.pop_back();
    }
    while (m_tiles.size() < count) {
        auto* tile = new VideoWindowContainer(m_app, 0, this);
        // Presses anywhere on the tile, its title bar too, start a tap or a drag.
        for (QWidget* part : {static_cast<QWidget*>(tile), static_cast<QWidget*>(tile->titleBar()),
                              static_cast<QWidget*>(tile->videoWindow())}) {
            part->installEventFilter(this);
        }
        tile->setLiveGrid(m_liveGrid);
        tile->evidence()->setSettings(m_evidenceSettings);
        // A zoomed picture takes its own presses to move it; one that does not move it is a
        // tap on the cell.
        connect(tile, &VideoWindowContainer::videoTap, this, [this](VideoWindowContainer* tapped) {
            m_pressedCell = tileIndex(tapped);
            m_tapTimer.start();
        });
        connect(tile, &VideoWindowContainer::contextMenuFilled, this,
                [this, tile](QMenu* menu) { addCellItems(tileIndex(tile), *menu); });
        m_tiles.push_back(tile);
        auto* note = new QLabel(this);
        note->setAlignment(Qt::AlignCenter);
        note->setWordWrap(true);
        note->setTextFormat(Qt::PlainText);
        note->setAttribute(Qt::WA_TransparentForMouseEvents);
        note->setStyleSheet(QStringLiteral("QLabel { color: #ffd060; background: #303030; }"));
        m_notes.push_back(note);
    }
    std::vector<CellCamera> wanted(count);
    std::set<const AppState*> servers;
    for (std::size_t k = 0; k < count && k < layout.cells.size(); ++k) {
        wanted[k] = cellCamera(layout.cells[k], m_app);
        if (wanted[k].channel() != nullptr) {
            servers.insert(wanted[k].server);
        }
    }
    // A cell that goes on keeps its count from the show; one (re)started counts from now.
    const std::size_t counted = std::min(m_paintedAtShow.size(), count);
    m_paintedAtShow.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        if (!showCell(k, wanted[k], servers.size() > 1) || k >= counted) {
            m_paintedAtShow[k] = m_tiles[k]->videoWindow()->framesPainted();
        }
    }
    m_layout = layout;
    m_focusedCell = std::min(m_focusedCell, std::max(static_cast<int>(count) - 1, 0));
    placeCells();
    showFocus();
    m_firstPictures_ms.reset();
    m_sinceWatched.start();
    m_firstPictureWatch.start();
}

bool LayoutGrid::showCell(std::size_t k, const CellCamera& wanted, bool severalServers) {
    VideoWindowContainer* tile = m_tiles[k];
    const VideoChannel* channel = wanted.channel();
    m_notes[k]->setText(qtText(wanted.note));
    m_notes[k]->setVisible(!wanted.note.empty());
    tile->setServerName(severalServers && channel != nullptr ? wanted.server->shownName()
                                                             : std::string());
    if (channel != nullptr && &tile->videoWindow()->server() == wanted.server &&
        tile->getChannelId() == channel->ChannelID) {
        tile->update();
        return true;  // the same camera in the same cell goes on
    }
    tile->pauseVideo();
    tile->stopVideo();
    tile->setChannel(channel, wanted.server);
    // A big cell asks for the finer picture the single view gets.
    const GridCell& shape = m_template->cells[k];
    tile->setBigView(m_tiles.size() == 1 || shape.rowSpan * shape.columnSpan > 1);
    if (channel != nullptr) {
        tile->startConnect();
    }
    return false;
}

void LayoutGrid::watchFirstPictures() {
    int cameras = 0;
    int painted = 0;
    for (std::size_t k = 0; k < m_tiles.size() && k < m_paintedAtShow.size(); ++k) {
        const VideoWindowContainer* tile = m_tiles[k];
        if (!tile->getChannelId().empty()) {
            ++cameras;
            painted += tile->videoWindow()->framesPainted() > m_paintedAtShow[k] ? 1 : 0;
        }
    }
    if (painted > m_cellsPainted) {
        m_cellsPainted = painted;
        m_lastFirstPicture_ms = m_sinceShown.elapsed();
    }
    const std::string cells = " cells of \"" + m_layout.name + "\" in ";
    if (painted == cameras) {
        m_firstPictureWatch.stop();
        m_firstPictures_ms = m_sinceShown.elapsed();
        writeLog("DVideoPage", "showLayout",
                 ("first pictures of " + std::to_string(cameras) + cells +
                  std::to_string(*m_firstPictures_ms) + " ms")
                     .c_str());
    } else if (m_sinceWatched.elapsed() > kFirstPictureWatch_ms) {
        // A server that never sends must not hide how soon the others' cells had theirs.
        m_firstPictureWatch.stop();
        writeLog("DVideoPage", "showLayout",
                 ("first pictures of " + std::to_string(painted) + " of " +
                  std::to_string(cameras) + cells + std::to_string(m_lastFirstPicture_ms) +
                  " ms, the others none in " + std::to_string(kFirstPictureWatch_ms) + " ms")
                     .c_str());
    }
}

void LayoutGrid::stop() {
    m_firstPictureWatch.stop();
    for (VideoWindowContainer* tile : m_tiles) {
        tile->pauseVideo();
        tile->stopVideo();
        tile->setChannel(nullptr);
    }
    m_layout = {};
}

void LayoutGrid::setEvidenceSettings(const EvidenceSettings& settings) {
    m_evidenceSettings = settings;
    for (VideoWindowContainer* tile : m_tiles) {
        tile->evidence()->setSettings(settings);
    }
}

void LayoutGrid::setLiveGrid(bool liveGrid) {
    m_liveGrid = liveGrid;
    for (VideoWindowContainer* tile : m_tiles) {
        tile->setLiveGrid(liveGrid);
    }
}

const QLabel* LayoutGrid::cellNote(int cell) const {
    return cell >= 0 && cell < static_cast<int>(m_notes.size())
               ? m_notes[static_cast<std::size_t>(cell)]
               : nullptr;
}

void LayoutGrid::placeCells() {
    if (!m_template) {
        return;
    }
    const std::vector<Rect> rects = layoutCellRects(*m_template, width(), height(), kCellGap);
    for (std::size_t k = 0; k < m_tiles.size() && k < rects.size(); ++k) {
        const Rect& place = rects[k];
        m_tiles[k]->setGeometry(place.x, place.y, place.width, place.height);
        m_tiles[k]->resizeChildren(place.width, place.height);
        m_tiles[k]->show();
        m_notes[k]->setGeometry(place.x, place.y + place.height / 3, place.width, place.height / 3);
        m_notes[k]->raise();
    }
}

void LayoutGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeCells();
}

void LayoutGrid::showFocus() {
    for (std::size_t k = 0; k < m_tiles.size(); ++k) {
        m_tiles[k]->setFramed(static_cast<int>(k) == m_focusedCell);
    }
}

void LayoutGrid::moveFocus(int dx, int dy) {
    if (m_template) {
        m_focusedCell = neighbourCell(*m_template, m_focusedCell, dx, dy);
        showFocus();
    }
}

void LayoutGrid::openCell(int cell) {
    if (cell >= 0 && cell < static_cast<int>(m_tiles.size()) &&
        !m_tiles[static_cast<std::size_t>(cell)]->getChannelId().empty()) {
        m_focusedCell = cell;
        showFocus();
        emit cellOpened(cell);
    }
}

void LayoutGrid::keyPressEvent(QKeyEvent* event) {
    VideoKey key{};
    switch (event->key()) {
        case Qt::Key_Left:
            key = VideoKey::Left;
            break;
        case Qt::Key_Right:
            key = VideoKey::Right;
            break;
        case Qt::Key_Up:
            key = VideoKey::Up;
            break;
        case Qt::Key_Down:
            key = VideoKey::Down;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            key = VideoKey::Enter;
            break;
        case Qt::Key_Space:
            key = VideoKey::Space;
            break;
        case Qt::Key_F11:
            key = VideoKey::FullScreen;
            break;
        case Qt::Key_Escape:
            key = VideoKey::Escape;
            break;
        case Qt::Key_S:
            key = VideoKey::Snapshot;
            break;
        case Qt::Key_R:
            key = VideoKey::Record;
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            key = VideoKey::ZoomIn;
            break;
        case Qt::Key_Minus:
            key = VideoKey::ZoomOut;
            break;
        case Qt::Key_0:
            key = VideoKey::ZoomReset;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    // Plus, minus and 0 zoom the picture with Ctrl only; S and R act without it.
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool zoomKey =
        key == VideoKey::ZoomIn || key == VideoKey::ZoomOut || key == VideoKey::ZoomReset;
    if (ctrl != zoomKey) {
        QWidget::keyPressEvent(event);
        return;
    }
    const bool fullScreen = window()->isFullScreen();
    const VideoKeyOutcome outcome = actionForKey(key, {false, false, fullScreen});
    switch (outcome.action) {
        case VideoKeyAction::MoveFocus:
            moveFocus(outcome.dx, outcome.dy);
            break;
        case VideoKeyAction::ToggleSingleView:
            openCell(m_focusedCell);
            break;
        case VideoKeyAction::ToggleFullScreen:
            emit fullScreenToggled();
            break;
        case VideoKeyAction::LeaveFullScreen:
            emit fullScreenLeft();
            break;
        case VideoKeyAction::SaveSnapshot:
        case VideoKeyAction::ToggleRecording:
        case VideoKeyAction::ZoomIn:
        case VideoKeyAction::ZoomOut:
        case VideoKeyAction::ResetZoom:
            if (m_focusedCell < static_cast<int>(m_tiles.size())) {
                m_tiles[static_cast<std::size_t>(m_focusedCell)]->applyKeyAction(outcome.action);
            }
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

int LayoutGrid::tileIndex(const QObject* part) const {
    for (std::size_t k = 0; k < m_tiles.size(); ++k) {
        const VideoWindowContainer* tile = m_tiles[k];
        if (part == tile || part == tile->titleBar() ||
            part == static_cast<const QObject*>(tile->videoWindow())) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

int LayoutGrid::cellAt(QPoint position) const {
    for (std::size_t k = 0; k < m_tiles.size(); ++k) {
        if (m_tiles[k]->geometry().contains(position)) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

bool LayoutGrid::eventFilter(QObject* watched, QEvent* event) {
    const int cell = tileIndex(watched);
    if (cell < 0) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const VideoWindowContainer* tile = m_tiles[static_cast<std::size_t>(cell)];
            if (mouse->button() != Qt::LeftButton ||
                (watched == tile->videoWindow() && tile->zoom()->zoom().zoomed())) {
                return false;
            }
            setFocus();
            m_pressAt = mouse->globalPosition().toPoint();
            m_pressedCell = cell;
            return true;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!m_pressAt || !m_editable ||
                (mouse->globalPosition().toPoint() - *m_pressAt).manhattanLength() <
                    QApplication::startDragDistance() ||
                m_tiles[static_cast<std::size_t>(cell)]->getChannelId().empty()) {
                return false;
            }
            m_pressAt.reset();
            auto* dragged = new QMimeData;
            dragged->setData(QString::fromLatin1(kCellMime), QByteArray::number(cell));
            auto* drag = new QDrag(this);
            drag->setMimeData(dragged);
            drag->setPixmap(m_tiles[static_cast<std::size_t>(cell)]->grab().scaled(
                160, 120, Qt::KeepAspectRatio));
            drag->exec(Qt::MoveAction);
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (!m_pressAt) {
                return false;
            }
            m_pressAt.reset();
            m_tapTimer.start();
            return true;
        case QEvent::MouseButtonDblClick:
            m_tapTimer.stop();
            emit fullScreenToggled();
            return true;
        default:
            return false;
    }
}

QByteArray LayoutGrid::cameraMimeData(const CameraRef& camera) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out << QString::fromStdString(camera.server) << QString::fromStdString(camera.channel);
    return data;
}

CameraRef LayoutGrid::cameraFromMimeData(const QByteArray& data) {
    QDataStream in(data);
    QString server;
    QString channel;
    in >> server >> channel;
    return {.server = server.toStdString(), .channel = channel.toStdString()};
}

void LayoutGrid::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* dragged = event->mimeData();
    if (m_editable && (dragged->hasFormat(QString::fromLatin1(kCameraMime)) ||
                       dragged->hasFormat(QString::fromLatin1(kCellMime)))) {
        event->acceptProposedAction();
    }
}

void LayoutGrid::dragMoveEvent(QDragMoveEvent* event) {
    if (cellAt(event->position().toPoint()) >= 0) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void LayoutGrid::dropEvent(QDropEvent* event) {
    const int cell = cellAt(event->position().toPoint());
    const QMimeData* dragged = event->mimeData();
    if (cell < 0) {
        return;
    }
    event->acceptProposedAction();
    if (dragged->hasFormat(QString::fromLatin1(kCellMime))) {
        bool ok = false;
        const int from = dragged->data(QString::fromLatin1(kCellMime)).toInt(&ok);
        if (ok && from != cell) {
            emit cellsSwapped(from, cell);
        }
    } else {
        emit cameraDropped(cell,
                           cameraFromMimeData(dragged->data(QString::fromLatin1(kCameraMime))));
    }
}

// A cell without a picture to keep: the menu has only the grid's own items.
void LayoutGrid::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    addCellItems(cellAt(event->pos()), menu);
    if (!menu.isEmpty()) {
        menu.exec(event->globalPos());
    }
}

void LayoutGrid::addCellItems(int cell, QMenu& menu) {
    if (cell < 0 || !m_editable || m_layout.cells.size() <= static_cast<std::size_t>(cell) ||
        m_layout.cells[static_cast<std::size_t>(cell)].channel.empty()) {
        return;
    }
    if (!menu.isEmpty()) {
        menu.addSeparator();
    }
    menu.addAction(QStringLiteral("Remove camera from cell"), this,
                   [this, cell] { emit cameraRemoved(cell); });
}

}  // namespace krt
