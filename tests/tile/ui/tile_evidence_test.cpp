// A tile's snapshot, recording and zoom against krt-sim running in the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <fstream>

#include "common/ui/ui_test_support.h"
#include "frame_stamp.h"
#include "sim/sim_test_support.h"
#include "support/clip_reader.h"
#include "support/log_capture.h"
#include "support/small_folder.h"
#include "tile/ui/recording_stops.h"
#include "tile/ui/tile_evidence.h"
#include "tile/ui/tile_overlay.h"
#include "tile/ui/tile_zoom.h"
#include "tile/ui/video_window.h"
#include "tile/ui/video_window_container.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using sim::test::RunningSim;
using ::testing::HasSubstr;

constexpr int kWait_ms = 15000;

sim::SimConfig oneCameraConfig() {
    sim::SimConfig config = RunningSim::quietDefault();
    sim::SimChannel camera;
    camera.id = "gate";
    camera.description = "Gate";
    camera.width = 320;
    camera.height = 240;
    camera.frameRate = 25.0;
    config.channels = {camera};
    return config;
}

long long stampOf(std::span<const unsigned char> jpeg) {
    const auto stamp =
        sim::readFrameStamp({reinterpret_cast<const char*>(jpeg.data()), jpeg.size()});
    return stamp ? stamp->frameNumber : -1;
}

std::vector<unsigned char> fileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

class TileEvidenceTest : public test::UiTest {
  protected:
    TileEvidenceTest() : m_sim(oneCameraConfig()) {
        m_app.m_serverAddress = m_sim.address();
        m_camera.ChannelID = "gate";
        m_camera.ChannelDescription = "Gate";
        m_camera.Width = 320;
        m_camera.Height = 240;
        m_camera.DetailsLoaded = true;
        for (VideoWindowContainer* tile : {&m_tile, &m_second}) {
            tile->resize(336, 267);
            tile->resizeChildren(336, 267);
            tile->evidence()->setSettings({(m_folder.path() / "KRT").string(), 10});
        }
        m_tile.show();
    }

    void play(VideoWindowContainer& tile) {
        tile.setChannel(&m_camera);
        tile.setBigView(true);
        tile.startConnect();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return tile.videoWindow()->framesReceived() >= 3; }, kWait_ms));
    }
    TileOverlay& overlay() { return *m_tile.overlay(); }

    RunningSim m_sim;
    AppState m_app;
    VideoChannel m_camera;
    VideoWindowContainer m_tile{m_app, 10000};
    VideoWindowContainer m_second{m_app, 10003};
};

TEST_F(TileEvidenceTest, SnapshotIsTheNewestFrameAsReceivedSavedAndCopied) {
    play(m_tile);
    m_tile.pauseVideo();
    const long newest = m_tile.videoWindow()->streamFramesReceived();
    m_tile.evidence()->saveSnapshot();

    const std::vector<fs::path> saved{fs::directory_iterator(m_folder.path() / "KRT"), {}};
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_THAT(saved[0].filename().string(), ::testing::StartsWith("Gate "));
    EXPECT_EQ(saved[0].extension(), ".jpg");
    const std::vector<unsigned char> bytes = fileBytes(saved[0]);
    EXPECT_EQ(stampOf(bytes), newest) << "the newest frame the tile received";
    EXPECT_EQ(bytes, m_tile.videoWindow()->feed().newestFrame()->bytes);
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->data(QStringLiteral("image/jpeg")),
              QByteArray(reinterpret_cast<const char*>(bytes.data()),
                         static_cast<qsizetype>(bytes.size())));
    EXPECT_TRUE(copied->hasImage());
    EXPECT_THAT(overlay().notice().toStdString(), HasSubstr(saved[0].string()));
}

TEST_F(TileEvidenceTest, RecordToggleRecordsTheStreamWithARedMarkAndItsTime) {
    play(m_tile);
    QToolButton* toggle = m_tile.evidence()->recordButton();
    toggle->click();
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(overlay().recordingMarked());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return overlay().recordingText() == QStringLiteral("REC 00:01"); }, kWait_ms));
    toggle->click();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_FALSE(overlay().recordingMarked());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return overlay().notice().startsWith("Clip saved: "); }, kWait_ms));

    const fs::path clipFile = overlay().notice().mid(12).toStdString();
    const std::optional<test::ClipContents> clip = test::readClip(clipFile);
    ASSERT_TRUE(clip);
    ASSERT_GE(clip->frames.size(), 20u);
    for (std::size_t k = 1; k < clip->frames.size(); ++k) {
        EXPECT_EQ(stampOf(clip->frames[k].bytes), stampOf(clip->frames[k - 1].bytes) + 1) << k;
        EXPECT_GT(clip->frames[k].time_ms, clip->frames[k - 1].time_ms) << k;
    }
}

