#include "alarms/event_list_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace krt {
namespace {

AlarmEvent numberedEvent(int number) {
    const std::string n = std::to_string(number);
    return {"Alarm" + n, "Cam" + n, "25-Nov-2013::10:30:0" + n, "/snapshots/" + n + ".jpg"};
}

EventRing ringWith(int count) {
    EventRing ring;
    for (int number = 1; number <= count; ++number) {
        ring.add(numberedEvent(number));
    }
    return ring;
}

TEST(EventListPicture, AnEmptyListDrawsFrameHeaderAndSeparatorsOnly) {
    struct Case {
        int width;
        int height;
        bool withRing;
        std::vector<int> separatorRows;
    };
    for (const Case& c : {Case{240, 268, true, {70, 120, 170, 220, 270, 320}},
                          Case{240, 268, false, {70, 120, 170, 220, 270, 320}},
                          Case{300, 49, true, {70}}, Case{301, 100, false, {70, 120, 170}}}) {
        const EventRing empty;
        const EventListPicture picture =
            paintEventList(c.width, c.height, c.withRing ? &empty : nullptr);
        EXPECT_EQ(picture.frame, (ListRect{0, 0, c.width, c.height}));
        EXPECT_EQ(picture.header, (ListRect{0, 0, c.width, 20}));
        EXPECT_EQ(picture.snapshotHeading, (ListPoint{5, 2}));
        EXPECT_EQ(picture.descriptionHeading, (ListPoint{c.width / 3 + 3, 2}));
        std::vector<ListLine> separators;
        for (const int y : c.separatorRows) {
            separators.push_back({{1, y}, {c.width - 1, y}});
        }
        EXPECT_EQ(picture.rowSeparators, separators) << c.width << "x" << c.height;
        EXPECT_EQ(picture.columnSeparator,
                  (ListLine{{c.width / 3, 21}, {c.width / 3, c.height - 1}}));
        EXPECT_TRUE(picture.rows.empty());
    }
}

TEST(EventListPicture, RowsGoNewestFirstFiftyPixelsApart) {
    struct Case {
        int events;
        std::vector<int> shownNumbers;  // newest first
        std::vector<int> slots;
    };
    // All six kept are shown; the seventh has evicted the first.
    for (const Case& c : {Case{1, {1}, {0}}, Case{3, {3, 2, 1}, {2, 1, 0}},
                          Case{6, {6, 5, 4, 3, 2, 1}, {5, 4, 3, 2, 1, 0}},
                          Case{7, {7, 6, 5, 4, 3, 2}, {0, 5, 4, 3, 2, 1}},
                          Case{9, {9, 8, 7, 6, 5, 4}, {2, 1, 0, 5, 4, 3}}}) {
        const EventRing ring = ringWith(c.events);
        const EventListPicture picture = paintEventList(240, 268, &ring);
        ASSERT_EQ(picture.rows.size(), c.shownNumbers.size()) << c.events << " events";
        for (std::size_t k = 0; k < picture.rows.size(); ++k) {
            const EventRow& row = picture.rows[k];
            const std::string n = std::to_string(c.shownNumbers[k]);
            const int top = 20 + 50 * static_cast<int>(k);
            EXPECT_EQ(row.slot, c.slots[k]);
            EXPECT_EQ(row.snapshotOrigin, (ListPoint{3, top}));
            EXPECT_EQ(row.imagePath, "/snapshots/" + n + ".jpg");
            EXPECT_EQ(row.lines,
                      (std::array<std::string, 3>{"Type : Alarm" + n, "Camera ID : Cam" + n,
                                                  "25-Nov-2013::10:30:0" + n}));
            EXPECT_EQ(row.linePositions,
                      (std::array<ListPoint, 3>{ListPoint{83, top}, ListPoint{83, top + 15},
                                                ListPoint{83, top + 30}}));
        }
    }
}

TEST(EventListPicture, RowsDoNotDependOnTheClientHeight) {
    const EventRing ring = ringWith(5);
    const EventListPicture shallow = paintEventList(320, 60, &ring);
    ASSERT_EQ(shallow.rows.size(), 5u);
    EXPECT_EQ(shallow.rows.back().snapshotOrigin, (ListPoint{3, 220}));
    EXPECT_EQ(shallow.rows.back().linePositions[0], (ListPoint{109, 220}));
}

TEST(SnapshotWidth, KeepsTheProportionsAt44PixelsHigh) {
    struct Case {
        int width;
        int height;
        int drawnWidth;
    };
    for (const Case& c : {Case{640, 480, 58}, Case{352, 288, 53}, Case{1280, 960, 58},
                          Case{44, 44, 44}, Case{1, 100, 0}, Case{0, 480, 0}, Case{640, 0, 0},
                          Case{-5, 10, 0}, Case{65500, 1, 2882000}}) {
        EXPECT_EQ(snapshotWidth(c.width, c.height), c.drawnWidth) << c.width << "x" << c.height;
    }
}

TEST(EventListScrollRange, FiftyPixelsAnEventAndA520PixelSlack) {
    EXPECT_EQ(eventListScrollRange(0), std::nullopt);
    EXPECT_EQ(eventListScrollRange(-1), std::nullopt);
    EXPECT_EQ(eventListScrollRange(1), (ScrollRange{570, 57}));
    EXPECT_EQ(eventListScrollRange(4), (ScrollRange{720, 72}));
    EXPECT_EQ(eventListScrollRange(6), (ScrollRange{820, 82}));
}

}  // namespace
}  // namespace krt
