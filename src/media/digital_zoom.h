#pragma once

#include <numbers>

#include "media/geometry.h"
#include "media/picture_size.h"

namespace krt {

// A point or a part of a picture as shown, in fractions of its width and height from its top
// left corner: the same whatever size the picture comes in.
struct ZoomPoint {
    double x = 0.5;
    double y = 0.5;

    bool operator==(const ZoomPoint&) const = default;
};

struct ZoomRegion {
    double left = 0.0;
    double top = 0.0;
    double width = 1.0;
    double height = 1.0;

    bool operator==(const ZoomRegion&) const = default;
};

// The digital zoom of a picture shown in a view of the picture's shape: a factor from 1 to 8
// and the point of the picture at the view's centre, kept so that the view never shows
// anything beyond the picture's edges.
class DigitalZoom {
  public:
    static constexpr double kMinFactor = 1.0;
    static constexpr double kMaxFactor = 8.0;
    // One key press or one notch of the wheel: two make 2x, four 4x, six 8x.
    static constexpr double kStep = std::numbers::sqrt2;

    double factor() const { return m_factor; }
    bool zoomed() const { return m_factor > kMinFactor; }
    ZoomPoint centre() const { return m_centre; }

    // Multiplies the factor by `step`, within 1 to 8, keeping the point of the picture under
    // `pointer` (a point of the view, in fractions of it) where it is.
    void zoomAt(double step, ZoomPoint pointer);
    // Follows a drag of the picture by (dx, dy), in fractions of the view.
    void pan(double dx, double dy);
    void reset() { *this = DigitalZoom(); }
    // The part of the picture the view shows.
    ZoomRegion visible() const;

    bool operator==(const DigitalZoom&) const = default;

  private:
    void keepInside();

    double m_factor = kMinFactor;
    ZoomPoint m_centre;
};

// The region in whole pixels of a picture of that size: its edges rounded to the nearest
// pixel, at least one pixel each way, inside the picture.
Rect cropOf(const ZoomRegion& region, PictureSize picture);

// Where a picture of the part `part` lies in a view at `view` that shows the part `shown`: a
// picture decoded for an earlier zoom is drawn so until one of the part shown comes.
Rect placeInView(const ZoomRegion& part, const ZoomRegion& shown, const Rect& view);

// The same rows counted from the bottom: where they lie in a picture stored upside down.
Rect upsideDown(const Rect& rect, int pictureHeight);

// The small picture of where a zoomed view lies: the whole picture as a frame in the view's
// bottom right corner, a fifth of the view's width (at least 24 pixels) and of its shape, and
// inside it the visible part.
struct OverviewMark {
    Rect whole;
    Rect visible;

    bool operator==(const OverviewMark&) const = default;
};
OverviewMark overviewMark(const ZoomRegion& region, int viewWidth, int viewHeight);

// Whether a view asks for the camera's medium stream rather than its low one: the single view
// and big cells always; a zoomed tile once the part it shows of the low stream's picture
// (`pictureWidth` pixels wide whole) would be enlarged to the `drawnWidth` it is drawn at, and
// then until its zoom is undone, so that a zoom shows the camera's detail and an unzoomed grid
// keeps its small streams.
bool wantsMediumStream(bool bigView, const ZoomRegion& shown, bool mediumNow, int pictureWidth,
                       int drawnWidth);

}  // namespace krt