TEST_F(TileEvidenceTest, RecordingsThatCannotRunSayWhyAndLeaveNoMark) {
    play(m_tile);
    m_second.show();
    play(m_second);
    m_tile.evidence()->recordButton()->click();
    // The same camera on a second tile, then a folder that cannot be made.
    m_second.evidence()->toggleRecording();
    std::ofstream(m_folder.path() / "file") << "in the way";
    m_second.evidence()->setSettings({(m_folder.path() / "file" / "KRT").string(), 10});
    m_tile.evidence()->stopRecording();
    m_second.evidence()->toggleRecording();
    ASSERT_EQ(m_messages.boxes().size(), 2u);
    EXPECT_EQ(m_messages.boxes()[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(m_messages.texts()[0], "\"Gate\" is being recorded already.");
    EXPECT_THAT(m_messages.texts()[1], HasSubstr("Not a directory"));
    EXPECT_FALSE(m_second.evidence()->recording());
    EXPECT_FALSE(m_second.overlay()->recordingMarked());
}

// A small disk made before the tiles and their threads, so that they write on it.
struct SmallDisk {
    test::TempFolder root;
    test::SmallFolder disk{root.path() / "disk", 1024 * 1024};
};
class TileOnASmallDisk : public SmallDisk, public TileEvidenceTest {};

TEST_F(TileOnASmallDisk, AFullDiskStopsTheRecordingSaysWhyAndKeepsTheClip) {
    m_tile.evidence()->setSettings({disk.path().string(), 10});
    const QSignalSpy stops(&RecordingStops::instance(), &RecordingStops::stopped);
    play(m_tile);
    m_tile.evidence()->toggleRecording();
    const std::shared_ptr<ClipRecorder> recording = m_tile.videoWindow()->feed().recording();
    ASSERT_NE(recording, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording->framesRecorded() >= 50; }, kWait_ms));
    disk.fill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return stops.size() == 1; }, kWait_ms));
    disk.free();

    // The disk's own error, or the guard of its last 5% first.
    const QString why = stops[0][0].toString();
    EXPECT_THAT(why.toStdString(), ::testing::ContainsRegex("(No space left on device|File too "
                                                            "large|is nearly full).*The "
                                                            "recording has stopped\\."));
    EXPECT_EQ(overlay().notice(), why);
    EXPECT_FALSE(m_tile.evidence()->recording());
    EXPECT_FALSE(overlay().recordingMarked());
    EXPECT_TRUE(m_messages.boxes().empty()) << "no box waits for someone";
    const std::vector<fs::path> clips{fs::directory_iterator(disk.path()), {}};
    ASSERT_EQ(clips.size(), 1u);
    const std::optional<test::ClipContents> clip = test::readClip(clips[0]);
    ASSERT_TRUE(clip);
    EXPECT_GE(clip->frames.size(), 25u);
}

TEST_F(TileEvidenceTest, CtrlWheelZoomsAboutThePointerADragPansAndAPressStillTaps) {
    play(m_tile);
    VideoWindow* window = m_tile.videoWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->picturePlacementShown().has_value(); }, kWait_ms));
    const QPointF topLeft(2, 2);
    for (const auto& [modifiers, factor] :
         {std::pair{Qt::NoModifier, 1.0}, std::pair{Qt::ControlModifier, 2.0}}) {
        QWheelEvent wheel(topLeft, window->mapToGlobal(topLeft), {}, {0, 240}, Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(window, &wheel);
        EXPECT_DOUBLE_EQ(m_tile.zoom()->zoom().factor(), factor);
    }
    // Zoomed about the top left corner, which stays where it was.
    EXPECT_NEAR(window->zoomRegion().left, 0.0, 0.01);
    EXPECT_NEAR(window->zoomRegion().top, 0.0, 0.01);
    EXPECT_TRUE(overlay().overviewShown());

    QSignalSpy taps(&m_tile, &VideoWindowContainer::videoTap);
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(window, QPoint(100, 100));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(taps.count(), 0) << "a drag is no tap";
    EXPECT_GT(window->zoomRegion().left, 0.1) << "the picture moved left with the pointer";
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(taps.count(), 1);

    m_tile.zoom()->reset();
    EXPECT_EQ(window->zoomRegion(), ZoomRegion{});
    EXPECT_FALSE(overlay().overviewShown());
}

}  // namespace
}  // namespace krt
