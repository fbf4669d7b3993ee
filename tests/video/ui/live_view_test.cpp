// Named layouts on the Videos tab, against krt-sim: building one by dropping cameras, the
// layout file, single view and back, the second window and the bad files.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <fstream>

#include "app/ui/main_sheet.h"
#include "common/ui/ui_test_support.h"
#include "layouts/layouts_file.h"
#include "layouts/ui/camera_list.h"
#include "layouts/ui/layout_grid.h"
#include "layouts/ui/layout_window.h"
#include "sim/sim_test_support.h"
#include "support/logged_in_sim.h"
#include "tile/ui/tile_zoom.h"
#include "tile/ui/video_window.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/live_view.h"
#include "video/ui/press_button.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

constexpr int kWait_ms = 10000;

std::filesystem::path layoutsPath() {
    return std::filesystem::path(settingsFilePath()).replace_extension(".layouts.json");
}

// Drops the data on the grid at the middle of the cell, as a drag from elsewhere ends.
void dropOnCell(LayoutGrid* grid, int cell, const char* mime, const QByteArray& bytes) {
    QMimeData data;
    data.setData(QString::fromLatin1(mime), bytes);
    const QPoint at = grid->tiles()[static_cast<std::size_t>(cell)]->geometry().center();
    QDragEnterEvent enter(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDragMoveEvent move(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid, &move);
    ASSERT_TRUE(move.isAccepted());
    QDropEvent drop(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid, &drop);
}

std::vector<std::string> shownCameras(const LayoutGrid* grid) {
    std::vector<std::string> ids;
    for (const VideoWindowContainer* tile : grid->tiles()) {
        ids.push_back(tile->getChannelId());
    }
    return ids;
}

bool allPlaying(const LayoutGrid* grid) {
    return std::ranges::all_of(grid->tiles(), [](const VideoWindowContainer* tile) {
        return tile->getChannelId().empty() ||
               tile->videoWindow()->state() == VideoState::VideoPlaying;
    });
}

struct LayoutSheet : test::LoggedInSim {
    LayoutSheet() : sheet(app) {
        sheet.resize(900, 700);
        sheet.show();
        QApplication::setActiveWindow(&sheet);
    }
    LiveView& view() const { return *sheet.liveView(); }
    LayoutGrid* grid() const { return sheet.liveView()->layoutGrid(); }

    MainSheet sheet;
};

class LiveViewTest : public test::UiTest {};

TEST_F(LiveViewTest, EntrancesIsBuiltByDroppingCamerasAndSwitchedToWithAlt1) {
    LayoutSheet f;
    ASSERT_EQ(f.view().currentLayout(), kAllCamerasLayout);
    ASSERT_FALSE(f.view().createLayout("Entrances", "1+5"));
    f.view().setEditing(true);
    EXPECT_TRUE(f.view().cameraList()->isVisible());
    // The search keeps the matching cameras.
    f.view().cameraList()->searchBox()->setText(QStringLiteral("dock"));
    const QListWidget* list = f.view().cameraList()->list();
    int shown = 0;
    for (int row = 0; row < list->count(); ++row) {
        shown += list->item(row)->isHidden() ? 0 : 1;
    }
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(f.grid()->tiles().size(), 6U);
    dropOnCell(f.grid(), 0, LayoutGrid::kCameraMime,
               LayoutGrid::cameraMimeData({.server = {}, .channel = "4"}));
    dropOnCell(f.grid(), 1, LayoutGrid::kCameraMime,
               LayoutGrid::cameraMimeData({.server = {}, .channel = "1"}));
    dropOnCell(f.grid(), 5, LayoutGrid::kCameraMime,
               LayoutGrid::cameraMimeData({.server = {}, .channel = "9"}));
    // A tile dragged onto another: the two swap.
    dropOnCell(f.grid(), 5, LayoutGrid::kCellMime, "1");
    EXPECT_EQ(shownCameras(f.grid()), (std::vector<std::string>{"4", "9", "", "", "", "1"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return allPlaying(f.grid()); }, kWait_ms));
    // The big cell is bigger than a small one, and the cells reach the bottom of the page.
    EXPECT_GT(f.grid()->tiles()[0]->width(), 1.9 * f.grid()->tiles()[1]->width());
    EXPECT_EQ(f.grid()->tiles()[5]->geometry().bottom() + 1 + LayoutGrid::kCellGap,
              f.grid()->height());

    const LayoutsFileResult saved = readLayoutsFile(layoutsPath());
    ASSERT_EQ(saved.state, LayoutsFileState::Read);
    const auto first = [](std::string id) { return CameraRef{.server = {}, .channel = id}; };
    EXPECT_EQ(saved.book.findLayout("Entrances")->cells,
              (std::vector<CameraRef>{first("4"), first("9"), {}, {}, {}, first("1")}));

    QTest::keyClick(&f.sheet, Qt::Key_0, Qt::AltModifier);
    EXPECT_EQ(f.view().currentLayout(), kAllCamerasLayout);
    EXPECT_TRUE(shownCameras(f.grid()).empty() ||
                std::ranges::all_of(shownCameras(f.grid()), &std::string::empty));
    QTest::keyClick(&f.sheet, Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(f.view().currentLayout(), "Entrances");
    EXPECT_EQ(f.view().layoutList()->currentText(), QStringLiteral("Entrances"));
    EXPECT_EQ(shownCameras(f.grid()), (std::vector<std::string>{"4", "9", "", "", "", "1"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return allPlaying(f.grid()); }, kWait_ms));
    // The grid times the first pictures of every cell (the benchmark reads it in the log).
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return f.grid()->firstPictures_ms().has_value(); }, kWait_ms));
}

