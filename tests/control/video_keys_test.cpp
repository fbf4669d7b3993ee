#include "control/video_keys.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(VideoKeys, WhatEachKeyDoesInEachView) {
    const VideoKeyContext grid{};
    const VideoKeyContext single{true, false, false};
    const VideoKeyContext ptz{true, true, false};
    const VideoKeyContext fullGrid{false, false, true};
    const auto action = [](VideoKeyAction a) { return VideoKeyOutcome{a, 0, 0, std::nullopt}; };
    const auto ptzMove = [](PtzButton b) {
        return VideoKeyOutcome{VideoKeyAction::PtzMove, 0, 0, b};
    };
    struct Case {
        VideoKey key;
        VideoKeyContext context;
        VideoKeyOutcome outcome;
    };
    for (const Case& c : {
             Case{VideoKey::Left, grid, {VideoKeyAction::MoveFocus, -1, 0, std::nullopt}},
             Case{VideoKey::Down, grid, {VideoKeyAction::MoveFocus, 0, 1, std::nullopt}},
             Case{VideoKey::Left, single, action(VideoKeyAction::None)},
             Case{VideoKey::Left, ptz, ptzMove(PtzButton::Left)},
             Case{VideoKey::Plus, ptz, ptzMove(PtzButton::ZoomIn)},
             Case{VideoKey::Minus, ptz, ptzMove(PtzButton::ZoomOut)},
             Case{VideoKey::Plus, grid, action(VideoKeyAction::None)},
             Case{VideoKey::PageDown, ptz, action(VideoKeyAction::NextPage)},
             Case{VideoKey::Space, grid, action(VideoKeyAction::ToggleSingleView)},
             Case{VideoKey::Enter, single, action(VideoKeyAction::ToggleSingleView)},
             Case{VideoKey::Home, single, action(VideoKeyAction::BackToGrid)},
             Case{VideoKey::Home, grid, action(VideoKeyAction::None)},
             Case{VideoKey::Escape, grid, action(VideoKeyAction::None)},
             Case{VideoKey::Escape, fullGrid, action(VideoKeyAction::LeaveFullScreen)},
             Case{VideoKey::FullScreen, fullGrid, action(VideoKeyAction::ToggleFullScreen)},
             Case{VideoKey::Help, ptz, action(VideoKeyAction::ShowShortcuts)},
             // With Ctrl, + and - zoom the picture, also of a camera that moves.
             Case{VideoKey::ZoomIn, ptz, action(VideoKeyAction::ZoomIn)},
             Case{VideoKey::ZoomOut, grid, action(VideoKeyAction::ZoomOut)},
             Case{VideoKey::ZoomReset, single, action(VideoKeyAction::ResetZoom)},
             Case{VideoKey::Snapshot, grid, action(VideoKeyAction::SaveSnapshot)},
             Case{VideoKey::Record, ptz, action(VideoKeyAction::ToggleRecording)},
         }) {
        EXPECT_EQ(actionForKey(c.key, c.context), c.outcome) << static_cast<int>(c.key);
    }
}

TEST(VideoKeys, FocusAndPagesStayInsideTheGridAndTheCatalogue) {
    EXPECT_EQ(movedTileFocus(0, -1, 0, 3, 3), 0);
    EXPECT_EQ(movedTileFocus(2, 1, 0, 3, 3), 2);
    EXPECT_EQ(movedTileFocus(2, 0, 1, 3, 3), 5);
    EXPECT_EQ(movedTileFocus(14, 0, 1, 4, 4), 14);
    EXPECT_EQ(steppedPage(0, -1, 3), std::nullopt);
    EXPECT_EQ(steppedPage(1, 1, 3), 2);
    EXPECT_EQ(steppedPage(2, 1, 3), std::nullopt);
}

}  // namespace
}  // namespace krt
