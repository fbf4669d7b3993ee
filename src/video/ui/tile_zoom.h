#pragma once

#include <QObject>
#include <QPoint>
#include <functional>
#include <optional>

#include "video/digital_zoom.h"

namespace krt {

class TileOverlay;
class VideoWindow;

// The digital zoom of a tile's picture: Ctrl and the wheel zoom about the pointer, a drag pans
// a zoomed picture, and the page's keys zoom in, out and back. The window then decodes only the
// part shown, and the overlay marks where it lies. A press that does not drag a zoomed picture
// is still a tap.
class TileZoom : public QObject {
    Q_OBJECT

  public:
    TileZoom(VideoWindow* window, TileOverlay* overlay, std::function<void()> tap);

    // About the pointer when it is over the picture, else about the middle.
    void zoomIn();
    void zoomOut();
    void reset();
    const DigitalZoom& zoom() const { return m_zoom; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void zoomAt(double step, ZoomPoint pointer);
    void apply();
    // A point of the window as a point of the picture drawn in it.
    ZoomPoint pictureFraction(QPointF at) const;
    ZoomPoint pointerOrMiddle() const;

    VideoWindow* m_window;
    TileOverlay* m_overlay;
    std::function<void()> m_tap;
    DigitalZoom m_zoom;
    std::optional<QPointF> m_dragFrom;
    bool m_dragged = false;
};

}  // namespace krt
