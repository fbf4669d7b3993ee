#include <algorithm>

#include "frame_renderer.h"

// The rasteriser of builds without Qt (the ThreadSanitizer build): rectangles only.
namespace krt::sim {
namespace {

void fillRect(RasterImage& image, int x, int y, int width, int height, Rgb colour) {
    const int left = std::clamp(x, 0, image.width);
    const int right = std::clamp(x + width, 0, image.width);
    const int top = std::clamp(y, 0, image.height);
    const int bottom = std::clamp(y + height, 0, image.height);
    for (int row = top; row < bottom; ++row) {
        std::uint8_t* pixel =
            image.pixels.data() +
            static_cast<std::size_t>(row) * static_cast<std::size_t>(image.pitch) +
            static_cast<std::size_t>(left) * 3;
        for (int column = left; column < right; ++column) {
            *pixel++ = colour.r;
            *pixel++ = colour.g;
            *pixel++ = colour.b;
        }
    }
}

}  // namespace

void rasterizeScene(const Scene& scene, RasterImage& image) {
    image.resize(scene.width, scene.height);
    fillRect(image, 0, 0, scene.width, scene.horizonY, kSkyColour);
    fillRect(image, 0, scene.horizonY, scene.width, scene.height - scene.horizonY, kGroundColour);
    for (const SceneRect& rect : scene.rects) {
        fillRect(image, rect.x, rect.y, rect.width, rect.height, rect.colour);
    }
}

}  // namespace krt::sim
