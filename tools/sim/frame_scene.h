#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ptz_motion.h"

namespace krt::sim {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kSkyColour{70, 130, 200};
inline constexpr Rgb kGroundColour{60, 110, 50};

struct SceneRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    Rgb colour;
};

struct SceneText {
    std::string text;
    int x = 0;
    int baselineY = 0;
    int pixelSize = 0;
};

// One picture, in pixels of the target size, top row first: sky above the horizon, ground
// below, then the rectangles in order, then the texts.
struct Scene {
    int width = 0;
    int height = 0;
    int horizonY = 0;
    std::vector<SceneRect> rects;
    std::vector<SceneText> texts;
};

struct SceneInput {
    std::string channelId;
    std::string description;
    int width = 0;
    int height = 0;
    long long frameNumber = 0;
    double seconds = 0.0;  // time since the server started: drives the moving object
    PtzView view;
    bool showPtz = false;
    std::string clockText;
    std::optional<std::string> banner;  // an alarm's name on its snapshot
};

// A panorama of landmarks that differ per channel, seen through the camera's view, with an
// object that moves on its own, a bar that grows with every frame and the caption texts.
Scene buildScene(const SceneInput& input);

}  // namespace krt::sim
