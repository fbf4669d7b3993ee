// The Videos page and its tiles against krt-sim running in the test.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <span>

#include "alarms/ui/event_alert_dialog.h"
#include "alarms/ui/events_page.h"
#include "app/ui/main_sheet.h"
#include "common/ui/qt_text.h"
#include "common/ui/ui_test_support.h"
#include "sim/sim_test_support.h"
#include "support/logged_in_sim.h"
#include "tile/ui/tile_evidence.h"
#include "tile/ui/tile_overlay.h"
#include "tile/ui/video_title_bar.h"
#include "tile/ui/video_window.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/page_link_label.h"
#include "video/ui/press_button.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using sim::test::RunningSim;

constexpr int kWait_ms = 15000;

// The first tiles, those of a 2 × 2 grid (the page has enough for the largest grid).
std::span<VideoWindowContainer* const> firstTiles(const VideoPage& page, std::size_t count = 4) {
    return std::span(page.tiles()).first(count);
}

std::vector<std::string> tileChannels(const VideoPage& page, std::size_t count = 4) {
    std::vector<std::string> ids;
    for (const VideoWindowContainer* tile : firstTiles(page, count)) {
        ids.push_back(tile->getChannelId());
    }
    return ids;
}

bool hasPicture(const VideoWindowContainer* tile) {
    return tile->videoWindow()->state() == VideoState::VideoPlaying &&
           !tile->videoWindow()->newestPicture().isNull();
}

// Mean of green minus blue over a band of rows.
double greenOverBlue(const QImage& picture, int top, int bottom) {
    double sum = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QColor colour = picture.pixelColor(x, y);
            sum += colour.green() - colour.blue();
        }
    }
    return sum / ((bottom - top) * picture.width());
}

class VideoPageTest : public test::UiTest, protected test::LoggedInSim {
  protected:
    // A page as the sheet opens it: 2 × 2, page 0, laid out.
    std::unique_ptr<VideoPage> openPage(QSize size = {480, 400}) {
        auto page = std::make_unique<VideoPage>(app);
        page->resize(size);
        page->show();
        page->setGrid(2, 2);
        page->relayout();
        return page;
    }
};

TEST_F(VideoPageTest, GridShowsTheFirstFourChannelsWithLivePictures) {
    const auto page = openPage();
    EXPECT_EQ(tileChannels(*page), (std::vector<std::string>{"1", "2", "3", "4"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::ranges::all_of(firstTiles(*page), hasPicture); },
                                kWait_ms));
    EXPECT_EQ(sim.server().requestCount("getLowResolutionLiveVideo"), 4u);
    EXPECT_EQ(sim.server().requestCount("getMediumResolutionLiveVideo"), 0u);
    for (const VideoWindowContainer* tile : firstTiles(*page)) {
        const VideoWindow* window = tile->videoWindow();
        // Placed in the picture area at the channel's aspect.
        const VideoChannel& channel = app.m_channels[static_cast<std::size_t>(
            findChannelIndex(app.m_channels, tile->getChannelId()))];
        EXPECT_EQ(window->picturePlacementShown(),
                  picturePlacement(window->width(), window->height(), channel));
        EXPECT_EQ(window->newestPicture().width(), window->picturePlacementShown()->width);
        EXPECT_EQ(tile->titleBar()->shownText(), qtText(tile->getChannelId()));
        // The server stores its pictures upside down and the tile draws them mirrored top to
        // bottom: the sky is on top, the ground below.
        const QImage picture = window->newestPicture();
        const int band = picture.height() / 6;
        EXPECT_LT(greenOverBlue(picture, 0, band), 0) << tile->getChannelId();
        EXPECT_GT(greenOverBlue(picture, picture.height() - band, picture.height()), 0)
            << tile->getChannelId();
        // Armed on the GUI thread by an event the frame posted.
        EXPECT_TRUE(QTest::qWaitFor([&] { return window->watchdogArmed(); }, kWait_ms));
    }
    EXPECT_TRUE(std::ranges::none_of(page->ptzButtons(),
                                     [](const QWidget* button) { return button->isVisible(); }));
}

