#pragma once

#include <QImage>
#include <QWidget>

#include "media/digital_zoom.h"

namespace krt {

class ZoomGestures;

// An alarm's snapshot, scaled to fit with its proportions and centred, or "No snapshot". It
// zooms like a video tile, in the snapshot's own detail: Ctrl and the wheel about the pointer,
// a drag moves it, and Ctrl and +, - and 0 from the keys of the window it is in.
class ZoomableSnapshot : public QWidget {
  public:
    explicit ZoomableSnapshot(QWidget* parent);

    // Shows the picture whole (null: "No snapshot").
    void setPicture(QImage picture);
    // Ctrl and +, - and 0 zoom the picture while the focus is anywhere in `window`.
    void addZoomKeys(QWidget* window);
    const DigitalZoom& zoom() const { return m_zoom; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect pictureArea() const;
    void zoomAt(double step, QPointF at);
    void showWhole();
    void drawOverview(QPainter& painter) const;

    QImage m_picture;
    DigitalZoom m_zoom;
    ZoomGestures* m_gestures;
};

}  // namespace krt
