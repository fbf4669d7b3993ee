#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "alarms/event_ring.h"
#include "common/scroll_rule.h"

namespace krt {

// LIST_REFRESH_TIMER of the event list: the list repaints this long after the last new event.
inline constexpr int kListRefreshTimerId = 3000;
inline constexpr int kListRefreshPeriod_ms = 1500;

inline constexpr int kEventListHeaderHeight = 20;
inline constexpr int kEventRowHeight = 50;
inline constexpr int kSnapshotHeight = 44;

// Pixels in client coordinates. A rectangle excludes its right and bottom edges, and a line
// its end point, as the list's drawing calls take them.
struct ListPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ListPoint&) const = default;
};
struct ListRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const ListRect&) const = default;
};
struct ListLine {
    ListPoint from;
    ListPoint to;
    bool operator==(const ListLine&) const = default;
};

// One painted event: its snapshot on the left, three lines of text on the right.
struct EventRow {
    int slot = 0;  // in the ring
    ListPoint snapshotOrigin;
    std::filesystem::path imagePath;
    std::array<std::string, 3> lines;  // "Type : ...", "Camera ID : ...", the time text
    std::array<ListPoint, 3> linePositions;
    std::string lateNote;  // drawn after the time when the alarm came late; empty otherwise
};

// Everything the event list draws, in drawing order.
struct EventListPicture {
    ListRect frame;  // the whole client area, outlined and filled
    ListRect header;
    ListPoint snapshotHeading;     // "Snapshot"
    ListPoint descriptionHeading;  // "Description"
    std::vector<ListLine> rowSeparators;
    std::vector<EventRow> rows;  // newest first, one under the other from the header down
    ListLine columnSeparator;
};

// The list of a client area of that size. Without a ring only the frame, the header and the
// separators are drawn. Rows do not depend on the scroll position: the list is always drawn
// from its top, and rows below the client area are clipped by the painter.
EventListPicture paintEventList(int clientWidth, int clientHeight, const EventRing* ring);

// The width of a snapshot drawn 44 pixels high, keeping the bitmap's proportions (truncated);
// 0 when the bitmap has no pixels.
int snapshotWidth(int bitmapWidth, int bitmapHeight);

// The event list's scroll bar, set at every resize; nothing for an empty ring (the scroll bar
// is then left as it is).
std::optional<ScrollRange> eventListScrollRange(int eventCount);

}  // namespace krt
