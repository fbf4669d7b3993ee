// The Videos page's keyboard PTZ and the stops that end every PTZ move, against krt-sim.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QKeyEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <functional>

#include "app/ui/main_sheet.h"
#include "common/ui/ui_test_support.h"
#include "settings/ui/settings_page.h"
#include "settings/ui/video_settings_box.h"
#include "sim/sim_test_support.h"
#include "support/logged_in_sim.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/page_link_label.h"
#include "video/ui/press_button.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using sim::test::RunningSim;

constexpr int kWait_ms = 5000;
constexpr std::string_view kPtzCamera = "4";  // moves, in krt-sim's default catalogue
constexpr int kZoomInCode = 11;
constexpr int kZoomOutCode = 12;

void sendKey(QWidget* widget, QEvent::Type type, Qt::Key key, bool autoRepeat) {
    QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(widget, &event);
}

// A logged-in main window on the single view of the PTZ camera.
struct PtzSheet : test::LoggedInSim {
    explicit PtzSheet(sim::SimConfig config = RunningSim::quietDefault())
        : LoggedInSim(std::move(config)), sheet(app) {
        sheet.show();
        EXPECT_TRUE(page().showChannel(kPtzCamera));
        EXPECT_TRUE(page().ptzConnected());
    }
    VideoPage& page() const { return *sheet.videoPage(); }
    PressButton* zoomIn() const { return page().ptzButtons()[4]; }
    std::size_t ptzRequests() { return sim.server().requestCount("PTZCommand2"); }
    // Runs the page's events meanwhile: some stops come from its timers.
    bool lastCodeBecomes(int code) {
        return QTest::qWaitFor([&] { return sim.server().lastPtzCommand(kPtzCamera) == code; },
                               kWait_ms);
    }

    MainSheet sheet;
};

class VideoPageControl : public test::UiTest {};

TEST_F(VideoPageControl, KeysMoveAPtzCameraWhileHeldAndStopOnRelease) {
    PtzSheet fixture;
    VideoPage* page = &fixture.page();
    struct Case {
        Qt::Key key;
        int pressCode;
    };
    for (const Case c :
         {Case{Qt::Key_Left, 2}, Case{Qt::Key_Right, 3}, Case{Qt::Key_Up, 4}, Case{Qt::Key_Down, 5},
          Case{Qt::Key_Plus, kZoomInCode}, Case{Qt::Key_Minus, kZoomOutCode}}) {
        SCOPED_TRACE(c.pressCode);
        const std::size_t before = fixture.ptzRequests();
        sendKey(page, QEvent::KeyPress, c.key, false);
        EXPECT_TRUE(fixture.lastCodeBecomes(c.pressCode));
        // Held: the window system repeats the key as releases and presses, all marked so.
        for (int repeat = 0; repeat < 3; ++repeat) {
            sendKey(page, QEvent::KeyRelease, c.key, true);
            sendKey(page, QEvent::KeyPress, c.key, true);
        }
        EXPECT_TRUE(page->ptzMoving());
        sendKey(page, QEvent::KeyRelease, c.key, false);
        EXPECT_TRUE(fixture.lastCodeBecomes(kPtzReleaseCode));
        // One connection keeps the order: a repeat sent anything, it came before the stop.
        EXPECT_EQ(fixture.ptzRequests(), before + 2);
    }
    // Home leaves the single view; there the arrows move the focus frame and send nothing.
    const std::size_t before = fixture.ptzRequests();
    QTest::keyClick(page, Qt::Key_Home);
    EXPECT_FALSE(page->singleView());
    EXPECT_EQ(page->focusedTile(), 3) << "the frame stays on the camera shown alone";
    QTest::keyClick(page, Qt::Key_Left);
    EXPECT_EQ(page->focusedTile(), 2);
    EXPECT_TRUE(page->tiles()[2]->framed());
    EXPECT_FALSE(page->tiles()[3]->framed());
    EXPECT_EQ(fixture.ptzRequests(), before);
}

// Held under X, a key repeats as releases and presses that are not marked as repeats, a
// repeat interval apart once the repeat delay has passed (here `xset r rate 250 30`).
TEST_F(VideoPageControl, AKeyHeldWithXAutoRepeatSendsOneMoveAndOneStop) {
    PtzSheet fixture;
    VideoPage* page = &fixture.page();
    const std::size_t before = fixture.ptzRequests();
    sendKey(page, QEvent::KeyPress, Qt::Key_Left, false);
    QTest::qWait(250);
    for (int repeat = 0; repeat < 25; ++repeat) {
        sendKey(page, QEvent::KeyRelease, Qt::Key_Left, false);
        sendKey(page, QEvent::KeyPress, Qt::Key_Left, false);
        QTest::qWait(1000 / 30);
    }
    ASSERT_TRUE(fixture.lastCodeBecomes(2));
    EXPECT_EQ(fixture.ptzRequests(), before + 1) << "no stop and no new move while held";
    EXPECT_TRUE(page->ptzMoving());
    sendKey(page, QEvent::KeyRelease, Qt::Key_Left, false);
    EXPECT_TRUE(fixture.lastCodeBecomes(kPtzReleaseCode));
    EXPECT_FALSE(page->ptzMoving());
    EXPECT_EQ(fixture.ptzRequests(), before + 2);
}

