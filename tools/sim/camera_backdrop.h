#pragma once

#include <vector>

#include "frame_renderer.h"
#include "frame_scene.h"

namespace krt::sim {

// Paints the backdrop of a camera-like picture into the image, resized to it: sky with
// clouds, a tree line, the landmarks as buildings (brick, windows, corrugated metal, concrete
// panels) with signs, a chain-link fence, a parking strip with parked cars, a kerb, a road and
// grass, all with fine grain. Every texture is fixed to the world, so the picture moves with
// pan, tilt and zoom, and zooming in shows finer detail. The texts of the signs and number
// plates are backdropTexts, for the text painter to draw over it.
void paintBackdrop(const Backdrop& backdrop, RasterImage& image);
std::vector<SceneText> backdropTexts(const Backdrop& backdrop);

// A car of the rectangle's colour, seen from the side: body, windows, wheels, lights; what
// lies outside its outline is left as it was.
void paintVehicle(const SceneRect& rect, RasterImage& image);

}  // namespace krt::sim
