#include "alarms/alert_layout.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(AlertPopupRect, CentredAcrossTheLongerSide) {
    struct Case {
        int width;
        int height;
        DialogRect expected;
    };
    for (const Case& c : {Case{240, 268, {10, 14, 220, 240}}, Case{320, 188, {66, 20, 188, 148}},
                          Case{240, 240, {10, 0, 220, 240}}, Case{241, 240, {0, 20, 240, 200}},
                          Case{240, 269, {10, 14, 220, 240}}, Case{640, 530, {55, 20, 530, 490}}}) {
        EXPECT_EQ(alertPopupRect(c.width, c.height), c.expected) << c.width << "x" << c.height;
    }
}

TEST(AlertDialogLayout, RowsFiveApartFromTwentyButtonsCentredTenApart) {
    struct Case {
        AlertDialogMeasures measures;
        AlertDialogLayout expected;
    };
    const Case cases[] = {
        // Equal heights: rows at 20, 20 + h + 5, 20 + 2h + 10.
        {{220, 13, 13, 30, 13, 13, 13, 75},
         {{10, 20}, {10, 38}, {10, 56}, {42, 20}, {42, 38}, {42, 56}, {30, 89}, {115, 89}}},
        // Labels and values of different heights each follow their own column's heights.
        {{188, 10, 14, 25, 16, 12, 18, 60},
         {{10, 20}, {10, 35}, {10, 54}, {37, 20}, {37, 41}, {37, 58}, {29, 96}, {99, 96}}},
        // A client narrower than the buttons puts them left of the edge.
        {{100, 13, 13, 30, 13, 13, 13, 75},
         {{10, 20}, {10, 38}, {10, 56}, {42, 20}, {42, 38}, {42, 56}, {-30, 89}, {55, 89}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(layoutAlertDialog(c.measures), c.expected) << c.measures.clientWidth;
    }
}

TEST(AlertSnapshotLayout, SnapshotButtonsUnderTheButtonsAndThePictureBelowThem) {
    struct Case {
        AlertSnapshotMeasures measures;
        AlertSnapshotLayout expected;
    };
    for (const Case& c : {
             // 560 x 497 client, buttons at 87 and 23 high, snapshot buttons 100 wide.
             Case{{560, 497, 87, 23, 100, 0},
                  {{175, 115}, {285, 115}, {10, 144}, {6, 144, 548, 347}}},
             // A late note of 15 pixels pushes the picture down.
             Case{{560, 497, 87, 23, 100, 15},
                  {{175, 115}, {285, 115}, {10, 144}, {6, 165, 548, 326}}},
             // No room left: no picture area.
             Case{{183, 150, 87, 23, 100, 0}, {{-13, 115}, {97, 115}, {10, 144}, {}}},
         }) {
        EXPECT_EQ(layoutAlertSnapshot(c.measures), c.expected) << c.measures.clientHeight;
    }
}

}  // namespace
}  // namespace krt