TEST_F(LiveViewTest, ALayoutCellKeepsAndZoomsItsPictureAsAPageTileDoes) {
    LayoutSheet f;
    ASSERT_FALSE(f.view().createLayout("Evidence", "1+5"));
    f.view().setEditing(true);
    dropOnCell(f.grid(), 0, LayoutGrid::kCameraMime,
               LayoutGrid::cameraMimeData({.server = {}, .channel = "1"}));
    dropOnCell(f.grid(), 1, LayoutGrid::kCameraMime,
               LayoutGrid::cameraMimeData({.server = {}, .channel = "2"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return allPlaying(f.grid()); }, kWait_ms));
    f.view().setEvidenceSettings({(m_folder.path() / "KRT").string(), 10});
    QTest::keyClick(f.grid(), Qt::Key_S);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder.path() / "KRT"), {}), 1)
        << "the framed cell's snapshot";

    VideoWindowContainer* cell = f.grid()->tiles()[0];
    VideoWindow* window = cell->videoWindow();
    QTest::keyClick(f.grid(), Qt::Key_Equal, Qt::ControlModifier);
    QTest::keyClick(f.grid(), Qt::Key_Equal, Qt::ControlModifier);
    ASSERT_DOUBLE_EQ(cell->zoom()->zoom().factor(), 2.0);
    const ZoomRegion before = window->zoomRegion();
    // A drag on a zoomed cell moves its picture and swaps no cells.
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(window, QPoint(160, 100));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(160, 100));
    EXPECT_LT(window->zoomRegion().left, before.left);
    EXPECT_EQ(shownCameras(f.grid()), (std::vector<std::string>{"1", "2", "", "", "", ""}));
    QTest::keyClick(f.grid(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_FALSE(cell->zoom()->zoom().zoomed());
}

TEST_F(LiveViewTest, SingleViewAlarmsAndFullScreenComeBackToTheLayout) {
    LayoutSheet f;
    ASSERT_FALSE(f.view().createLayout("Doors", "2x2"));
    f.view().placeCamera(0, {.server = {}, .channel = "4"});
    f.view().placeCamera(3, {.server = {}, .channel = "2"});
    VideoPage* page = f.view().videoPage();
    // Enter on the focused cell: its single view, with the PTZ buttons of camera 4.
    f.grid()->setFocus();
    QTest::keyClick(f.grid(), Qt::Key_Return);
    EXPECT_TRUE(page->isVisible());
    EXPECT_TRUE(page->singleView());
    EXPECT_EQ(page->tiles()[0]->getChannelId(), "4");
    EXPECT_TRUE(page->ptzButtons()[0]->isVisible());
    QTest::keyClick(page, Qt::Key_Home);
    EXPECT_EQ(f.view().currentLayout(), "Doors");
    EXPECT_TRUE(f.grid()->isVisible());
    // "Show Video" of an alarm: the camera alone, whatever layout is shown, and back.
    f.sheet.showAlarmVideo({.server = {}, .channel = "2"});
    EXPECT_TRUE(page->singleView());
    EXPECT_EQ(page->tiles()[0]->getChannelId(), "2");
    QTest::keyClick(page, Qt::Key_Return);
    EXPECT_EQ(f.view().currentLayout(), "Doors");
    // Keyboard focus moves between cells; F11 shows the layout alone, Escape returns.
    QTest::keyClick(f.grid(), Qt::Key_Right);
    EXPECT_EQ(f.grid()->focusedCell(), 1);
    EXPECT_TRUE(f.grid()->tiles()[1]->framed());
    QTest::keyClick(f.grid(), Qt::Key_F11);
    EXPECT_TRUE(f.sheet.isFullScreen());
    EXPECT_FALSE(f.sheet.tabs()->tabBar()->isVisible());
    EXPECT_FALSE(f.view().layoutList()->isVisible());
    QTest::keyClick(f.grid(), Qt::Key_Escape);
    EXPECT_FALSE(f.sheet.isFullScreen());
    EXPECT_TRUE(f.view().layoutList()->isVisible());
    // The live-grid setting reaches the layout's tiles.
    f.view().setLiveGrid(true);
    EXPECT_TRUE(f.grid()->liveGrid());
}

TEST_F(LiveViewTest, TheFullScreenGridGivesEveryRowItsShare) {
    LayoutSheet f;
    VideoPage* page = f.view().videoPage();
    page->setGridColumns(4);
    page->setFullScreen(true);
    const auto fillsThePage = [&] {
        const QRect last = page->tiles()[15]->geometry();
        return page->tiles()[0]->y() == 2 && last.bottom() + 1 + 2 == page->height() &&
               last.right() + 1 + 2 == page->width();
    };
    EXPECT_TRUE(QTest::qWaitFor(fillsThePage, kWait_ms));
    // Every row within a pixel of the others.
    EXPECT_LE(std::abs(page->tiles()[0]->height() - page->tiles()[15]->height()), 1);
    page->setFullScreen(false);
    EXPECT_GE(page->tiles()[0]->y(), kPageLinkRowHeight);
}

TEST_F(LiveViewTest, ASecondWindowShowsALayoutAndClosesAlone) {
    LayoutSheet f;
    ASSERT_FALSE(f.view().createLayout("Yard", "1+7"));
    f.view().placeCamera(0, {.server = {}, .channel = "3"});
    QPointer<LayoutWindow> window = f.view().openInNewWindow("Yard");
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->grid()->tiles().size(), 8U);
    EXPECT_EQ(window->grid()->tiles()[0]->getChannelId(), "3");
    EXPECT_TRUE(QTest::qWaitFor([&] { return allPlaying(window->grid()); }, kWait_ms));
    // Its own full screen, which leaves the main window as it was.
    window->setFullScreen(true);
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_FALSE(f.sheet.isFullScreen());
    // A change of the layout in the main window reaches it.
    f.view().placeCamera(1, {.server = {}, .channel = "5"});
    EXPECT_EQ(window->grid()->tiles()[1]->getChannelId(), "5");
    EXPECT_EQ(f.sheet.viewState().extraWindows.size(), 1U);
    window->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, kWait_ms));
    EXPECT_TRUE(f.sheet.isVisible());
    EXPECT_TRUE(f.sheet.viewState().extraWindows.empty());
}

