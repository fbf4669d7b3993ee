#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "alarms/alarm_event.h"

class QLabel;
class QPushButton;

namespace krt {

struct KeptSnapshot;
class ZoomableSnapshot;

// One alarm's snapshot, large and zoomable, with "Show Video", "Save Snapshot…", "Copy
// Snapshot" and "Close"; opened from the History.
class SnapshotViewer : public QDialog {
    Q_OBJECT

  public:
    // The event's texts (camera, alarm, time) above its snapshot (null: "No snapshot"); the
    // event came from `server` (its name in the operator's list; empty: the first server).
    SnapshotViewer(const AlarmEvent& event, std::shared_ptr<const KeptSnapshot> snapshot,
                   QString server = {}, QWidget* parent = nullptr);

    QLabel* description() const { return m_description; }
    QPushButton* showVideoButton() const { return m_showVideo; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* copyButton() const { return m_copy; }
    QWidget* pictureView() const;

  signals:
    void showVideoRequested(const QString& server, const QString& channelId);

  private:
    AlarmEvent m_event;
    QString m_server;
    std::shared_ptr<const KeptSnapshot> m_snapshot;
    QLabel* m_description;
    ZoomableSnapshot* m_picture;
    QPushButton* m_showVideo;
    QPushButton* m_save;
    QPushButton* m_copy;
};

}  // namespace krt
