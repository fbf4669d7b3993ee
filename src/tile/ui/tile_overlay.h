#pragma once

#include <QTimer>
#include <QWidget>
#include <optional>

#include "media/digital_zoom.h"

namespace krt {

// Drawn over a tile's picture, letting every click through: the red mark and the time of a
// recording at the top left, the zoom's overview mark at the bottom right, and a short notice
// along the bottom that goes after a few seconds.
class TileOverlay : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kNotice_ms = 5000;

    explicit TileOverlay(QWidget* parent);

    // The recording's time so far, or nothing when none runs.
    void setRecordingTime(std::optional<int> seconds);
    // The part a zoomed view shows, or nothing at 1x.
    void setZoom(std::optional<ZoomRegion> region);
    void showNotice(const QString& text);

    bool recordingMarked() const { return m_recordingSeconds.has_value(); }
    QString recordingText() const;
    bool overviewShown() const { return m_zoom.has_value(); }
    QString notice() const { return m_notice; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<int> m_recordingSeconds;
    std::optional<ZoomRegion> m_zoom;
    QString m_notice;
    QTimer m_noticeTimer;
};

}  // namespace krt