TEST_F(VideoPageTest, LinksAndThePageListChangePages) {
    const auto page = openPage();
    const auto linkTexts = [&] {
        std::vector<std::string> texts;
        for (const PageLinkLabel* link : page->links()) {
            texts.push_back(link->isVisible() ? link->text().toStdString() : "-");
        }
        return texts;
    };
    EXPECT_EQ(linkTexts(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(page->links()[0]->colour(), kCurrentPageColour);
    EXPECT_EQ(page->pageList()->count(), 3);

    QTest::mouseClick(page->links()[1], Qt::LeftButton);
    EXPECT_EQ(page->pageIndex, 1);
    EXPECT_EQ(tileChannels(*page), (std::vector<std::string>{"5", "6", "7", "8"}));
    EXPECT_EQ(page->links()[1]->colour(), kCurrentPageColour);
    EXPECT_EQ(page->links()[0]->colour(), kOtherPageColour);
    EXPECT_EQ(page->pageList()->currentText(), QStringLiteral("Page 2"));

    // 9 channels, page index 2: channel 9 alone; links "2" blue, "3" red, the third hidden.
    emit page->pageList()->activated(2);
    EXPECT_EQ(page->pageIndex, 2);
    EXPECT_EQ(tileChannels(*page), (std::vector<std::string>{"9", "", "", ""}));
    EXPECT_EQ(linkTexts(), (std::vector<std::string>{"2", "3", "-"}));
    EXPECT_EQ(page->links()[0]->colour(), kOtherPageColour);
    EXPECT_EQ(page->links()[1]->colour(), kCurrentPageColour);
    for (std::size_t k = 1; k < 4; ++k) {
        EXPECT_EQ(page->tiles()[k]->videoWindow()->windowText(), QStringLiteral("No Video"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasPicture(page->tiles()[0]); }, kWait_ms));
    EXPECT_FALSE(hasPicture(page->tiles()[1]));

    // Choosing the page already shown does nothing: the stream is not started again.
    const std::size_t requests = sim.server().requestCount("getLowResolutionLiveVideo");
    emit page->pageList()->activated(2);
    EXPECT_TRUE(hasPicture(page->tiles()[0]));
    EXPECT_EQ(sim.server().requestCount("getLowResolutionLiveVideo"), requests);
}

TEST_F(VideoPageTest, TapSwitchesToTheSingleViewAndBackToTheGridPage) {
    const auto page = openPage();
    QTest::mouseClick(page->links()[1], Qt::LeftButton);
    // The tile of channel 7 (index 6), tapped on its picture.
    VideoWindowContainer* tile = page->tiles()[2];
    ASSERT_EQ(tile->getChannelId(), "7");
    QTest::mouseClick(tile->videoWindow(), Qt::LeftButton);
    EXPECT_TRUE(page->singleView());
    EXPECT_EQ(page->pageIndex, 6);
    EXPECT_EQ(page->pageList()->count(), 9);
    EXPECT_EQ(page->pageList()->currentText(), QStringLiteral("Page 7"));
    EXPECT_EQ(tileChannels(*page), (std::vector<std::string>{"7", "6", "7", "8"}))
        << "the other tiles keep their channels, stopped";
    VideoWindowContainer* single = page->tiles()[0];
    EXPECT_TRUE(single->videoWindow()->bigView());
    EXPECT_EQ(single->titleBar()->shownText(),
              qtText("7 - " + app.m_channels[6].ChannelDescription));
    for (std::size_t k = 1; k < 4; ++k) {
        EXPECT_EQ(page->tiles()[k]->videoWindow()->state(), VideoState::VideoIdle);
        EXPECT_EQ(page->tiles()[k]->width(), 0);
    }
    // Channel 7 moves: the six buttons stand in one row 10 pixels above the bottom.
    EXPECT_EQ(page->ptzChannelIndex(), 6);
    for (const PressButton* button : page->ptzButtons()) {
        EXPECT_TRUE(button->isVisible());
        EXPECT_EQ(button->geometry().bottom() + 1, page->height() - 10);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasPicture(single); }, kWait_ms));
    EXPECT_EQ(sim.server().requestCount("getMediumResolutionLiveVideo"), 1u);

    // Tapping the title bar does nothing; tapping the tile returns to the grid page 1.
    QTest::mouseClick(single->titleBar(), Qt::LeftButton);
    EXPECT_TRUE(page->singleView());
    QTest::mouseClick(single, Qt::LeftButton, {}, QPoint(5, 30));
    EXPECT_FALSE(page->singleView());
    EXPECT_EQ(page->pageIndex, 1);
    EXPECT_EQ(tileChannels(*page), (std::vector<std::string>{"5", "6", "7", "8"}));
    EXPECT_FALSE(page->ptzButtons()[0]->isVisible());
}

