#include "alarms/event_list_layout.h"

#include <cstdint>

namespace krt {
namespace {

constexpr int kSnapshotLeft = 3;
constexpr int kTextIndent = 3;
constexpr int kHeadingTop = 2;
constexpr int kSnapshotHeadingLeft = 5;
constexpr int kLineSpacing = 15;
// The scroll range leaves this much below the last row.
constexpr int kScrollSlack = 520;

EventRow rowFor(const EventRing& ring, int slot, int rowTop, int textColumn) {
    const AlarmEvent& event = ring.events()[static_cast<std::size_t>(slot)];
    EventRow row;
    row.slot = slot;
    row.snapshotOrigin = {kSnapshotLeft, rowTop};
    row.imagePath = event.imagePath;
    // Another server's camera says whose: two servers may both have a camera "1".
    const std::string camera =
        event.site.empty() ? event.channelId : event.channelId + " (" + event.site + ")";
    row.lines = {"Type : " + event.alarmName, "Camera ID : " + camera, event.timeText};
    for (std::size_t line = 0; line < row.lines.size(); ++line) {
        row.linePositions[line] = {textColumn, rowTop + static_cast<int>(line) * kLineSpacing};
    }
    if (event.punctuality == Punctuality::Late) {
        row.lateNote = lateAlarmNote(event.eventTime, event.receivedTime);
    }
    return row;
}

}  // namespace

EventListPicture paintEventList(int clientWidth, int clientHeight, const EventRing* ring) {
    const int column = clientWidth / 3;
    EventListPicture picture;
    picture.frame = {0, 0, clientWidth, clientHeight};
    picture.header = {0, 0, clientWidth, kEventListHeaderHeight};
    picture.snapshotHeading = {kSnapshotHeadingLeft, kHeadingTop};
    picture.descriptionHeading = {column + kTextIndent, kHeadingTop};
    for (int i = 1; i <= clientHeight / kEventRowHeight + 1; ++i) {
        const int y = kEventListHeaderHeight + kEventRowHeight * i;
        picture.rowSeparators.push_back({{1, y}, {clientWidth - 1, y}});
    }
    if (ring != nullptr) {
        int rowTop = kEventListHeaderHeight;
        for (const int slot : ring->walkFromNewest()) {
            picture.rows.push_back(rowFor(*ring, slot, rowTop, column + kTextIndent));
            rowTop += kEventRowHeight;
        }
    }
    picture.columnSeparator = {{column, kEventListHeaderHeight + 1}, {column, clientHeight - 1}};
    return picture;
}

int snapshotWidth(int bitmapWidth, int bitmapHeight) {
    if (bitmapWidth <= 0 || bitmapHeight <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<std::int64_t>(bitmapWidth) * kSnapshotHeight /
                            bitmapHeight);
}

std::optional<ScrollRange> eventListScrollRange(int eventCount) {
    if (eventCount <= 0) {
        return std::nullopt;
    }
    const int height = eventCount * kEventRowHeight + kScrollSlack;
    return ScrollRange{height, height / 10};
}

}  // namespace krt
