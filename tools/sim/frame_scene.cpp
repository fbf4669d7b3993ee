#include "frame_scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <utility>

namespace krt::sim {
namespace {

constexpr double kWidestFieldOfViewDegrees = 60.0;
constexpr int kLandmarkCount = 12;
constexpr int kFramesPerBarCycle = 50;

constexpr std::array kPalette = {Rgb{200, 60, 50},   Rgb{230, 180, 40}, Rgb{150, 80, 170},
                                 Rgb{230, 230, 230}, Rgb{40, 40, 40},   Rgb{220, 120, 30},
                                 Rgb{90, 170, 220}};

// Signed difference a - b folded into [-180, 180).
double angleBetween(double a, double b) {
    const double difference = std::fmod(a - b + 540.0, 360.0);
    return difference - 180.0;
}

struct Projection {
    double pixelsPerDegree = 0.0;
    double centreX = 0.0;
    int horizonY = 0;
    double panDegrees = 0.0;

    int x(double worldDegrees) const {
        return static_cast<int>(
            std::lround(centreX + angleBetween(worldDegrees, panDegrees) * pixelsPerDegree));
    }
    int length(double degrees) const {
        return std::max(1, static_cast<int>(std::lround(degrees * pixelsPerDegree)));
    }
};

Projection projectionFor(const SceneInput& input) {
    Projection projection;
    projection.pixelsPerDegree = input.width * input.view.zoom / kWidestFieldOfViewDegrees;
    projection.centreX = input.width / 2.0;
    projection.panDegrees = input.view.panDegrees;
    projection.horizonY = static_cast<int>(
        std::lround(input.height * 0.55 + input.view.tiltDegrees * projection.pixelsPerDegree));
    return projection;
}

// Vehicles drive and park in these colours.
constexpr std::array kVehicleColours = {Rgb{240, 40, 40}, Rgb{30, 60, 140},   Rgb{220, 220, 215},
                                        Rgb{40, 40, 45},  Rgb{150, 150, 155}, Rgb{200, 170, 40},
                                        Rgb{90, 30, 30}};
constexpr std::array kSigns = {"DOCK 4", "EXIT",   "GATE 2", "OFFICE", "NO ENTRY",
                               "STORE",  "BAY 12", "DEPOT",  "PARTS",  "HALL B"};

std::uint64_t nextSeed(std::uint64_t seed) {
    return seed * 6364136223846793005ULL + 1442695040888963407ULL;
}

// Pillars (or, in camera-like pictures, buildings) standing on the horizon all around,
// placed by the channel ID so that every camera shows its own view.
std::vector<Landmark> landmarksOf(const std::string& channelId) {
    std::vector<Landmark> landmarks;
    std::uint64_t seed = std::hash<std::string>{}(channelId);
    for (int i = 0; i < kLandmarkCount; ++i) {
        seed = nextSeed(seed);
        Landmark landmark;
        landmark.angle = i * (360.0 / kLandmarkCount) + static_cast<double>(seed % 20);
        landmark.widthDegrees = 4.0 + static_cast<double>((seed >> 8) % 6);
        landmark.heightDegrees = 8.0 + static_cast<double>((seed >> 16) % 18);
        landmark.colour = kPalette[(seed >> 24) % kPalette.size()];
        landmark.look = static_cast<int>((seed >> 32) % 4);
        landmark.sign = kSigns[(seed >> 40) % kSigns.size()];
        landmarks.push_back(std::move(landmark));
    }
    return landmarks;
}

void addLandmarks(const SceneInput& input, const Projection& projection, Scene& scene) {
    for (const Landmark& landmark : landmarksOf(input.channelId)) {
        const int width = projection.length(landmark.widthDegrees);
        const int height = projection.length(landmark.heightDegrees);
        scene.rects.push_back({projection.x(landmark.angle) - width / 2,
                               projection.horizonY - height, width, height, landmark.colour});
    }
}

// A vehicle that drives to and fro on the ground in front of the camera's home position; in
// camera-like pictures a car with its number plate.
void addMovingObject(const SceneInput& input, const Projection& projection, Scene& scene) {
    const double angle = 25.0 * std::sin(input.seconds * 0.8);
    const int width = projection.length(8.0);
    const int height = projection.length(4.0);
    const int groundY = projection.horizonY + projection.length(6.0);
    const SceneRect vehicle{projection.x(angle) - width / 2, groundY - height, width, height,
                            Rgb{240, 40, 40}};
    if (input.detail == PictureDetail::Flat) {
        scene.rects.push_back(vehicle);
        return;
    }
    scene.rects.push_back({vehicle.x, vehicle.y, width, height, vehicle.colour, Surface::Vehicle});
    const SceneRect plate = numberPlateOf(vehicle);
    scene.rects.push_back(plate);
    scene.texts.push_back(plateText(plate, plateNumber(std::hash<std::string>{}(input.channelId))));
}

Backdrop backdropFor(const SceneInput& input, const Projection& projection) {
    Backdrop backdrop;
    backdrop.seed = std::hash<std::string>{}(input.channelId);
    backdrop.width = input.width;
    backdrop.height = input.height;
    backdrop.horizonY = projection.horizonY;
    backdrop.panDegrees = projection.panDegrees;
    backdrop.pixelsPerDegree = projection.pixelsPerDegree;
    backdrop.landmarks = landmarksOf(input.channelId);
    return backdrop;
}

void addFrameBar(const SceneInput& input, Scene& scene) {
    const int barHeight = std::max(2, input.height / 40);
    const long long step = input.frameNumber % kFramesPerBarCycle;
    const int width = static_cast<int>((step + 1) * input.width / kFramesPerBarCycle);
    scene.rects.push_back({0, input.height - barHeight, width, barHeight, Rgb{250, 250, 250}});
}

void addTexts(const SceneInput& input, Scene& scene) {
    const int size = std::max(8, input.height / 16);
    const int margin = size / 2;
    const auto line = [&](int row) { return margin + size * (row + 1); };
    scene.texts.push_back({input.channelId + "  " + input.description, margin, line(0), size});
    scene.texts.push_back({input.clockText, margin, line(1), size});
    scene.texts.push_back(
        {"frame " + std::to_string(input.frameNumber), margin, input.height - 2 * margin, size});
    if (input.showPtz) {
        char text[96];
        std::snprintf(text, sizeof text, "pan %.0f  tilt %.0f  zoom %.1fx", input.view.panDegrees,
                      input.view.tiltDegrees, input.view.zoom);
        scene.texts.push_back({text, margin, line(2), size});
    }
    if (input.banner) {
        scene.texts.push_back({"ALARM: " + *input.banner, margin, input.height / 2, size * 3 / 2});
    }
}

}  // namespace

Rgb vehicleColour(std::uint64_t seed) {
    return kVehicleColours[nextSeed(seed) % kVehicleColours.size()];
}

std::string plateNumber(std::uint64_t seed) {
    seed = nextSeed(seed ^ 0x51A7E);
    std::string plate;
    plate += static_cast<char>('A' + (seed >> 33) % 26);
    plate += static_cast<char>('A' + (seed >> 43) % 26);
    plate += ' ';
    plate += std::to_string(1000 + (seed >> 13) % 9000);
    return plate;
}

SceneRect numberPlateOf(const SceneRect& vehicle) {
    const int width = std::max(3, vehicle.width * 3 / 10);
    const int height = std::max(2, vehicle.height * 13 / 100);
    return {vehicle.x + (vehicle.width - width) / 2, vehicle.y + vehicle.height * 56 / 100, width,
            height, Rgb{235, 235, 225}};
}

SceneText plateText(const SceneRect& plate, std::string text) {
    const int size = std::max(1, plate.height * 95 / 100);
    return {std::move(text), plate.x + std::max(1, plate.width / 20),
            plate.y + plate.height - std::max(1, plate.height / 6), size, TextStyle::Sign};
}

Scene buildScene(const SceneInput& input) {
    const Projection projection = projectionFor(input);
    Scene scene;
    scene.width = input.width;
    scene.height = input.height;
    scene.horizonY = std::clamp(projection.horizonY, 0, input.height);
    if (input.detail == PictureDetail::Camera) {
        scene.backdrop = backdropFor(input, projection);
    } else {
        addLandmarks(input, projection, scene);
    }
    addMovingObject(input, projection, scene);
    addFrameBar(input, scene);
    addTexts(input, scene);
    return scene;
}

}  // namespace krt::sim