// Every way of losing hold of a move ends it with one stop.
TEST_F(VideoPageControl, EveryLostHoldStopsTheMoveOnce) {
    using Trigger = std::function<void(PtzSheet&)>;
    struct Case {
        const char* name;
        Trigger trigger;
        bool serverDropsThePtzConnection = false;
        std::chrono::milliseconds moveLimit = PtzMoveGuard::kDefaultMoveLimit;
    };
    const auto nothing = [](PtzSheet&) {};
    const std::vector<Case> cases{
        {"released away from the button",
         [](PtzSheet& f) {
             QTest::mouseRelease(f.zoomIn(), Qt::LeftButton, {}, QPoint(-40, -40));
         }},
        {"focus lost",
         [](PtzSheet& f) {
             QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
             QApplication::sendEvent(&f.page(), &out);
         }},
        {"window minimised", [](PtzSheet& f) { f.sheet.showMinimized(); }},
        {"tab changed", [](PtzSheet& f) { f.sheet.tabs()->setCurrentIndex(1); }},
        {"page changed", [](PtzSheet& f) { QTest::keyClick(&f.page(), Qt::Key_PageDown); }},
        {"grid changed",
         [](PtzSheet& f) {
             QComboBox* grid = f.sheet.settingsPage()->videoSettings()->gridChoice();
             grid->setCurrentIndex(1);
             emit grid->activated(1);
         }},
        {"single view closed", [](PtzSheet& f) { QTest::keyClick(&f.page(), Qt::Key_Home); }},
        {"PTZ connection re-established", nothing, true},
        {"held too long", nothing, false, 300ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimConfig config = RunningSim::quietDefault();
        if (c.serverDropsThePtzConnection) {
            sim::FaultMode drop;
            drop.kind = sim::FaultKind::CloseAfterBytes;
            drop.request = "PTZCommand2";
            drop.times = 1;
            config.faults.push_back(drop);
        }
        PtzSheet fixture(config);
        fixture.page().setPtzMoveLimit(c.moveLimit);
        QTest::mousePress(fixture.zoomIn(), Qt::LeftButton);
        ASSERT_TRUE(fixture.lastCodeBecomes(kZoomInCode));
        c.trigger(fixture);
        EXPECT_TRUE(fixture.lastCodeBecomes(kPtzReleaseCode));
        EXPECT_FALSE(fixture.page().ptzMoving());
        EXPECT_EQ(fixture.ptzRequests(), 2u);
    }
}

TEST_F(VideoPageControl, NoStopWithoutAMove) {
    PtzSheet fixture;
    VideoPage& page = fixture.page();
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(&page, &out);
    QTest::keyClick(&page, Qt::Key_PageDown);
    QTest::keyClick(&page, Qt::Key_PageUp);
    fixture.sheet.tabs()->setCurrentIndex(2);
    fixture.sheet.tabs()->setCurrentIndex(0);
    QTest::keyClick(&page, Qt::Key_Home);
    ASSERT_TRUE(page.showChannel(kPtzCamera));
    // A marker on the same connection: whatever the page sent before it has arrived.
    QTest::mousePress(page.ptzButtons()[5], Qt::LeftButton);
    ASSERT_TRUE(fixture.lastCodeBecomes(kZoomOutCode));
    EXPECT_EQ(fixture.ptzRequests(), 1u);
}

TEST_F(VideoPageControl, F11ShowsOnlyThePicturesAndEscapeReturns) {
    PtzSheet fixture;
    VideoPage& page = fixture.page();
    QTest::keyClick(&page, Qt::Key_F11);
    EXPECT_TRUE(page.fullScreen());
    EXPECT_TRUE(fixture.sheet.isFullScreen());
    EXPECT_FALSE(fixture.sheet.tabs()->tabBar()->isVisible());
    EXPECT_FALSE(page.pageList()->isVisible());
    EXPECT_TRUE(std::ranges::none_of(page.links(), [](auto* link) { return link->isVisible(); }));
    // The single view keeps its PTZ buttons; the picture starts at the top of the page.
    EXPECT_TRUE(page.ptzButtons()[0]->isVisible());
    EXPECT_LT(page.tiles()[0]->y(), kPageLinkRowHeight);
    QTest::keyClick(&page, Qt::Key_Escape);
    EXPECT_FALSE(page.fullScreen());
    EXPECT_FALSE(fixture.sheet.isFullScreen());
    EXPECT_TRUE(fixture.sheet.isVisible()) << "Escape only leaves full screen";
    EXPECT_TRUE(fixture.sheet.tabs()->tabBar()->isVisible());
    EXPECT_TRUE(page.pageList()->isVisible());
    EXPECT_GE(page.tiles()[0]->y(), kPageLinkRowHeight);
}

}  // namespace
}  // namespace krt
