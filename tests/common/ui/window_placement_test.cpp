#include "common/ui/window_placement.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(WindowPlacement, CentresOnItsOwnerAndKeepsEveryEdgeOnTheScreen) {
    const QRect screen(0, 0, 1600, 1000);
    const QRect secondScreen(1600, 0, 1280, 1024);
    struct Case {
        const char* what;
        QSize wanted;
        QPoint centre;
        QRect room;
        QRect expected;
    };
    for (const Case& c : {
             Case{"fits where it is", {800, 600}, {800, 500}, screen, {400, 200, 800, 600}},
             Case{"past the bottom right", {800, 600}, {1300, 900}, screen, {800, 400, 800, 600}},
             Case{"past the top left", {800, 600}, {100, 50}, screen, {0, 0, 800, 600}},
             Case{"larger than the screen", {2000, 1200}, {800, 500}, screen, screen},
             Case{"on a second screen", {800, 600}, {2800, 0}, secondScreen, {2080, 0, 800, 600}},
         }) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(placedWithin(c.wanted, c.centre, c.room), c.expected);
    }
}

}  // namespace
}  // namespace krt
