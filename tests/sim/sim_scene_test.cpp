// The camera head, the scene it sees and the pictures made of it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifdef KRT_SIM_WITH_QT
#include <QtGui/QGuiApplication>
#endif

#include "camera_backdrop.h"
#include "frame_renderer.h"
#include "frame_scene.h"
#include "ptz_motion.h"
#include "sim_test_support.h"

namespace krt::sim {
namespace {

using namespace std::chrono_literals;
using Clock = PtzMotion::Clock;

TEST(SimPtzMotion, PressStepsAtOnceMovesWhileHeldAndStopsOnRelease) {
    struct Case {
        int code;
        std::chrono::milliseconds held;
        PtzView expected;
    };
    const std::vector<Case> cases = {
        {kPtzRight, 1000ms, {35.0, 0.0, 1.0}},        // 5 at once, 30 a second
        {kPtzLeft, 1000ms, {325.0, 0.0, 1.0}},        // wraps below 0
        {kPtzUp, 1000ms, {0.0, 18.0, 1.0}},           // 3 at once, 15 a second
        {kPtzDown, 5000ms, {0.0, -30.0, 1.0}},        // stops at the limit
        {kPtzZoomIn, 1000ms, {0.0, 0.0, 1.2 * 1.6}},  // factor 1.2 at once, 1.6 a second
        {kPtzZoomOut, 1000ms, {0.0, 0.0, 1.0}},       // already widest
        {kPtzRight, 0ms, {5.0, 0.0, 1.0}},            // a tap still shows
    };
    const Clock::time_point start{};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        PtzMotion motion;
        ASSERT_TRUE(motion.apply(c.code, start));
        ASSERT_TRUE(motion.apply(kPtzStop, start + c.held));
        for (const Clock::time_point when : {start + c.held, start + c.held + 10s}) {
            const PtzView view = motion.viewAt(when);
            EXPECT_NEAR(view.panDegrees, c.expected.panDegrees, 1e-9);
            EXPECT_NEAR(view.tiltDegrees, c.expected.tiltDegrees, 1e-9);
            EXPECT_NEAR(view.zoom, c.expected.zoom, 1e-9);
        }
    }
}

TEST(SimPtzMotion, UnknownCodesChangeNothing) {
    PtzMotion motion;
    const Clock::time_point start{};
    ASSERT_TRUE(motion.apply(kPtzRight, start));
    for (const int code : {0, 1, 6, 10, 13, 25, 27, -2}) {
        EXPECT_FALSE(motion.apply(code, start + 1s)) << code;
    }
    // Still moving right: the unknown codes did not stop it.
    EXPECT_NEAR(motion.viewAt(start + 2s).panDegrees, 65.0, 1e-9);
}

SceneInput sceneInput() {
    SceneInput input;
    input.channelId = "7";
    input.description = "Warehouse";
    input.width = 600;
    input.height = 400;
    input.frameNumber = 1;
    input.clockText = "2026-12-06 10:51:31.123";
    return input;
}

TEST(SimScene, PanShiftsTheLandmarksByTheFieldOfView) {
    SceneInput input = sceneInput();
    const Scene home = buildScene(input);
    input.view.panDegrees = 6.0;  // 60 px at 600 px for 60 degrees
    const Scene panned = buildScene(input);
    ASSERT_EQ(home.rects.size(), panned.rects.size());
    int shifted = 0;
    // The landmarks come first; near the back of the panorama they wrap round instead.
    for (std::size_t i = 0; i < 12; ++i) {
        if (std::abs(home.rects[i].x) < 1000) {
            EXPECT_EQ(panned.rects[i].x, home.rects[i].x - 60) << i;
            ++shifted;
        }
    }
    EXPECT_GT(shifted, 0);
}

TEST(SimScene, TiltZoomChannelAndFrameEachChangeThePicture) {
    const Scene home = buildScene(sceneInput());

    SceneInput tilted = sceneInput();
    tilted.view.tiltDegrees = 10.0;
    EXPECT_EQ(buildScene(tilted).horizonY, home.horizonY + 100);

    SceneInput zoomed = sceneInput();
    zoomed.view.zoom = 2.0;
    EXPECT_EQ(buildScene(zoomed).rects[0].width, 2 * home.rects[0].width);

    SceneInput other = sceneInput();
    other.channelId = "8";
    EXPECT_NE(buildScene(other).rects[0].x, home.rects[0].x);

    SceneInput later = sceneInput();
    later.frameNumber = 2;
    EXPECT_GT(buildScene(later).rects.back().width, home.rects.back().width);
}

TEST(SimScene, CaptionsNameTheChannelTimeFrameAndPtz) {
    SceneInput input = sceneInput();
    input.frameNumber = 42;
    std::vector<std::string> texts;
    for (const SceneText& text : buildScene(input).texts) {
        texts.push_back(text.text);
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{"7  Warehouse", "2026-12-06 10:51:31.123", "frame 42"}));

