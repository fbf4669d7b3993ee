#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <string_view>

#include "alarms/alarm_event.h"

class QLabel;
class QPushButton;

namespace krt {

struct KeptSnapshot;
class ZoomableSnapshot;

// The event alert: a small window over the main sheet's tabs with the latest event's type,
// source camera and time, "Show Video" / "Close", and under them the event's snapshot with
// "Save Snapshot…" / "Copy Snapshot" (and, for an alarm that came late, both its times). It is
// created once, hidden, and shown again for every later alert.
class EventAlertDialog : public QDialog {
    Q_OBJECT

  public:
    // A child window of the main sheet, hidden until shown.
    explicit EventAlertDialog(QWidget* sheet);

    // The event's texts as the server sent them; they are shown as plain text.
    void setTexts(std::string_view type, std::string_view source, std::string_view time);
    // The event shown, with its snapshot (null: "No snapshot").
    void setEvent(const AlarmEvent& event, std::shared_ptr<const KeptSnapshot> snapshot);

    QLabel* captionLabel() const { return m_caption; }
    QLabel* typeText() const { return m_typeValue; }
    QLabel* sourceText() const { return m_sourceValue; }
    QLabel* timeText() const { return m_timeValue; }
    QPushButton* showVideoButton() const { return m_showVideo; }
    QPushButton* closeButton() const { return m_close; }
    QPushButton* saveSnapshotButton() const { return m_saveSnapshot; }
    QPushButton* copySnapshotButton() const { return m_copySnapshot; }
    QLabel* lateNote() const { return m_lateNote; }
    // Where the snapshot is drawn.
    QWidget* snapshotArea() const;
    // The area under the caption, where the controls are.
    QWidget* clientArea() const { return m_client; }

    // "Show Video": asks for the source camera, then hides.
    void accept() override;
    // "Close": hides; the window stays for the next alert.
    void reject() override;

  signals:
    void showVideoRequested(const QString& server, const QString& channelId);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void setupSnapshotControls();
    void layoutControls();
    void saveShownSnapshot();
    void copyShownSnapshot();

    QLabel* m_caption;
    QWidget* m_client;
    QLabel* m_typeLabel;
    QLabel* m_sourceLabel;
    QLabel* m_timeLabel;
    QLabel* m_typeValue;
    QLabel* m_sourceValue;
    QLabel* m_timeValue;
    QPushButton* m_showVideo;
    QPushButton* m_close;
    QPushButton* m_saveSnapshot;
    QPushButton* m_copySnapshot;
    QLabel* m_lateNote;
    ZoomableSnapshot* m_snapshotView;
    std::string m_sourceChannelId;  // as the server sent it, for "Show Video"
    AlarmEvent m_event;
    std::shared_ptr<const KeptSnapshot> m_snapshot;
};

}  // namespace krt