TEST_F(VideoPageTest, ARecordingFollowsItsCameraIntoTheSingleViewAndEndsWhenItLeaves) {
    const auto page = openPage();
    const std::filesystem::path folder = m_folder.path() / "clips";
    page->setEvidenceSettings({folder.string(), 10});
    VideoWindowContainer* tile = page->tiles()[1];
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasPicture(tile); }, kWait_ms));
    QTest::keyClick(page.get(), Qt::Key_Right);
    QTest::keyClick(page.get(), Qt::Key_R);
    ASSERT_TRUE(tile->evidence()->recording());
    const std::shared_ptr<ClipRecorder> recording = tile->videoWindow()->feed().recording();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording->framesRecorded() >= 3; }, kWait_ms));

    QTest::mouseClick(tile, Qt::LeftButton);
    VideoWindowContainer* single = page->tiles()[0];
    ASSERT_EQ(single->getChannelId(), "2");
    EXPECT_TRUE(single->evidence()->recording());
    EXPECT_EQ(single->videoWindow()->feed().recording(), recording);
    EXPECT_TRUE(single->overlay()->recordingMarked());
    const int before = recording->framesRecorded();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return recording->framesRecorded() >= before + 3; }, kWait_ms))
        << "the single view's stream goes on in the same recording";

    QTest::keyClick(page.get(), Qt::Key_PageDown);
    EXPECT_FALSE(recording->recording()) << "channel 2 has left the page";
    EXPECT_FALSE(single->overlay()->recordingMarked());
    // One clip of the grid's stream, one of the single view's.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
}

// A 2x2 tile drawn wider than half the low stream: zoomed in, it shows the medium stream's
// detail; zoomed out, it goes back to the low stream.
TEST_F(VideoPageTest, AZoomedTileTakesTheMediumStreamUntilItsZoomIsUndone) {
    const auto page = openPage({900, 700});
    VideoWindow* window = page->tiles()[0]->videoWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasPicture(page->tiles()[0]); }, kWait_ms));
    window->setZoomRegion({0.25, 0.25, 0.5, 0.5});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return sim.server().requestCount("getMediumResolutionLiveVideo") == 1; }, kWait_ms));
    window->setZoomRegion({});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return sim.server().requestCount("getLowResolutionLiveVideo") == 5; }, kWait_ms));
    EXPECT_EQ(sim.server().requestCount("getMediumResolutionLiveVideo"), 1u);
    EXPECT_FALSE(window->bigView());
}

TEST_F(VideoPageTest, TapOnATileWithoutChannelIsIgnored) {
    const auto page = openPage();
    emit page->pageList()->activated(2);
    QTest::mouseClick(page->tiles()[3]->videoWindow(), Qt::LeftButton);
    EXPECT_FALSE(page->singleView());
    EXPECT_EQ(page->pageIndex, 2);
    EXPECT_TRUE(page->tiles()[0]->isVisible());
}

TEST_F(VideoPageTest, PtzButtonsSendTheirPressAndTheReleaseCode) {
    const auto page = openPage();
    ASSERT_TRUE(page->ptzConnected());
    ASSERT_TRUE(page->showChannel("4"));
    struct Case {
        std::size_t button;
        int pressCode;
    };
    for (const Case c : {Case{4, 11}, Case{0, 2}, Case{3, 5}}) {
        PressButton* button = page->ptzButtons()[c.button];
        QTest::mousePress(button, Qt::LeftButton);
        EXPECT_TRUE(sim.server().waitForPtzCommand("4", c.pressCode, 5s))
            << button->text().toStdString();
        QTest::mouseRelease(button, Qt::LeftButton);
        EXPECT_TRUE(sim.server().waitForPtzCommand("4", kPtzReleaseCode, 5s))
            << button->text().toStdString();
    }
}