    input.showPtz = true;
    input.view = {12.0, -3.0, 1.5};
    input.banner = "Motion";
    const Scene withPtz = buildScene(input);
    ASSERT_EQ(withPtz.texts.size(), 5u);
    EXPECT_EQ(withPtz.texts[3].text, "pan 12  tilt -3  zoom 1.5x");
    EXPECT_EQ(withPtz.texts[4].text, "ALARM: Motion");
}

TEST(SimJpegPadding, GrowsToTheMinimumAndKeepsThePicture) {
    SceneInput input = sceneInput();
    FrameRenderer renderer(80);
    const std::string plain = renderer.render(buildScene(input));
    const auto original = test::decodeJpeg(plain, test::RowOrder::Mirrored);
    ASSERT_TRUE(original);
    for (const std::size_t minimum : {std::size_t{0}, plain.size() + 1, plain.size() + 3,
                                      std::size_t{50'000}, std::size_t{200'000}}) {
        SCOPED_TRACE(minimum);
        std::string padded = plain;
        padJpeg(padded, minimum);
        EXPECT_GE(padded.size(), minimum);
        EXPECT_LE(padded.size(), std::max(plain.size(), minimum + 3));
        const auto decoded = test::decodeJpeg(padded, test::RowOrder::Mirrored);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->rgb, original->rgb);
    }
    std::string notJpeg = "<kmResponse/>";
    padJpeg(notJpeg, 1000);
    EXPECT_EQ(notJpeg, "<kmResponse/>");
}

TEST(SimRenderer, APictureTooLargeForItsFrameGoesOutCoarser) {
    const Scene scene = buildScene(sceneInput());
    const std::string full = FrameRenderer(100).render(scene);
    const std::size_t budget = full.size() / 2;
    FrameRenderer renderer(100, budget);
    for (int frame = 0; frame < 2; ++frame) {
        const std::string coarser = renderer.render(scene);
        EXPECT_LE(coarser.size(), budget);
        const auto decoded = test::decodeJpeg(coarser, test::RowOrder::Mirrored);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, scene.width);
    }
}

SceneInput cameraInput(std::string channelId, PtzView view, int width = 640, int height = 480) {
    SceneInput input = sceneInput();
    input.channelId = std::move(channelId);
    input.width = width;
    input.height = height;
    input.view = view;
    input.showPtz = true;
    input.detail = PictureDetail::Camera;
    return input;
}

