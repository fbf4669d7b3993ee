#include "media/ui/zoomable_snapshot.h"

#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <functional>
#include <memory>

#include "alarms/ui/event_alert_dialog.h"
#include "alarms/ui/snapshot_store.h"
#include "alarms/ui/snapshot_viewer.h"
#include "common/ui/ui_test_support.h"

namespace krt {
namespace {

using ZoomableSnapshotTest = test::UiTest;

// The alert's snapshot and the History's zoom as a tile's picture does, in the snapshot's own
// detail: Ctrl and the wheel about the pointer, Ctrl+0 from the window's keys.
TEST_F(ZoomableSnapshotTest, TheAlertAndTheHistoryZoomTheirSnapshot) {
    // A white snapshot with a red corner an eighth of its size at the top left.
    auto snapshot = std::make_shared<KeptSnapshot>();
    snapshot->picture = QImage(640, 480, QImage::Format_RGB32);
    snapshot->picture.fill(Qt::white);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 80; ++x) {
            snapshot->picture.setPixelColor(x, y, Qt::red);
        }
    }
    QWidget sheet;
    EventAlertDialog alert(&sheet);
    alert.setEvent({}, snapshot);
    SnapshotViewer viewer({}, snapshot);
    const struct {
        const char* window;
        std::function<void()> show;
        QWidget* picture;
        QWidget* focus;
    } cases[] = {
        {"alert",
         [&] {
             sheet.show();
             alert.show();
             alert.resize(400, 500);
             sheet.activateWindow();
         },
         alert.snapshotArea(), alert.closeButton()},
        {"history",
         [&] {
             viewer.show();
             viewer.activateWindow();
         },
         viewer.pictureView(), viewer.copyButton()},
    };
    for (const auto& c : cases) {
        c.show();
        c.focus->setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(c.focus->window())) << c.window;
        const auto middle = [&] {
            const QImage shown = c.picture->grab().toImage();
            return shown.pixelColor(shown.width() / 2, shown.height() / 2);
        };
        EXPECT_EQ(middle(), QColor(Qt::white)) << c.window;
        // Six notches of Ctrl and the wheel at the top left corner: 8x.
        const QPointF corner(1, 1);
        QWheelEvent wheel(corner, c.picture->mapToGlobal(corner), {}, {0, 6 * 120}, Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(c.picture, &wheel);
        EXPECT_EQ(middle(), QColor(Qt::red)) << c.window;
        QTest::keyClick(c.focus, Qt::Key_0, Qt::ControlModifier);
        EXPECT_EQ(middle(), QColor(Qt::white)) << c.window;
    }
}

}  // namespace
}  // namespace krt
