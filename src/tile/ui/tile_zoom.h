#pragma once

#include <QObject>
#include <functional>

#include "media/digital_zoom.h"

namespace krt {

class TileOverlay;
class VideoWindow;
class ZoomGestures;

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

  private:
    void zoomAt(double step, ZoomPoint pointer);
    void apply();

    VideoWindow* m_window;
    TileOverlay* m_overlay;
    DigitalZoom m_zoom;
    ZoomGestures* m_gestures;
};

}  // namespace krt