TEST_F(VideoPageTest, SingleViewOfAChannelWithoutPtzHidesTheButtons) {
    const auto page = openPage();
    ASSERT_TRUE(page->showChannel("2"));
    EXPECT_TRUE(page->singleView());
    EXPECT_EQ(page->pageIndex, 1);
    EXPECT_TRUE(std::ranges::none_of(page->ptzButtons(),
                                     [](const QWidget* button) { return button->isVisible(); }));
    EXPECT_FALSE(page->showChannel("no such camera"));
    EXPECT_EQ(page->pageIndex, 1);
}

QRect toQRect(const Rect& rect) {
    return {rect.x, rect.y, rect.width, rect.height};
}

TEST_F(VideoPageTest, ResizingReFitsTheTilesAtOnceAndKeepsTheirStreams) {
    const auto page = openPage();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::ranges::all_of(firstTiles(*page), hasPicture); },
                                kWait_ms));
    const auto requests = sim.server().requestCount("getLowResolutionLiveVideo");
    const auto placedAsFitted = [&](bool ptzShown) {
        const std::optional<int> buttonHeight =
            ptzShown ? std::optional(page->ptzButtons()[0]->height()) : std::nullopt;
        const TileGeometry geometry = tileGeometry(
            page->width(), page->height(), availableTileHeight(page->height(), buttonHeight),
            page->rows(), page->cols());
        for (int k = 0; k < page->rows() * page->cols(); ++k) {
            EXPECT_EQ(page->tiles()[static_cast<std::size_t>(k)]->geometry(),
                      toQRect(tileRect(geometry, k / page->cols(), k % page->cols())))
                << k << " in " << page->width() << " x " << page->height();
        }
        EXPECT_FALSE(page->scrollBar()->isVisible());
    };
    for (const QSize size : {QSize(1200, 950), QSize(400, 700), QSize(320, 240)}) {
        page->resize(size);
        placedAsFitted(false);
        // The last picture fills its new place before the next one comes.
        for (int k = 0; k < page->rows() * page->cols(); ++k) {
            const VideoWindowContainer* tile = page->tiles()[static_cast<std::size_t>(k)];
            VideoWindow* window = tile->videoWindow();
            const VideoChannel& channel = app.m_channels[static_cast<std::size_t>(
                findChannelIndex(app.m_channels, tile->getChannelId()))];
            const Rect place = *picturePlacement(window->width(), window->height(), channel);
            const QImage shown = window->grab().toImage();
            EXPECT_NE(shown.pixelColor(place.x + place.width - 2, place.y + place.height - 2),
                      QColor(200, 200, 200))
                << "bottom right of the picture, " << tile->getChannelId();
        }
        const TopRowLayout top =
            topRowLayout(size.width(), page->pageList()->width(), page->pageList()->height());
        EXPECT_EQ(page->links()[2]->geometry(), toQRect(top.links[2]));
    }
    // A scroll alone moves nothing.
    const QRect before = page->tiles()[3]->geometry();
    page->relayout();
    EXPECT_EQ(page->tiles()[3]->geometry(), before);
    EXPECT_EQ(sim.server().requestCount("getLowResolutionLiveVideo"), requests)
        << "re-fitted tiles keep streaming";

    // The single view with PTZ: the picture ends above the buttons, in every size.
    ASSERT_TRUE(page->showChannel("4"));
    for (const QSize size : {QSize(640, 480), QSize(300, 310), QSize(500, 900)}) {
        page->resize(size);
        placedAsFitted(true);
        EXPECT_LT(page->tiles()[0]->geometry().bottom(), page->ptzButtons()[0]->geometry().top());
    }
}

