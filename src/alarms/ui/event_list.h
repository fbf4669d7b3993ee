#pragma once

#include <QAbstractScrollArea>
#include <QBrush>
#include <QPen>
#include <functional>
#include <optional>

#include "alarms/event_list_layout.h"
#include "alarms/event_ring.h"

class QTimer;

namespace krt {

class SnapshotStore;

// The Alarms page's painted list: a grey header ("Snapshot", "Description") and one row per
// kept event, newest first, with its snapshot on the left and its type, camera and time on
// the right (and, for an alarm that came late, both its times). It has no selection; a right
// click on an event offers to save or copy its snapshot.
class EventList : public QAbstractScrollArea {
    Q_OBJECT

  public:
    // Hands out a copy of the kept events; the ring is written on the alarm thread.
    using RingSource = std::function<EventRing()>;

    explicit EventList(QWidget* parent = nullptr);

    void attachRing(RingSource ring);
    // The decoded snapshots the rows draw; owned by the page.
    void attachSnapshots(const SnapshotStore* snapshots);
    // LIST_REFRESH_TIMER: repaints 1500 ms from now. Arming it while it runs changes nothing,
    // so that a burst of events is one repaint and no burst can postpone it for ever.
    void armRefreshTimer();

    // The kept event painted at that point of the list, if any.
    std::optional<AlarmEvent> eventAt(QPoint viewportPoint) const;

    // What a paint of the current client area draws.
    EventListPicture picture() const;
    int scrollHeight() const { return m_scrollHeight; }
    const QTimer* refreshTimer() const { return m_refreshTimer; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void handleVerticalScroll(int action);
    void refreshRows();
    void drawSnapshot(QPainter& painter, const EventRow& row) const;
    void drawLateNote(QPainter& painter, const EventRow& row) const;

    int m_scrollHeight = 0;
    RingSource m_ring;
    const SnapshotStore* m_snapshots = nullptr;
    QBrush m_backgroundBrush;
    QBrush m_headerBrush;
    QPen m_headerPen;
    QPen m_framePen;
    QPen m_gridPen;
    bool m_closing = false;
    QTimer* m_refreshTimer;
};

}  // namespace krt
