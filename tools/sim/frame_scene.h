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

// How much a picture holds: `Flat` areas of one colour each (small frames, the default), or
// `Camera`-like texture, fine edges, stripes and small text (frames as large as a camera's).
enum class PictureDetail { Flat, Camera };

// What a rectangle shows: its colour, or (in camera-like pictures) a vehicle of that colour.
enum class Surface { Flat, Vehicle };

struct SceneRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    Rgb colour;
    Surface surface = Surface::Flat;
};

// Captions: white with a dark shadow; signs and number plates: dark on their light panel.
enum class TextStyle { Caption, Sign };

struct SceneText {
    std::string text;
    int x = 0;
    int baselineY = 0;
    int pixelSize = 0;
    TextStyle style = TextStyle::Caption;
};

// A landmark of the panorama, in degrees: centred at `angle` (0 to 360) on the horizon.
struct Landmark {
    double angle = 0.0;
    double widthDegrees = 0.0;
    double heightDegrees = 0.0;
    Rgb colour;
    int look = 0;  // which facade a camera-like picture gives it
    std::string sign;
    bool operator==(const Landmark&) const = default;
};

// The still part of a camera-like picture (sky, skyline, fence, ground, parked cars) as the
// camera's view sees it. Equal backdrops paint equal pixels, so a renderer paints one once
// and reuses it for as long as the view stays.
struct Backdrop {
    std::uint64_t seed = 0;  // from the channel: every camera has its own texture
    int width = 0;
    int height = 0;
    int horizonY = 0;
    double panDegrees = 0.0;
    double pixelsPerDegree = 0.0;
    std::vector<Landmark> landmarks;
    bool operator==(const Backdrop&) const = default;
};

// One picture, in pixels of the target size, top row first: the backdrop, or sky above the
// horizon and ground below, then the rectangles in order, then the texts.
struct Scene {
    int width = 0;
    int height = 0;
    int horizonY = 0;
    std::optional<Backdrop> backdrop;
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
    PictureDetail detail = PictureDetail::Flat;
};

// A vehicle's number plate: a light panel low on its body, and the text on it, about 7 px
// high on a car seen at 1280 x 960: readable only when zoomed in.
SceneRect numberPlateOf(const SceneRect& vehicle);
SceneText plateText(const SceneRect& plate, std::string text);
// Deterministic picks by a seed: a plate like "KR 4711", a car colour.
std::string plateNumber(std::uint64_t seed);
Rgb vehicleColour(std::uint64_t seed);

// A panorama of landmarks that differ per channel, seen through the camera's view, with an
// object that moves on its own, a bar that grows with every frame and the caption texts. In
// camera-like detail the landmarks are buildings in the scene's backdrop and the object a car.
Scene buildScene(const SceneInput& input);

}  // namespace krt::sim