// From the single view of camera 7 in a 2x2 grid, "All cameras" opens on the page holding it.
TEST_F(LiveViewTest, ANewWindowFromTheSingleViewShowsThePageOfItsCamera) {
    LayoutSheet f;
    f.view().videoPage()->setGridColumns(2);
    f.view().videoPage()->showChannelAt(6);
    const QPointer<LayoutWindow> window = f.view().openInNewWindow(kAllCamerasLayout);
    ASSERT_TRUE(window);
    std::vector<std::string> shown;
    for (const VideoWindowContainer* tile : window->grid()->tiles()) {
        shown.push_back(tile->getChannelId());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"5", "6", "7", "8"}));
}

TEST_F(LiveViewTest, TheViewOfTheLastExitComesBack) {
    ViewState saved;
    {
        LayoutSheet f;
        ASSERT_FALSE(f.view().createLayout("Night", "3x3"));
        f.view().placeCamera(4, {.server = {}, .channel = "7"});
        f.view().openInNewWindow("Night");
        f.view().showChannelAt(6);  // camera "7", from the layout
        f.sheet.saveViewState();
        saved = f.sheet.viewState();
        EXPECT_EQ(saved.main.layout, "Night");
        EXPECT_EQ(saved.main.channelId, "7");
    }
    LayoutSheet again;
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.view().videoPage()->singleView(); }, kWait_ms));
    EXPECT_EQ(again.view().videoPage()->tiles()[0]->getChannelId(), "7");
    ASSERT_EQ(again.view().extraWindows().size(), 1U);
    EXPECT_EQ(again.view().extraWindows()[0]->grid()->layoutName(), "Night");
    // Back from the single view: the layout it was opened from.
    QTest::keyClick(again.view().videoPage(), Qt::Key_Home);
    EXPECT_EQ(again.view().currentLayout(), "Night");
}