TEST(SimCameraDetail, FramesWeighWhatACamerasDoWhileFlatOnesStaySmall) {
    struct Case {
        const char* channel;
        PtzView view;
    };
    const std::vector<Case> cases = {
        {"1", {}}, {"4", {120.0, -15.0, 1.0}}, {"7", {250.0, 15.0, 2.5}}, {"9", {40.0, 0.0, 6.0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        SceneInput input = cameraInput(c.channel, c.view);
        const std::string camera = FrameRenderer(80).render(buildScene(input));
        input.detail = PictureDetail::Flat;
        const std::string flat = FrameRenderer(80).render(buildScene(input));
        EXPECT_GE(camera.size(), 30'000u);
        EXPECT_LE(camera.size(), 80'000u);
        EXPECT_LT(flat.size(), 25'000u);
    }
}

TEST(SimCameraDetail, TheSameViewGivesTheSamePictureAndEachChannelItsOwn) {
    const Scene scene = buildScene(cameraInput("4", {30.0, 5.0, 1.5}));
    FrameRenderer renderer(80);
    const std::string first = renderer.render(scene);
    EXPECT_EQ(renderer.render(scene), first);  // painted again from the kept backdrop
    EXPECT_EQ(FrameRenderer(80).render(scene), first);
    EXPECT_NE(FrameRenderer(80).render(buildScene(cameraInput("5", {30.0, 5.0, 1.5}))), first);
}

// The share of pixels of `a`, moved by (dx, dy), that `b` has exactly.
double sharedPixels(const RasterImage& a, const RasterImage& b, int dx, int dy) {
    int same = 0;
    int compared = 0;
    for (int y = std::max(0, -dy); y < a.height && y + dy < b.height; ++y) {
        for (int x = std::max(0, -dx); x < a.width && x + dx < b.width; ++x) {
            same += a.at(x, y) == b.at(x + dx, y + dy) ? 1 : 0;
            ++compared;
        }
    }
    return static_cast<double>(same) / compared;
}

TEST(SimCameraDetail, TextureIsFixedToTheWorldSoItMovesWithPanAndTilt) {
    // 600 px for 60 degrees: 10 px a degree.
    const auto backdrop = [](PtzView view) {
        RasterImage image;
        paintBackdrop(*buildScene(cameraInput("3", view, 600, 400)).backdrop, image);
        return image;
    };
    const RasterImage home = backdrop({});
    const RasterImage panned = backdrop({6.0, 0.0, 1.0});
    const RasterImage tilted = backdrop({0.0, 4.0, 1.0});
    EXPECT_GT(sharedPixels(home, panned, -60, 0), 0.99);
    EXPECT_GT(sharedPixels(home, tilted, 0, 40), 0.99);
    // Grain everywhere: unmoved, hardly a pixel is the same.
    EXPECT_LT(sharedPixels(home, panned, 0, 0), 0.2);
    EXPECT_LT(sharedPixels(home, tilted, 0, 0), 0.2);
}

TEST(SimCameraDetail, NumberPlatesAreReadableOnlyWhenZoomedIn) {
    struct Case {
        int width;
        int height;
        double zoom;
        int lowest;  // the plate's text size, in pixels
        int highest;
    };
    const std::vector<Case> cases = {
        {1280, 960, 1.0, 9, 12},  // capitals about 7 to 9 px high
        {640, 480, 1.0, 4, 6},
        {640, 480, 2.0, 9, 12},
        {1280, 960, 3.0, 28, 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width * c.zoom);
        const Scene scene = buildScene(cameraInput("1", {0.0, 0.0, c.zoom}, c.width, c.height));
        const auto plate =
            std::find_if(scene.texts.begin(), scene.texts.end(),
                         [](const SceneText& text) { return text.style == TextStyle::Sign; });
        ASSERT_NE(plate, scene.texts.end());
        EXPECT_GE(plate->pixelSize, c.lowest);
        EXPECT_LE(plate->pixelSize, c.highest);
        EXPECT_EQ(plate->text.size(), 7u);  // "KR 4711"
    }
}

#ifdef KRT_SIM_WITH_QT
TEST(SimRenderer, DrawsTheCaptionsOnlyWhereFontsExist) {
    const Scene scene = buildScene(sceneInput());
    FrameRenderer renderer(90);
    const auto withoutFonts = test::decodeJpeg(renderer.render(scene), test::RowOrder::Mirrored);
    int argc = 1;
    char name[] = "krt_sim_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);
    const auto withFonts = test::decodeJpeg(renderer.render(scene), test::RowOrder::Mirrored);
    ASSERT_TRUE(withoutFonts && withFonts);

    // The caption rows at the top differ; the sky between caption and landmarks does not
    // lose its colour.
    const int captionRows = scene.texts[1].baselineY + 2;
    EXPECT_NE(withFonts->rows(0, captionRows), withoutFonts->rows(0, captionRows));
    const auto sky = withFonts->meanColour(0, captionRows);
    EXPECT_GT(sky[2], sky[1]);
}
#endif

}  // namespace
}  // namespace krt::sim