TEST_F(VideoPageTest, WatchdogReconnectsWhenTheStreamFallsSilent) {
    // The first stream breaks after its reply and two pictures; the next one plays on.
    sim::SimConfig config = RunningSim::quietDefault();
    sim::FaultMode broken;
    broken.kind = sim::FaultKind::BadStartOfFrame;
    broken.request = "getMediumResolutionLiveVideo";
    broken.times = 1;
    broken.afterFrames = 3;
    config.faults.push_back(broken);
    test::LoggedInSim faulty(config);
    VideoPage page(faulty.app);
    page.resize(480, 400);
    page.show();
    ASSERT_TRUE(page.showChannel("3"));
    VideoWindow* window = page.tiles()[0]->videoWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->framesReceived() >= 2; }, kWait_ms));
    const int framesBeforeSilence = window->framesReceived();
    // More than 10 s of silence, then the next 5 s tick reconnects.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return faulty.sim.server().requestCount("getMediumResolutionLiveVideo") >= 2; },
        30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->framesReceived() > framesBeforeSilence + 2; },
                                kWait_ms));
    EXPECT_EQ(window->state(), VideoState::VideoPlaying);
    EXPECT_EQ(faulty.sim.server().requestCount("getMediumResolutionLiveVideo"), 2u);
}

TEST_F(VideoPageTest, TileWithoutServerStaysConnectingAndStopsCleanly) {
    AppState nowhere = app;
    nowhere.m_serverAddress = "127.0.0.0";  // nothing listens there
    VideoPage page(nowhere);
    page.resize(480, 400);
    page.show();
    EXPECT_FALSE(page.ptzConnected());
    page.setGrid(2, 2);
    page.relayout();
    for (const VideoWindowContainer* tile : firstTiles(page)) {
        EXPECT_EQ(tile->videoWindow()->windowText(), QStringLiteral("Connecting..."));
    }
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return page.tiles()[0]->videoWindow()->watchdogArmed(); }, kWait_ms));
    page.tiles()[0]->stopVideo();
    EXPECT_EQ(page.tiles()[0]->videoWindow()->windowText(), QStringLiteral("No Video"));
    EXPECT_FALSE(page.tiles()[0]->videoWindow()->watchdogArmed());
}

TEST_F(VideoPageTest, ShowVideoOfTheSheetBringsTheChannelAloneToTheFront) {
    MainSheet sheet(app);
    sheet.show();
    sheet.tabs()->setCurrentIndex(3);
    sheet.showAlarmVideo({.server = {}, .channel = "3"});
    EXPECT_EQ(sheet.tabs()->currentWidget(), sheet.liveView());
    EXPECT_TRUE(sheet.videoPage()->singleView());
    EXPECT_EQ(sheet.videoPage()->pageIndex, 2);
    EXPECT_EQ(sheet.videoPage()->tiles()[0]->getChannelId(), "3");
}

TEST_F(VideoPageTest, ShowVideoOfAnAlarmPlaysItsCameraAloneWithPtz) {
    app.m_snapshotFolder = m_folder.path() / "EventImages";
    std::filesystem::create_directory(app.m_snapshotFolder);
    store("ShowAlerts", "true");
    MainSheet sheet(app);
    sheet.show();
    sheet.tabs()->setCurrentWidget(sheet.eventsPage());
    ASSERT_TRUE(sim.server().waitForSubscribers(1, 10s));
    sim.server().pushAlarm("4", "Motion");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return sheet.alertWindow() != nullptr && sheet.alertWindow()->isVisible(); },
        kWait_ms));
    QTest::mouseClick(sheet.alertWindow()->showVideoButton(), Qt::LeftButton);
    VideoPage* page = sheet.videoPage();
    EXPECT_EQ(sheet.tabs()->currentWidget(), sheet.liveView());
    EXPECT_TRUE(page->singleView());
    EXPECT_EQ(page->pageIndex, 3);
    EXPECT_EQ(page->pageList()->currentText(), QStringLiteral("Page 4"));
    EXPECT_TRUE(page->ptzButtons()[0]->isVisible());
    VideoWindowContainer* single = page->tiles()[0];
    EXPECT_EQ(single->getChannelId(), "4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasPicture(single); }, kWait_ms));
    QTest::mouseClick(page->ptzButtons()[1], Qt::LeftButton);
    EXPECT_TRUE(sim.server().waitForPtzCommand("4", kPtzReleaseCode, 5s));
}

}  // namespace
}  // namespace krt
