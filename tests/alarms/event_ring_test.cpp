#include "alarms/event_ring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace krt {
namespace {

AlarmEvent numberedEvent(int number) {
    const std::string n = std::to_string(number);
    return {"Alarm" + n, "Channel" + n, "time" + n, "/snapshots/" + n + ".jpg"};
}

EventRing ringWith(int count) {
    EventRing ring;
    for (int number = 1; number <= count; ++number) {
        ring.add(numberedEvent(number));
    }
    return ring;
}

std::vector<std::string> namesNewestFirst(const EventRing& ring) {
    std::vector<std::string> names;
    for (const int slot : ring.walkFromNewest()) {
        names.push_back(ring.events()[static_cast<std::size_t>(slot)].alarmName);
    }
    return names;
}

struct RingCase {
    int added;
    int expectedSize;
    int expectedWritePos;
    int expectedNewestPos;
    std::vector<std::string> expectedWalk;  // the rows the event list paints, newest first
};

class EventRingTest : public testing::TestWithParam<RingCase> {};

TEST_P(EventRingTest, FillsInOrderThenReplacesTheOldestInPlace) {
    const RingCase& c = GetParam();
    const EventRing ring = ringWith(c.added);
    EXPECT_EQ(static_cast<int>(ring.events().size()), c.expectedSize);
    EXPECT_EQ(ring.writePos(), c.expectedWritePos);
    EXPECT_EQ(ring.newestPos(), c.expectedNewestPos);
    EXPECT_EQ(namesNewestFirst(ring), c.expectedWalk);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, EventRingTest,
    testing::Values(
        RingCase{0, 0, 0, 0, {}}, RingCase{1, 1, 1, 0, {"Alarm1"}},
        RingCase{3, 3, 3, 2, {"Alarm3", "Alarm2", "Alarm1"}},
        RingCase{5, 5, 5, 4, {"Alarm5", "Alarm4", "Alarm3", "Alarm2", "Alarm1"}},
        // Every kept event is painted, the oldest of six included.
        RingCase{6, 6, 0, 5, {"Alarm6", "Alarm5", "Alarm4", "Alarm3", "Alarm2", "Alarm1"}},
        RingCase{7, 6, 1, 0, {"Alarm7", "Alarm6", "Alarm5", "Alarm4", "Alarm3", "Alarm2"}},
        RingCase{12, 6, 0, 5, {"Alarm12", "Alarm11", "Alarm10", "Alarm9", "Alarm8", "Alarm7"}},
        RingCase{14, 6, 2, 1, {"Alarm14", "Alarm13", "Alarm12", "Alarm11", "Alarm10", "Alarm9"}}));

TEST(EventRing, SeventhEventEvictsTheFirstAndTakesSlotZero) {
    EventRing ring = ringWith(6);
    const std::optional<AlarmEvent> evicted = ring.add(numberedEvent(7));
    ASSERT_TRUE(evicted.has_value());
    EXPECT_EQ(*evicted, numberedEvent(1));
    EXPECT_EQ(ring.events()[0], numberedEvent(7));
    EXPECT_EQ(ring.events()[1], numberedEvent(2));
    EXPECT_EQ(ring.newestPos(), 0);
    EXPECT_EQ(ring.writePos(), 1);
}

TEST(EventRing, NothingIsEvictedBeforeTheRingIsFull) {
    EventRing ring;
    for (int number = 1; number <= EventRing::kCapacity; ++number) {
        EXPECT_FALSE(ring.add(numberedEvent(number)).has_value()) << "event " << number;
    }
    EXPECT_TRUE(ring.add(numberedEvent(7)).has_value());
}

TEST(EventRing, RefersToTheSnapshotsOfKeptEventsOnly) {
    EventRing ring = ringWith(7);
    EXPECT_FALSE(ring.refersTo(numberedEvent(1).imagePath));
    EXPECT_TRUE(ring.refersTo(numberedEvent(2).imagePath));
    EXPECT_TRUE(ring.refersTo(numberedEvent(7).imagePath));
    EXPECT_FALSE(ring.refersTo({}));
}

}  // namespace
}  // namespace krt
