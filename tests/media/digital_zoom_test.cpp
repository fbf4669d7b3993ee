#include "media/digital_zoom.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>

namespace krt {
namespace {

const ZoomPoint kMiddle{0.5, 0.5};

struct CropCase {
    const char* name;
    std::function<void(DigitalZoom&)> act;
    PictureSize picture;
    Rect crop;
    double factor;
};

TEST(DigitalZoom, CropOfThePictureAfterEachGesture) {
    const CropCase cases[] = {
        {"unzoomed", [](DigitalZoom&) {}, {640, 480}, {0, 0, 640, 480}, 1},
        {"2x at the middle",
         [](DigitalZoom& z) { z.zoomAt(2, kMiddle); },
         {640, 480},
         {160, 120, 320, 240},
         2},
        {"4x at the middle",
         [](DigitalZoom& z) { z.zoomAt(4, kMiddle); },
         {640, 480},
         {240, 180, 160, 120},
         4},
        {"2x at the top left corner keeps it",
         [](DigitalZoom& z) {
             z.zoomAt(2, {0, 0});
         },
         {640, 480},
         {0, 0, 320, 240},
         2},
        {"2x at the bottom right corner keeps it",
         [](DigitalZoom& z) {
             z.zoomAt(2, {1, 1});
         },
         {640, 480},
         {320, 240, 320, 240},
         2},
        // The point a quarter in stays a quarter into the view: 0.25 - 0.25 / 4.
        {"4x under the pointer",
         [](DigitalZoom& z) {
             z.zoomAt(4, {0.25, 0.25});
         },
         {640, 480},
         {120, 90, 160, 120},
         4},
        {"in two steps under a pointer that stays",
         [](DigitalZoom& z) {
             z.zoomAt(2, {0.25, 0.25});
             z.zoomAt(2, {0.25, 0.25});
         },
         {640, 480},
         {120, 90, 160, 120},
         4},
        {"never beyond 8x",
         [](DigitalZoom& z) { z.zoomAt(16, kMiddle); },
         {640, 480},
         {280, 210, 80, 60},
         8},
        {"never below 1x",
         [](DigitalZoom& z) {
             z.zoomAt(0.5, {0, 0});
         },
         {640, 480},
         {0, 0, 640, 480},
         1},
        {"out again to 1x shows the whole",
         [](DigitalZoom& z) {
             z.zoomAt(4, {0.1, 0.9});
             z.zoomAt(0.25, {0.7, 0.2});
         },
         {640, 480},
         {0, 0, 640, 480},
         1},
        {"a drag moves the picture with the pointer",
         [](DigitalZoom& z) {
             z.zoomAt(2, kMiddle);
             z.pan(0.25, -0.125);  // right and up by parts of the view
         },
         {640, 480},
         {80, 150, 320, 240},
         2},
        {"a drag stops at the picture's edge",
         [](DigitalZoom& z) {
             z.zoomAt(2, kMiddle);
             z.pan(1, 0);
         },
         {640, 480},
         {0, 120, 320, 240},
         2},
        {"no drag at 1x", [](DigitalZoom& z) { z.pan(0.5, 0.5); }, {640, 480}, {0, 0, 640, 480}, 1},
        {"reset",
         [](DigitalZoom& z) {
             z.zoomAt(4, {0.9, 0.1});
             z.reset();
         },
         {640, 480},
         {0, 0, 640, 480},
         1},
        // A picture that comes in another size keeps the zoom's centre and share.
        {"the same zoom on a larger picture",
         [](DigitalZoom& z) {
             z.zoomAt(4, {0.25, 0.25});
         },
         {1280, 960},
         {240, 180, 320, 240},
         4},
        {"edges rounded to the nearest pixel",
         [](DigitalZoom& z) { z.zoomAt(3, kMiddle); },
         {100, 75},
         {33, 25, 34, 25},
         3},
        {"at least one pixel",
         [](DigitalZoom& z) {
             z.zoomAt(8, {1, 1});
         },
         {4, 3},
         {3, 2, 1, 1},
         8},
    };
    for (const CropCase& c : cases) {
        DigitalZoom zoom;
        c.act(zoom);
        EXPECT_DOUBLE_EQ(zoom.factor(), c.factor) << c.name;
        EXPECT_EQ(cropOf(zoom.visible(), c.picture), c.crop) << c.name;
    }
}

TEST(DigitalZoom, APictureOfAnEarlierZoomLiesWhereItsPartIsShown) {
    const Rect view{10, 20, 640, 480};
    DigitalZoom zoom;
    zoom.zoomAt(2, kMiddle);
    EXPECT_EQ(placeInView(ZoomRegion{}, zoom.visible(), view), (Rect{-310, -220, 1280, 960}));
    EXPECT_EQ(placeInView(zoom.visible(), zoom.visible(), view), view);
    EXPECT_EQ(placeInView(zoom.visible(), ZoomRegion{}, view), (Rect{170, 140, 320, 240}));
}

TEST(DigitalZoom, RowsOfAPictureStoredUpsideDown) {
    EXPECT_EQ(upsideDown({120, 90, 160, 120}, 480), (Rect{120, 270, 160, 120}));
    EXPECT_EQ(upsideDown({0, 0, 640, 480}, 480), (Rect{0, 0, 640, 480}));
}

TEST(DigitalZoom, OverviewMarkInTheBottomRightCorner) {
    DigitalZoom zoom;
    zoom.zoomAt(4, {1, 0});
    const OverviewMark mark = overviewMark(zoom.visible(), 600, 450);
    EXPECT_EQ(mark.whole, (Rect{474, 354, 120, 90}));
    EXPECT_EQ(mark.visible, (Rect{564, 354, 30, 23}));
    EXPECT_EQ(overviewMark(zoom.visible(), 80, 60).whole.width, 24);
}

// A 2x2 tile draws about 300 pixels of a 320-pixel low stream; a 4x4 tile about 150.
TEST(DigitalZoom, AZoomedTileAsksForTheMediumStreamOnlyWhenTheLowOneWouldBeEnlarged) {
    const ZoomRegion whole;
    const ZoomRegion half{0.25, 0.25, 0.5, 0.5};
    const ZoomRegion quarter{0.4, 0.4, 0.25, 0.25};
    struct Case {
        const char* name;
        bool bigView;
        ZoomRegion shown;
        bool mediumNow;
        int pictureWidth;
        int drawnWidth;
        bool medium;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"single view", true, whole, false, 320, 616, true},
             {"unzoomed tile", false, whole, true, 640, 300, false},
             {"2x in a 2x2 tile", false, half, false, 320, 300, true},
             {"2x in a 4x4 tile", false, half, false, 320, 150, false},
             {"4x in a 4x4 tile", false, quarter, false, 320, 150, true},
             {"zoomed on the medium stream stays", false, half, true, 640, 150, true},
             {"no picture yet", false, half, false, 0, 300, false},
         }) {
        EXPECT_EQ(wantsMediumStream(c.bigView, c.shown, c.mediumNow, c.pictureWidth, c.drawnWidth),
                  c.medium)
            << c.name;
    }
}

}  // namespace
}  // namespace krt
