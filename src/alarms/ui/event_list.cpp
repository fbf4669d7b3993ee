#include "alarms/ui/event_list.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include "alarms/ui/snapshot_actions.h"
#include "alarms/ui/snapshot_store.h"
#include "common/ui/qt_text.h"
#include "common/ui/scroll_action.h"

namespace krt {
namespace {

constexpr QColor kHeaderColour(200, 200, 200);
constexpr QColor kLateColour(176, 0, 0);
constexpr int kLateNoteGap = 8;

QRect fillArea(const ListRect& rect) {
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

// The outline covers the same pixels as the fill.
void drawRectangle(QPainter& painter, const ListRect& rect, const QPen& pen, const QBrush& brush) {
    const QRect area = fillArea(rect);
    painter.fillRect(area, brush);
    painter.setPen(pen);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
}

// The end point is not drawn.
void drawLine(QPainter& painter, const ListLine& line) {
    const int dx = line.to.x > line.from.x ? -1 : 0;
    const int dy = line.to.y > line.from.y ? -1 : 0;
    if (line.to.x + dx >= line.from.x && line.to.y + dy >= line.from.y) {
        painter.drawLine(line.from.x, line.from.y, line.to.x + dx, line.to.y + dy);
    }
}

// Text placed by the top left corner of its cell.
void drawText(QPainter& painter, ListPoint at, const QString& text) {
    painter.drawText(QPoint(at.x, at.y + painter.fontMetrics().ascent()), text);
}

}  // namespace

EventList::EventList(QWidget* parent)
    : QAbstractScrollArea(parent),
      m_backgroundBrush(palette().color(QPalette::Base)),
      m_headerBrush(kHeaderColour),
      m_headerPen(kHeaderColour, 1),
      m_framePen(palette().color(QPalette::WindowText), 1),
      m_gridPen(palette().color(QPalette::Button), 1),
      m_refreshTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("kmCustomEventsList"));
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::TabFocus);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(kListRefreshPeriod_ms);
    connect(m_refreshTimer, &QTimer::timeout, this, &EventList::refreshRows);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            &EventList::handleVerticalScroll);
}

void EventList::attachRing(RingSource ring) {
    m_ring = std::move(ring);
}

void EventList::attachSnapshots(const SnapshotStore* snapshots) {
    m_snapshots = snapshots;
}

void EventList::armRefreshTimer() {
    if (!m_refreshTimer->isActive()) {
        m_refreshTimer->start();
    }
}

std::optional<AlarmEvent> EventList::eventAt(QPoint viewportPoint) const {
    if (!m_ring) {
        return std::nullopt;
    }
    const EventRing ring = m_ring();
    const EventListPicture list = paintEventList(viewport()->width(), viewport()->height(), &ring);
    for (const EventRow& row : list.rows) {
        const int top = row.snapshotOrigin.y;
        if (viewportPoint.y() >= top && viewportPoint.y() < top + kEventRowHeight) {
            return ring.events()[static_cast<std::size_t>(row.slot)];
        }
    }
    return std::nullopt;
}

void EventList::contextMenuEvent(QContextMenuEvent* event) {
    const std::optional<AlarmEvent> picked = eventAt(viewport()->mapFrom(this, event->pos()));
    if (!picked) {
        return;
    }
    const std::shared_ptr<const KeptSnapshot> snapshot =
        m_snapshots != nullptr ? m_snapshots->find(picked->imagePath) : nullptr;
    const bool kept = snapshot != nullptr && snapshot->isPicture();
    QMenu menu(this);
    QAction* save = menu.addAction(QString::fromUtf8(kSaveSnapshotText));
    QAction* copy = menu.addAction(QString::fromUtf8(kCopySnapshotText));
    save->setEnabled(kept);
    copy->setEnabled(kept);
    const QAction* chosen = menu.exec(event->globalPos());
    if (chosen == save) {
        saveSnapshotAs(this, *picked, *snapshot);
    } else if (chosen == copy) {
        copySnapshot(*snapshot);
    }
}

EventListPicture EventList::picture() const {
    if (!m_ring) {
        return paintEventList(viewport()->width(), viewport()->height(), nullptr);
    }
    const EventRing ring = m_ring();
    return paintEventList(viewport()->width(), viewport()->height(), &ring);
}

void EventList::refreshRows() {
    viewport()->update();
}

void EventList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (!m_ring) {
        return;
    }
    const std::optional<ScrollRange> range =
        eventListScrollRange(static_cast<int>(m_ring().events().size()));
    if (!range) {
        return;
    }
    m_scrollHeight = range->maximum;
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, scrollLimit(*range));
    bar->setPageStep(range->page);
    bar->setValue(0);
}

void EventList::handleVerticalScroll(int action) {
    const std::optional<ScrollAction> scroll = scrollActionOf(action);
    if (!scroll) {
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    // The slider has already moved by its own rule; the list's rule decides instead. While
    // dragging, the slider position is the tracking position.
    bar->setSliderPosition(scrolledPosition(*scroll, bar->value(), viewport()->height(),
                                            bar->maximum(), bar->sliderPosition()));
}

void EventList::scrollContentsBy(int, int) {
    // The rows are always drawn from the top; only the whole area is painted again.
    viewport()->update();
}

void EventList::closeEvent(QCloseEvent* event) {
    m_closing = true;
    QAbstractScrollArea::closeEvent(event);
}

void EventList::paintEvent(QPaintEvent*) {
    if (m_closing) {
        return;
    }
    const EventListPicture list = picture();
    QPainter painter(viewport());
    painter.setFont(QApplication::font());

    drawRectangle(painter, list.frame, m_framePen, m_backgroundBrush);
    drawRectangle(painter, list.header, m_headerPen, m_headerBrush);
    painter.setPen(Qt::black);
    drawText(painter, list.snapshotHeading, QStringLiteral("Snapshot"));
    drawText(painter, list.descriptionHeading, QStringLiteral("Description"));
    painter.setPen(m_gridPen);
    for (const ListLine& separator : list.rowSeparators) {
        drawLine(painter, separator);
    }

    for (const EventRow& row : list.rows) {
        drawSnapshot(painter, row);
        painter.setPen(Qt::black);
        for (std::size_t line = 0; line < row.lines.size(); ++line) {
            drawText(painter, row.linePositions[line], qtServerText(row.lines[line]));
        }
        drawLateNote(painter, row);
    }
    painter.setPen(m_gridPen);
    drawLine(painter, list.columnSeparator);
}

void EventList::drawSnapshot(QPainter& painter, const EventRow& row) const {
    const std::shared_ptr<const KeptSnapshot> snapshot =
        m_snapshots != nullptr ? m_snapshots->find(row.imagePath) : nullptr;
    // Missing, undecodable or empty: the snapshot area stays empty.
    if (snapshot != nullptr && !snapshot->thumbnail.isNull()) {
        painter.drawImage(QPoint(row.snapshotOrigin.x, row.snapshotOrigin.y), snapshot->thumbnail);
    }
}

void EventList::drawLateNote(QPainter& painter, const EventRow& row) const {
    if (row.lateNote.empty()) {
        return;
    }
    const QString time = qtServerText(row.lines[2]);
    const ListPoint at{
        row.linePositions[2].x + painter.fontMetrics().horizontalAdvance(time) + kLateNoteGap,
        row.linePositions[2].y};
    painter.setPen(kLateColour);
    drawText(painter, at, qtText(row.lateNote));
    painter.setPen(Qt::black);
}

}  // namespace krt