TEST_F(LiveViewTest, ATourShowsItsStopsAndThePauseKeyHoldsIt) {
    LayoutSheet f;
    ASSERT_FALSE(f.view().createLayout("A", "1"));
    ASSERT_FALSE(f.view().createLayout("B", "2x2"));
    ASSERT_FALSE(f.view().putTour({"Round", 5, {"B", "A"}, 0}));
    EXPECT_FALSE(f.view().startTour("Nothing"));
    ASSERT_TRUE(f.view().startTour("Round"));
    EXPECT_EQ(f.view().currentLayout(), "B");
    EXPECT_TRUE(f.view().tourMark()->isVisible());
    EXPECT_TRUE(f.view().tourMark()->text().contains(QStringLiteral("1/2")));
    QTest::keyClick(&f.sheet, Qt::Key_P);
    EXPECT_TRUE(f.view().tourMark()->text().contains(QStringLiteral("paused (P goes on)")));
    QTest::keyClick(&f.sheet, Qt::Key_P);
    // A tour that lets alarms in shows the alarm's camera alone, alerts on or off.
    ASSERT_FALSE(f.view().putTour({"Alarmed", 5, {"B", "A"}, 20}));
    ASSERT_TRUE(f.view().startTour("Alarmed"));
    AlarmEvent alarm;
    alarm.alarmName = "Motion";
    alarm.channelId = "6";
    f.sheet.queueEventAlert(alarm, nullptr);
    EXPECT_TRUE(f.view().videoPage()->singleView());
    EXPECT_EQ(f.view().videoPage()->tiles()[0]->getChannelId(), "6");
    EXPECT_TRUE(f.view().tourMark()->text().contains(QStringLiteral("alarm shown")));
    f.view().stopTour();
    EXPECT_FALSE(f.view().tourMark()->isVisible());
}

struct BadFileCase {
    const char* what;
    std::string text;
    const char* messagePart;
};

TEST_F(LiveViewTest, BadLayoutFilesFallBackToAllCamerasAndAreKept) {
    for (const BadFileCase& c :
         {BadFileCase{"corrupt", "{\"format\": \"krt-layouts\", \"vers", "cannot be read"},
          BadFileCase{"newer", R"({"format": "krt-layouts", "version": 9, "layouts": {}})",
                      "newer version"},
          BadFileCase{"too large", std::string(kLargestLayoutsFile_bytes + 1, ' '),
                      "larger than 8 MB"}}) {
        SCOPED_TRACE(c.what);
        std::ofstream(layoutsPath()) << c.text;
        LayoutSheet f;
        ASSERT_TRUE(QTest::qWaitFor([&] { return f.view().fileMessage() != nullptr; }, kWait_ms));
        EXPECT_TRUE(f.view().fileMessage()->text().contains(QString::fromLatin1(c.messagePart)));
        EXPECT_EQ(f.view().currentLayout(), kAllCamerasLayout);
        // A layout made now is shown but the file is not written over.
        ASSERT_FALSE(f.view().createLayout("New", "2x2"));
        EXPECT_TRUE(f.view().fileMessage()->text().contains(QStringLiteral("left as it is")));
        std::ifstream file(layoutsPath());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), c.text);
    }
}

// The names of the file are shown by the text rule: U+202E would draw the rest reversed. A
// camera of a server the client does not have keeps its cell, for when the server is back.
TEST_F(LiveViewTest, ACameraNoLongerInTheCatalogueLeavesItsCellEmptySayingSo) {
    const std::string old = "Old \u202E1";
    const CameraRef otherServers{.server = "Site B", .channel = "1"};
    LayoutBook book;
    ASSERT_FALSE(book.addLayout(old, "2x2"));
    book.placeCamera(old, 0, {.server = {}, .channel = "1"});
    book.placeCamera(old, 1, {.server = {}, .channel = "gone\u202E-42"});
    book.placeCamera(old, 2, otherServers);
    ASSERT_FALSE(writeLayoutsFile(layoutsPath(), book));
    LayoutSheet f;
    ASSERT_TRUE(f.view().showLayout(old));
    EXPECT_EQ(f.view().layoutList()->currentText(), QStringLiteral("Old \u27e8U+202E\u27e91"));
    EXPECT_EQ(shownCameras(f.grid()), (std::vector<std::string>{"1", "", "", ""}));
    EXPECT_TRUE(f.grid()->cellNote(1)->isVisible());
    EXPECT_EQ(f.grid()->cellNote(1)->text(),
              QStringLiteral("Camera \"gone\u27e8U+202E\u27e9-42\" is not in the catalogue"));
    EXPECT_TRUE(f.grid()->cellNote(2)->isVisible());
    EXPECT_TRUE(
        f.grid()->cellNote(2)->text().endsWith(QStringLiteral("camera no longer available")));
    EXPECT_FALSE(f.grid()->cellNote(0)->isVisible());
    f.view().placeCamera(3, {.server = {}, .channel = "4"});
    EXPECT_EQ(readLayoutsFile(layoutsPath()).book.findLayout(old)->cells.at(2), otherServers);
    EXPECT_FALSE(f.view().showLayout("Never made"));
}

}  // namespace
}  // namespace krt
