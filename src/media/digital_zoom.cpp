#include "media/digital_zoom.h"

#include <algorithm>
#include <cmath>

namespace krt {
namespace {

constexpr int kMarkMargin = 6;
constexpr int kMarkMinWidth = 24;
constexpr int kMarkShare = 5;  // of the view's width

int roundedPixel(double fraction, int size) {
    return std::clamp(static_cast<int>(std::lround(fraction * size)), 0, size);
}

}  // namespace

void DigitalZoom::zoomAt(double step, ZoomPoint pointer) {
    const ZoomRegion before = visible();
    const ZoomPoint under{before.left + pointer.x * before.width,
                          before.top + pointer.y * before.height};
    m_factor = std::clamp(m_factor * step, kMinFactor, kMaxFactor);
    const double side = 1.0 / m_factor;
    m_centre = {under.x - pointer.x * side + side / 2, under.y - pointer.y * side + side / 2};
    keepInside();
}

void DigitalZoom::pan(double dx, double dy) {
    // The picture follows the pointer: the view's centre moves the other way.
    m_centre.x -= dx / m_factor;
    m_centre.y -= dy / m_factor;
    keepInside();
}

ZoomRegion DigitalZoom::visible() const {
    const double side = 1.0 / m_factor;
    return {m_centre.x - side / 2, m_centre.y - side / 2, side, side};
}

void DigitalZoom::keepInside() {
    const double half = 0.5 / m_factor;
    m_centre.x = std::clamp(m_centre.x, half, 1.0 - half);
    m_centre.y = std::clamp(m_centre.y, half, 1.0 - half);
}

Rect cropOf(const ZoomRegion& region, PictureSize picture) {
    const auto edges = [](double start, double length, int size, int& from, int& extent) {
        from = std::min(roundedPixel(start, size), std::max(size - 1, 0));
        const int to = std::max(roundedPixel(start + length, size), from + 1);
        extent = std::min(to, size) - from;
    };
    Rect crop;
    edges(region.left, region.width, picture.width, crop.x, crop.width);
    edges(region.top, region.height, picture.height, crop.y, crop.height);
    return crop;
}

Rect placeInView(const ZoomRegion& part, const ZoomRegion& shown, const Rect& view) {
    const auto edge = [](double at, double shownStart, double shownLength, int viewStart,
                         int viewLength) {
        return viewStart +
               static_cast<int>(std::lround((at - shownStart) / shownLength * viewLength));
    };
    const int left = edge(part.left, shown.left, shown.width, view.x, view.width);
    const int top = edge(part.top, shown.top, shown.height, view.y, view.height);
    const int right = edge(part.left + part.width, shown.left, shown.width, view.x, view.width);
    const int bottom = edge(part.top + part.height, shown.top, shown.height, view.y, view.height);
    return {left, top, right - left, bottom - top};
}

Rect upsideDown(const Rect& rect, int pictureHeight) {
    return {rect.x, pictureHeight - rect.y - rect.height, rect.width, rect.height};
}

OverviewMark overviewMark(const ZoomRegion& region, int viewWidth, int viewHeight) {
    OverviewMark mark;
    mark.whole.width = std::max(viewWidth / kMarkShare, kMarkMinWidth);
    mark.whole.height =
        viewWidth > 0 ? std::max(mark.whole.width * viewHeight / viewWidth, 1) : mark.whole.width;
    mark.whole.x = viewWidth - kMarkMargin - mark.whole.width;
    mark.whole.y = viewHeight - kMarkMargin - mark.whole.height;
    const Rect inside = cropOf(region, {mark.whole.width, mark.whole.height});
    mark.visible = {mark.whole.x + inside.x, mark.whole.y + inside.y, inside.width, inside.height};
    return mark;
}

bool wantsMediumStream(bool bigView, const ZoomRegion& shown, bool mediumNow, int pictureWidth,
                       int drawnWidth) {
    if (bigView) {
        return true;
    }
    if (shown.width >= 1.0) {
        return false;
    }
    return mediumNow || (pictureWidth > 0 && pictureWidth * shown.width < drawnWidth);
}

}  // namespace krt
