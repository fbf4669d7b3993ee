#include "common/scroll_rule.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(ScrollRule, TheLimitLeavesOneThumbOfRoom) {
    EXPECT_EQ(scrollLimit({720, 72}), 649);
    EXPECT_EQ(scrollLimit({820, 82}), 739);
}

TEST(ScrollRule, EachActionMovesByTheRule) {
    struct Case {
        ScrollAction action;
        int position;
        int clientHeight;
        int track;
        int expected;
    };
    const int limit = scrollLimit({720, 72});  // four events: 649
    for (const Case& c : {
             Case{ScrollAction::LineDown, 0, 200, 0, 100},
             Case{ScrollAction::LineDown, 548, 200, 0, 648},
             Case{ScrollAction::LineDown, 549, 200, 0, limit},
             Case{ScrollAction::LineDown, 600, 200, 0, limit},
             Case{ScrollAction::LineUp, 150, 200, 0, 50},
             Case{ScrollAction::LineUp, 100, 200, 0, 0},
             Case{ScrollAction::LineUp, 50, 200, 0, 0},
             Case{ScrollAction::PageUp, 50, 200, 0, 0},
             Case{ScrollAction::PageUp, 200, 200, 0, 0},
             Case{ScrollAction::PageUp, 201, 200, 0, 1},
             Case{ScrollAction::PageDown, 0, 200, 0, 200},
             Case{ScrollAction::PageDown, 448, 200, 0, 648},
             Case{ScrollAction::PageDown, 449, 200, 0, limit},
             Case{ScrollAction::ThumbTrack, 10, 200, 333, 333},
             Case{ScrollAction::ThumbPosition, 10, 200, 42, 42},
             Case{ScrollAction::Top, 300, 200, 0, 0},
             Case{ScrollAction::Bottom, 3, 200, 0, limit},
             Case{ScrollAction::EndScroll, 123, 200, 456, 123},
         }) {
        EXPECT_EQ(scrolledPosition(c.action, c.position, c.clientHeight, limit, c.track),
                  c.expected)
            << static_cast<int>(c.action) << " from " << c.position;
    }
}

}  // namespace
}  // namespace krt
